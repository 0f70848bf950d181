// Sleep and wake from the login manager over the system bus, waited for
// on the dispatcher's thread together with the control signals.  When the
// bus goes away (its daemon restarted), it is looked for again until it is
// back, and sleep and wake are watched anew; a login manager that comes
// to the bus later is asked for the lock anew.
#include <tarvo_platform/platform_limits.h>
#include <tarvo_platform/sys_bus.h>
#include <tarvo_util/sys_owner.h>

#include <cstring>
#include <utility>

#include "svc_impl.h"

namespace {

struct sleep_watch {
  const svc_wait_rec *w;
  own::ptr<sd_event, sd_event_unref> event;
  // Goes before the loop it is attached to.
  own::ptr<sys_bus, sys_bus_free> bus;
  own::file inhibitor;
  bool asking = false;  // an Inhibit call is in flight
  bool awake = true;
  explicit sleep_watch(const svc_wait_rec *rec) : w(rec) {}
};

void deliver(sleep_watch *s, int sig)
{
  if (!s->w->deliver(s->w->user, sig)) sd_event_exit(s->event.p, 0);
}

int inhibit_reply(sd_bus_message *m, void *user, sd_bus_error *)
{
  auto *s = static_cast<sleep_watch *>(user);
  s->asking = false;
  own::file fd(sys_bus_reply_fd(m));
  // Granted only after the system went to sleep: holding it would keep
  // the next sleep waiting for nothing.
  if (s->awake && s->inhibitor.fd < 0) std::swap(s->inhibitor.fd, fd.fd);
  return 0;
}

// Asked for without waiting: the controls are served meanwhile.
void inhibit_take(sleep_watch *s, sys_bus *b)
{
  if (s->asking || s->inhibitor.fd >= 0) return;
  s->asking = sys_bus_call_async(b, &sys_bus_login_manager, "Inhibit", SYS_BUS_CALL_MS, inhibit_reply, s, "ssss",
                                 "sleep", s->w->who, "Saying goodbye to the network before the system sleeps",
                                 "delay");
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
    s->inhibitor.reset();
  } else {
    inhibit_take(s, s->bus.p);
    deliver(s, s->w->resume_signal);
  }
  return 0;
}

void bus_up(void *user, sys_bus *b)
{
  auto *s = static_cast<sleep_watch *>(user);
  s->asking = false;
  inhibit_take(s, b);
}

// Held from a login manager that may have gone with the bus; the one that
// answers next is asked afresh.
void bus_down(void *user) { static_cast<sleep_watch *>(user)->inhibitor.reset(); }

// A login manager that comes to the bus after us (the bus back before
// it, or it restarted) has no lock of ours: an Inhibit asked before it
// came failed, and one held from its predecessor holds nothing.
int name_owner_changed(sd_bus_message *m, void *user, sd_bus_error *)
{
  auto *s = static_cast<sleep_watch *>(user);
  const char *name = nullptr, *old_owner = nullptr, *new_owner = nullptr;
  if (sd_bus_message_read(m, "sss", &name, &old_owner, &new_owner) < 0 ||
      std::strcmp(name, sys_bus_login_manager.dest) != 0)
    return 0;
  s->inhibitor.reset();
  if (*new_owner && s->awake) inhibit_take(s, s->bus.p);
  return 0;
}

int on_signal(sd_event_source *, const struct signalfd_siginfo *si, void *user)
{
  deliver(static_cast<sleep_watch *>(user), int(si->ssi_signo));
  return 0;
}

const sys_bus_signal_rec kSleepSignals[] = {{&sys_bus_login_manager, "PrepareForSleep", prepare_for_sleep},
                                            {&sys_bus_driver, "NameOwnerChanged", name_owner_changed}};

}  // namespace

int svc_sleep_wait(const svc_wait_rec *w)
{
  sleep_watch s{w};
  sys_bus_watch_rec watch{"sleep and wake", kSleepSignals, 2, bus_up, bus_down, &s};
  if (sd_event_new(&s.event.p) < 0 || !sys_bus_watch(&s.bus.p, s.event.p, &watch)) return 0;
  for (uint32_t i = 0; i < w->count; i++)
    if (sd_event_add_signal(s.event.p, nullptr, w->signals[i], on_signal, &s) < 0) return 0;
  sd_event_loop(s.event.p);
  return 1;
}
