// links: tarvo_tag tarvo_avcp tarvo_util
// The BMP record from arbitrary file bytes: a parsed header has one of the
// five kinds, and only Windows headers can be top-down.
#include <tarvo_tag/tag_image.h>

#include <cstdlib>

#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  int fd = fuzz_file::fill(data, size);
  if (fd < 0) return 0;
  bmp_info b;
  if (!bmp_info_parse(&b, fd)) return 0;
  if (b.kind < BMP_KIND_OS2_V1 || b.kind > BMP_KIND_V5) std::abort();
  if (b.top_down && b.kind < BMP_KIND_INFO) std::abort();
  return 0;
}
