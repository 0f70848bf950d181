// links: vennard_core
// One management-port request from arbitrary bytes, served over a socket
// pair against a scratch data folder.
#include <vennard/service.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fuzz_scratch.h"

namespace {

service_worker_rec *worker()
{
  static service_worker_rec w{};
  static std::string home;
  if (home.empty()) {
    home = fuzz_scratch::folder("tarvo-fuzz-mgmt-");
    mkdir((home + "/conf").c_str(), 0700);
    w.listen_socket = -1;
    w.data_home = home.c_str();
    if (!sys_mutex_create(&w.lifecycle)) std::abort();
  }
  return &w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size > 65536) return 0;
  service_worker_rec *w = worker();
  int sv[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return 0;
  int buf = 1 << 20;
  setsockopt(sv[0], SOL_SOCKET, SO_SNDBUF, &buf, sizeof buf);
  if (size) send(sv[0], data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
  shutdown(sv[0], SHUT_WR);
  management_port_serve(w, sv[1]);
  close(sv[0]);
  return 0;
}
