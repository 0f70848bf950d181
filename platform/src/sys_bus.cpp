// The one client of the system bus: calls that wait no longer than they
// are given, and a bus watched from an event loop that is looked for again
// after its daemon went away.
#include <tarvo_platform/platform_limits.h>
#include <tarvo_platform/sys_bus.h>
#include <tarvo_util/sys_log.h>
#include <tarvo_util/sys_owner.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>

struct sys_bus {
  sys_bus_watch_rec w{};  // watched buses only
  sd_event *event = nullptr;
  own::ptr<sd_event_source, sd_event_source_unref> retry;
  own::ptr<sd_event_source, sd_event_source_unref> quit;
  // Goes first: it holds sources of the loop.
  own::ptr<sd_bus, sd_bus_close_unref> bus;
};

namespace {

using steady = std::chrono::steady_clock;
using message = own::ptr<sd_bus_message, sd_bus_message_unref>;

int method_new(sd_bus *bus, const sys_bus_object *o, const char *method, const char *types, va_list ap,
               message *m)
{
  int r = sd_bus_message_new_method_call(bus, &m->p, o->dest, o->path, o->iface, method);
  if (r >= 0 && types && *types) r = sd_bus_message_appendv(m->p, types, ap);
  return r;
}

int took_reply(sd_bus_message *m, void *user, sd_bus_error *)
{
  static_cast<message *>(user)->reset(sd_bus_message_ref(m));
  return 0;
}

// sd-bus's own call waits for the bus's greeting without a bound; here the
// whole call, greeting included, has the one deadline.
int reply_wait(sd_bus *bus, const message &reply, uint32_t timeout_ms)
{
  auto end = steady::now() + std::chrono::milliseconds(timeout_ms);
  while (!reply.p) {
    int r = sd_bus_process(bus, nullptr);
    if (r < 0) return r;
    if (r > 0) continue;
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(end - steady::now()).count();
    if (left <= 0) return -ETIMEDOUT;
    r = sd_bus_wait(bus, uint64_t(left));
    if (r < 0 && r != -EINTR) return r;
  }
  return 0;
}

int failed(char *why, uint32_t len, int r, const sd_bus_error *e)
{
  if (why && len) {
    const char *text = e && e->message ? e->message : e && e->name ? e->name : std::strerror(-r);
    std::snprintf(why, len, "%s", text);
  }
  return 0;
}

// The Disconnected message is the connection's own end: the bus is
// dropped and looked for again from the loop, not inside its callback.
int on_message(sd_bus_message *m, void *user, sd_bus_error *)
{
  if (!sd_bus_message_is_signal(m, "org.freedesktop.DBus.Local", "Disconnected")) return 0;
  auto *b = static_cast<sys_bus *>(user);
  sys_log_print(SYS_LOG_WARNING, "%s: the system bus went away; watched again once it is back", b->w.who);
  b->w.down(b->w.user);
  sd_event_source_set_time_relative(b->retry.p, 0);
  sd_event_source_set_enabled(b->retry.p, SD_EVENT_ONESHOT);
  return 0;
}

bool subscribed(sys_bus *b)
{
  if (sd_bus_attach_event(b->bus.p, b->event, SD_EVENT_PRIORITY_NORMAL) < 0 ||
      sd_bus_add_filter(b->bus.p, nullptr, on_message, b) < 0)
    return false;
  for (uint32_t i = 0; i < b->w.count; i++) {
    const sys_bus_signal_rec &s = b->w.signals[i];
    if (sd_bus_match_signal_async(b->bus.p, nullptr, s.object->dest, s.object->path, s.object->iface, s.member,
                                  s.fn, nullptr, b->w.user) < 0)
      return false;
  }
  return true;
}

// Connected and subscribed, then told to up; false (nothing kept) when the
// bus is not there.
bool watch_connect(sys_bus *b)
{
  b->bus.reset();
  if (sd_bus_open_system(&b->bus.p) < 0 || !subscribed(b)) {
    b->bus.reset();
    return false;
  }
  b->w.up(b->w.user, b);
  return true;
}

int on_retry(sd_event_source *source, uint64_t, void *user)
{
  if (!watch_connect(static_cast<sys_bus *>(user))) {
    sd_event_source_set_time_relative(source, SYS_BUS_RETRY_MS * 1000ull);
    sd_event_source_set_enabled(source, SD_EVENT_ONESHOT);
  }
  return 0;
}

// Runs before the bus's own exit source, which flushes the bus, and
// flushing one still being greeted waits for sd-bus's own deadline of
// 90 s: a stop would outlast the service manager's patience.  Nothing
// queued for the bus matters once the loop ends (an inhibitor is let go
// by its descriptor), so the bus is closed unflushed, and with it the
// bus's exit source.
int on_quit(sd_event_source *, void *user)
{
  auto *b = static_cast<sys_bus *>(user);
  if (b->bus.p) sd_bus_close(b->bus.p);
  return 0;
}

}  // namespace

extern "C" {

int sys_bus_open(sys_bus **out)
{
  auto *b = new (std::nothrow) sys_bus;
  if (b && sd_bus_open_system(&b->bus.p) >= 0) {
    *out = b;
    return 1;
  }
  delete b;
  return 0;
}

void sys_bus_free(sys_bus *b) { delete b; }

int sys_bus_call(sys_bus *b, const sys_bus_object *o, const char *method, uint32_t timeout_ms,
                 sd_bus_message **reply, char *why, uint32_t why_len, const char *types, ...)
{
  va_list ap;
  va_start(ap, types);
  message m;
  int r = method_new(b->bus.p, o, method, types, ap, &m);
  va_end(ap);
  message got;
  own::ptr<sd_bus_slot, sd_bus_slot_unref> slot;
  if (r >= 0) r = sd_bus_call_async(b->bus.p, &slot.p, m.p, took_reply, &got, timeout_ms * 1000ull);
  if (r >= 0) r = reply_wait(b->bus.p, got, timeout_ms);
  if (r < 0) return failed(why, why_len, r, nullptr);
  if (sd_bus_message_is_method_error(got.p, nullptr))
    return failed(why, why_len, -sd_bus_message_get_errno(got.p), sd_bus_message_get_error(got.p));
  *reply = got.release();
  return 1;
}

int sys_bus_call_async(sys_bus *b, const sys_bus_object *o, const char *method, uint32_t timeout_ms,
                       sys_bus_handler fn, void *user, const char *types, ...)
{
  va_list ap;
  va_start(ap, types);
  message m;
  int r = method_new(b->bus.p, o, method, types, ap, &m);
  va_end(ap);
  return r >= 0 && sd_bus_call_async(b->bus.p, nullptr, m.p, fn, user, timeout_ms * 1000ull) >= 0;
}

int sys_bus_reply_fd(sd_bus_message *reply)
{
  int fd = -1;
  if (!reply || sd_bus_message_is_method_error(reply, nullptr) || sd_bus_message_read(reply, "h", &fd) < 0 || fd < 0)
    return -1;
  // The reply owns its descriptor.
  return fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

int sys_bus_watch(sys_bus **out, sd_event *event, const sys_bus_watch_rec *w)
{
  auto *b = new (std::nothrow) sys_bus;
  if (!b) return 0;
  b->w = *w;
  b->event = event;
  if (sd_event_add_time_relative(event, &b->retry.p, CLOCK_MONOTONIC, 0, 0, on_retry, b) < 0 ||
      sd_event_source_set_enabled(b->retry.p, SD_EVENT_OFF) < 0 ||
      sd_event_add_exit(event, &b->quit.p, on_quit, b) < 0 ||
      sd_event_source_set_priority(b->quit.p, SD_EVENT_PRIORITY_IMPORTANT) < 0 || !watch_connect(b)) {
    delete b;
    return 0;
  }
  *out = b;
  return 1;
}

}  // extern "C"
