// An independent UPnP stack (the GUPnP Python bindings) finds the test
// device over SSDP, calls its action and subscribes to its events.
#include "gena_test.h"
#include "tarvo_test.h"

using namespace gena_test;

namespace {

TEST(Interop, IndependentControlPointFindsCallsAndSubscribes)
{
  GENA_NEED_NET();
  int status = -1;
  tarvo_test::command_output("/usr/bin/python3 -c \"import gi; gi.require_version('GUPnP', '1.6'); "
                             "gi.require_version('GSSDP', '1.6'); from gi.repository import GUPnP\" 2>&1",
                             &status);
  if (status != 0) GTEST_SKIP() << "/usr/bin/python3 with python3-gi and the GUPnP 1.6 typelibs is missing";
  device d;
  ASSERT_TRUE(d.start(true));
  std::string out = tarvo_test::command_output(
      "/usr/bin/python3 " + tarvo_test::data_dir() + "/device/gupnp_probe.py " + kServiceType + " 20 2>&1", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("found http://127.0.0.1:" + std::to_string(d.port()) + "/\n"), out.npos) << out;
  EXPECT_NE(out.find("action hello\n"), out.npos) << out;
  EXPECT_NE(out.find("event State=ready\n"), out.npos) << out;
}

}  // namespace
