// Pictures built from bytes for the image reader tests: JPEG segments,
// TIFF structures (also the body of an EXIF block), PNG chunks, BMP and GIF
// headers, and the file that hands them to a reader.
#pragma once

#include <fcntl.h>
#include <tarvo_tag/tag_reader.h>
#include <tarvo_test.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tag_test.h"

namespace image_bytes {

inline std::string be16(uint32_t v) { return {char(v >> 8), char(v)}; }
inline std::string be32(uint32_t v) { return be16(v >> 16) + be16(v & 0xFFFF); }
inline std::string le16(uint32_t v) { return {char(v), char(v >> 8)}; }
inline std::string le32(uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }

// --- JPEG ---
inline std::string segment(uint16_t marker, const std::string &payload)
{
  return be16(marker) + be16(uint32_t(payload.size() + 2)) + payload;
}
inline std::string frame(uint16_t width, uint16_t height, int components = 3)
{
  std::string p = "\x08" + be16(height) + be16(width) + char(components);
  for (int i = 0; i < components; i++) p += std::string{char(i + 1), '\x11', '\0'};
  return segment(0xFFC0, p);
}
// Start of image, the segments, and a start of scan with a little data.
inline std::string jpeg(const std::string &segments)
{
  return "\xFF\xD8" + segments + segment(0xFFDA, std::string("\x01\x01\x00\x00\x3F\x00", 6)) + "scan\xFF\xD9";
}

// --- TIFF and EXIF ---
struct entry {
  uint16_t tag, type;
  uint32_t count;
  std::string data;  // the value's bytes, in the structure's byte order
  int ifd = -1;      // >= 0: a LONG pointing to that IFD of the list instead
};

// A TIFF structure: header, then each IFD with the values that do not fit
// their entries right behind it.  IFD 0 is the first; the others are
// reached only through entries that point to them.
inline std::string tiff(bool big, const std::vector<std::vector<entry>> &ifds)
{
  auto u16 = [&](uint32_t v) { return big ? be16(v) : le16(v); };
  auto u32 = [&](uint32_t v) { return big ? be32(v) : le32(v); };
  std::vector<uint32_t> at;
  uint32_t pos = 8;
  for (const auto &ifd : ifds) {
    at.push_back(pos);
    pos += 2 + 12 * uint32_t(ifd.size()) + 4;
    for (const entry &e : ifd)
      if (e.ifd < 0 && e.data.size() > 4) pos += uint32_t(e.data.size() + (e.data.size() & 1));
  }
  std::string out = std::string(big ? "MM" : "II") + u16(42) + u32(8);
  for (size_t i = 0; i < ifds.size(); i++) {
    std::string values;
    uint32_t value_at = at[i] + 2 + 12 * uint32_t(ifds[i].size()) + 4;
    out += u16(uint32_t(ifds[i].size()));
    for (const entry &e : ifds[i]) {
      out += u16(e.tag) + u16(e.type) + u32(e.count);
      if (e.ifd >= 0) {
        out += u32(at[size_t(e.ifd)]);
      } else if (e.data.size() <= 4) {
        out += e.data + std::string(4 - e.data.size(), '\0');
      } else {
        out += u32(value_at + uint32_t(values.size()));
        values += e.data + std::string(e.data.size() & 1, '\0');
      }
    }
    out += u32(0) + values;
  }
  return out;
}
inline entry ascii(uint16_t tag, const std::string &text)
{
  return {tag, 2, uint32_t(text.size() + 1), text + std::string(1, '\0')};
}
inline entry short1(bool big, uint16_t tag, uint16_t v) { return {tag, 3, 1, big ? be16(v) : le16(v)}; }
inline entry long1(bool big, uint16_t tag, uint32_t v) { return {tag, 4, 1, big ? be32(v) : le32(v)}; }
inline entry pointer(uint16_t tag, int ifd) { return {tag, 4, 1, "", ifd}; }
inline std::string exif_segment(const std::string &tiff_bytes)
{
  return segment(0xFFE1, std::string("Exif\0\0", 6) + tiff_bytes);
}

// --- PNG ---
inline std::string chunk(const std::string &type, const std::string &data)
{
  return be32(uint32_t(data.size())) + type + data + "CRC!";
}
inline std::string ihdr(uint32_t width, uint32_t height, int bit_depth, int colour_type)
{
  return chunk("IHDR", be32(width) + be32(height) + char(bit_depth) + char(colour_type) + std::string(3, '\0'));
}
inline std::string png(const std::string &chunks)
{
  return "\x89PNG\r\n\x1A\n" + chunks + chunk("IEND", "");
}

// --- BMP ---
// The file header and an information header of the given size, whose
// fields after the size are the given bytes, zero-padded.
inline std::string bmp(uint32_t header_size, const std::string &fields)
{
  std::string h = fields;
  h.resize(header_size - 4, '\0');
  return "BM" + le32(0) + le32(0) + le32(14 + header_size) + le32(header_size) + h;
}

// --- GIF ---
// A logical screen without a colour table, and the trailer.
inline std::string gif(uint16_t width, uint16_t height, int colour_resolution)
{
  return "GIF89a" + le16(width) + le16(height) + char((colour_resolution - 1) << 4) + std::string(2, '\0') + ";";
}

// A file holding the bytes, open for reading at offset 0.
struct picture {
  tarvo_test::scratch_dir d;
  std::string path = d / "Pictures/p.img";
  int fd = -1;
  sys_file_stat_rec st{};
  explicit picture(const std::string &bytes)
  {
    std::filesystem::create_directories(d.path / "Pictures");
    tarvo_test::write_file(path, bytes);
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    sys_file_fstat(fd, &st);
  }
  ~picture() { close(fd); }
  bool read(tag_reader reader, const char *mime, tag_test::props &p) { return reader(fd, &st, mime, p.n(), p.v()); }
};

}  // namespace image_bytes
