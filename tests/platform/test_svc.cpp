#include <tarvo_platform/svc.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tarvo_test.h"

namespace {

struct call {
  uint32_t control, event;
};

std::vector<call> g_calls;
svc_status_handle g_handle;
std::thread g_sender;
std::vector<int> g_signals;
uint32_t g_fail_code;

void report(uint32_t state, uint32_t accepted, uint32_t code)
{
  svc_status_rec st{state, accepted, code, 0};
  svc_status_set(g_handle, &st);
}

uint32_t handler(uint32_t control, uint32_t event, void *, void *ctx)
{
  EXPECT_EQ(ctx, &g_calls);
  g_calls.push_back({control, event});
  if (control == SVC_CONTROL_STOP || control == SVC_CONTROL_SHUTDOWN) {
    report(SVC_STOP_PENDING, 0, 0);
    if (g_sender.joinable()) g_sender.join();
    report(SVC_STOPPED, 0, 0);
    return SVC_NO_ERROR;
  }
  return control == SVC_CONTROL_POWEREVENT ? SVC_NO_ERROR : SVC_ERROR_CALL_NOT_IMPLEMENTED;
}

void service_main(uint32_t, char **argv)
{
  EXPECT_EQ(svc_ctrl_handler_register("another", handler, &g_calls), nullptr);
  g_handle = svc_ctrl_handler_register(argv[0], handler, &g_calls);
  ASSERT_NE(g_handle, nullptr);
  int nested = -1;
  EXPECT_EQ(svc_dispatch("x", service_main, &nested), 0);
  report(SVC_START_PENDING, 0, 0);
  if (g_fail_code) {
    report(SVC_STOPPED, 0, g_fail_code);
    return;
  }
  report(SVC_RUNNING, SVC_ACCEPT_STOP | SVC_ACCEPT_SHUTDOWN | SVC_ACCEPT_POWEREVENT, 0);
  g_sender = std::thread([] {
    for (int s : g_signals) {
      kill(getpid(), s);
      usleep(50 * 1000);
    }
  });
}

int run(std::vector<int> signals, uint32_t fail_code = 0)
{
  g_calls.clear();
  g_signals = std::move(signals);
  g_fail_code = fail_code;
  int status = -1;
  EXPECT_EQ(svc_dispatch("tarvo-test", service_main, &status), 1);
  if (g_sender.joinable()) g_sender.join();
  return status;
}

}  // namespace

TEST(svc, signals_become_controls_until_stopped)
{
  // SIGHUP is not accepted by this service, so its handler never sees it.
  EXPECT_EQ(run({SIGUSR1, SIGHUP, SIGUSR2, SIGTERM, SIGUSR1}), 0);
  ASSERT_EQ(g_calls.size(), 3u);
  EXPECT_EQ(g_calls[0].control, uint32_t(SVC_CONTROL_POWEREVENT));
  EXPECT_EQ(g_calls[0].event, uint32_t(SVC_POWER_SUSPEND));
  EXPECT_EQ(g_calls[1].event, uint32_t(SVC_POWER_RESUME_SUSPEND));
  EXPECT_EQ(g_calls[2].control, uint32_t(SVC_CONTROL_STOP));

  EXPECT_EQ(run({SIGINT}), 0);
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].control, uint32_t(SVC_CONTROL_SHUTDOWN));
}

TEST(svc, failed_start_gives_its_exit_code)
{
  EXPECT_EQ(run({}, 3), 3);
  EXPECT_TRUE(g_calls.empty());
  EXPECT_EQ(run({}, 4000), 255);
}

TEST(svc, a_service_without_handler_fails_the_dispatch)
{
  int status = -1;
  EXPECT_EQ(svc_dispatch("x", [](uint32_t, char **) {}, &status), 0);
}

TEST(svc, sd_notify_reaches_the_socket)
{
  tarvo_test::scratch_dir dir;
  std::string path = dir / "notify";
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un sa{};
  sa.sun_family = AF_UNIX;
  path.copy(sa.sun_path, sizeof sa.sun_path - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);

  unsetenv("NOTIFY_SOCKET");
  EXPECT_EQ(svc_sd_notify("READY=1"), 1);
  setenv("NOTIFY_SOCKET", path.c_str(), 1);
  EXPECT_EQ(run({SIGTERM}), 0);
  std::vector<std::string> got;
  char buf[256];
  ssize_t n;
  while ((n = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0) got.emplace_back(buf, size_t(n));
  std::vector<std::string> want{"STATUS=starting", "READY=1\nSTATUS=running",
                                "STOPPING=1\nSTATUS=stopping", "STATUS=stopped"};
  EXPECT_EQ(got, want);

  setenv("NOTIFY_SOCKET", (dir / "missing").c_str(), 1);
  EXPECT_EQ(svc_sd_notify("READY=1"), 0);
  setenv("NOTIFY_SOCKET", "relative", 1);
  EXPECT_EQ(svc_sd_notify("READY=1"), 0);
  unsetenv("NOTIFY_SOCKET");
  close(fd);
}

TEST(svc, sd_notify_abstract_name)
{
  std::string name = "tarvo-test-" + std::to_string(getpid());
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un sa{};
  sa.sun_family = AF_UNIX;
  name.copy(sa.sun_path + 1, sizeof sa.sun_path - 2);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&sa),
                 socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size())), 0);
  setenv("NOTIFY_SOCKET", ("@" + name).c_str(), 1);
  EXPECT_EQ(svc_sd_notify("READY=1"), 1);
  unsetenv("NOTIFY_SOCKET");
  char buf[64];
  ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
  EXPECT_EQ(std::string(buf, size_t(n > 0 ? n : 0)), "READY=1");
  close(fd);
}
