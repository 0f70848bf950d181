// links: tarvo_tag tarvo_avcp tarvo_util
// The program-stream scan and the reader's properties over arbitrary
// bytes: what it records stays within its slots, and a duration comes
// only with a success.
#include <cstdlib>

#include "fuzz_file.h"
#include "mpegps_impl.h"
#include <tarvo_tag/tag_reader.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  int fd = fuzz_file::fill(data, size);
  sys_file_stat_rec st{};
  if (fd < 0 || !sys_file_fstat(fd, &st)) return 0;
  mpegps_info info{};
  int ok = mpegps_reader(&info, fd, &st, 0);
  if (info.video_count > MPEGPS_SLOT_COUNT || info.audio_count > MPEGPS_SLOT_COUNT) std::abort();
  if (ok && (!info.video_count || !info.duration)) std::abort();
  tag_property_list l{};
  if (lseek(fd, 0, SEEK_SET) == 0 && mpegps_tag_read(fd, &st, 0, "video/mpeg", &l.names, &l.values) &&
      l.names.len != l.values.len)
    std::abort();
  tag_property_list_clear(&l.names, &l.values);
  sys_ptralloc_free(&l.names);
  sys_ptralloc_free(&l.values);
  return 0;
}
