// links: tarvo_tag tarvo_avcp tarvo_util
// The MP4 box walk over arbitrary file bytes: on success every text is a
// string and a video codec is one of the kinds; nothing is left allocated.
#include <tarvo_tag/tag_mp4.h>
#include <tarvo_util/sys_file.h>

#include <cstdlib>
#include <initializer_list>
#include <cstring>

#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  int fd = fuzz_file::fill(data, size);
  sys_file_stat_rec st;
  if (fd < 0 || !sys_file_fstat(fd, &st)) return 0;
  mp4_info info;
  if (!mp4_parse(&info, fd, &st)) return 0;
  if (info.video_codec > MP4_CODEC_OTHER) std::abort();
  size_t n = 0;
  for (const char *t : {info.title, info.artist, info.composer, info.comment, info.album, info.genre, info.rights})
    n += t ? std::strlen(t) : 0;
  if (n > 7 * size) std::abort();
  mp4_info_free(&info);
  return 0;
}
