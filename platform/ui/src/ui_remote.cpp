// Published classes and the per-process datagram socket.  Only datagrams
// whose sender is the same user (SO_PASSCRED) and that parse exactly are
// posted on; every descriptor is close-on-exec.
#include "ui_remote.h"

#include <glib-unix.h>
#include <glib.h>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace {

std::mutex remote_lock;
int sock_fd = -1;
std::map<HWND, std::string> published;  // window -> its class file

uint32_t pid_of(HWND h) { return uint32_t(reinterpret_cast<uintptr_t>(h) >> 32); }

// The folder: made 0700 when missing; an existing one must be the user's
// own and closed to others.
std::string runtime_dir()
{
  std::string dir;
  if (const char *d = std::getenv("TARVO_RUNTIME_DIR"); d && *d) dir = d;
  else if (const char *x = std::getenv("XDG_RUNTIME_DIR"); x && *x) dir = std::string(x) + "/tarvo";
  else return "";
  if (mkdir(dir.c_str(), 0700) == 0) return dir;
  struct stat st;
  if (errno == EEXIST && lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
      (st.st_mode & 077) == 0)
    return dir;
  return "";
}

bool class_name_ok(const char *c)
{
  size_t n = std::strlen(c);
  if (n == 0 || n > UI_REMOTE_CLASS_MAX) return false;
  for (size_t i = 0; i < n; ++i)
    if (!g_ascii_isalnum(c[i]) && !std::strchr("_-.#", c[i])) return false;
  return true;
}

std::string lowered(const char *c)
{
  std::string s = c;
  for (char &ch : s) ch = g_ascii_tolower(ch);
  return s;
}

std::string socket_path(const std::string &dir, uint32_t pid) { return dir + "/ui-" + std::to_string(pid) + ".sock"; }

bool fill_addr(const std::string &path, sockaddr_un *a)
{
  if (path.size() >= sizeof a->sun_path) return false;
  *a = sockaddr_un{};
  a->sun_family = AF_UNIX;
  std::memcpy(a->sun_path, path.c_str(), path.size() + 1);
  return true;
}

gboolean on_datagram(gint fd, GIOCondition, gpointer)
{
  for (;;) {
    ui_remote_datagram d;
    char buf[sizeof d + 1];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    iovec iov{buf, sizeof buf};
    msghdr m{};
    m.msg_iov = &iov;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    ssize_t n = recvmsg(fd, &m, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    if (n < 0) return G_SOURCE_CONTINUE;
    bool same_user = false;
    for (cmsghdr *c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c))
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS && c->cmsg_len == CMSG_LEN(sizeof(ucred))) {
        ucred cr;
        std::memcpy(&cr, CMSG_DATA(c), sizeof cr);
        same_user = cr.uid == geteuid();
      }
    if (same_user && !(m.msg_flags & MSG_TRUNC) && ui_remote_parse(buf, size_t(n), uint32_t(getpid()), &d))
      PostMessage(reinterpret_cast<HWND>(uintptr_t(d.hwnd)), d.message, WPARAM(d.wparam), LPARAM(d.lparam));
  }
}

// The process's socket, read on the calling thread's context.
bool socket_ready(const std::string &dir)
{
  if (sock_fd >= 0) return true;
  std::string path = socket_path(dir, uint32_t(getpid()));
  sockaddr_un a;
  if (!fill_addr(path, &a)) return false;
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  int on = 1;
  if (fd < 0) return false;
  unlink(path.c_str());  // left by a process of the same number
  if (setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
      bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || chmod(path.c_str(), 0600) != 0) {
    close(fd);
    return false;
  }
  sock_fd = fd;
  GMainContext *ctx = g_main_context_get_thread_default();
  GSource *s = g_unix_fd_source_new(fd, G_IO_IN);
  g_source_set_callback(s, reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(on_datagram)), nullptr, nullptr);
  g_source_attach(s, ctx ? ctx : g_main_context_default());
  g_source_unref(s);
  return true;
}

void remove_files()
{
  std::lock_guard<std::mutex> g(remote_lock);
  for (auto &[h, file] : published) unlink(file.c_str());
  published.clear();
  std::string dir = runtime_dir();
  if (sock_fd >= 0 && !dir.empty()) unlink(socket_path(dir, uint32_t(getpid())).c_str());
}

bool read_handle(const std::string &path, uint64_t *h)
{
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  char buf[32] = "";
  ssize_t n = read(fd, buf, sizeof buf - 1);
  close(fd);
  if (n <= 0) return false;
  buf[n] = '\0';
  char *end;
  *h = std::strtoull(buf, &end, 16);
  return end != buf && (*end == '\n' || *end == '\0');
}

}  // namespace

int ui_remote_parse(const void *data, size_t size, uint32_t pid, ui_remote_datagram *out)
{
  if (!data || size != sizeof(ui_remote_datagram)) return 0;
  ui_remote_datagram d;
  std::memcpy(&d, data, sizeof d);
  if (d.magic != UI_REMOTE_MAGIC || d.version != UI_REMOTE_VERSION || d.reserved != 0) return 0;
  if (uint32_t(d.hwnd >> 32) != pid || uint32_t(d.hwnd) == 0) return 0;
  *out = d;
  return 1;
}

HWND ui_remote_find(const char *class_name)
{
  if (!class_name || !class_name_ok(class_name)) return nullptr;
  std::string dir = runtime_dir();
  if (dir.empty()) return nullptr;
  std::string prefix = "class-" + lowered(class_name) + "-";
  DIR *d = opendir(dir.c_str());
  if (!d) return nullptr;
  HWND found = nullptr;
  while (dirent *e = readdir(d)) {
    if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) != 0) continue;
    char *end;
    unsigned long pid = std::strtoul(e->d_name + prefix.size(), &end, 10);
    if (*end || pid == 0 || pid > 0xFFFFFFFFul || pid == unsigned(getpid())) continue;
    uint64_t h;
    if (kill(pid_t(pid), 0) != 0 && errno == ESRCH) continue;  // a stale file
    if (!read_handle(dir + "/" + e->d_name, &h) || (h >> 32) != pid) continue;
    found = reinterpret_cast<HWND>(uintptr_t(h));
    break;
  }
  closedir(d);
  return found;
}

int ui_remote_post(HWND window, UINT msg, WPARAM wparam, LPARAM lparam)
{
  uint32_t pid = pid_of(window);
  std::string dir = runtime_dir();
  sockaddr_un a;
  if (pid == 0 || pid == uint32_t(getpid()) || dir.empty() || !fill_addr(socket_path(dir, pid), &a)) return 0;
  ui_remote_datagram d{UI_REMOTE_MAGIC, UI_REMOTE_VERSION, uint64_t(uintptr_t(window)), msg, 0, uint64_t(wparam),
                       int64_t(lparam)};
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);  // the receiver learns who sent it
  ssize_t n = sendto(fd, &d, sizeof d, MSG_NOSIGNAL | MSG_DONTWAIT, reinterpret_cast<sockaddr *>(&a), sizeof a);
  close(fd);
  return n == ssize_t(sizeof d);
}

void ui_remote_unpublish(HWND window)
{
  std::lock_guard<std::mutex> g(remote_lock);
  auto it = published.find(window);
  if (it == published.end()) return;
  unlink(it->second.c_str());
  published.erase(it);
}

extern "C" int PublishWindowClass(HWND window)
{
  const char *cls = GetWindowClass(window);
  if (!cls || !class_name_ok(cls) || pid_of(window) != uint32_t(getpid())) return 0;
  std::string dir = runtime_dir();
  if (dir.empty()) return 0;
  std::lock_guard<std::mutex> g(remote_lock);
  if (published.count(window)) return 1;
  if (!socket_ready(dir)) return 0;
  std::string file = dir + "/class-" + lowered(cls) + "-" + std::to_string(getpid());
  unlink(file.c_str());  // one window of a class per process is published
  int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return 0;
  char line[24];
  int len = std::snprintf(line, sizeof line, "%016" PRIx64 "\n", uint64_t(uintptr_t(window)));
  bool ok = write(fd, line, size_t(len)) == len;
  close(fd);
  if (!ok) {
    unlink(file.c_str());
    return 0;
  }
  static bool registered = (std::atexit(remove_files), true);
  (void)registered;
  published[window] = file;
  return 1;
}
