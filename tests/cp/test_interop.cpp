// An independent device, made with the GUPnP Python bindings, found,
// described, driven and followed by the device list.
#include "cp_test.h"

#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using namespace cp_test;

namespace {

constexpr const char *kUdn = "uuid:3e1f7a52-0b6c-4d8e-9f10-2a3b4c5d6e7f";
constexpr const char *kEcho = "urn:schemas-upnp-org:service:Echo:1";

TEST(Interop, AGupnpDeviceIsFoundDrivenAndFollowed)
{
  CP_NEED_NET();
  int status = -1;
  tarvo_test::command_output("/usr/bin/python3 -c \"import gi; gi.require_version('GUPnP', '1.6'); "
                             "from gi.repository import GUPnP\" 2>&1",
                             &status);
  if (status != 0) GTEST_SKIP() << "/usr/bin/python3 with python3-gi and the GUPnP 1.6 typelib is missing";
  std::string script = tarvo_test::data_dir() + "/cp/gupnp_device.py", py = "/usr/bin/python3", udn = kUdn,
              secs = "60";
  char *argv[] = {py.data(), script.data(), udn.data(), secs.data(), nullptr};
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, py.c_str(), nullptr, nullptr, argv, environ), 0);
  struct reaper {
    pid_t pid;
    ~reaper() { kill(pid, SIGKILL), waitpid(pid, nullptr, 0); }
  } r{pid};

  control_point cp;
  ASSERT_TRUE(cp.start({"urn:schemas-upnp-org:device:MediaServer:1"}));
  // The device announces itself once it is up; searches fill the wait.
  ASSERT_TRUE(eventually([&] {
    tarvo_cp_discovery_search_async(&cp.ctx, 1);
    return eventually([&] { return cp.seen.count(&recorder::added) >= 1; }, 1500);
  }, 30000));
  std::vector<std::string> added = cp.seen.get(&recorder::added);
  ASSERT_EQ(added.size(), 1u);
  EXPECT_EQ(added[0].rfind(udn + " Independent http://127.0.0.1:", 0), 0u) << added[0];
  upnp_desc_device_rec *d = nullptr;
  ASSERT_TRUE(tarvo_cp_get_desc_device(&cp.ctx, kUdn, &d));
  ASSERT_TRUE(d->services && d->services[0]);
  EXPECT_STREQ(d->services[0]->serviceType, kEcho);
  EXPECT_EQ(std::string(d->services[0]->controlURL).find("/control/echo"), std::string(d->services[0]->controlURL).size() - 13);
  upnp_desc_device_free(d);

  sys_str_list names = nullptr, values = nullptr;
  std::string body = std::string("<u:Echo xmlns:u=\"") + kEcho + "\"><In>hello</In></u:Echo>";
  EXPECT_EQ(tarvo_cp_action(&cp.ctx, kUdn, kEcho, "Echo", body.c_str(), &names, &values), 0u);
  ASSERT_TRUE(names && names[0] && !names[1]);
  EXPECT_STREQ(names[0], "Out");
  EXPECT_STREQ(values[0], "hello");
  sys_str_list_free(names);
  sys_str_list_free(values);

  ASSERT_TRUE(tarvo_cp_event_subscribe(&cp.ctx, kUdn, kEcho, 300, recorder::on_event, &cp.seen));
  ASSERT_TRUE(eventually([&] { return cp.seen.count(&recorder::events) == 1; }, 10000));
  EXPECT_EQ(cp.seen.get(&recorder::events)[0], udn + " " + kEcho + " 0");
  EXPECT_NE(cp.seen.get(&recorder::bodies)[0].find("<e:propertyset"), std::string::npos) << cp.seen.get(&recorder::bodies)[0];
}

}  // namespace
