// The share scanner's thread: the shares from the configuration store, the
// first scan, and then the changes its watches report.  Also its lock and
// the share-list notification through which share actions learn that the
// scanner has read the list they changed.
#include "server_util.h"
#include "share_impl.h"

#include <vennard/conf_store.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_str.h>

#include <algorithm>
#include <atomic>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace scan {

namespace {

std::atomic_ref<int32_t> flag(int32_t &f) { return std::atomic_ref<int32_t>(f); }

bool listed(char *const *list, const std::string &path)
{
  return list && list[sys_str_list_find(list, path.c_str())];
}

share_rec *share_add(state *st, const std::string &path, const std::string &container, const identity &id)
{
  auto sh = std::make_unique<share_rec>();
  sh->path = path;
  sh->container_id = container;
  sh->id = id;
  st->shares.push_back(std::move(sh));
  return st->shares.back().get();
}

// A share's container and its share-data file go; 701 counts as gone.
bool share_container_drop(server_rec *s, const std::string &container)
{
  {
    db_lock lock(s);
    if (!lock.held) return false;
    uint32_t r = content_db_destroy(s, container.c_str());
    if (r && r != 701) return false;
  }
  return conf_share_data_remove(s->data_home, container.c_str()) != 0;
}

// A share whose folder is gone, or is another folder now, is unshared.
void share_gone(state *st, share_rec *sh)
{
  watch_share_drop(st, sh);
  if (!share_scanner_lock(st->s)) return;
  content_db_unshare(st->s, sh->path.c_str());
  share_scanner_unlock(st->s);
  st->list_signalled = true;
}

void share_remove(state *st, share_rec *sh)
{
  share_forget(st, sh);
  watch_share_drop(st, sh);
  share_container_drop(st->s, sh->container_id);
  sh->removed = true;
}

// The shares the last run left in sync/data: kept while they are listed
// existing folders whose containers are still there.  A list that cannot
// be read is no empty list: the shares wait for it rather than lose their
// objects.
void shares_load(state *st)
{
  server_rec *s = st->s;
  char *folder = nullptr;
  if (conf_key_path(s->data_home, CONF_KEY_SHARE_DATA, &folder)) conf_dot_entries_remove(folder);
  sys_alloc_free(folder);
  own::str_list names, values, list;
  if (!conf_folder_list(s->data_home, CONF_KEY_SHARE_DATA, &names.l, &values.l)) return;
  bool list_known = conf_share_list_read(s->data_home, &list.l) != 0;
  for (uint32_t i = 0; names.l[i]; i++) {
    std::string path = values.l[i], container = names.l[i];
    identity id = identity_of(path);
    bool keep = (!list_known || listed(list.l, path)) && id.valid && share_path_check(path.c_str());
    for (auto &sh : st->shares) keep = keep && sh->path != path;
    if (keep) {
      db_lock lock(s);
      keep = lock.held && content_db_get(s, container.c_str());
    }
    if (keep) share_add(st, path, container, id);
    else share_container_drop(s, container);
  }
}

// Reads sync/share/list and makes the shares follow it; the new shares
// are appended to added.  Runs under the scanner mutex.
void list_apply(state *st, std::vector<share_rec *> *added)
{
  server_rec *s = st->s;
  own::str_list list;
  if (!conf_share_list_read(s->data_home, &list.l)) return;
  bool changed = false;
  for (auto &sh : st->shares) {
    if (listed(list.l, sh->path)) continue;
    share_remove(st, sh.get());
    changed = true;
  }
  std::erase_if(st->shares, [](const std::unique_ptr<share_rec> &sh) { return sh->removed; });

  uint32_t n = 0;
  while (list.l[n]) n++;
  std::vector<bool> keep(n, true);
  bool dropped = false;
  for (uint32_t i = n; i-- > 0;) {
    std::string path = list.l[i];
    if (std::any_of(st->shares.begin(), st->shares.end(), [&](auto &sh) { return sh->path == path; })) continue;
    identity id = identity_of(path);
    if (!share_path_check(path.c_str()) || !id.valid || st->shares.size() >= CONTENT_DB_SHARES_MAX) {
      keep[i] = false;
      dropped = true;
      continue;
    }
    char *container = nullptr;
    uint32_t r = 501;
    {
      db_lock lock(s);
      if (lock.held)
        r = content_db_create_container(s, kCategoryRoots[CAT_USER_FILES], folder_display_name(path).c_str(),
                                        "object.container", &container, nullptr);
    }
    if (r || !container) {
      sys_alloc_free(container);
      continue;  // tried again when the list next changes
    }
    std::string cid = container;
    sys_alloc_free(container);
    if (!conf_share_data_write(s->data_home, cid.c_str(), path.c_str())) {
      share_container_drop(s, cid);
      continue;
    }
    added->push_back(share_add(st, path, cid, id));
    changed = true;
  }
  if (dropped && content_db_share_lock(s)) {
    std::vector<char *> rest;
    for (uint32_t i = 0; i < n; i++)
      if (keep[i]) rest.push_back(list.l[i]);
    rest.push_back(nullptr);
    conf_share_list_write(s->data_home, rest.data());
    content_db_share_unlock(s);
  }
  if (changed) categories_remove_empty(st);
}

// The list under the notification and scanner locks; the waiting share
// actions learn that it has been read.
std::vector<share_rec *> list_read(state *st)
{
  server_rec *s = st->s;
  std::vector<share_rec *> added;
  uint64_t generation;
  if (!share_notify_lock(s, &generation)) return added;
  if (share_scanner_lock(s)) {
    list_apply(st, &added);
    share_scanner_unlock(s);
  }
  share_notify_signal(s);
  share_notify_unlock(s);
  return added;
}

// Works off what the watches reported until nothing more is signalled.
void changes_handle(state *st)
{
  server_rec *s = st->s;
  for (;;) {
    if (stopping(s)) return;
    if (restart_raised(s)) {
      restart_clear(s);
      st->list_signalled = true;
    }
    watch_poll(st);
    if (recheck_take(s))
      for (auto &sh : st->shares) sh->signalled = true;
    bool any = false;
    if (st->list_signalled) {
      st->list_signalled = false;
      any = true;
      for (share_rec *sh : list_read(st)) share_scan(st, sh);
    }
    for (size_t i = 0; i < st->shares.size() && !cut_short(s); i++) {
      share_rec *sh = st->shares[i].get();
      if (!sh->signalled) continue;
      sh->signalled = false;
      any = true;
      if (!(identity_of(sh->path) == sh->id)) {
        share_gone(st, sh);
        continue;
      }
      if (!share_walk(st, sh)) sh->signalled = true;
    }
    if (!any) {
      reflect_update(st);
      categories_remove_empty(st);
      // A scan leaves the heaps of the walk and of the tagging threads
      // full of freed blocks; an always-on box wants those pages back.
      malloc_trim(0);
      return;
    }
  }
}

void thread_main(void *arg)
{
  state *st = static_cast<state *>(arg);
  server_rec *s = st->s;
  // Below the other threads of the server: a scan yields to the players.
  pid_t tid = pid_t(syscall(SYS_gettid));
  setpriority(PRIO_PROCESS, id_t(tid), getpriority(PRIO_PROCESS, id_t(tid)) + SHARE_SCAN_NICE);

  char *folder = nullptr;
  if (conf_key_path(s->data_home, CONF_KEY_SHARE, &folder)) watch_list_add(st, folder);
  sys_alloc_free(folder);
  shares_load(st);
  list_read(st);
  for (size_t i = 0; i < st->shares.size() && !stopping(s); i++) share_scan(st, st->shares[i].get());
  changes_handle(st);
  for (std::atomic_ref<int32_t> idle = flag(s->scanner.idle); !stopping(s);) {
    idle.store(1);
    // Only events end the wait: changes in the shares or above them, the
    // share list, the stop, and the degraded watches' polls.
    bool signalled = watch_wait(st, -1);
    idle.store(0);
    if (signalled) changes_handle(st);
  }
}

}  // namespace

bool stopping(server_rec *s) { return flag(s->scanner.ready).load() == 0; }
bool restart_raised(server_rec *s) { return flag(s->scanner.restart).load() != 0; }
void restart_clear(server_rec *s) { flag(s->scanner.restart).store(0); }
bool recheck_take(server_rec *s) { return flag(s->scanner.recheck).exchange(0) != 0; }
bool recheck_raised(server_rec *s) { return flag(s->scanner.recheck).load() != 0; }

}  // namespace scan

using namespace scan;

extern "C" {

int share_scanner_start(server_rec *s)
{
  // The server's start makes the locks before its device answers; a
  // scanner started on its own makes them here.
  bool own_locks = !s->scanner.mutex;
  if (own_locks && !share_locks_init(s)) return 0;
  flag(s->scanner.idle).store(0);
  auto *st = new (std::nothrow) state;
  if (st) {
    st->s = s;
    s->scanner.state = st;
    if (watch_open(st) && categories_load(st) && tag_pool_open(st) &&
        sys_thread_create(&st->thread, thread_main, st)) {
      st->thread_started = true;
      return 1;
    }
    tag_pool_close(st);
    watch_close(st);
    delete st;
    s->scanner.state = nullptr;
  }
  if (own_locks) share_locks_close(s);
  else share_locks_refuse(s);
  return 0;
}

void share_scanner_stop(server_rec *s)
{
  share_locks_refuse(s);
  state *st = state_of(s);
  if (!st) return;
  wake(st);
  if (st->thread_started) sys_thread_join(st->thread);
  // A share action inside a lock may still wake the state.
  share_locks_wait_out(s);
  tag_pool_close(st);
  watch_close(st);
  delete st;
  s->scanner.state = nullptr;
}

void share_scanner_rescan(server_rec *s) { flag(s->scanner.restart).store(1); }

void share_scanner_recheck(server_rec *s)
{
  flag(s->scanner.recheck).store(1);
  // The scanner waits on events only.  Under its mutex the state stays:
  // the stop waits for every thread inside before it frees it.
  if (!share_scanner_lock(s)) return;
  if (state *st = state_of(s)) wake(st);
  share_scanner_unlock(s);
}

}  // extern "C"
