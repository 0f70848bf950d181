// Keeping the system awake while clients are served: a process-wide count
// of holds.  While it is above zero the process holds an "idle" inhibitor
// lock of the login manager, taken over the system bus when it is there;
// otherwise holding does nothing.
#include "device_impl.h"

#include <mutex>
#include <utility>
#include <tarvo_platform/platform_limits.h>
#include <tarvo_platform/sys_bus.h>
#include <tarvo_util/sys_owner.h>

namespace {

using message = own::ptr<sd_bus_message, sd_bus_message_unref>;

std::mutex awake_mutex;
uint32_t awake_count;  // under awake_mutex
bool taking;           // under awake_mutex: a call for the lock is out
own::file inhibitor;   // under awake_mutex

// The lock's descriptor, or -1.
int inhibitor_take()
{
  own::ptr<sys_bus, sys_bus_free> bus;
  message reply;
  if (!sys_bus_open(&bus.p) ||
      !sys_bus_call(bus.p, &sys_bus_login_manager, "Inhibit", SYS_BUS_CALL_MS, &reply.p, nullptr, 0, "ssss", "idle",
                    "tarvo", "Serving UPnP clients", "block"))
    return -1;
  return sys_bus_reply_fd(reply.p);
}

}  // namespace

// The lock is asked for outside the count's lock: other clients are not
// held up while the login manager answers, and are counted meanwhile.
void device_awake_hold(void)
{
  std::unique_lock<std::mutex> lock(awake_mutex);
  if (awake_count++ || taking) return;
  taking = true;
  lock.unlock();
  own::file fd(inhibitor_take());
  lock.lock();
  taking = false;
  // Every hold may have been released while the call was out.
  if (awake_count) std::swap(inhibitor.fd, fd.fd);
}

void device_awake_release(void)
{
  std::lock_guard<std::mutex> lock(awake_mutex);
  if (awake_count == 0 || --awake_count) return;
  inhibitor.reset();
}

void tarvo_device_awake_hold(void)
{
  device_awake_hold();
}

void tarvo_device_awake_release(void)
{
  device_awake_release();
}
