// GIF: the logical screen's size and colour resolution, through giflib.
// No image data is decoded.
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/sys_file.h>

#include <gif_lib.h>

#include "image_impl.h"

namespace {

int gif_input(GifFileType *gif, GifByteType *buf, int len)
{
  uint32_t got;
  if (len < 0 || !tag_image::read_full(*static_cast<int *>(gif->UserData), buf, uint32_t(len), &got)) return -1;
  return int(got);
}

}  // namespace

extern "C" int tag_gif_read(int file, const sys_file_stat_rec *, const char *mime, sys_ptralloc_rec *names,
                            sys_ptralloc_rec *values)
{
  int error = 0;
  GifFileType *gif = DGifOpen(&file, gif_input, &error);
  if (!gif) return 0;
  uint32_t width = uint32_t(gif->SWidth), height = uint32_t(gif->SHeight);
  uint32_t resolution = uint32_t(gif->SColorResolution);
  DGifCloseFile(gif, &error);
  return tag_resolution_format(width, height, names, values) &&
         (resolution == 0 || tag_uint_property_add(TAG_NAME(RES_COLOR_DEPTH), resolution, names, values)) &&
         tag_protocol_info_no_profile(mime, names, values);
}
