// The objects behind mutex, semaphore and event handles.  They share one
// layout so that destroy and the no-wait take are one body each.
#pragma once

#include <tarvo_util/sys_thread.h>

#include <pthread.h>

#include <atomic>
#include <ctime>

struct waitable {
  enum kind_t { kind_mutex, kind_semaphore, kind_event } kind;
  pthread_mutex_t m;
  pthread_cond_t c;                     // semaphore and event
  std::atomic<pthread_t> owner{};       // mutex: the owning thread, else 0
  uint32_t depth = 0;                   // mutex: nested acquisitions
  uint32_t count = 0, max = 0;          // semaphore
};

struct sys_mutex_obj : waitable {};
struct sys_semaphore_obj : waitable {};
struct sys_event_obj : waitable {};

// A deadline ms from now on the monotonic clock, which the waits use.
timespec waitable_deadline(uint32_t ms);

int event_create(sys_event_handle *e);
int event_destroy(sys_event_handle *e);
// Waits on the event with the given mutex held once by the caller;
// deadline NULL waits without limit.  0 on timeout or failure, the mutex
// held again in every case.
int event_wait(sys_event_handle e, sys_mutex_handle m, const timespec *deadline);
int event_wake_all(sys_event_handle e);
