// The haldor program: exit 1 before any display when its settings cannot be
// read; else it follows a stand-in server's state, reads its client lists
// over SOAP, pushes the host names into its page, shows all of it on the
// automation socket, and ends cleanly on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../ui/gtk_xvfb.h"
#include "../util/script_server.h"
#include "soap_reply.h"
#include "haldor_run.h"
#include "tarvo_live.h"
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

// A program folder and data folder for haldor talking to the two stand-in
// servers, with hosts as its hosts file; with_page: the tool's own page too.
struct tool_folders {
  scratch_dir prog, data, run;
  std::string sock = run / "ui/haldor.sock";
  tool_folders(uint16_t dmsm_port, uint16_t soap_port, const std::string &hosts, bool with_page = false)
  {
    std::filesystem::path b = std::getenv("TARVO_BIN");
    std::string setting = tarvo_test::read_file(b / "setting.xml");
    setting.replace(setting.find("30002"), 5, std::to_string(dmsm_port));
    setting.replace(setting.find("30000"), 5, std::to_string(soap_port));
    tarvo_test::write_file(prog / "setting.xml", setting);
    tarvo_test::write_file(run / "hosts", hosts);
    std::filesystem::copy(b / "text", prog.path / "text", std::filesystem::copy_options::recursive);
    if (with_page) std::filesystem::copy(b / "page", prog.path / "page", std::filesystem::copy_options::recursive);
    std::filesystem::create_directories(data.path / "tarvo/haldor");
    tarvo_test::write_file(data / "tarvo/haldor/haldor.ini", "[General]\r\nLang=en\r\n");
  }
  pid_t start() const
  {
    return haldor_run::start("TARVO_TIME_SCALE=50 TARVO_HOSTS_FILE=" + run / "hosts" + " TARVO_SERVICE_DIR=" +
                             prog.path.string() + " TARVO_COMMON_APPDATA=" + data.path.string() +
                             " TARVO_UI_AUTOMATION=" + sock + " TARVO_RUNTIME_DIR=" + run / "rt");
  }
  // uictl's answer (a tool that does not answer within the liveness bound
  // is hung).
  std::string ask(const std::string &req, int *status) const
  {
    return tarvo_test::command_output("timeout " + std::to_string(tarvo_test::kLiveMs / 1000) + " " + bin("uictl") +
                                          " " + sock + " " + req + " 2>/dev/null",
                                      status);
  }
};

tarvo_test::script_reply server_active()
{
  return {"HTTP/1.1 200 OK\r\nX-DUV-STATE: active\r\nContent-Length: 0\r\n\r\n", true};
}

TEST(HaldorProgram, SettingsFailureThenRunAndSigterm)
{
  TARVO_NEED_DISPLAY();
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();  // no real server on 30002
  scratch_dir empty;
  // No setting.xml beside the program and no display: exit 1 at once.
  EXPECT_EQ(wait_exit(start("-u DISPLAY TARVO_SERVICE_DIR=" + empty.path.string()), tarvo_test::kLiveMs), 1);

  tarvo_test::script_server dmsm({server_active()}, true);
  tarvo_test::script_server soap(client_lists());
  tool_folders t(dmsm.port(), soap.port(), "127.0.0.1 localhost\n");
  pid_t pid = t.start();
  std::string out;
  int status = -1;
  tarvo_test::eventually([&] { return out = t.ask("windows", &status), status == 0; });
  ASSERT_EQ(status, 0);
  EXPECT_NE(out.find(" HaldorMainFrame Tarvo Media Server Tool\n"), std::string::npos) << out;
  EXPECT_NE(out.find(" HaldorView \n"), std::string::npos) << out;
  // The server settles on started after three reads, then the lists are read.
  const std::string push = "tollamy_data_hosts_update_hosts({'127.0.0.1' : 'localhost'});\n";
  tarvo_test::eventually([&] { return (out = t.ask("html-scripts", &status)) == push; });
  EXPECT_EQ(out, push);
  auto requests = soap.requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_NE(requests[0].find("GetAllowList"), std::string::npos);
  EXPECT_NE(requests[1].find("GetDenyList"), std::string::npos);
  kill(pid, SIGTERM);
  EXPECT_EQ(wait_exit(pid, tarvo_test::kLiveMs), 0);
  EXPECT_FALSE(std::filesystem::exists(t.sock));
}

// Two names resolving together used to freeze the tool for good: the first
// one's push into the real page waited in a nested loop that delivered the
// second, which then waited for the lock the first still held.  Twenty
// cycles each bring two new addresses whose names come within the same
// turn of the watcher; the tool answers its automation all the while,
// pushes every name, and a SIGTERM that comes while a page alert's box runs
// a modal loop ends it.
TEST(HaldorProgram, TwoNamesTogetherNeitherFreezeNorBlockSigterm)
{
  TARVO_NEED_DISPLAY();
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
  constexpr int kRounds = 20;
  std::vector<script_reply> lists;
  std::string hosts, all_names;
  for (int i = 0; i < kRounds; ++i) {
    std::string a = "127.0.1." + std::to_string(2 * i + 10), b = "127.0.1." + std::to_string(2 * i + 11);
    hosts += a + " a" + std::to_string(i) + "\n" + b + " b" + std::to_string(i) + "\n";
    lists.push_back({soap_response("GetAllowList", "<AllowMacList></AllowMacList><AllowIpList>" + a + "," + b +
                                                       "</AllowIpList><NumberOfAllowClients>2</NumberOfAllowClients>"),
                     true});
    lists.push_back({soap_response("GetDenyList",
                                   "<DenyMacList></DenyMacList><DenyIpList></DenyIpList>"
                                   "<NumberOfDenyClients>0</NumberOfDenyClients>"),
                     true});
  }
  tarvo_test::script_server dmsm({server_active()}, true);
  tarvo_test::script_server soap(lists, true);
  tool_folders t(dmsm.port(), soap.port(), hosts, true);
  haldor_run::running tool(t.start());
  int status = -1;
  std::string out;
  tarvo_test::eventually([&] { return out = t.ask("windows", &status), status == 0; });
  ASSERT_EQ(status, 0);
  // Done when the last push holds all forty names.
  auto names_in = [](const std::string &scripts) {
    size_t last = scripts.rfind("tollamy_data_hosts_update_hosts(");
    if (last == std::string::npos) return 0;
    int n = 0;
    for (size_t p = last; (p = scripts.find(" : '", p)) != std::string::npos; ++p) ++n;
    return n;
  };
  int names = 0;
  tarvo_test::eventually([&] {
    out = t.ask("html-scripts", &status);
    return status != 0 || (names = names_in(out)) == 2 * kRounds;
  });
  ASSERT_EQ(status, 0) << "no answer after " << names << " names";
  EXPECT_EQ(names, 2 * kRounds);
  EXPECT_NE(out.find("'127.0.1.49' : 'b19'"), std::string::npos);

  // A page alert: a box captioned as the tool.  SIGTERM comes while its
  // modal loop runs.
  t.ask("html-eval \"setTimeout(() => alert('Shared.'), 0)\"", &status);
  std::string box;
  tarvo_test::eventually([&] {
    std::string windows = t.ask("windows", &status);
    size_t at = windows.find(" #32770 ");
    if (at != std::string::npos) box = windows.substr(at + 8, windows.find('\n', at) - at - 8);
    return !box.empty();
  });
  EXPECT_EQ(box, "Tarvo Media Server Tool");
  kill(tool.pid, SIGTERM);
  EXPECT_EQ(tool.wait_exit(tarvo_test::kLiveMs), 0);
  EXPECT_FALSE(std::filesystem::exists(t.sock));
}

}  // namespace
