// links: tarvo_tag tarvo_avcp tarvo_util
// The container probe over arbitrary bytes: it always answers for a
// readable file, with one of its five kinds.
#include <cstdlib>

#include "fuzz_file.h"
#include "mpegps_impl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  int fd = fuzz_file::fill(data, size);
  sys_file_stat_rec st{};
  if (fd < 0 || !sys_file_fstat(fd, &st)) return 0;
  uint32_t kind = 99;
  if (!mpeg_container_probe(fd, &st, &kind) || kind > MPEGTS_KIND_192) std::abort();
  return 0;
}
