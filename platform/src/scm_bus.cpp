// The service manager on systemd: its manager object over the system bus.
#include <systemd/sd-bus.h>
#include <tarvo_platform/scm.h>

#include <cstring>
#include <string>

#include "scm_impl.h"

namespace {

const char *const dest = "org.freedesktop.systemd1";
const char *const manager_path = "/org/freedesktop/systemd1";
const char *const manager_iface = "org.freedesktop.systemd1.Manager";

struct bus_call {
  sd_bus *bus = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message *reply = nullptr;
  char unit[SCM_UNIT_NAME_MAX];
  ~bus_call()
  {
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
  }
  bool open(const char *service)
  {
    if (!scm_unit_name(service, unit, sizeof unit)) return scm_fail("bad service name");
    int r = sd_bus_open_system(&bus);
    if (r < 0) return scm_fail(std::string("cannot reach the system bus: ") + std::strerror(-r));
    return true;
  }
  bool failed(const char *what, int r)
  {
    return scm_fail(std::string(what) + " " + unit + ": " +
                    (sd_bus_error_is_set(&error) ? error.message : std::strerror(-r)));
  }
};

}  // namespace

int scm_bus_running(const char *service, int *running)
{
  bus_call c;
  if (!c.open(service)) return 0;
  int r = sd_bus_call_method(c.bus, dest, manager_path, manager_iface, "LoadUnit", &c.error, &c.reply, "s", c.unit);
  if (r < 0) return c.failed("cannot load", r);
  const char *path = nullptr;
  r = sd_bus_message_read(c.reply, "o", &path);
  if (r < 0) return c.failed("bad answer for", r);
  std::string unit_path = path;
  char *active = nullptr, *sub = nullptr;
  const char *iface = "org.freedesktop.systemd1.Unit";
  r = sd_bus_get_property_string(c.bus, dest, unit_path.c_str(), iface, "ActiveState", &c.error, &active);
  if (r >= 0) r = sd_bus_get_property_string(c.bus, dest, unit_path.c_str(), iface, "SubState", &c.error, &sub);
  if (r >= 0) *running = !std::strcmp(active, "active") && !std::strcmp(sub, "running");
  free(active);
  free(sub);
  return r < 0 ? c.failed("cannot read the state of", r) : 1;
}

int scm_bus_enable(const char *service)
{
  bus_call c;
  if (!c.open(service)) return 0;
  sd_bus_message *m = nullptr;
  int r = sd_bus_message_new_method_call(c.bus, &m, dest, manager_path, manager_iface, "EnableUnitFiles");
  char *units[] = {c.unit, nullptr};
  if (r >= 0) r = sd_bus_message_append_strv(m, units);
  if (r >= 0) r = sd_bus_message_append(m, "bb", 0, 1);  // persistent, replacing other links
  if (r >= 0) r = sd_bus_call(c.bus, m, 0, &c.error, &c.reply);
  sd_bus_message_unref(m);
  if (r < 0) return c.failed("cannot enable", r);
  sd_bus_message_unref(c.reply);
  c.reply = nullptr;
  r = sd_bus_call_method(c.bus, dest, manager_path, manager_iface, "Reload", &c.error, &c.reply, "");
  return r < 0 ? c.failed("cannot reload after enabling", r) : 1;
}

int scm_bus_start(const char *service)
{
  bus_call c;
  if (!c.open(service)) return 0;
  int r = sd_bus_call_method(c.bus, dest, manager_path, manager_iface, "StartUnit", &c.error, &c.reply, "ss", c.unit,
                             "replace");
  return r < 0 ? c.failed("cannot start", r) : 1;
}
