// TIFF: size, depth, texts and date of the first directory, through libtiff
// reading our file handle.  Each open gets its own allocation cap and
// silent message handlers, so that no picture can write to the server's
// output or change what another thread's open does.
#include <tarvo_tag/tag_limits.h>
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/sys_file.h>

#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "image_impl.h"

namespace {

struct tiff_file {
  int fd;
  uint64_t size;
  uint64_t pos;
  uint32_t left;  // bytes libtiff may still read
};

tmsize_t tiff_read(thandle_t h, void *buf, tmsize_t len)
{
  auto *f = static_cast<tiff_file *>(h);
  // A read past the budget fails unread: libtiff then drops that field
  // (a large XMP packet or colour profile) and goes on with the others.
  if (len < 0 || uint64_t(len) > f->left) return -1;
  uint32_t got;
  if (!tag_image::read_full(f->fd, buf, uint32_t(len), &got)) return -1;
  f->pos += got;
  f->left -= got;
  return tmsize_t(got);
}

tmsize_t tiff_write(thandle_t, void *, tmsize_t) { return 0; }

// Full 64-bit positions; a target past the end of the file is refused.
toff_t tiff_seek(thandle_t h, toff_t offset, int whence)
{
  auto *f = static_cast<tiff_file *>(h);
  uint64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f->pos : whence == SEEK_END ? f->size : UINT64_MAX;
  if (base == UINT64_MAX) return toff_t(-1);
  // offset is two's complement for a move back.
  uint64_t target = base + offset;
  int64_t now;
  if (target > f->size || !sys_file_seek_set(f->fd, int64_t(target), &now) || uint64_t(now) != target)
    return toff_t(-1);
  f->pos = target;
  return target;
}

int tiff_close(thandle_t) { return 0; }
toff_t tiff_size(thandle_t h) { return static_cast<tiff_file *>(h)->size; }
int tiff_map(thandle_t, void **, toff_t *) { return 0; }
void tiff_unmap(thandle_t, void *, toff_t) {}
int tiff_silent(TIFF *, void *, const char *, const char *, va_list) { return 1; }

TIFF *tiff_open(tiff_file *f)
{
  TIFFOpenOptions *opts = TIFFOpenOptionsAlloc();
  if (!opts) return nullptr;
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts, TAG_TIFF_ALLOC_MAX);
  TIFFOpenOptionsSetErrorHandlerExtR(opts, tiff_silent, nullptr);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, tiff_silent, nullptr);
  // m: no mapping; O: strip and tile offsets only when asked for, never here.
  TIFF *tif = TIFFClientOpenExt("tarvo-tiff", "rmO", f, tiff_read, tiff_write, tiff_seek, tiff_close, tiff_size,
                                tiff_map, tiff_unmap, opts);
  TIFFOpenOptionsFree(opts);
  return tif;
}

const char *tiff_text(TIFF *tif, uint32_t tag)
{
  const char *s = nullptr;
  return TIFFGetField(tif, tag, &s) == 1 ? s : nullptr;
}

// "YYYY:MM:DD HH:MM:SS" as YYYY-MM-DDTHH:MM:SS; a shorter text gives none.
int tiff_date_add(const char *s, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  if (!s || std::strlen(s) < 19) return 1;
  char d[20];
  std::memcpy(d, s, 19);
  d[4] = d[7] = '-';
  d[10] = 'T';
  d[19] = '\0';
  return tag_property_add(TAG_NAME(DC_DATE), d, names, values);
}

int tiff_properties(TIFF *tif, const char *mime, sys_ptralloc_rec *names, sys_ptralloc_rec *values)
{
  uint32_t width = 0, height = 0;
  uint16_t samples = 0, bits = 0;
  if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) != 1 || TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) != 1)
    return 0;
  uint32_t depth = 0;
  if (TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples) == 1 && TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits) == 1)
    depth = uint32_t(samples) * bits;
  return tag_resolution_format(width, height, names, values) &&
         (depth == 0 || tag_uint_property_add(TAG_NAME(RES_COLOR_DEPTH), depth, names, values)) &&
         tiff_date_add(tiff_text(tif, TIFFTAG_DATETIME), names, values) &&
         tag_text_property_add(TAG_NAME(DC_CREATOR), tiff_text(tif, TIFFTAG_ARTIST), names, values) &&
         tag_text_property_add(TAG_NAME(DC_RIGHTS), tiff_text(tif, TIFFTAG_COPYRIGHT), names, values) &&
         tag_text_property_add(TAG_NAME(DC_DESCRIPTION), tiff_text(tif, TIFFTAG_IMAGEDESCRIPTION), names, values) &&
         tag_protocol_info_no_profile(mime, names, values);
}

}  // namespace

extern "C" int tag_tiff_read(int file, const sys_file_stat_rec *st, const char *mime, sys_ptralloc_rec *names,
                             sys_ptralloc_rec *values)
{
  tiff_file f{file, st->size, 0, TAG_IMAGE_READ_MAX};
  TIFF *tif = tiff_open(&f);
  if (!tif) return 0;
  int ok = tiff_properties(tif, mime, names, values);
  TIFFClose(tif);
  return ok;
}
