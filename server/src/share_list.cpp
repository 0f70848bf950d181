// What the share actions and the share scanner agree on: which paths may
// name a share, the scanner's locks, and the notification through which a
// share action learns that the scanner has read the share list it changed.
//
// The locks are used by the device stack's connection threads, which may
// still run when the scanner stops; a count of the threads inside lets the
// stop free them only once nobody holds or waits for them.
#include <vennard/server.h>
#include <vennard/share_scanner.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_str.h>
#include <tarvo_util/xml.h>

#include <atomic>
#include <string_view>

namespace {

std::atomic_ref<int32_t> flag(int32_t &f) { return std::atomic_ref<int32_t>(f); }

// Counts the caller in unless the scanner stops.
bool enter(share_scanner_rec *sc)
{
  flag(sc->users).fetch_add(1);
  if (flag(sc->ready).load()) return true;
  flag(sc->users).fetch_sub(1);
  return false;
}

void leave(share_scanner_rec *sc) { flag(sc->users).fetch_sub(1); }

// Takes m for a thread counted in; refused once the scanner stops.
bool lock_entered(share_scanner_rec *sc, sys_mutex_handle *m)
{
  if (!enter(sc)) return false;
  if (sys_mutex_lock(m)) {
    if (flag(sc->ready).load()) return true;
    sys_mutex_unlock(m);
  }
  leave(sc);
  return false;
}

}  // namespace

extern "C" {

int share_path_check(const char *path)
{
  if (!path || path[0] != '/' || sys_str_len(path) > SHARE_PATH_MAX || !xml_gen_is_legal_value(path))
    return 0;
  std::string_view rest(path + 1);
  if (rest.empty()) return 1;
  // Each component is a name: a path spelt two ways would slip past the
  // comparisons with the shares.
  for (;;) {
    size_t slash = rest.find('/');
    std::string_view name = rest.substr(0, slash);
    if (name.empty() || name == "." || name == "..") return 0;
    if (slash == rest.npos) return 1;
    rest.remove_prefix(slash + 1);
  }
}

int share_locks_init(server_rec *s)
{
  share_scanner_rec *sc = &s->scanner;
  sc->mutex = nullptr;
  sc->notify = share_notify_rec{};
  if (!sys_mutex_create(&sc->notify.mutex)) return 0;
  if (sys_sync_create(&sc->notify.cond)) {
    if (sys_mutex_create(&sc->mutex)) {
      flag(sc->ready).store(1);
      return 1;
    }
    sys_sync_destroy(&sc->notify.cond);
  }
  sys_mutex_destroy(&sc->notify.mutex);
  return 0;
}

void share_locks_refuse(server_rec *s)
{
  share_scanner_rec *sc = &s->scanner;
  if (!flag(sc->ready).exchange(0)) return;
  // Waiters see the flag at their next wake-up.
  sys_mutex_lock(&sc->notify.mutex);
  sys_sync_notify_all(&sc->notify.cond);
  sys_mutex_unlock(&sc->notify.mutex);
}

void share_locks_wait_out(server_rec *s)
{
  while (flag(s->scanner.users).load()) sys_thread_sleep(1);
}

void share_locks_close(server_rec *s)
{
  share_scanner_rec *sc = &s->scanner;
  share_locks_refuse(s);
  if (!sc->mutex) return;
  share_locks_wait_out(s);
  sys_sync_destroy(&sc->notify.cond);
  sys_mutex_destroy(&sc->notify.mutex);
  sys_mutex_destroy(&sc->mutex);
  sc->mutex = nullptr;
}

int share_scanner_lock(server_rec *s)
{
  return lock_entered(&s->scanner, &s->scanner.mutex);
}

void share_scanner_unlock(server_rec *s)
{
  sys_mutex_unlock(&s->scanner.mutex);
  leave(&s->scanner);
}

int share_notify_lock(server_rec *s, uint64_t *generation)
{
  if (!lock_entered(&s->scanner, &s->scanner.notify.mutex)) return 0;
  if (generation) *generation = s->scanner.notify.generation;
  return 1;
}

void share_notify_unlock(server_rec *s)
{
  sys_mutex_unlock(&s->scanner.notify.mutex);
  leave(&s->scanner);
}

void share_notify_signal(server_rec *s)
{
  s->scanner.notify.generation++;
  sys_sync_notify_all(&s->scanner.notify.cond);
}

int share_notify_wait(server_rec *s, uint64_t generation)
{
  share_notify_rec *n = &s->scanner.notify;
  // The count only grows under the mutex that the caller has held since it
  // read it, so a list read after the caller's change cannot go unseen.
  for (;;) {
    if (n->generation != generation) return 1;
    if (!flag(s->scanner.ready).load() || flag(s->content.stopping).load()) return 0;
    sys_sync_timedwait(&n->cond, &n->mutex, SHARE_NOTIFY_SLICE_MS);
  }
}

}  // extern "C"
