// Threads, waiting for child processes, and sleeping.
#include <tarvo_util/sys_thread.h>

#include <pthread.h>
#include <sys/wait.h>

#include <cerrno>
#include <ctime>
#include <new>

namespace {

static_assert(sizeof(pthread_t) <= sizeof(sys_thread_handle));

struct start_block {
  sys_thread_fn fn;
  void *arg;
};

void *thread_main(void *p)
{
  auto *b = static_cast<start_block *>(p);
  b->fn(b->arg);
  delete b;
  return nullptr;
}

}  // namespace

extern "C" {

int sys_thread_create(sys_thread_handle *handle, sys_thread_fn fn, void *arg)
{
  auto *b = new (std::nothrow) start_block{fn, arg};
  if (!b) return 0;
  pthread_t t;
  if (pthread_create(&t, nullptr, thread_main, b)) {
    delete b;
    return 0;
  }
  *handle = sys_thread_handle(t);
  return 1;
}

int sys_thread_detach(sys_thread_handle handle)
{
  return pthread_detach(pthread_t(handle)) == 0;
}

int sys_thread_join(sys_thread_handle handle)
{
  return pthread_join(pthread_t(handle), nullptr) == 0;
}

int sys_process_join(sys_process_handle handle)
{
  // Only a named child: an id of 0 or below would wait for any child.
  if (handle <= 0) return 0;
  int status;
  pid_t r;
  do r = waitpid(pid_t(handle), &status, 0);
  while (r < 0 && errno == EINTR);
  return r == pid_t(handle);
}

int sys_thread_sleep(uint32_t ms)
{
  timespec t{time_t(ms / 1000), long(ms % 1000) * 1000000L};
  while (nanosleep(&t, &t) < 0 && errno == EINTR) {
  }
  return 1;
}

}  // extern "C"
