// links: vennard_core
// The program-stream time seek over arbitrary bytes: the first 16 bytes
// choose the request (times and rate), the rest is the file.
#include <vennard/mpeg_ps.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

uint32_t word(const uint8_t *p)
{
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size < 16) return 0;
  http_server_npt_rec times;
  times.total_ms = 1 + word(data) % 10000000;
  times.start_ms = word(data + 4) % times.total_ms;
  times.end_ms = times.start_ms + 1 + word(data + 8) % (times.total_ms - times.start_ms);
  uint32_t bitrate = word(data + 12);
  int fd = memfd_create("seek", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (write(fd, data + 16, size - 16) != ssize_t(size - 16)) std::abort();
  sys_file_stat_rec st{};
  http_server_range_rec range{};
  if (sys_file_fstat(fd, &st) && mpeg_ps_time_seek(&range, &times, bitrate, fd, &st)) {
    // What the answer announces must lie within the file and the resource.
    if (range.offset + range.length > st.size || range.size != st.size) std::abort();
    if (times.start_ms > times.total_ms || times.end_ms > times.total_ms) std::abort();
  }
  close(fd);
  return 0;
}
