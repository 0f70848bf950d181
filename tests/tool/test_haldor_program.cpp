// The haldor program: exit 1 before any display when its settings cannot be
// read; else it follows a stand-in server's state, reads its client lists
// over SOAP, pushes the host names into its page, shows all of it on the
// automation socket, and ends cleanly on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "../ui/gtk_xvfb.h"
#include "../util/script_server.h"
#include "soap_reply.h"
#include "haldor_run.h"
#include "tarvo_test.h"

namespace {

using haldor_run::bin;
using haldor_run::start;
using haldor_run::wait_exit;

using tarvo_test::scratch_dir;
using tarvo_test::script_reply;
using tarvo_test::soap_response;

// Both lists name 127.0.0.1, for a few dozen cycles.
std::vector<script_reply> client_lists()
{
  std::vector<script_reply> r;
  for (int i = 0; i < 40; ++i) {
    r.push_back({soap_response("GetAllowList", "<AllowMacList></AllowMacList><AllowIpList>127.0.0.1</AllowIpList>"
                                               "<NumberOfAllowClients>1</NumberOfAllowClients>"),
                 true});
    r.push_back({soap_response("GetDenyList", "<DenyMacList></DenyMacList><DenyIpList>127.0.0.1</DenyIpList>"
                                              "<NumberOfDenyClients>1</NumberOfDenyClients>"),
                 true});
  }
  return r;
}



TEST(HaldorProgram, SettingsFailureThenRunAndSigterm)
{
  TARVO_NEED_DISPLAY();
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();  // no real server on 30002
  scratch_dir prog, data, run;
  // No setting.xml beside the program and no display: exit 1 at once.
  EXPECT_EQ(wait_exit(start("-u DISPLAY TARVO_SERVICE_DIR=" + prog.path.string()), 5000), 1);

  std::filesystem::path b = std::getenv("TARVO_BIN");
  tarvo_test::script_server dmsm({{"HTTP/1.1 200 OK\r\nX-DUV-STATE: active\r\nContent-Length: 0\r\n\r\n", true}}, true);
  tarvo_test::script_server soap(client_lists());
  std::string setting = tarvo_test::read_file(b / "setting.xml");
  setting.replace(setting.find("30002"), 5, std::to_string(dmsm.port()));
  setting.replace(setting.find("30000"), 5, std::to_string(soap.port()));
  tarvo_test::write_file(prog / "setting.xml", setting);
  tarvo_test::write_file(run / "hosts", "127.0.0.1 localhost\n");
  std::filesystem::copy(b / "text", prog.path / "text", std::filesystem::copy_options::recursive);
  std::filesystem::create_directories(data.path / "tarvo/haldor");
  tarvo_test::write_file(data / "tarvo/haldor/haldor.ini", "[General]\r\nLang=en\r\n");
  std::string sock = run / "ui/haldor.sock";
  pid_t pid = start("TARVO_TIME_SCALE=50 TARVO_HOSTS_FILE=" + run / "hosts" + " TARVO_SERVICE_DIR=" + prog.path.string() +
                    " TARVO_COMMON_APPDATA=" + data.path.string() + " TARVO_UI_AUTOMATION=" + sock +
                    " TARVO_RUNTIME_DIR=" + run / "rt");
  std::string out;
  int status = -1;
  for (int i = 0; i < 200 && status != 0; ++i) {
    out = tarvo_test::command_output(bin("uictl") + " " + sock + " windows 2>/dev/null", &status);
    if (status != 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(status, 0);
  EXPECT_NE(out.find(" HaldorMainFrame Tarvo Media Server Tool\n"), std::string::npos) << out;
  EXPECT_NE(out.find(" HaldorView \n"), std::string::npos) << out;
  // The server settles on started after three reads, then the lists are read.
  const std::string push = "tollamy_data_hosts_update_hosts({'127.0.0.1' : 'localhost'});\n";
  for (int i = 0; i < 150 && out != push; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    out = tarvo_test::command_output(bin("uictl") + " " + sock + " html-scripts", &status);
  }
  EXPECT_EQ(out, push);
  auto requests = soap.requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_NE(requests[0].find("GetAllowList"), std::string::npos);
  EXPECT_NE(requests[1].find("GetDenyList"), std::string::npos);
  kill(pid, SIGTERM);
  EXPECT_EQ(wait_exit(pid, 5000), 0);
  EXPECT_FALSE(std::filesystem::exists(sock));
}

}  // namespace
