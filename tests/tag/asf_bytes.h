// ASF headers built from bytes for the Windows Media tests: objects, the
// stream formats, the attribute objects and whole files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace asf_bytes {

inline std::string le16(uint32_t v) { return {char(v), char(v >> 8)}; }
inline std::string le32(uint32_t v) { return le16(v) + le16(v >> 16); }
inline std::string le64(uint64_t v) { return le32(uint32_t(v)) + le32(uint32_t(v >> 32)); }

// The 16 stored bytes of a GUID written 8-4-4-4-12.
inline std::string guid(const char *text)
{
  static const int kAt[16] = {6, 4, 2, 0, 11, 9, 16, 14, 19, 21, 24, 26, 28, 30, 32, 34};
  std::string b;
  for (int at : kAt) b += char(std::stoi(std::string(text + at, 2), nullptr, 16));
  return b;
}

inline const std::string kHeader = guid("75B22630-668E-11CF-A6D9-00AA0062CE6C");
inline const std::string kData = guid("75B22636-668E-11CF-A6D9-00AA0062CE6C");
inline const std::string kFileProperties = guid("8CABDCA1-A947-11CF-8EE4-00C00C205365");
inline const std::string kStreamProperties = guid("B7DC0791-A9B7-11CF-8EE6-00C00C205365");
inline const std::string kHeaderExtension = guid("5FBF03B5-A92E-11CF-8EE3-00C00C205365");
inline const std::string kCodecList = guid("86D15240-311D-11D0-A3A4-00A0C90348F6");
inline const std::string kContentDescription = guid("75B22633-668E-11CF-A6D9-00AA0062CE6C");
inline const std::string kExtendedContent = guid("D2D0A440-E307-11D2-97F0-00A0C95EA850");
inline const std::string kMetadataLibrary = guid("44231C94-9498-49D1-A141-1D134E457054");
inline const std::string kSimpleIndex = guid("33000890-E5B1-11CF-89F4-00A0C90349CB");
inline const std::string kAudioMedia = guid("F8699E40-5B4D-11CF-A8FD-00805F5C442B");
inline const std::string kVideoMedia = guid("BC19EFC0-5B4D-11CF-A8FD-00805F5C442B");
inline const std::string kBinaryMedia = guid("3AFB65E2-47EF-40F2-AC2C-70A90D71D343");
// Media types of binary streams.
inline const std::string kMajorVideo = guid("73646976-0000-0010-8000-00AA00389B71");
inline const std::string kMajorRecordedAudio = guid("31178C9D-03E1-4528-B582-3DF9DB22F503");
inline const std::string kMpeg1Payload = guid("E436EB81-524F-11CE-9F53-0020AF0BA770");
inline const std::string kFormatWaveFormatEx = guid("05589F81-C356-11CE-BF01-00AA0055595A");
inline const std::string kWrapped = guid("C4C4C4D3-0049-4E2B-98FB-9537F6CE516D");

inline std::string object(const std::string &id, const std::string &body)
{
  return id + le64(24 + body.size()) + body;
}

// A file of the header objects (inside the header object) and a small
// Data object.
inline std::string file(const std::vector<std::string> &objects)
{
  std::string body;
  for (const std::string &o : objects) body += o;
  return object(kHeader, le32(uint32_t(objects.size())) + "\x01\x02" + body) + object(kData, std::string(26, '\0'));
}

inline std::string file_properties(uint64_t play, uint64_t preroll_ms, uint32_t flags, uint32_t max_bitrate)
{
  return object(kFileProperties, std::string(16, 'i') + le64(1000) + le64(0) + le64(1) + le64(play) + le64(play) +
                                     le64(preroll_ms) + le32(flags) + le32(3200) + le32(3200) + le32(max_bitrate));
}

inline std::string stream_properties(const std::string &type, uint32_t number, const std::string &specific)
{
  return object(kStreamProperties, type + std::string(16, 'e') + le64(0) + le32(uint32_t(specific.size())) + le32(0) +
                                       le16(number) + le32(0) + specific);
}

// WAVEFORMATEX with an empty extra block.
inline std::string waveformatex(uint16_t tag, uint16_t channels, uint32_t rate, uint32_t bytes_per_second)
{
  return le16(tag) + le16(channels) + le32(rate) + le32(bytes_per_second) + le16(4) + le16(16) + le16(0);
}

inline std::string audio(uint32_t number, uint16_t tag, uint16_t channels, uint32_t rate, uint32_t bitrate)
{
  return stream_properties(kAudioMedia, number, waveformatex(tag, channels, rate, bitrate / 8));
}

// A video stream: the encoded size, then BITMAPINFOHEADER with the
// compression code and the codec data.
inline std::string video(uint32_t number, uint32_t width, uint32_t height, const std::string &fourcc = "WMV3",
                         const std::string &codec_data = "\x4e\x0b\x1a\x01")
{
  std::string bih = le32(40) + le32(width) + le32(height) + le16(1) + le16(24) + fourcc + std::string(20, '\0');
  return stream_properties(kVideoMedia, number,
                           le32(width) + le32(height) + "\x02" + le16(uint32_t(40 + codec_data.size())) + bih +
                               codec_data);
}

inline std::string binary(uint32_t number, const std::string &major, const std::string &subtype,
                          const std::string &format, const std::string &format_data)
{
  return stream_properties(kBinaryMedia, number,
                           major + subtype + le32(0) + le32(1) + le32(0) + format +
                               le32(uint32_t(format_data.size())) + format_data);
}

// UTF-16LE of ASCII or Latin-1 text, with a terminating zero unit.
inline std::string utf16(const std::string &text, bool terminated = true)
{
  std::string r;
  for (unsigned char c : text) r += std::string{char(c), '\0'};
  return terminated ? r + std::string(2, '\0') : r;
}

// Title, author, copyright, description and rating as raw bytes.
inline std::string content_description(const std::vector<std::string> &five)
{
  std::string lens, texts;
  for (const std::string &t : five) lens += le16(uint32_t(t.size())), texts += t;
  return object(kContentDescription, lens + texts);
}

struct descriptor {
  std::string name;
  uint16_t type;
  std::string value;
};

inline std::string extended_content(const std::vector<descriptor> &list)
{
  std::string body = le16(uint32_t(list.size()));
  for (const descriptor &d : list) {
    std::string name = utf16(d.name);
    body += le16(uint32_t(name.size())) + name + le16(d.type) + le16(uint32_t(d.value.size())) + d.value;
  }
  return object(kExtendedContent, body);
}

// One Metadata Library record of the name, type and data.
inline std::string metadata_record(const std::string &name, uint16_t type, const std::string &data)
{
  std::string n = utf16(name);
  return le16(0) + le16(0) + le16(uint32_t(n.size())) + le16(type) + le32(uint32_t(data.size())) + n + data;
}

inline std::string metadata_library(const std::vector<std::string> &records)
{
  std::string body = le16(uint32_t(records.size()));
  for (const std::string &r : records) body += r;
  return object(kMetadataLibrary, body);
}

inline std::string header_extension(const std::string &children)
{
  return object(kHeaderExtension, std::string(16, 'r') + le16(6) + le32(uint32_t(children.size())) + children);
}

}  // namespace asf_bytes
