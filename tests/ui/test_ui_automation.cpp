// The automation socket driven by uictl: windows, command, html-scripts,
// errors, the modes of the socket and its folder, and a line over the bound.
#include <tarvo_ui/ui_automation.h>
#include <tarvo_ui/ui_limits.h>
#include <tarvo_ui/ui_page.h>

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <cstdlib>
#include <future>
#include <string>

#include "tarvo_test.h"

namespace {

using tarvo_test::scratch_dir;

WPARAM last_command;

LRESULT proc(HWND, UINT msg, WPARAM w, LPARAM)
{
  if (msg == WM_COMMAND) last_command = w;
  return 0;
}

// uictl's output and exit code, while this thread answers for the windows.
std::string uictl(const std::string &sock, const std::string &request, int *code)
{
  std::string cmd = std::string(std::getenv("TARVO_BIN")) + "/uictl " + sock + " " + request + " 2>&1";
  auto run = std::async(std::launch::async, [cmd] {
    int status;
    std::string out = tarvo_test::command_output(cmd, &status);
    return std::make_pair(out, status);
  });
  while (run.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
    g_main_context_iteration(nullptr, FALSE);
  auto [out, status] = run.get();
  *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

TEST(UiAutomation, RequestsAnsweredOnTheGuiThread)
{
  scratch_dir dir;
  std::string sock = dir / "auto/ui.sock";
  setenv("TARVO_UI_AUTOMATION", sock.c_str(), 1);
  HWND w = CreateMessageWindow("TestFrame", "Two words", proc, nullptr);
  ASSERT_TRUE(PageRunScript(w, "f('a\\'b');\nline2"));
  ASSERT_TRUE(UiAutomationStart());
  struct stat st;
  ASSERT_EQ(stat((dir / "auto").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(stat(sock.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  int code;
  char h[24];
  std::snprintf(h, sizeof h, "%016jx", static_cast<uintmax_t>(reinterpret_cast<uintptr_t>(w)));
  EXPECT_EQ(uictl(sock, "windows", &code), std::string(h) + " TestFrame Two words\n");
  EXPECT_EQ(code, 0);
  EXPECT_EQ(uictl(sock, std::string("command ") + h + " 2024", &code), "");
  EXPECT_EQ(code, 0);
  g_main_context_iteration(nullptr, FALSE);
  EXPECT_EQ(last_command, 2024u);
  EXPECT_EQ(uictl(sock, "html-scripts", &code), "f('a\\\\'b');\\nline2\n");
  EXPECT_EQ(uictl(sock, "command 1 2", &code), "error no such window\n");
  EXPECT_EQ(code, 1);
  EXPECT_EQ(uictl(sock, "frobnicate", &code), "error unknown command\n");
  EXPECT_EQ(code, 1);
  // A backend's request: its lines escaped like the core's, its refusal as an error.
  ASSERT_TRUE(UiAutomationAddCommand("echo", [](int argc, const char *const *argv, UI_AUTOMATION_EMIT emit,
                                                void *ctx, char *error, uint32_t size) {
    if (argc < 2) {
      std::snprintf(error, size, "usage: echo TEXT");
      return 0;
    }
    for (int i = 1; i < argc; ++i) emit(ctx, argv[i]);
    emit(ctx, "a\tb");
    return 1;
  }));
  EXPECT_EQ(uictl(sock, "echo x y", &code), "x\ny\na\\x09b\n");
  EXPECT_EQ(uictl(sock, "echo", &code), "error usage: echo TEXT\n");
  EXPECT_EQ(code, 1);

  // A line without an end past the bound is refused and the client dropped.
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strcpy(a.sun_path, sock.c_str());
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  std::string big(UI_AUTOMATION_LINE_MAX + 1, 'x');
  ASSERT_EQ(send(fd, big.data(), big.size(), MSG_NOSIGNAL), ssize_t(big.size()));
  std::string got;
  for (int i = 0; i < 2000 && got.find('\n') == std::string::npos; ++i) {
    g_main_context_iteration(nullptr, FALSE);
    char buf[64];
    ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) got.append(buf, size_t(n));
    usleep(1000);
  }
  close(fd);
  EXPECT_EQ(got, "error line too long\n");

  UiAutomationStop();
  EXPECT_NE(stat(sock.c_str(), &st), 0);
  // A folder that others can enter is not used.
  ASSERT_EQ(chmod((dir / "auto").c_str(), 0755), 0);
  EXPECT_FALSE(UiAutomationStart());
  DestroyWindow(w);
}

}  // namespace
