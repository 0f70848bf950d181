// Change notification: one inotify watch per folder of every share and one
// on sync/share; a share whose watches ran out is assumed changed every
// SHARE_POLL_MS, so that its tree is walked again.
#include "share_impl.h"

#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace scan {

namespace {

constexpr uint32_t kFolderMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ATTRIB |
                                 IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t kListMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_ONLYDIR;
constexpr const char *kListName = "list";

int64_t now_ms()
{
  int64_t t = 0;
  sys_timems_now(&t);
  return t;
}

void degrade(share_rec *sh)
{
  if (sh->degraded) return;
  sh->degraded = true;
  sh->next_poll_ms = now_ms() + SHARE_POLL_MS;
}

void all_signalled(state *st)
{
  st->list_signalled = true;
  for (auto &sh : st->shares) sh->signalled = true;
}

// Everything the kernel has queued, without waiting.
void events_read(state *st)
{
  if (st->inotify < 0) return;
  alignas(inotify_event) char buf[16384];
  for (;;) {
    ssize_t n = read(st->inotify, buf, sizeof buf);
    if (n <= 0) return;
    for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
      const auto *e = reinterpret_cast<const inotify_event *>(buf + at);
      at += ssize_t(sizeof(inotify_event) + e->len);
      if (e->mask & IN_Q_OVERFLOW) {
        all_signalled(st);
        continue;
      }
      const char *name = e->len ? e->name : "";
      if (e->wd == st->list_wd) {
        if (e->mask & IN_IGNORED) {
          st->list_wd = -1;
          st->list_degraded = true;
          st->list_signalled = true;
        } else if (!std::strcmp(name, kListName)) {
          st->list_signalled = true;
        }
        continue;
      }
      auto it = st->watches.find(e->wd);
      if (it == st->watches.end()) continue;
      // Hidden entries never become objects; their coming and going
      // changes nothing.
      bool shown = !*name || !name_skipped(name);
      for (share_rec *sh : it->second) {
        if (shown || (e->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF))) sh->signalled = true;
        if (e->mask & IN_IGNORED) std::erase(sh->wds, e->wd);
      }
      if (e->mask & IN_IGNORED) st->watches.erase(it);
    }
  }
}

bool anything_signalled(state *st)
{
  if (st->list_signalled || cut_short(st->s) || recheck_raised(st->s)) return true;
  return std::any_of(st->shares.begin(), st->shares.end(), [](auto &sh) { return sh->signalled; });
}

// Degraded watches that are due count as fired; *wait_ms (negative: no
// limit) shrinks to the next one due.
void polls_due(state *st, int *wait_ms)
{
  int64_t now = now_ms();
  auto due = [&](int64_t *next, bool *signalled) {
    if (now >= *next) {
      *signalled = true;
      *next = now + SHARE_POLL_MS;
    } else if (*wait_ms < 0 || *next - now < *wait_ms) {
      *wait_ms = int(*next - now);
    }
  };
  if (st->list_degraded) due(&st->list_next_poll_ms, &st->list_signalled);
  for (auto &sh : st->shares)
    if (sh->degraded) due(&sh->next_poll_ms, &sh->signalled);
}

}  // namespace

bool watch_open(state *st)
{
  st->inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  st->wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  return st->wake >= 0;
}

void watch_close(state *st)
{
  if (st->inotify >= 0) close(st->inotify);
  if (st->wake >= 0) close(st->wake);
  st->inotify = st->wake = -1;
  st->watches.clear();
  st->list_wd = -1;
}

void watch_list_add(state *st, const std::string &folder)
{
  st->list_wd = st->inotify < 0 ? -1 : inotify_add_watch(st->inotify, folder.c_str(), kListMask);
  st->list_degraded = st->list_wd < 0;
  st->list_next_poll_ms = now_ms() + SHARE_POLL_MS;
}

void watch_folder_add(state *st, share_rec *sh, const std::string &path)
{
  if (sh->degraded) return;
  if (st->inotify < 0) {
    degrade(sh);
    return;
  }
  int wd = inotify_add_watch(st->inotify, path.c_str(), kFolderMask);
  if (wd < 0) {
    // Out of watches: this share is looked at again from time to time.
    if (errno == ENOSPC || errno == ENOMEM) degrade(sh);
    return;
  }
  std::vector<share_rec *> &users = st->watches[wd];
  if (std::find(users.begin(), users.end(), sh) != users.end()) return;
  users.push_back(sh);
  sh->wds.push_back(wd);
}

void watch_share_drop(state *st, share_rec *sh)
{
  for (int wd : sh->wds) {
    auto it = st->watches.find(wd);
    if (it == st->watches.end()) continue;
    std::erase(it->second, sh);
    if (!it->second.empty()) continue;
    if (st->inotify >= 0) inotify_rm_watch(st->inotify, wd);
    st->watches.erase(it);
  }
  sh->wds.clear();
  sh->degraded = false;
}

void watch_poll(state *st) { events_read(st); }

bool watch_wait(state *st, int ms)
{
  events_read(st);
  polls_due(st, &ms);
  if (anything_signalled(st)) return true;
  pollfd fds[2] = {{st->wake, POLLIN, 0}, {st->inotify, POLLIN, 0}};
  int r = poll(fds, st->inotify >= 0 ? 2 : 1, ms);
  if (r > 0 && (fds[0].revents & POLLIN)) {
    uint64_t v;
    while (read(st->wake, &v, sizeof v) > 0) {
    }
  }
  if (r > 0) events_read(st);
  int none = 0;
  polls_due(st, &none);
  return anything_signalled(st);
}

void wake(state *st)
{
  // A full counter wakes the thread all the same: the result can go.
  uint64_t one = 1;
  if (st->wake >= 0) [[maybe_unused]] ssize_t r = write(st->wake, &one, sizeof one);
}

}  // namespace scan
