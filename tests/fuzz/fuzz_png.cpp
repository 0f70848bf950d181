// links: tarvo_tag tarvo_avcp tarvo_util
// The PNG chunk walk from arbitrary file bytes, through the PNG reader: the
// property lists stay parallel and no text is longer than the file allows.
#include <tarvo_tag/tag_reader.h>

#include <cstdlib>
#include <cstring>

#include "fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  int fd = fuzz_file::fill(data, size);
  sys_file_stat_rec st;
  if (fd < 0 || !sys_file_fstat(fd, &st)) return 0;
  tag_property_list l{};
  if (tag_png_read(fd, &st, "image/png", &l.names, &l.values)) {
    if (l.names.len != l.values.len) std::abort();
    // A text comes from the file's bytes, at most three UTF-8 bytes each.
    for (uint32_t i = 0; i < l.values.len; i++)
      if (!std::strncmp(static_cast<const char *>(l.names.buf[i]), "dc:", 3) &&
          std::strlen(static_cast<const char *>(l.values.buf[i])) > 3 * size)
        std::abort();
  }
  tag_property_list_clear(&l.names, &l.values);
  sys_ptralloc_free(&l.names);
  sys_ptralloc_free(&l.values);
  return 0;
}
