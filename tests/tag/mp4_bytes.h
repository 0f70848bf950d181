// MP4 files built from bytes for the MP4 reader's tests: boxes, the movie
// and track headers, sample entries with their configurations, and tags.
#pragma once

#include <cstdint>
#include <string>

namespace mp4_bytes {

inline std::string be16(uint32_t v) { return {char(v >> 8), char(v)}; }
inline std::string be32(uint32_t v) { return be16(v >> 16) + be16(v); }
inline std::string be64(uint64_t v) { return be32(uint32_t(v >> 32)) + be32(uint32_t(v)); }
inline std::string zeros(size_t n) { return std::string(n, '\0'); }

inline std::string box(const std::string &type, const std::string &body)
{
  return be32(uint32_t(8 + body.size())) + type + body;
}
// A box with version and flags.
inline std::string full(const std::string &type, const std::string &body, uint32_t flags = 0)
{
  return box(type, be32(flags) + body);
}

inline std::string ftyp() { return box("ftyp", "isom" + be32(512) + "isommp41"); }
inline std::string mvhd(uint32_t timescale, uint32_t duration)
{
  return full("mvhd", zeros(8) + be32(timescale) + be32(duration) + zeros(80));
}
inline std::string tkhd(uint32_t id, bool enabled = true)
{
  return full("tkhd", zeros(8) + be32(id) + zeros(68), enabled ? 3 : 0);
}

// A descriptor with its length in four bytes of 7 bits.
inline std::string descriptor(uint8_t tag, const std::string &body)
{
  uint32_t n = uint32_t(body.size());
  return std::string{char(tag), char(0x80 | n >> 21), char(0x80 | (n >> 14 & 0x7F)), char(0x80 | (n >> 7 & 0x7F)),
                     char(n & 0x7F)} +
         body;
}
// esds: an ES descriptor (flags 0, given priority) with its decoder
// configuration and, when given, the decoder specific info.
inline std::string esds(uint8_t oti, uint32_t max, uint32_t avg, const std::string &dsi = "", uint8_t priority = 0)
{
  std::string dc = std::string{char(oti), '\x15'} + zeros(3) + be32(max) + be32(avg);
  if (!dsi.empty()) dc += descriptor(5, dsi);
  return full("esds", descriptor(3, be16(1) + char(priority) + descriptor(4, dc)));
}
// The AudioSpecificConfig of AAC LC: rate index and channel configuration.
inline std::string asc(uint32_t rate_index, uint32_t config)
{
  uint32_t v = 2u << 11 | rate_index << 7 | config << 3;
  return be16(v);
}

// An MPEG-4 visual configuration as ffmpeg writes it: the visual object
// sequence, visual object, video object and its layer header.
inline std::string mpeg4_config() { return std::string("\x00\x00\x01\xB0\x01\x00\x00\x01\xB5\x89\x13\x00\x00\x01\x00\x00\x00\x01\x20\x00\xC4\x8D\x88\x00\xCD\x0A\x04\x1E\x14\x43", 30); }

inline std::string audio_entry(const std::string &type, uint16_t channels, uint32_t rate, const std::string &children)
{
  return box(type, zeros(6) + be16(1) + zeros(8) + be16(channels) + be16(16) + zeros(4) + be32(rate << 16) + children);
}
inline std::string video_entry(const std::string &type, uint16_t width, uint16_t height, const std::string &children)
{
  return box(type, zeros(6) + be16(1) + zeros(16) + be16(width) + be16(height) + zeros(46) + be16(24) + be16(0xFFFF) +
                       children);
}
// avcC with one parameter set of the given NAL type.
inline std::string avcc(uint8_t nal = 0x67)
{
  return box("avcC", std::string{1, 'd', 0, 31, char(0xFF), char(0xE1)} + be16(4) + std::string{char(nal), 'd', 0, 31} +
                         std::string{1} + be16(1) + std::string{0x68});
}
inline std::string btrt(uint32_t max, uint32_t avg) { return box("btrt", be32(0) + be32(max) + be32(avg)); }

inline std::string table(const std::string &type, uint32_t count, uint32_t entry_size)
{
  return full(type, be32(count) + zeros(size_t(count) * entry_size));
}
// A track: its header, media header, handler and the sample tables around
// the entries, with the chunk offsets in chunk_box ("stco" or "co64").
inline std::string trak(uint32_t id, const std::string &handler, uint32_t timescale, const std::string &entries,
                        uint32_t entry_count = 1, bool enabled = true, const std::string &chunk_box = "stco")
{
  std::string header = handler == "vide" ? full("vmhd", zeros(8), 1) : full("smhd", zeros(4));
  std::string stbl = box("stbl", full("stsd", be32(entry_count) + entries) + table("stts", 1, 8) +
                                     table("stsc", 1, 12) + full("stsz", zeros(8)) +
                                     table(chunk_box, 2, chunk_box == "co64" ? 8 : 4));
  std::string minf = box("minf", header + box("dinf", full("dref", be32(0))) + stbl);
  return box("trak", tkhd(id, enabled) + box("mdia", full("mdhd", zeros(8) + be32(timescale) + zeros(8)) +
                                                       full("hdlr", be32(0) + handler + zeros(13)) + minf));
}
inline std::string aac_trak(uint32_t id, uint32_t avg = 128000, bool enabled = true)
{
  return trak(id, "soun", 44100, audio_entry("mp4a", 2, 44100, esds(0x40, avg, avg, asc(4, 2))), 1, enabled);
}
inline std::string avc_trak(uint32_t id, uint16_t width, uint16_t height, uint32_t avg)
{
  return trak(id, "vide", 25, video_entry("avc1", width, height, avcc() + btrt(avg, avg)));
}

// An ilst item with one data box of the type indicator.
inline std::string item(const std::string &type, const std::string &value, uint32_t data_type = 1)
{
  return box(type, box("data", be32(data_type) + be32(0) + value));
}
inline std::string udta(const std::string &items)
{
  return box("udta", full("meta", full("hdlr", zeros(4) + "mdirappl" + zeros(9)) + box("ilst", items)));
}

inline std::string movie(const std::string &tracks, uint32_t ms = 10000, const std::string &tags = "")
{
  return ftyp() + box("moov", mvhd(1000, ms) + tracks + tags) + box("mdat", zeros(40000));
}

}  // namespace mp4_bytes
