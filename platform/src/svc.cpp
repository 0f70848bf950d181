// The service control stand-in: control signals, and the login manager's
// sleep and wake, turned into calls of the service's control handler, on
// the thread that dispatches the service.
#include <tarvo_platform/svc.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <iterator>
#include <mutex>
#include <pthread.h>
#include <string>

#include "svc_impl.h"

struct svc_status_rec_handle {
  std::string name;
  svc_ctrl_handler handler = nullptr;
  void *context = nullptr;
  std::atomic<uint32_t> state{SVC_START_PENDING};
  std::atomic<uint32_t> accepted{0};
  std::atomic<uint32_t> exit_code{0};
  std::atomic<bool> registered{false};
  pthread_t dispatcher{};  // the thread waiting for controls
};

namespace {

std::mutex g_lock;
svc_status_rec_handle *g_service;  // the service being dispatched, under g_lock

// Sent to the dispatcher when the service reports that it stopped, so
// that it waits for controls without waking up to look.
int wake_signal() { return SIGRTMIN; }

struct control {
  int sig;
  uint32_t code;
  uint32_t event;
  uint32_t accept;
};

constexpr control CONTROLS[] = {
  {SIGTERM, SVC_CONTROL_STOP, 0, SVC_ACCEPT_STOP},
  {SIGINT, SVC_CONTROL_SHUTDOWN, 0, SVC_ACCEPT_SHUTDOWN},
  {SIGUSR1, SVC_CONTROL_POWEREVENT, SVC_POWER_SUSPEND, SVC_ACCEPT_POWEREVENT},
  {SIGUSR2, SVC_CONTROL_POWEREVENT, SVC_POWER_RESUME_SUSPEND, SVC_ACCEPT_POWEREVENT},
  {SIGHUP, SVC_CONTROL_PARAMCHANGE, 0, SVC_ACCEPT_PARAMCHANGE},
};

const char *notification(uint32_t state)
{
  switch (state) {
  case SVC_START_PENDING: return "STATUS=starting";
  case SVC_RUNNING: return "READY=1\nSTATUS=running";
  case SVC_STOP_PENDING: return "STOPPING=1\nSTATUS=stopping";
  case SVC_STOPPED: return "STATUS=stopped";
  default: return nullptr;
  }
}

// A control the service does not accept is dropped, as a service manager
// refuses it.
void deliver(svc_status_rec_handle *svc, int sig)
{
  for (const control &c : CONTROLS) {
    if (c.sig != sig) continue;
    if (!(svc->accepted & c.accept)) return;
    svc->handler(c.code, c.event, nullptr, svc->context);
    return;
  }
}

// One control; false once the service has stopped.
bool deliver_one(void *user, int sig)
{
  auto *svc = static_cast<svc_status_rec_handle *>(user);
  if (sig != wake_signal()) deliver(svc, sig);
  return svc->state != SVC_STOPPED;
}

// The controls until the service has stopped: with the login manager's
// sleep and wake where the system bus is there, else the signals alone.
void controls_wait(svc_status_rec_handle *svc, const sigset_t *set)
{
  int sigs[std::size(CONTROLS) + 1];
  uint32_t n = 0;
  for (const control &c : CONTROLS) sigs[n++] = c.sig;
  sigs[n++] = wake_signal();
  if (svc->state == SVC_STOPPED) return;
  svc_wait_rec w{sigs, n, SIGUSR1, SIGUSR2, svc->name.c_str(), deliver_one, svc};
  if (svc_sleep_wait(&w)) return;
  while (svc->state != SVC_STOPPED) {
    int sig = sigwaitinfo(set, nullptr);
    if (sig > 0) deliver_one(svc, sig);
  }
}

}  // namespace

extern "C" {

int svc_dispatch(const char *name, svc_main_fn main_fn, int *exit_status)
{
  sigset_t set, old;
  sigemptyset(&set);
  for (const control &c : CONTROLS) sigaddset(&set, c.sig);
  sigaddset(&set, wake_signal());
  svc_status_rec_handle svc;
  svc.name = name;
  svc.dispatcher = pthread_self();
  {
    std::lock_guard<std::mutex> g(g_lock);
    if (g_service) return 0;
    if (pthread_sigmask(SIG_BLOCK, &set, &old) != 0) return 0;
    g_service = &svc;
  }
  char *argv[] = {const_cast<char *>(name), nullptr};
  main_fn(1, argv);
  // A service that registered no handler can neither be controlled nor
  // report that it stopped: the dispatch has failed.
  bool ran = svc.registered;
  if (ran) controls_wait(&svc, &set);
  {
    std::lock_guard<std::mutex> g(g_lock);
    g_service = nullptr;
  }
  // Controls that came after the stop, and the stop's wake-up, are dropped
  // rather than left to their default action once the mask is restored.
  timespec zero{0, 0};
  while (sigtimedwait(&set, nullptr, &zero) > 0) {}
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  uint32_t code = svc.exit_code;
  *exit_status = code > 255 ? 255 : int(code);
  return ran;
}

svc_status_handle svc_ctrl_handler_register(const char *name, svc_ctrl_handler handler,
                                            void *context)
{
  std::lock_guard<std::mutex> g(g_lock);
  if (!g_service || !handler || g_service->name != name) return nullptr;
  g_service->handler = handler;
  g_service->context = context;
  g_service->registered = true;
  return g_service;
}

int svc_status_set(svc_status_handle h, const svc_status_rec *status)
{
  if (!h) return 0;
  h->accepted = status->controls_accepted;
  h->exit_code = status->exit_code;
  if (status->state == SVC_STOPPED) {
    // Under the lock, so that the wake-up is pending before the dispatcher
    // drops what is left.
    std::lock_guard<std::mutex> g(g_lock);
    h->state = status->state;
    if (g_service == h) pthread_kill(h->dispatcher, wake_signal());
  } else {
    h->state = status->state;
  }
  const char *n = notification(status->state);
  if (n) svc_sd_notify(n);
  return n != nullptr;
}

}  // extern "C"
