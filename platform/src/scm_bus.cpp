// The service manager on systemd: its manager object over the system bus.
#include <tarvo_platform/platform_limits.h>
#include <tarvo_platform/scm.h>
#include <tarvo_platform/sys_bus.h>
#include <tarvo_util/sys_owner.h>

#include <cstdio>
#include <string>

#include "scm_impl.h"

namespace {

using message = own::ptr<sd_bus_message, sd_bus_message_unref>;

struct bus_call {
  own::ptr<sys_bus, sys_bus_free> bus;
  char unit[SCM_UNIT_NAME_MAX];
  char why[256] = "";
  bool open(const char *service)
  {
    if (!scm_unit_name(service, unit, sizeof unit)) return scm_fail("bad service name");
    if (!sys_bus_open(&bus.p)) return scm_fail("cannot reach the system bus");
    return true;
  }
  bool failed(const char *what, const char *cause = nullptr)
  {
    return scm_fail(std::string(what) + " " + unit + ": " + (cause ? cause : why));
  }
  // A string property of the unit at path.
  bool unit_state(const char *path, const char *name, std::string *out)
  {
    const sys_bus_object unit_props = {sys_bus_service_manager.dest, path, "org.freedesktop.DBus.Properties"};
    message reply;
    const char *value = nullptr;
    if (!sys_bus_call(bus.p, &unit_props, "Get", SYS_BUS_MANAGER_CALL_MS, &reply.p, why, sizeof why, "ss",
                      "org.freedesktop.systemd1.Unit", name))
      return false;
    if (sd_bus_message_read(reply.p, "v", "s", &value) < 0) {
      std::snprintf(why, sizeof why, "bad answer");
      return false;
    }
    *out = value;
    return true;
  }
  bool manager(const char *method, message *reply, const char *types, auto... args)
  {
    return sys_bus_call(bus.p, &sys_bus_service_manager, method, SYS_BUS_MANAGER_CALL_MS, &reply->p, why,
                        sizeof why, types, args...);
  }
};

}  // namespace

int scm_bus_running(const char *service, int *running)
{
  bus_call c;
  if (!c.open(service)) return 0;
  message reply;
  if (!c.manager("LoadUnit", &reply, "s", c.unit)) return c.failed("cannot load");
  const char *path = nullptr;
  if (sd_bus_message_read(reply.p, "o", &path) < 0) return c.failed("bad answer for", "no unit path");
  std::string unit_path = path, active, sub;
  if (!c.unit_state(unit_path.c_str(), "ActiveState", &active) || !c.unit_state(unit_path.c_str(), "SubState", &sub))
    return c.failed("cannot read the state of");
  *running = active == "active" && sub == "running";
  return 1;
}

int scm_bus_enable(const char *service)
{
  bus_call c;
  if (!c.open(service)) return 0;
  message reply, reloaded;
  // One unit; persistent, replacing other links.
  if (!c.manager("EnableUnitFiles", &reply, "asbb", 1, c.unit, 0, 1)) return c.failed("cannot enable");
  if (!c.manager("Reload", &reloaded, "")) return c.failed("cannot reload after enabling");
  return 1;
}

int scm_bus_start(const char *service)
{
  bus_call c;
  if (!c.open(service)) return 0;
  message reply;
  return c.manager("StartUnit", &reply, "ss", c.unit, "replace") ? 1 : c.failed("cannot start");
}
