// links: corda_lpcm_core
// The Ogg Vorbis half of the LPCM plug-in on arbitrary file bytes: the
// plug-in's read, seek and tell callbacks under vorbisfile's open, the
// decodability test and a bounded stream into a socket pair, whose output
// is exactly the budget when the stream succeeds.
#include <corda_lpcm/corda_lpcm.h>

#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

constexpr uint64_t kBudget = 16384;  // within the socket pair's buffer

uint64_t drain(int fd)
{
  uint64_t n = 0;
  char buf[4096];
  for (ssize_t got; (got = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0;) n += uint64_t(got);
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  int file = memfd_create("ogg", MFD_CLOEXEC);
  if (file < 0 || write(file, data, size) != ssize_t(size) || lseek(file, 0, SEEK_SET) != 0) std::abort();
  lpcm_vorbis_decodable_fd(file);
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) std::abort();
  int big = 1 << 20;
  setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  lseek(file, 0, SEEK_SET);
  msf_lpcm_job job{"fuzz.ogg", "application/ogg", 44100, 2, 60000, size ? uint32_t(data[0]) * 100 : 0};
  auto *out = new msf_lpcm_out;
  msf_lpcm_out_init(out, pair[0], 0, 0, kBudget, 0);
  int ok = lpcm_vorbis_stream_fd(file, &job, out);
  delete out;
  uint64_t sent = drain(pair[1]);
  if (ok && sent != kBudget) std::abort();
  close(pair[0]);
  close(pair[1]);
  close(file);
  return 0;
}
