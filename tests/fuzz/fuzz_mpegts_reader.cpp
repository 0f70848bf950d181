// links: tarvo_tag tarvo_avcp tarvo_util
// The transport-stream reader over arbitrary file bytes, as 188- and as
// 192-byte packets: the lists stay parallel, every value is a non-empty
// string, and memory is bounded by the reader's limits.
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/sys_file.h>

#include <cstdlib>
#include <initializer_list>

#include "fuzz_file.h"
#include "mpegts_impl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  for (uint32_t kind : {MPEGTS_KIND_188, MPEGTS_KIND_192}) {
    int fd = fuzz_file::fill(data, size);
    sys_file_stat_rec st;
    if (fd < 0 || !sys_file_fstat(fd, &st)) return 0;
    tag_property_list l{};
    if (mpegts_tag_read(kind, fd, &st, 0, "video/mpeg", &l.names, &l.values)) {
      if (l.names.len != l.values.len) std::abort();
      for (uint32_t i = 0; i < l.values.len; i++)
        if (!l.values.buf[i] || !*static_cast<const char *>(l.values.buf[i])) std::abort();
    }
    tag_property_list_clear(&l.names, &l.values);
    sys_ptralloc_free(&l.names);
    sys_ptralloc_free(&l.values);
  }
  return 0;
}
