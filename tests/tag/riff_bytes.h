// RIFF files built from bytes for the WAV and AVI tests.
#pragma once

#include <cstdint>
#include <string>

namespace riff_bytes {

inline std::string le16(uint32_t v) { return {char(v), char(v >> 8)}; }
inline std::string le32(uint32_t v) { return le16(v) + le16(v >> 16); }

// A chunk with its pad byte after an odd-sized body.
inline std::string chunk(const std::string &id, const std::string &body)
{
  return id + le32(uint32_t(body.size())) + body + (body.size() % 2 ? std::string(1, '\0') : "");
}
inline std::string list(const std::string &type, const std::string &body) { return chunk("LIST", type + body); }
inline std::string riff(const std::string &form, const std::string &body) { return chunk("RIFF", form + body); }

// A "fmt " body: WAVEFORMATEX up to its bits per sample (16 bytes) and,
// with extra, cbSize and that many bytes of which the first two are the
// valid bits.
inline std::string fmt(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, int extra = -1,
                       uint16_t valid = 0)
{
  uint32_t block = channels * ((bits + 7) / 8);
  std::string f = le16(tag) + le16(channels) + le32(rate) + le32(rate * block) + le16(block) + le16(bits);
  if (extra >= 0) f += le16(uint16_t(extra)) + (extra >= 2 ? le16(valid) + std::string(size_t(extra - 2), 'x') : "");
  return f;
}

struct rect {
  uint16_t left, top, right, bottom;
};

// "avih" with the fields the reader uses; the rest zero.
inline std::string avih(uint32_t us_per_frame, uint32_t frames, uint32_t streams, uint32_t width, uint32_t height)
{
  return chunk("avih", le32(us_per_frame) + le32(0) + le32(0) + le32(0) + le32(frames) + le32(0) + le32(streams) +
                           le32(0) + le32(width) + le32(height) + std::string(16, '\0'));
}

// One stream list: strh of the type, priority and rectangle, then strf
// (a WAVEFORMATEX with the channels for audio, else 40 bytes), then strn.
inline std::string strl(const std::string &type, uint16_t priority, rect r, uint16_t channels = 0)
{
  std::string strh = type + "none" + le32(0) + le16(priority) + le16(0) + le32(0) + le32(1) + le32(25) + le32(0) +
                     le32(100) + le32(0) + le32(0) + le32(0) + le16(r.left) + le16(r.top) + le16(r.right) +
                     le16(r.bottom);
  std::string strf = type == "auds" ? fmt(1, channels, 44100, 16, 0) : std::string(40, '\0');
  return list("strl", chunk("strh", strh) + chunk("strf", strf) + chunk("strn", "name"));
}

inline std::string avi(const std::string &header_body, const std::string &movie = "frames")
{
  return riff("AVI ", list("hdrl", header_body) + list("movi", chunk("00dc", movie)));
}

}  // namespace riff_bytes
