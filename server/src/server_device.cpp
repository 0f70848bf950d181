// The device gate: server threads (the save thread, the services' events,
// the access check) call into the device stack only while it runs.  A
// caller counts itself in before it looks at the ready flag, and the
// closing side clears the flag before it waits for the count to drop, so
// no call can begin after the gate is closed or still run once it is.
#include <vennard/server.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_thread.h>

#include <atomic>

namespace {

std::atomic_ref<int32_t> ready(server_rec *s) { return std::atomic_ref<int32_t>(s->device_ready); }
std::atomic_ref<int32_t> users(server_rec *s) { return std::atomic_ref<int32_t>(s->device_users); }

}  // namespace

extern "C" {

void server_device_ready_set(server_rec *s) { ready(s).store(1); }

void server_device_ready_clear(server_rec *s)
{
  ready(s).store(0);
  while (users(s).load()) sys_thread_sleep(DEVICE_GATE_POLL_MS);
}

int server_device_enter(server_rec *s)
{
  users(s).fetch_add(1);
  if (ready(s).load() && s->device) return 1;
  users(s).fetch_sub(1);
  return 0;
}

void server_device_leave(server_rec *s) { users(s).fetch_sub(1); }

}  // extern "C"
