/* The one client of the system bus: the login manager's sleep signal and
 * inhibitor locks, and the service manager.  The bus is the one
 * $DBUS_SYSTEM_BUS_ADDRESS names, else the system's. */
#ifndef TARVO_PLATFORM_SYS_BUS_H
#define TARVO_PLATFORM_SYS_BUS_H

#include <stdint.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct sys_bus sys_bus;

/* A peer's object: its bus name, path and interface. */
typedef struct sys_bus_object {
  const char *dest, *path, *iface;
} sys_bus_object;

/* Each unit's own copy: the client is linked into the device library and
 * into programs beside it, and shares no data between the two. */
static const sys_bus_object sys_bus_login_manager = {"org.freedesktop.login1", "/org/freedesktop/login1",
                                                     "org.freedesktop.login1.Manager"};
static const sys_bus_object sys_bus_driver = {"org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus"};
static const sys_bus_object sys_bus_service_manager = {"org.freedesktop.systemd1", "/org/freedesktop/systemd1",
                                                       "org.freedesktop.systemd1.Manager"};

/* A reply or a signal; returns 0.  A reply may be an error, a timeout
 * among them. */
typedef sd_bus_message_handler_t sys_bus_handler;

/* 0 when the bus is not there. */
int sys_bus_open(sys_bus **out);
void sys_bus_free(sys_bus *b);

/* Calls method with the arguments of types (sd-bus's form) and waits at
 * most timeout_ms, the bus's greeting included.  The reply is the
 * caller's (sd_bus_message_unref).  0 on failure, also an error reply,
 * with why (when given) saying what went wrong. */
int sys_bus_call(sys_bus *b, const sys_bus_object *o, const char *method, uint32_t timeout_ms,
                 sd_bus_message **reply, char *why, uint32_t why_len, const char *types, ...);

/* Sends the call and returns; the reply (or the timeout's error) comes to
 * fn on the loop's thread. */
int sys_bus_call_async(sys_bus *b, const sys_bus_object *o, const char *method, uint32_t timeout_ms,
                       sys_bus_handler fn, void *user, const char *types, ...);

/* The descriptor a successful reply of one "h" carries, as a
 * close-on-exec descriptor of the caller's own; -1 otherwise. */
int sys_bus_reply_fd(sd_bus_message *reply);

typedef struct sys_bus_signal_rec {
  const sys_bus_object *object;
  const char *member;
  sys_bus_handler fn;
} sys_bus_signal_rec;

/* A bus watched from an event loop.  up runs on every connection, the
 * signals subscribed already; down when the bus went away (what its peers
 * held for us is gone with it).  That is logged once, naming who; the bus
 * is then looked for again every SYS_BUS_RETRY_MS until it is back. */
typedef struct sys_bus_watch_rec {
  const char *who;
  const sys_bus_signal_rec *signals;
  uint32_t count;
  void (*up)(void *user, sys_bus *b);
  void (*down)(void *user);
  void *user;
} sys_bus_watch_rec;

/* Connected on event (which must outlive *out); 0 when the bus is not
 * there at the start.  w is copied; its signals must outlive *out.  When
 * the loop ends, the bus is closed without waiting for it. */
int sys_bus_watch(sys_bus **out, sd_event *event, const sys_bus_watch_rec *w);

#ifdef __cplusplus
}
#endif

#endif
