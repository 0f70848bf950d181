// Sleep and wake from the login manager over the system bus, waited for
// on the dispatcher's thread together with the control signals.  When the
// bus goes away (its daemon restarted), it is looked for again until it is
// back, and sleep and wake are watched anew.
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <tarvo_util/sys_log.h>

#include <fcntl.h>
#include <unistd.h>

#include "svc_impl.h"

namespace {

const char *const login_dest = "org.freedesktop.login1";
const char *const login_path = "/org/freedesktop/login1";
const char *const login_iface = "org.freedesktop.login1.Manager";

struct sleep_watch {
  const svc_wait_rec *w;
  sd_event *event = nullptr;
  sd_bus *bus = nullptr;
  sd_event_source *retry = nullptr;  // looks for the bus again once it went away
  int inhibitor = -1;
  bool asking = false;  // an Inhibit call is in flight
  bool awake = true;
  ~sleep_watch()
  {
    // The bus goes first: it holds sources of the loop.
    sd_bus_close_unref(bus);
    sd_event_source_unref(retry);
    sd_event_unref(event);
    if (inhibitor >= 0) close(inhibitor);
  }
};

void deliver(sleep_watch *s, int sig)
{
  if (!s->w->deliver(s->w->user, sig)) sd_event_exit(s->event, 0);
}

void inhibit_release(sleep_watch *s)
{
  if (s->inhibitor >= 0) close(s->inhibitor);
  s->inhibitor = -1;
}

int inhibit_reply(sd_bus_message *m, void *user, sd_bus_error *)
{
  auto *s = static_cast<sleep_watch *>(user);
  s->asking = false;
  int fd = -1;
  if (sd_bus_message_is_method_error(m, nullptr) || sd_bus_message_read(m, "h", &fd) < 0 || fd < 0) return 0;
  // The reply owns its descriptor.
  int own = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  // Granted only after the system went to sleep: holding it would keep
  // the next sleep waiting for nothing.
  if (!s->awake || s->inhibitor >= 0) {
    if (own >= 0) close(own);
    return 0;
  }
  s->inhibitor = own;
  return 0;
}

// Asked for without waiting: the controls are served meanwhile.
void inhibit_take(sleep_watch *s)
{
  if (s->asking || s->inhibitor >= 0) return;
  s->asking = sd_bus_call_method_async(s->bus, nullptr, login_dest, login_path, login_iface, "Inhibit",
                                       inhibit_reply, s, "ssss", "sleep", s->w->who,
                                       "Saying goodbye to the network before the system sleeps",
                                       "delay") >= 0;
}

int prepare_for_sleep(sd_bus_message *m, void *user, sd_bus_error *)
{
  auto *s = static_cast<sleep_watch *>(user);
  int going = 0;
  if (sd_bus_message_read(m, "b", &going) < 0) return 0;
  s->awake = !going;
  if (going) {
    // The system waits for the inhibitor, so the suspend is handled in
    // full before it is let go.
    deliver(s, s->w->suspend_signal);
    inhibit_release(s);
  } else {
    inhibit_take(s);
    deliver(s, s->w->resume_signal);
  }
  return 0;
}

// The connection's own end: the bus is dropped and looked for again from
// the loop, not from inside its own callback.
int on_bus_message(sd_bus_message *m, void *user, sd_bus_error *)
{
  if (!sd_bus_message_is_signal(m, "org.freedesktop.DBus.Local", "Disconnected")) return 0;
  auto *s = static_cast<sleep_watch *>(user);
  sys_log_print(SYS_LOG_WARNING, "sleep and wake: the system bus went away; watched again once it is back");
  // Held from a login manager that may have gone with the bus; the one
  // that answers next is asked afresh.
  inhibit_release(s);
  sd_event_source_set_time_relative(s->retry, 0);
  sd_event_source_set_enabled(s->retry, SD_EVENT_ONESHOT);
  return 0;
}

// Connected and subscribed, the inhibitor asked for; false (nothing kept)
// when the bus is not there.
bool bus_watch(sleep_watch *s)
{
  if (sd_bus_open_system(&s->bus) < 0) {
    s->bus = nullptr;
    return false;
  }
  s->asking = false;
  if (sd_bus_attach_event(s->bus, s->event, SD_EVENT_PRIORITY_NORMAL) >= 0 &&
      sd_bus_add_filter(s->bus, nullptr, on_bus_message, s) >= 0 &&
      sd_bus_match_signal_async(s->bus, nullptr, login_dest, login_path, login_iface, "PrepareForSleep",
                                prepare_for_sleep, nullptr, s) >= 0) {
    inhibit_take(s);
    return true;
  }
  s->bus = sd_bus_close_unref(s->bus);
  return false;
}

int on_retry(sd_event_source *source, uint64_t, void *user)
{
  auto *s = static_cast<sleep_watch *>(user);
  s->bus = sd_bus_close_unref(s->bus);
  if (!bus_watch(s)) {
    sd_event_source_set_time_relative(source, SVC_BUS_RETRY_MS * 1000ull);
    sd_event_source_set_enabled(source, SD_EVENT_ONESHOT);
  }
  return 0;
}

int on_signal(sd_event_source *, const struct signalfd_siginfo *si, void *user)
{
  deliver(static_cast<sleep_watch *>(user), int(si->ssi_signo));
  return 0;
}

}  // namespace

int svc_sleep_wait(const svc_wait_rec *w)
{
  sleep_watch s{w};
  if (sd_event_new(&s.event) < 0 || !bus_watch(&s)) return 0;
  for (uint32_t i = 0; i < w->count; i++)
    if (sd_event_add_signal(s.event, nullptr, w->signals[i], on_signal, &s) < 0) return 0;
  if (sd_event_add_time_relative(s.event, &s.retry, CLOCK_MONOTONIC, 0, 0, on_retry, &s) < 0 ||
      sd_event_source_set_enabled(s.retry, SD_EVENT_OFF) < 0)
    return 0;
  sd_event_loop(s.event);
  return 1;
}
