// JPEG: the segment walk to the start of scan, the EXIF IFD walk, and the
// reader that turns both into properties with a DLNA profile by size.
#include <tarvo_tag/tag_image.h>
#include <tarvo_tag/tag_limits.h>
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/sys_alloc.h>

#include <cstring>
#include <string_view>

#include "../core/tag_impl.h"
#include "image_impl.h"

namespace {

using tag_image::be16;
using tag_image::be32;
using tag_image::le16;
using tag_image::le32;
using tag_image::source;

// A TIFF structure in memory, in its byte order.  fits() is the one bounds
// check every read goes through.
struct tiff_view {
  const uint8_t *p;
  uint32_t len;
  bool big;
  bool fits(uint64_t off, uint64_t n) const { return off <= len && n <= len - off; }
  uint16_t u16(uint32_t off) const { return big ? be16(p + off) : le16(p + off); }
  uint32_t u32(uint32_t off) const { return big ? be32(p + off) : le32(p + off); }
};

// What one EXIF block gave; only a block that parses is taken over.
struct exif_walk {
  tiff_view t{};
  uint32_t entries_left = TAG_EXIF_ENTRY_MAX;
  bool no_memory = false;
  uint32_t orientation = 0;
  own::str date, copyright;
};

enum : uint16_t {
  kTypeAscii = 2,
  kTypeShort = 3,
  kTypeLong = 4,
  kTagOrientation = 0x0112,
  kTagCopyright = 0x8298,
  kTagDateTimeOriginal = 0x9003,
  kTagExifIfd = 0x8769,
};

// An ASCII value: in the value field when it fits there, else at the offset
// the field holds.
bool ascii_value(exif_walk &w, uint32_t entry, uint32_t count, own::str &dst)
{
  uint32_t at = count <= 4 ? entry + 8 : w.t.u32(entry + 8);
  if (!w.t.fits(at, count)) return false;
  char *text = tag::copy_of({reinterpret_cast<const char *>(w.t.p + at), count});
  if (!text) w.no_memory = true;
  dst.reset(text);
  return text != nullptr;
}

bool walk_ifd(exif_walk &w, uint32_t off, int depth);

bool ifd_entry(exif_walk &w, uint32_t e, int depth)
{
  const tiff_view &t = w.t;
  uint16_t tag = t.u16(e), type = t.u16(e + 2);
  uint32_t count = t.u32(e + 4);
  if (tag == kTagOrientation && type == kTypeShort) {
    if (count != 1) return false;
    w.orientation = t.u16(e + 8);
  } else if (tag == kTagCopyright && type == kTypeAscii) {
    return ascii_value(w, e, count, w.copyright);
  } else if (tag == kTagDateTimeOriginal && type == kTypeAscii && count == 20) {
    return ascii_value(w, e, count, w.date);
  } else if (tag == kTagExifIfd && type == kTypeLong && count == 1) {
    // Only forward, so that pointers cannot loop; what the sub-IFD lacks
    // does not spoil the IFD that points to it.
    uint32_t sub = t.u32(e + 8);
    if (sub >= e + 8 && sub <= t.len && depth < TAG_EXIF_DEPTH_MAX) walk_ifd(w, sub, depth + 1);
    return !w.no_memory;
  }
  return true;
}

// One IFD and the chain of IFDs that follows it.
bool walk_ifd(exif_walk &w, uint32_t off, int depth)
{
  const tiff_view &t = w.t;
  for (;;) {
    if (!t.fits(off, 2)) return false;
    uint32_t n = t.u16(off), first = off + 2;
    if (n > w.entries_left || !t.fits(first, uint64_t(n) * 12 + 4)) return false;
    w.entries_left -= n;
    for (uint32_t i = 0; i < n; i++)
      if (!ifd_entry(w, first + 12 * i, depth)) return false;
    uint32_t at = first + 12 * n, next = t.u32(at);
    if (next < at + 4 || next > t.len) return true;
    off = next;
  }
}

// The TIFF structure of an EXIF block: byte order, magic 42 and IFD0.
bool walk_tiff(exif_walk &w)
{
  const tiff_view &t = w.t;
  if (t.len < 8) return false;
  if (t.p[0] == 'M' && t.p[1] == 'M')
    w.t.big = true;
  else if (!(t.p[0] == 'I' && t.p[1] == 'I'))
    return false;
  uint32_t ifd0 = t.u32(4);
  return t.u16(2) == 42 && ifd0 >= 8 && t.fits(ifd0, 2) && walk_ifd(w, ifd0, 0);
}

// An APP1 segment of len bytes.  A block that is not EXIF, or EXIF that
// does not parse, is passed over: the picture is still a picture.  false
// only when the file cannot be read or memory runs out.
bool exif_read(source &src, uint32_t len, jpeg_info *info)
{
  static constexpr uint8_t kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
  uint8_t head[6];
  if (len < sizeof head) return src.skip(len);
  if (!src.read(head, sizeof head)) return false;
  uint32_t rest = len - uint32_t(sizeof head);
  uint32_t n = rest < TAG_JPEG_EXIF_READ_MAX ? rest : TAG_JPEG_EXIF_READ_MAX;
  if (std::memcmp(head, kExif, sizeof kExif) != 0 || !src.affords(n)) return src.skip(rest);
  auto *buf = static_cast<uint8_t *>(sys_alloc(n ? n : 1));
  if (!buf) return false;
  bool ok = src.read(buf, n) && src.skip(rest - n);
  exif_walk w;
  w.t = {buf, n, false};
  if (ok && walk_tiff(w)) {
    if (w.orientation) info->orientation = w.orientation;
    if (w.date.s) {
      sys_alloc_free(info->date);
      info->date = w.date.release();
    }
    if (w.copyright.s) {
      sys_alloc_free(info->copyright);
      info->copyright = w.copyright.release();
    }
  }
  sys_alloc_free(buf);
  return ok && !w.no_memory;
}

bool comment_read(source &src, uint32_t len, jpeg_info *info)
{
  if (len > TAG_JPEG_COMMENT_MAX || !src.affords(len)) return src.skip(len);
  char *text = static_cast<char *>(sys_alloc(len + 1));
  if (!text) return false;
  if (!src.read(text, len)) {
    sys_alloc_free(text);
    return false;
  }
  text[len] = '\0';
  sys_alloc_free(info->comment);
  info->comment = text;
  return true;
}

bool is_frame(uint16_t m)
{
  return m >= 0xFFC0 && m <= 0xFFCF && m != 0xFFC4 && m != 0xFFC8 && m != 0xFFCC;
}

bool frame_read(source &src, uint32_t len, jpeg_info *info)
{
  uint8_t f[6];  // precision, height, width, components
  if (len < sizeof f || !src.read(f, sizeof f)) return false;
  info->height = be16(f + 1);
  info->width = be16(f + 3);
  info->depth = f[5] >= 3 ? 24 : f[5] * 8u;
  return src.skip(len - sizeof f);
}

// The next marker code.  Any number of 0xFF fill bytes may precede it.
bool marker_read(source &src, uint16_t *marker)
{
  uint8_t m[2];
  if (!src.read(m, 2)) return false;
  while (m[0] == 0xFF && m[1] == 0xFF)
    if (!src.read(m + 1, 1)) return false;
  *marker = be16(m);
  return true;
}

bool segments_walk(source &src, jpeg_info *info)
{
  uint8_t soi[2];
  if (!src.read(soi, 2) || be16(soi) != 0xFFD8) return false;
  for (;;) {
    uint16_t marker;
    uint8_t l[2];
    if (!marker_read(src, &marker)) return false;
    if (marker == 0xFFDA || marker == 0xFFD9) return true;
    if (!src.read(l, 2) || be16(l) < 2) return false;
    uint32_t len = be16(l) - 2u;
    bool ok = len == 0 ? true
              : is_frame(marker) ? frame_read(src, len, info)
              : marker == 0xFFE1 ? exif_read(src, len, info)
              : marker == 0xFFFE ? comment_read(src, len, info)
                                 : src.skip(len);
    if (!ok) return false;
  }
}

// DateTimeOriginal "YYYY:MM:DD HH:MM:SS" as YYYY-MM-DDTHH:MM:SS, or nothing.
int exif_date_add(char *date, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  if (!date || std::strlen(date) < 19) return 1;
  for (int i = 0; i < 19; i++) {
    if (i == 4 || i == 7) date[i] = '-';
    else if (i == 10) date[i] = 'T';
    else if (i == 13 || i == 16) date[i] = ':';
    else if (date[i] < '0' || date[i] > '9') return 1;
  }
  date[19] = '\0';
  return tag_property_add(TAG_NAME(DC_DATE), date, names, values);
}

// The protocolInfo parameters before the flags value, with the DLNA
// profile the size allows.
const char *jpeg_parameters(uint32_t width, uint32_t height)
{
#define JPEG_FLAGS_HEAD "DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS="
  if (width <= 640 && height <= 480) return "DLNA.ORG_PN=JPEG_SM;" JPEG_FLAGS_HEAD;
  if (width <= 1024 && height <= 768) return "DLNA.ORG_PN=JPEG_MED;" JPEG_FLAGS_HEAD;
  if (width <= 4096 && height <= 4096) return "DLNA.ORG_PN=JPEG_LRG;" JPEG_FLAGS_HEAD;
  return JPEG_FLAGS_HEAD;
#undef JPEG_FLAGS_HEAD
}

}  // namespace

extern "C" {

int jpeg_info_parse(jpeg_info *info, int file)
{
  std::memset(info, 0, sizeof *info);
  source src;
  if (src.open(file) && segments_walk(src, info)) return 1;
  jpeg_info_free(info);
  return 0;
}

void jpeg_info_free(jpeg_info *info)
{
  sys_alloc_free(info->date);
  sys_alloc_free(info->comment);
  sys_alloc_free(info->copyright);
}

int tag_jpeg_read(int file, const sys_file_stat_rec *, const char *mime, sys_ptralloc_rec *names,
                  sys_ptralloc_rec *values)
{
  jpeg_info info;
  if (!jpeg_info_parse(&info, file)) return 0;
  int ok = exif_date_add(info.date, names, values) && tag_resolution_format(info.width, info.height, names, values) &&
           (tag_is_blank(info.comment) || tag_text_property_add(TAG_NAME(DC_DESCRIPTION), info.comment, names, values)) &&
           (tag_is_blank(info.copyright) || tag_text_property_add(TAG_NAME(DC_RIGHTS), info.copyright, names, values)) &&
           tag_uint_property_add(TAG_NAME(RES_COLOR_DEPTH), info.depth, names, values) &&
           tag_protocol_info_flags(mime, jpeg_parameters(info.width, info.height), names, values);
  jpeg_info_free(&info);
  return ok;
}

}  // extern "C"
