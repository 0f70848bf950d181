// BMP: the file header and the five kinds of information header, and the
// reader that takes size and depth from them.
#include <tarvo_tag/tag_image.h>
#include <tarvo_tag/tag_reader.h>

#include <cstring>

#include "image_impl.h"

namespace {

using tag_image::le16;
using tag_image::le32;
using tag_image::source;

// Little-endian fields taken in order while the header lasts; the first
// field that does not fit ends it.
struct fields {
  const uint8_t *p;
  uint32_t len, at = 0;
  bool room(uint32_t n)
  {
    if (len - at >= n) return true;
    at = len;
    return false;
  }
  bool u16(uint16_t *v)
  {
    if (!room(2)) return false;
    *v = le16(p + at);
    at += 2;
    return true;
  }
  bool u32(uint32_t *v)
  {
    if (!room(4)) return false;
    *v = le32(p + at);
    at += 4;
    return true;
  }
  template <class... T>
  bool all(T *...v)
  {
    return (take(v) && ...);
  }
  bool take(uint16_t *v) { return u16(v); }
  bool take(uint32_t *v) { return u32(v); }
};

// The six fields after the bit count, as far as the header reaches.
bool common_fields(fields &f, bmp_info *b)
{
  return f.all(&b->compression, &b->image_size, &b->x_pels_per_meter, &b->y_pels_per_meter, &b->colors_used,
               &b->colors_important);
}

void windows_header(fields &f, bmp_info *b)
{
  uint32_t w = 0, h = 0;
  f.all(&w, &h, &b->planes, &b->bit_count);
  b->width = w;
  // The magnitude in unsigned arithmetic: -2^31 has no positive int32.
  b->top_down = int32_t(h) < 0;
  b->height = b->top_down ? 0u - h : h;
  common_fields(f, b);
  auto &v = b->ext.v4;
  if (f.len - f.at >= 68) {
    f.all(&v.red_mask, &v.green_mask, &v.blue_mask, &v.alpha_mask, &v.cs_type);
    for (uint32_t &e : v.endpoints) f.u32(&e);
    f.all(&v.gamma_red, &v.gamma_green, &v.gamma_blue);
  }
  if (f.len - f.at >= 16) f.all(&b->intent, &b->profile_data, &b->profile_size, &b->reserved);
}

void os2_v2_header(fields &f, bmp_info *b)
{
  auto &x = b->ext.os2;
  f.all(&b->width, &b->height, &b->planes, &b->bit_count) && common_fields(f, b) &&
      f.all(&x.units, &x.reserved, &x.recording, &x.rendering) &&
      f.all(&x.size1, &x.size2, &x.color_encoding, &x.identifier);
}

uint32_t kind_of(uint32_t size)
{
  switch (size) {
  case 12: return BMP_KIND_OS2_V1;
  case 40: return BMP_KIND_INFO;
  case 108: return BMP_KIND_V4;
  case 124: return BMP_KIND_V5;
  default: return size >= 16 && size <= 64 ? BMP_KIND_OS2_V2 : 0;
  }
}

}  // namespace

extern "C" {

int bmp_info_parse(bmp_info *info, int file)
{
  std::memset(info, 0, sizeof *info);
  source src;
  uint8_t head[18], rest[120];
  if (!src.open(file) || !src.read(head, sizeof head) || head[0] != 'B' || head[1] != 'M') return 0;
  uint32_t size = le32(head + 14), kind = kind_of(size);
  if (!kind || !src.read(rest, size - 4)) return 0;
  info->kind = kind;
  fields f{rest, size - 4};
  if (kind == BMP_KIND_OS2_V1) {
    uint16_t w = 0, h = 0;
    f.all(&w, &h, &info->planes, &info->bit_count);
    info->width = w;
    info->height = h;
  } else if (kind == BMP_KIND_OS2_V2) {
    os2_v2_header(f, info);
  } else {
    windows_header(f, info);
  }
  return 1;
}

int tag_bmp_read(int file, const sys_file_stat_rec *, const char *mime, sys_ptralloc_rec *names,
                 sys_ptralloc_rec *values)
{
  bmp_info b;
  return bmp_info_parse(&b, file) &&
         (b.bit_count == 0 || tag_uint_property_add(TAG_NAME(RES_COLOR_DEPTH), b.bit_count, names, values)) &&
         tag_resolution_format(b.width, b.height, names, values) && tag_protocol_info_no_profile(mime, names, values);
}

}  // extern "C"
