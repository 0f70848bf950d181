// links: tarvo_tag tarvo_avcp tarvo_util
// The JPEG record from arbitrary file bytes: the depth stays within its cap
// and every text is a terminated heap string the free call releases.
#include <tarvo_tag/tag_image.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  int fd = fuzz_file::fill(data, size);
  if (fd < 0) return 0;
  jpeg_info j;
  if (!jpeg_info_parse(&j, fd)) return 0;
  if (j.depth > 24) std::abort();
  for (const char *t : {j.date, j.comment, j.copyright})
    if (t && std::strlen(t) > size) std::abort();
  jpeg_info_free(&j);
  return 0;
}
