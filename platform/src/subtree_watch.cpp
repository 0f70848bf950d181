// A folder tree watched with inotify: a watch per folder, new folders added
// as their creation is read, a degraded mode when watches run out.
#include <tarvo_platform/subtree_watch.h>

#include <dirent.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE_SELF |
                           IN_MOVE_SELF | IN_ONLYDIR;

uint64_t now_ms()
{
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000;
}

}  // namespace

struct subtree_watch_rec {
  int fd = -1;
  std::map<int, std::string> folders;  // watch descriptor -> path
  bool signalled = false, degraded = false;
  uint64_t next_poll = 0;
};

namespace {

void degrade(subtree_watch_rec *w)
{
  if (w->degraded) return;
  w->degraded = true;
  w->next_poll = now_ms() + SUBTREE_WATCH_POLL_MS;
}

// The folder and, depth first, every folder below it.
void add_tree(subtree_watch_rec *w, const std::string &path)
{
  std::vector<std::string> todo{path};
  while (!todo.empty() && !w->degraded) {
    std::string p = todo.back();
    todo.pop_back();
    if (w->folders.size() > SUBTREE_WATCH_FOLDERS_MAX) {
      degrade(w);
      return;
    }
    int wd = inotify_add_watch(w->fd, p.c_str(), kMask);
    if (wd < 0) {
      if (errno == ENOSPC || errno == ENOMEM) degrade(w);
      continue;
    }
    w->folders[wd] = p;
    DIR *d = opendir(p.c_str());
    if (!d) continue;
    while (dirent *e = readdir(d)) {
      if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
      std::string child = p + "/" + e->d_name;
      struct stat st;
      if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) todo.push_back(child);
    }
    closedir(d);
  }
}

void read_events(subtree_watch_rec *w)
{
  if (w->fd < 0) return;
  alignas(inotify_event) char buf[16384];
  for (;;) {
    ssize_t n = read(w->fd, buf, sizeof buf);
    if (n <= 0) return;
    for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
      const auto *e = reinterpret_cast<const inotify_event *>(buf + at);
      at += ssize_t(sizeof(inotify_event) + e->len);
      w->signalled = true;
      if (e->mask & IN_Q_OVERFLOW) continue;
      auto it = w->folders.find(e->wd);
      if (it == w->folders.end()) continue;
      if (e->mask & IN_IGNORED) {
        w->folders.erase(it);
        continue;
      }
      if ((e->mask & IN_ISDIR) && (e->mask & (IN_CREATE | IN_MOVED_TO)) && e->len)
        add_tree(w, it->second + "/" + e->name);
    }
  }
}

bool due(subtree_watch_rec *w)
{
  if (!w->degraded || now_ms() < w->next_poll) return false;
  w->next_poll = now_ms() + SUBTREE_WATCH_POLL_MS;
  w->signalled = true;
  return true;
}

}  // namespace

extern "C" {

subtree_watch_rec *subtree_watch_open(const char *root)
{
  struct stat st;
  if (!root || stat(root, &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
  auto *w = new subtree_watch_rec;
  w->fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (w->fd < 0) {
    degrade(w);
    return w;
  }
  add_tree(w, root);
  if (w->folders.empty() && !w->degraded) {
    subtree_watch_close(w);
    return nullptr;
  }
  return w;
}

int subtree_watch_fd(const subtree_watch_rec *w) { return w ? w->fd : -1; }

int subtree_watch_signalled(subtree_watch_rec *w)
{
  if (!w) return 0;
  read_events(w);
  due(w);
  return w->signalled;
}

int subtree_watch_wait(subtree_watch_rec *w, int ms)
{
  if (!w) return 0;
  if (subtree_watch_signalled(w)) return 1;
  if (w->degraded) {
    uint64_t left = w->next_poll > now_ms() ? w->next_poll - now_ms() : 0;
    if (ms < 0 || uint64_t(ms) > left) ms = int(left);
  }
  pollfd p{w->fd, POLLIN, 0};
  if (w->fd >= 0) poll(&p, 1, ms);
  else if (ms > 0) usleep(useconds_t(ms) * 1000);
  return subtree_watch_signalled(w);
}

void subtree_watch_rearm(subtree_watch_rec *w)
{
  if (w) w->signalled = false;
}

void subtree_watch_close(subtree_watch_rec *w)
{
  if (!w) return;
  if (w->fd >= 0) close(w->fd);
  delete w;
}
}
