// uictl SOCKET REQUEST...: sends one request line to a program's automation
// socket and prints the answer's lines; exit 0 for "ok", 1 for "error",
// 2 when the socket cannot be reached or the answer is cut.
#include <tarvo_ui/ui_limits.h>

#include <tarvo_util/sys_socket.h>

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Real seconds an answer may take: the program may be busy in a handler.
constexpr int UICTL_TIMEOUT_S = 10;

int connect_to(const char *path)
{
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  if (std::strlen(path) > UI_AUTOMATION_PATH_MAX) return -1;
  std::strcpy(a.sun_path, path);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  timeval tv{UICTL_TIMEOUT_S, 0};
  if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0 ||
      connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    sys_socket_close(fd);
    return -1;
  }
  return fd;
}

// Reads until the head line and as many lines as it announces are in.
bool read_answer(int fd, std::string *all)
{
  for (;;) {
    size_t nl = all->find('\n');
    if (nl != std::string::npos) {
      if (all->compare(0, 3, "ok ") != 0) return true;
      long want = std::strtol(all->c_str() + 3, nullptr, 10);
      long have = 0;
      for (size_t p = nl + 1; (p = all->find('\n', p)) != std::string::npos; ++p) ++have;
      if (have >= want) return true;
    }
    char buf[8192];
    uint32_t got = 0;
    if (!sys_socket_recv(fd, buf, sizeof buf, &got) || got == 0) return false;
    all->append(buf, got);
  }
}

}  // namespace

int main(int argc, char **argv)
{
  if (argc < 3) {
    std::fprintf(stderr, "usage: uictl SOCKET REQUEST...\n");
    return 2;
  }
  std::string line = argv[2];
  for (int i = 3; i < argc; ++i) line += std::string(" ") + argv[i];
  line += "\n";
  int fd = connect_to(argv[1]);
  std::string all;
  bool got = fd >= 0 && sys_socket_allsend(fd, line.data(), uint32_t(line.size())) && read_answer(fd, &all);
  sys_socket_close(fd);
  if (!got) {
    std::fprintf(stderr, "uictl: no answer from %s\n", argv[1]);
    return 2;
  }
  size_t nl = all.find('\n');
  if (all.compare(0, 3, "ok ") != 0) {
    std::fprintf(stderr, "%s\n", all.substr(0, nl).c_str());
    return 1;
  }
  std::fputs(all.c_str() + nl + 1, stdout);
  return 0;
}
