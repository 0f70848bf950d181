// The haldor program: exit 1 before any display when its settings cannot be
// read; else it runs its windows on the main loop, shows them on the
// automation socket, and ends cleanly on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "tarvo_test.h"

namespace {

using tarvo_test::scratch_dir;

std::string bin(const char *name) { return std::string(std::getenv("TARVO_BIN")) + "/" + name; }

pid_t start(const std::string &env)
{
  pid_t pid = fork();
  if (pid == 0) {
    std::string cmd = "exec env " + env + " " + bin("haldor");
    execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char *>(nullptr));
    _exit(127);
  }
  return pid;
}

int wait_exit(pid_t pid, int ms)
{
  for (int i = 0; i < ms / 10; ++i) {
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -2;
}

TEST(HaldorProgram, SettingsFailureThenRunAndSigterm)
{
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();  // no real server on 30002
  scratch_dir prog, data, run;
  // No setting.xml beside the program and no display: exit 1 at once.
  EXPECT_EQ(wait_exit(start("-u DISPLAY TARVO_SERVICE_DIR=" + prog.path.string()), 5000), 1);

  std::filesystem::path b = std::getenv("TARVO_BIN");
  std::filesystem::copy(b / "setting.xml", prog.path / "setting.xml");
  std::filesystem::copy(b / "text", prog.path / "text", std::filesystem::copy_options::recursive);
  std::filesystem::create_directories(data.path / "tarvo/haldor");
  tarvo_test::write_file(data / "tarvo/haldor/haldor.ini", "[General]\r\nLang=en\r\n");
  std::string sock = run / "ui/haldor.sock";
  pid_t pid = start("TARVO_TIME_SCALE=50 TARVO_SERVICE_DIR=" + prog.path.string() +
                    " TARVO_COMMON_APPDATA=" + data.path.string() + " TARVO_UI_AUTOMATION=" + sock);
  std::string out;
  int status = -1;
  for (int i = 0; i < 200 && status != 0; ++i) {
    out = tarvo_test::command_output(bin("uictl") + " " + sock + " windows 2>/dev/null", &status);
    if (status != 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(status, 0);
  EXPECT_NE(out.find(" HaldorMainFrame Tarvo Media Server Tool\n"), std::string::npos) << out;
  EXPECT_NE(out.find(" HaldorView \n"), std::string::npos) << out;
  EXPECT_EQ(tarvo_test::command_output(bin("uictl") + " " + sock + " html-scripts", &status), "");
  EXPECT_EQ(status, 0);
  kill(pid, SIGTERM);
  EXPECT_EQ(wait_exit(pid, 5000), 0);
  EXPECT_FALSE(std::filesystem::exists(sock));
}

}  // namespace
