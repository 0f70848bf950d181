// The condition variable: a list of waiting threads, oldest first, and an
// event that wakes them to look whether a notify took them off the list.
#include "sys_waitable.h"

#include <tarvo_util/sys_str.h>

#include <unistd.h>

namespace {

bool listed(const sys_uint32alloc_rec &w, uint32_t id)
{
  for (uint32_t i = 0; i < w.len; i++)
    if (w.buf[i] == id) return true;
  return false;
}

void unlist(sys_uint32alloc_rec &w, uint32_t id)
{
  for (uint32_t i = 0; i < w.len; i++)
    if (w.buf[i] == id) {
      sys_uint32alloc_remove(&w, i);
      return;
    }
}

// One body for both waits; deadline NULL waits without limit.
int sync_wait(sys_sync_rec *sync, sys_mutex_handle *caller_mutex, const timespec *deadline)
{
  uint32_t me = uint32_t(gettid());
  if (!sys_mutex_lock(&sync->mutex)) return 0;
  if (!sys_uint32alloc_append(&sync->waiting, me)) {
    sys_mutex_unlock(&sync->mutex);
    return 0;
  }
  // The caller's mutex goes while the list is still held, and the list is
  // given up only inside the event wait: a notify cannot fall between them.
  if (!sys_mutex_unlock(caller_mutex)) {
    unlist(sync->waiting, me);
    sys_mutex_unlock(&sync->mutex);
    return 0;
  }
  int r;
  bool waited_out = false;
  for (;;) {
    // Off the list means a notify chose this thread, even when the wait
    // ran out at the same moment.
    if (!listed(sync->waiting, me)) {
      r = 1;
      break;
    }
    if (waited_out) {
      unlist(sync->waiting, me);
      r = 0;
      break;
    }
    waited_out = !event_wait(sync->event, sync->mutex, deadline);
  }
  sys_mutex_unlock(&sync->mutex);
  if (!sys_mutex_lock(caller_mutex)) r = 0;
  return r;
}

// Takes the oldest waiter, or all of them, off the list and wakes every
// waiter to look.
int sync_wake(sys_sync_rec *sync, bool all)
{
  if (!sys_mutex_lock(&sync->mutex)) return 0;
  if (all)
    sync->waiting.len = 0;
  else if (sync->waiting.len)
    sys_uint32alloc_remove(&sync->waiting, 0);
  int r = event_wake_all(sync->event);
  sys_mutex_unlock(&sync->mutex);
  return r;
}

}  // namespace

extern "C" {

int sys_sync_create(sys_sync_rec *sync)
{
  *sync = sys_sync_rec{};
  if (!event_create(&sync->event)) return 0;
  if (!sys_mutex_create(&sync->mutex)) {
    event_destroy(&sync->event);
    return 0;
  }
  return 1;
}

int sys_sync_destroy(sys_sync_rec *sync)
{
  if (!sync) return 1;
  event_destroy(&sync->event);
  sys_mutex_destroy(&sync->mutex);
  sys_uint32alloc_free(&sync->waiting);
  sync->waiting = sys_uint32alloc_rec{};
  return 1;
}

int sys_sync_wait(sys_sync_rec *sync, sys_mutex_handle *caller_mutex)
{
  return sync_wait(sync, caller_mutex, nullptr);
}

int sys_sync_timedwait(sys_sync_rec *sync, sys_mutex_handle *caller_mutex, uint32_t ms)
{
  // One deadline for the whole call: wake-ups meant for other waiters do
  // not restart the limit.
  timespec dl = waitable_deadline(ms);
  return sync_wait(sync, caller_mutex, &dl);
}

int sys_sync_notify(sys_sync_rec *sync)
{
  return sync_wake(sync, false);
}

int sys_sync_notify_all(sys_sync_rec *sync)
{
  return sync_wake(sync, true);
}

}  // extern "C"
