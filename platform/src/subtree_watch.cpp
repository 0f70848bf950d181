// Folder trees watched with inotify: roots on one descriptor, a watch per
// folder shared by the roots that use it, new folders of tree roots added
// as their creation is read, a degraded mode when watches run out, and
// the mounts that bear on followed folders.
#include <tarvo_platform/subtree_watch.h>

#include <tarvo_util/sys_owner.h>
#include <tarvo_util/utf8file.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "subtree_mounts.h"

namespace {

constexpr uint32_t kMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE_SELF |
                           IN_MOVE_SELF | IN_ONLYDIR;
// A root that only looks at names in its folder does not follow the folder.
constexpr uint32_t kNamesMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ONLYDIR;
constexpr uint32_t kLost = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF;
// A root that looks only at its folders themselves: added to what other
// roots watch in the same folder, never narrowing it.
constexpr uint32_t kSelfMask = IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_MASK_ADD;

uint64_t now_ms()
{
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return uint64_t(t.tv_sec) * 1000 + uint64_t(t.tv_nsec) / 1000000;
}

struct root_rec {
  unsigned options = 0;
  subtree_watch_name_fn counts = nullptr;
  void *ctx = nullptr;
  int own_wd = -1;  // the watch of the folder given to subtree_watch_root_add
  size_t folders = 0;
  bool signalled = false, degraded = false;
  uint64_t next_poll = 0;
  std::vector<std::string> mount_folders;  // a mount on, above or below one signals the root
};

struct folder_rec {
  std::string path;
  std::vector<int> roots;
};

}  // namespace

struct subtree_watch_rec {
  int fd = -1, wake = -1;
  int mounts = -1;  // the mount table, which reports a change as POLLPRI
  subtree_mounts::table mount_table;  // as last read
  bool mounts_known = false;          // whether that read succeeded
  int next_root = 0;
  std::map<int, root_rec> roots;
  std::map<int, folder_rec> folders;  // watch descriptor -> folder
};

namespace {

root_rec *root_of(subtree_watch_rec *w, int root)
{
  if (!w) return nullptr;
  auto it = w->roots.find(root);
  return it == w->roots.end() ? nullptr : &it->second;
}

void degrade(root_rec *r)
{
  if (r->degraded) return;
  r->degraded = true;
  r->next_poll = now_ms() + SUBTREE_WATCH_POLL_MS;
}

uint32_t mask_of(const root_rec *r)
{
  if (r->options & SUBTREE_WATCH_SELF) return kSelfMask;
  if (!(r->options & SUBTREE_WATCH_TREE) && (r->options & SUBTREE_WATCH_LOST_POLL)) return kNamesMask;
  return kMask | ((r->options & SUBTREE_WATCH_ATTRIB) ? IN_ATTRIB : 0);
}

// The watch descriptor, or -1.
int folder_add(subtree_watch_rec *w, int id, root_rec *r, const std::string &path)
{
  if (r->degraded) return -1;
  if (w->fd < 0) {
    degrade(r);
    return -1;
  }
  int wd = inotify_add_watch(w->fd, path.c_str(), mask_of(r));
  if (wd < 0) {
    // Out of watches: this root is looked at again from time to time.
    if (errno == ENOSPC || errno == ENOMEM) degrade(r);
    return -1;
  }
  folder_rec &f = w->folders[wd];
  if (f.path.empty()) f.path = path;
  if (std::find(f.roots.begin(), f.roots.end(), id) == f.roots.end()) {
    f.roots.push_back(id);
    r->folders++;
  }
  return wd;
}

// The folder and, depth first, every folder below it.
void tree_add(subtree_watch_rec *w, int id, root_rec *r, const std::string &path)
{
  std::vector<std::string> todo{path};
  while (!todo.empty() && !r->degraded) {
    std::string p = todo.back();
    todo.pop_back();
    if (r->folders > SUBTREE_WATCH_FOLDERS_MAX) {
      degrade(r);
      return;
    }
    int wd = folder_add(w, id, r, p);
    if (wd < 0) continue;
    if (r->own_wd < 0) r->own_wd = wd;
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

void event_take(subtree_watch_rec *w, const inotify_event *e)
{
  if (e->mask & IN_Q_OVERFLOW) {
    for (auto &[id, r] : w->roots) r.signalled = true;
    return;
  }
  auto it = w->folders.find(e->wd);
  if (it == w->folders.end()) return;
  const char *name = e->len ? e->name : "";
  // The list may grow below (a tree root's new folder): work on a copy.
  std::vector<int> users = it->second.roots;
  std::string path = it->second.path;
  for (int id : users) {
    root_rec *r = root_of(w, id);
    if (!r) continue;
    bool names = !(r->options & SUBTREE_WATCH_SELF);
    if ((e->mask & kLost) || (names && (!r->counts || r->counts(r->ctx, name)))) r->signalled = true;
    if (e->mask & IN_IGNORED) {
      if (r->folders) r->folders--;
      if (e->wd == r->own_wd) {
        r->own_wd = -1;
        if (r->options & SUBTREE_WATCH_LOST_POLL) degrade(r);
      }
    } else if ((r->options & SUBTREE_WATCH_TREE) && (e->mask & IN_ISDIR) && (e->mask & (IN_CREATE | IN_MOVED_TO)) &&
               *name) {
      tree_add(w, id, r, path + "/" + name);
    }
  }
  if (e->mask & IN_IGNORED) w->folders.erase(e->wd);
}

void events_read(subtree_watch_rec *w)
{
  if (w->fd < 0) return;
  alignas(inotify_event) char buf[16384];
  for (;;) {
    ssize_t n = read(w->fd, buf, sizeof buf);
    if (n <= 0) return;
    for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
      const auto *e = reinterpret_cast<const inotify_event *>(buf + at);
      at += ssize_t(sizeof(inotify_event) + e->len);
      event_take(w, e);
    }
  }
}

// Degraded roots that are due count as changed; gives the time until the
// next one is due (negative: none).
int64_t polls_due(subtree_watch_rec *w)
{
  uint64_t now = now_ms();
  int64_t next = -1;
  for (auto &[id, r] : w->roots) {
    if (!r.degraded) continue;
    if (now >= r.next_poll) {
      r.signalled = true;
      r.next_poll = now + SUBTREE_WATCH_POLL_MS;
    }
    int64_t left = int64_t(r.next_poll - now);
    if (next < 0 || left < next) next = left;
  }
  return next;
}

bool mounts_read(subtree_mounts::table *t)
{
  own::stralloc text;
  return file_read_all_max("/proc/self/mountinfo", &text.s, SUBTREE_WATCH_MOUNTS_MAX) &&
         subtree_mounts::parse(std::string_view(text.s.buf, text.s.len), t);
}

// Only the roots whose folders a mount that came or went bears on are
// signalled: mounts elsewhere on the machine cost a read of the table.
void mounts_changed(subtree_watch_rec *w)
{
  subtree_mounts::table now;
  bool known = mounts_read(&now);
  // Without two tables to compare, any folder may be covered.
  bool all = !known || !w->mounts_known;
  std::vector<std::string> points;
  if (!all) points = subtree_mounts::changed(w->mount_table, now);
  w->mount_table = std::move(now);
  w->mounts_known = known;
  for (auto &[id, r] : w->roots)
    for (const std::string &folder : r.mount_folders)
      if (all || std::any_of(points.begin(), points.end(),
                             [&](const std::string &p) { return subtree_mounts::touches(p, folder); }))
        r.signalled = true;
}

bool any_signalled(const subtree_watch_rec *w)
{
  return std::any_of(w->roots.begin(), w->roots.end(), [](auto &r) { return r.second.signalled; });
}

}  // namespace

extern "C" {

subtree_watch_rec *subtree_watch_create(void)
{
  auto *w = new subtree_watch_rec;
  w->wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (w->wake < 0) {
    delete w;
    return nullptr;
  }
  w->fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  w->mounts = open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  // After the open: a change from here on shows on the descriptor.
  if (w->mounts >= 0) w->mounts_known = mounts_read(&w->mount_table);
  return w;
}

int subtree_watch_root_add(subtree_watch_rec *w, const char *folder, unsigned options, subtree_watch_name_fn counts,
                           void *ctx)
{
  if (!w || ((options & SUBTREE_WATCH_TREE) && !folder)) return -1;
  if (options & SUBTREE_WATCH_TREE) {
    struct stat st;
    if (stat(folder, &st) != 0 || !S_ISDIR(st.st_mode)) return -1;
  }
  int id = w->next_root++;
  root_rec &r = w->roots[id];
  r.options = options;
  r.counts = counts;
  r.ctx = ctx;
  if (!folder) return id;
  if (options & SUBTREE_WATCH_TREE) {
    tree_add(w, id, &r, folder);
    if (!r.folders && !r.degraded) {
      w->roots.erase(id);
      return -1;
    }
    return id;
  }
  r.own_wd = folder_add(w, id, &r, folder);
  // A folder that cannot be watched is looked at from time to time.
  if (r.own_wd < 0) degrade(&r);
  return id;
}

int subtree_watch_folder_add(subtree_watch_rec *w, int root, const char *path)
{
  root_rec *r = root_of(w, root);
  return r && path && folder_add(w, root, r, path) >= 0;
}

int subtree_watch_mounts_follow(subtree_watch_rec *w, int root, const char *folder)
{
  root_rec *r = root_of(w, root);
  if (!r || !folder || folder[0] != '/') return 0;
  std::string given = folder;
  while (given.size() > 1 && given.back() == '/') given.pop_back();
  r->mount_folders.push_back(given);
  // The mount table names folders with their links resolved.
  own::ptr<char, ::free> real(realpath(folder, nullptr));
  if (real.p && given != real.p) r->mount_folders.push_back(real.p);
  return 1;
}

void subtree_watch_root_drop(subtree_watch_rec *w, int root)
{
  if (!root_of(w, root)) return;
  for (auto it = w->folders.begin(); it != w->folders.end();) {
    std::vector<int> &users = it->second.roots;
    auto at = std::find(users.begin(), users.end(), root);
    if (at != users.end()) users.erase(at);
    if (users.empty()) {
      inotify_rm_watch(w->fd, it->first);
      it = w->folders.erase(it);
    } else {
      ++it;
    }
  }
  w->roots.erase(root);
}

int subtree_watch_root_signalled(const subtree_watch_rec *w, int root)
{
  root_rec *r = root_of(const_cast<subtree_watch_rec *>(w), root);
  return r && r->signalled;
}

int subtree_watch_root_degraded(const subtree_watch_rec *w, int root)
{
  root_rec *r = root_of(const_cast<subtree_watch_rec *>(w), root);
  return r && r->degraded;
}

void subtree_watch_root_rearm(subtree_watch_rec *w, int root)
{
  if (root_rec *r = root_of(w, root)) r->signalled = false;
}

void subtree_watch_read(subtree_watch_rec *w, int polls)
{
  if (!w) return;
  events_read(w);
  if (polls) polls_due(w);
}

void subtree_watch_wake(subtree_watch_rec *w)
{
  // A full counter wakes the waiter all the same: the result can go.
  uint64_t one = 1;
  if (w && w->wake >= 0) [[maybe_unused]] ssize_t r = write(w->wake, &one, sizeof one);
}

subtree_watch_rec *subtree_watch_open(const char *root)
{
  subtree_watch_rec *w = subtree_watch_create();
  if (w && subtree_watch_root_add(w, root, SUBTREE_WATCH_TREE, nullptr, nullptr) < 0) {
    subtree_watch_close(w);
    return nullptr;
  }
  return w;
}

int subtree_watch_fd(const subtree_watch_rec *w) { return w ? w->fd : -1; }

int subtree_watch_signalled(subtree_watch_rec *w)
{
  if (!w) return 0;
  subtree_watch_read(w, 1);
  return any_signalled(w);
}

int subtree_watch_wait(subtree_watch_rec *w, int ms)
{
  if (!w) return 0;
  events_read(w);
  int64_t next = polls_due(w);
  if (any_signalled(w)) return 1;
  if (next >= 0 && (ms < 0 || next < ms)) ms = int(next);
  // A descriptor that could not be had (-1) is left out by poll.
  pollfd fds[3] = {{w->wake, POLLIN, 0}, {w->fd, POLLIN, 0}, {w->mounts, POLLPRI, 0}};
  int r = poll(fds, 3, ms);
  // A mount may have covered a folder or uncovered another in its place.
  if (r > 0 && (fds[2].revents & (POLLPRI | POLLERR))) mounts_changed(w);
  if (r > 0 && (fds[0].revents & POLLIN)) {
    uint64_t v;
    while (read(w->wake, &v, sizeof v) > 0) {
    }
  }
  return subtree_watch_signalled(w);
}

void subtree_watch_rearm(subtree_watch_rec *w)
{
  if (!w) return;
  for (auto &[id, r] : w->roots) r.signalled = false;
}

void subtree_watch_close(subtree_watch_rec *w)
{
  if (!w) return;
  if (w->fd >= 0) close(w->fd);
  if (w->wake >= 0) close(w->wake);
  if (w->mounts >= 0) close(w->mounts);
  delete w;
}
}
