// Keeping the system awake while clients are served: a process-wide count
// of holds.  While it is above zero the process holds an "idle" inhibitor
// lock of the login manager, taken over the system bus through
// libsystemd when both are there; otherwise holding does nothing.
#include "device_impl.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace {

struct sd_bus;
struct sd_bus_message;
using open_fn = int (*)(sd_bus **);
using call_fn = int (*)(sd_bus *, const char *, const char *, const char *, const char *, void *,
                        sd_bus_message **, const char *, ...);
using read_fn = int (*)(sd_bus_message *, const char *, ...);
using msg_unref_fn = sd_bus_message *(*)(sd_bus_message *);
using bus_unref_fn = sd_bus *(*)(sd_bus *);

std::mutex awake_mutex;
uint32_t awake_count;  // under awake_mutex
int inhibitor = -1;    // under awake_mutex

// The lock's descriptor, or -1.
int inhibitor_take()
{
  static void *lib = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
  if (!lib) return -1;
  auto open_system = reinterpret_cast<open_fn>(dlsym(lib, "sd_bus_open_system"));
  auto call = reinterpret_cast<call_fn>(dlsym(lib, "sd_bus_call_method"));
  auto read = reinterpret_cast<read_fn>(dlsym(lib, "sd_bus_message_read"));
  auto msg_unref = reinterpret_cast<msg_unref_fn>(dlsym(lib, "sd_bus_message_unref"));
  auto bus_unref = reinterpret_cast<bus_unref_fn>(dlsym(lib, "sd_bus_flush_close_unref"));
  if (!open_system || !call || !read || !msg_unref || !bus_unref) return -1;
  sd_bus *bus = nullptr;
  if (open_system(&bus) < 0) return -1;
  sd_bus_message *reply = nullptr;
  int fd = -1, got = -1;
  if (call(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
           "org.freedesktop.login1.Manager", "Inhibit", nullptr, &reply, "ssss", "idle", "tarvo",
           "Serving UPnP clients", "block") >= 0 &&
      read(reply, "h", &got) >= 0 && got >= 0)
    fd = fcntl(got, F_DUPFD_CLOEXEC, 3);  // the reply owns its descriptor
  if (reply) msg_unref(reply);
  bus_unref(bus);
  return fd;
}

}  // namespace

void device_awake_hold(void)
{
  std::lock_guard<std::mutex> lock(awake_mutex);
  if (awake_count++ == 0) inhibitor = inhibitor_take();
}

void device_awake_release(void)
{
  std::lock_guard<std::mutex> lock(awake_mutex);
  if (awake_count == 0 || --awake_count) return;
  if (inhibitor >= 0) close(inhibitor);
  inhibitor = -1;
}

void tarvo_device_awake_hold(void)
{
  device_awake_hold();
}

void tarvo_device_awake_release(void)
{
  device_awake_release();
}
