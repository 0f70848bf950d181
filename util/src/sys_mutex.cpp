// Mutexes, semaphores and the condition variable's event.
#include "sys_waitable.h"

#include <cerrno>
#include <new>
#include <utility>

namespace {

bool cond_init(pthread_cond_t *c)
{
  // Timed waits run on the monotonic clock, so that setting the system
  // clock neither shortens nor stretches them.
  pthread_condattr_t a;
  if (pthread_condattr_init(&a)) return false;
  bool ok = !pthread_condattr_setclock(&a, CLOCK_MONOTONIC) && !pthread_cond_init(c, &a);
  pthread_condattr_destroy(&a);
  return ok;
}

// A new object of kind k in *out; a mutex is re-entrant and robust, so that
// an owner that dies while holding it is reported instead of blocking every
// later caller.
template <class T> int waitable_create(T **out, waitable::kind_t k)
{
  T *w = new (std::nothrow) T;
  if (!w) return 0;
  w->kind = k;
  pthread_mutexattr_t a;
  if (pthread_mutexattr_init(&a)) {
    delete w;
    return 0;
  }
  bool ok = true;
  if (k == waitable::kind_mutex)
    ok = !pthread_mutexattr_settype(&a, PTHREAD_MUTEX_RECURSIVE) &&
         !pthread_mutexattr_setrobust(&a, PTHREAD_MUTEX_ROBUST);
  ok = ok && !pthread_mutex_init(&w->m, &a);
  pthread_mutexattr_destroy(&a);
  if (!ok) {
    delete w;
    return 0;
  }
  if (k != waitable::kind_mutex && !cond_init(&w->c)) {
    pthread_mutex_destroy(&w->m);
    delete w;
    return 0;
  }
  *out = w;
  return 1;
}

int waitable_destroy(waitable *w)
{
  if (!w) return 0;
  if (w->kind == waitable::kind_mutex) {
    // A robust mutex still held by this thread stays on the thread's list
    // of held mutexes, which the kernel walks when the thread ends: release
    // it before the memory goes.
    if (pthread_equal(w->owner.load(), pthread_self())) {
      w->owner.store(0);
      for (; w->depth; w->depth--) pthread_mutex_unlock(&w->m);
    }
  } else {
    pthread_cond_destroy(&w->c);
  }
  pthread_mutex_destroy(&w->m);
  delete w;
  return 1;
}

// The outcome of a lock attempt on a mutex.  A previous owner that died
// holding it left the guarded state unknown: report failure, and release the
// mutex again so that it does not stay owned by a caller who believes it
// never got it.
int mutex_taken(waitable *w, int err)
{
  if (err == EOWNERDEAD) {
    w->depth = 0;
    w->owner.store(0);
    pthread_mutex_consistent(&w->m);
    pthread_mutex_unlock(&w->m);
    return 0;
  }
  if (err) return 0;
  w->owner.store(pthread_self());
  w->depth++;
  return 1;
}

// Takes a semaphore unit; deadline NULL waits without limit, try_only never
// waits.
int semaphore_take(waitable *w, const timespec *deadline, bool try_only)
{
  if (pthread_mutex_lock(&w->m)) return 0;
  while (w->count == 0 && !try_only) {
    int e = deadline ? pthread_cond_timedwait(&w->c, &w->m, deadline) : pthread_cond_wait(&w->c, &w->m);
    if (e) break;
  }
  int r = 0;
  if (w->count) {
    w->count--;
    r = 1;
  }
  pthread_mutex_unlock(&w->m);
  return r;
}

int waitable_trytake(waitable *w)
{
  if (!w) return 0;
  if (w->kind == waitable::kind_mutex) return mutex_taken(w, pthread_mutex_trylock(&w->m));
  return semaphore_take(w, nullptr, true);
}

}  // namespace

timespec waitable_deadline(uint32_t ms)
{
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  t.tv_sec += ms / 1000;
  t.tv_nsec += long(ms % 1000) * 1000000L;
  if (t.tv_nsec >= 1000000000L) {
    t.tv_sec++;
    t.tv_nsec -= 1000000000L;
  }
  return t;
}

int event_create(sys_event_handle *e)
{
  return waitable_create(e, waitable::kind_event);
}

int event_destroy(sys_event_handle *e)
{
  return waitable_destroy(std::exchange(*e, nullptr));
}

int event_wait(sys_event_handle e, sys_mutex_handle m, const timespec *deadline)
{
  // The wait lets go of the mutex and others may take it meanwhile: the
  // bookkeeping of this thread's single level comes back with it.
  uint32_t depth = m->depth;
  m->depth = 0;
  m->owner.store(0);
  int err = deadline ? pthread_cond_timedwait(&e->c, &m->m, deadline) : pthread_cond_wait(&e->c, &m->m);
  if (err == EOWNERDEAD) pthread_mutex_consistent(&m->m);
  m->owner.store(pthread_self());
  m->depth = depth;
  return err == 0;
}

int event_wake_all(sys_event_handle e)
{
  return pthread_cond_broadcast(&e->c) == 0;
}

extern "C" {

int sys_mutex_create(sys_mutex_handle *m)
{
  return waitable_create(m, waitable::kind_mutex);
}

int sys_mutex_destroy(sys_mutex_handle *m)
{
  return waitable_destroy(std::exchange(*m, nullptr));
}

int sys_mutex_lock(sys_mutex_handle *m)
{
  if (!*m) return 0;
  return mutex_taken(*m, pthread_mutex_lock(&(*m)->m));
}

int sys_mutex_trylock(sys_mutex_handle *m)
{
  return waitable_trytake(*m);
}

int sys_mutex_unlock(sys_mutex_handle *m)
{
  waitable *w = *m;
  if (!w || !pthread_equal(w->owner.load(), pthread_self()) || !w->depth) return 0;
  if (--w->depth == 0) w->owner.store(0);
  return pthread_mutex_unlock(&w->m) == 0;
}

int sys_semaphore_create(sys_semaphore_handle *s, uint32_t initial, uint32_t maximum)
{
  if (maximum == 0 || initial > maximum) return 0;
  if (!waitable_create(s, waitable::kind_semaphore)) return 0;
  (*s)->count = initial;
  (*s)->max = maximum;
  return 1;
}

int sys_semaphore_wait(sys_semaphore_handle *s, uint32_t ms)
{
  if (!*s) return 0;
  if (!ms) return semaphore_take(*s, nullptr, false);
  timespec dl = waitable_deadline(ms);
  return semaphore_take(*s, &dl, false);
}

int sys_semaphore_trywait(sys_semaphore_handle *s)
{
  return waitable_trytake(*s);
}

int sys_semaphore_increase(sys_semaphore_handle *s)
{
  waitable *w = *s;
  if (!w || pthread_mutex_lock(&w->m)) return 0;
  int r = 0;
  if (w->count < w->max) {
    w->count++;
    pthread_cond_signal(&w->c);
    r = 1;
  }
  pthread_mutex_unlock(&w->m);
  return r;
}

int sys_semaphore_destroy(sys_semaphore_handle *s)
{
  return waitable_destroy(std::exchange(*s, nullptr));
}

}  // extern "C"
