// links: tarvo_tag tarvo_avcp tarvo_util
// The MPEG audio frame scan on arbitrary file bytes, read through the file
// API from a memory file that a first byte may extend by a hole (so that
// the counting window ends before the file does): whatever the bytes, a
// scan that succeeds found a stream the tables allow and counted frames.
#include <tarvo_tag/tag_reader.h>
#include <tarvo_util/sys_file.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>

namespace {

void check(bool ok)
{
  if (!ok) std::abort();
}

bool known_rate(uint32_t r)
{
  for (uint32_t k : {8000u, 11025u, 12000u, 16000u, 22050u, 24000u, 32000u, 44100u, 48000u})
    if (r == k) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  static const int fd = memfd_create("mp3-scan", MFD_CLOEXEC);
  if (fd < 0 || size < 1) return 0;
  uint8_t mode = data[0];
  data++;
  size--;
  off_t length = off_t(size) + (mode & 0x80 ? off_t(mode & 0x3F) << 20 : 0);
  if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size) || ftruncate(fd, length) != 0) return 0;
  sys_file_stat_rec st;
  if (!sys_file_fstat(fd, &st)) return 0;
  int count_off = mode & 0x40;
  mp3_info info;
  if (!mp3_info_read(fd, &st, count_off, &info)) return 0;
  check(known_rate(info.header.sample_rate) && info.header.frame_length >= 4);
  check(info.frames >= (info.vbr ? 1u : 3u));
  check(info.vbr || info.non_audio_bytes < st.size);
  return 0;
}
