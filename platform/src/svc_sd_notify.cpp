// Notifications to systemd: one datagram to $NOTIFY_SOCKET.
#include <tarvo_platform/svc.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stddef.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

extern "C" int svc_sd_notify(const char *state)
{
  const char *path = std::getenv("NOTIFY_SOCKET");
  if (!path || !*path) return 1;
  size_t plen = std::strlen(path);
  sockaddr_un sa{};
  if (plen >= sizeof sa.sun_path) return 0;
  if (path[0] != '/' && path[0] != '@') return 0;
  sa.sun_family = AF_UNIX;
  std::memcpy(sa.sun_path, path, plen);
  // An abstract socket's name begins with a NUL and is not NUL-terminated.
  if (path[0] == '@') sa.sun_path[0] = 0;
  socklen_t salen = socklen_t(offsetof(sockaddr_un, sun_path) + plen + (path[0] == '/' ? 1 : 0));
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  ssize_t r;
  do r = sendto(fd, state, std::strlen(state), MSG_NOSIGNAL, reinterpret_cast<sockaddr *>(&sa), salen);
  while (r < 0 && errno == EINTR);
  close(fd);
  return r == ssize_t(std::strlen(state));
}
