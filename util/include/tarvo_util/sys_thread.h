/* Threads, mutexes, semaphores, the condition variable and the bounded
 * queue between two threads.  Handles live in caller storage; results are
 * 1 for success and 0 for failure; a timeout of 0 ms waits without limit. */
#ifndef TARVO_UTIL_SYS_THREAD_H
#define TARVO_UTIL_SYS_THREAD_H

#include <stdint.h>
#include <tarvo_util/sys_alloc.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A thread started by sys_thread_create; joined or detached by its
 * creator. */
typedef uintptr_t sys_thread_handle;

/* A child process (its process id), made by sys_process_create. */
typedef intptr_t sys_process_handle;

/* Re-entrant for the owning thread; NULL when not made. */
typedef struct sys_mutex_obj *sys_mutex_handle;

/* Counting semaphore with a maximum; NULL when not made. */
typedef struct sys_semaphore_obj *sys_semaphore_handle;

/* Internal wake-up object of the condition variable. */
typedef struct sys_event_obj *sys_event_handle;

/* The thread's body; whatever it does, the thread ends normally. */
typedef void (*sys_thread_fn)(void *arg);

/* Condition variable: the callers guard their predicate with a mutex of
 * their own and hold it around wait and notify.  Notify wakes the
 * longest-waiting thread. */
typedef struct {
  sys_event_handle event;
  sys_mutex_handle mutex;         /* guards the waiting list only */
  sys_uint32alloc_rec waiting;    /* thread ids, oldest first */
} sys_sync_rec;

/* Bounded queue of pointer-sized values, safe for one writing and one
 * reading thread at a time.  Values leave in the order they entered. */
typedef struct {
  sys_semaphore_handle items;      /* filled slots */
  sys_semaphore_handle free_slots; /* empty slots */
  uintptr_t *slots;
  uint32_t capacity;
  uint32_t read_pos;
  uint32_t write_pos;
  int32_t woken;                   /* atomic; a wake is pending */
} queue_async_rec;

int sys_thread_create(sys_thread_handle *handle, sys_thread_fn fn, void *arg);
int sys_thread_detach(sys_thread_handle handle);
int sys_thread_join(sys_thread_handle handle);
int sys_process_join(sys_process_handle handle);
int sys_thread_sleep(uint32_t ms);

int sys_mutex_create(sys_mutex_handle *m);
int sys_mutex_destroy(sys_mutex_handle *m);
int sys_mutex_lock(sys_mutex_handle *m);
int sys_mutex_trylock(sys_mutex_handle *m);
int sys_mutex_unlock(sys_mutex_handle *m);

int sys_semaphore_create(sys_semaphore_handle *s, uint32_t initial, uint32_t maximum);
int sys_semaphore_wait(sys_semaphore_handle *s, uint32_t ms);
int sys_semaphore_trywait(sys_semaphore_handle *s);
int sys_semaphore_increase(sys_semaphore_handle *s);
int sys_semaphore_destroy(sys_semaphore_handle *s);

int sys_sync_create(sys_sync_rec *sync);
int sys_sync_destroy(sys_sync_rec *sync);
int sys_sync_wait(sys_sync_rec *sync, sys_mutex_handle *caller_mutex);
int sys_sync_timedwait(sys_sync_rec *sync, sys_mutex_handle *caller_mutex, uint32_t ms);
int sys_sync_notify(sys_sync_rec *sync);
int sys_sync_notify_all(sys_sync_rec *sync);

int queue_async_create(queue_async_rec *q, uint32_t capacity);
int queue_async_write(queue_async_rec *q, uint32_t ms, uintptr_t value);
int queue_async_read(queue_async_rec *q, uint32_t ms, uintptr_t *value);
/* The reader's current or next wait ends at once with 0, as if it had
 * timed out (for a stop that must not wait for the timeout). */
void queue_async_wake(queue_async_rec *q);
int queue_async_destroy(queue_async_rec *q);

#ifdef __cplusplus
}
#endif
#endif
