// links: tarvo_tag tarvo_avcp tarvo_util
// The AVI header walk over arbitrary file bytes: the lists stay parallel and
// every value is a non-empty string.
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/sys_file.h>

#include <cstdlib>

#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  int fd = fuzz_file::fill(data, size);
  sys_file_stat_rec st;
  if (fd < 0 || !sys_file_fstat(fd, &st)) return 0;
  tag_property_list l{};
  if (tag_avi_read(fd, &st, "video/avi", &l.names, &l.values)) {
    if (l.names.len != l.values.len) std::abort();
    for (uint32_t i = 0; i < l.values.len; i++)
      if (!l.values.buf[i] || !*static_cast<const char *>(l.values.buf[i])) std::abort();
  }
  tag_property_list_clear(&l.names, &l.values);
  sys_ptralloc_free(&l.names);
  sys_ptralloc_free(&l.values);
  return 0;
}
