// links: tarvo_tag tarvo_avcp tarvo_util
// The Windows Media header walk from arbitrary file bytes: a collection id,
// when found, is 36 characters of the 8-4-4-4-12 form, and the object is
// freed whatever was read.
#include <tarvo_tag/tag_asf.h>

#include <cstdlib>
#include <cstring>

#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  int fd = fuzz_file::fill(data, size);
  if (fd < 0) return 0;
  WMTag *tag = WMTag_New(fd);
  if (const char *id = WMTag_GetWMCollectionID(tag)) {
    if (std::strlen(id) != 36 || id[8] != '-' || id[13] != '-' || id[18] != '-' || id[23] != '-') std::abort();
  }
  WMTag_Delete(tag);
  return 0;
}
