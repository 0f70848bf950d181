// The management-port client: its bytes and readings against a recording
// peer, with nothing listening, and against the server program itself in
// a network namespace of the test's own.
#include <gtest/gtest.h>
#include <tarvo_dmsm/tarvo_dmsm.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "../util/script_server.h"
#include "tarvo_test.h"
#include "vennard_run.h"
#include "vennard_spawn.h"

namespace {

using tarvo_test::script_reply;

script_reply answer(const std::string &status_and_headers) { return {status_and_headers + "\r\n\r\n", true, false}; }

// A port nothing listens on.
uint16_t closed_port()
{
  tarvo_test::script_server gone({});
  return gone.port();
}

// The server program with its ports moved to test ports, not yet running.
constexpr uint16_t DMSM_TEST_BASE_PORT = 31300, DMSM_TEST_PORT = DMSM_TEST_BASE_PORT + 2;

}  // namespace

TEST(dmsm, bytes_and_readings_against_a_recording_peer)
{
  tarvo_test::script_server peer({
      answer("HTTP/1.1 200 OK\r\nX-DUV-STATE:active"),
      answer("HTTP/1.1 200 OK\r\nX-DUV-STATE: Active"),
      answer("HTTP/1.1 200 OK"),
      answer("HTTP/1.1 503 service unavailable"),
      answer("HTTP/1.1 200 OK"),
      answer("HTTP/1.1 200 OK"),
      answer("HTTP/1.1 500 internal server error\r\nX-AUTO-RUN-STATE: active"),
      answer("HTTP/1.1 200 OK\r\nX-AUTO-RUN-STATE: inactive"),
  });
  tarvo_dmsm_handle h{};
  ASSERT_EQ(tarvo_dmsm_init(&h, peer.port()), 1);
  // A second init replaces the client (the sanitizer run sees a leak
  // otherwise).
  ASSERT_EQ(tarvo_dmsm_init(&h, peer.port()), 1);
  int active = 5, flag = 5;
  EXPECT_EQ(tarvo_dmsm_get_server_state(&h, &active), 1);
  EXPECT_EQ(active, 1);
  EXPECT_EQ(tarvo_dmsm_get_server_state(&h, &active), 1);
  EXPECT_EQ(active, 0);  // "Active" is not "active"
  active = 5;
  EXPECT_EQ(tarvo_dmsm_get_server_state(&h, &active), 0);  // no state header
  EXPECT_EQ(active, 5);
  EXPECT_EQ(tarvo_dmsm_start_server(&h), 0);  // 503
  EXPECT_EQ(tarvo_dmsm_set_auto_run_state(&h, 42), 1);
  EXPECT_EQ(tarvo_dmsm_set_auto_run_state(&h, 0), 1);
  EXPECT_EQ(tarvo_dmsm_get_auto_run_state(&h, &flag), 0);
  EXPECT_EQ(flag, 5);
  EXPECT_EQ(tarvo_dmsm_get_auto_run_state(&h, &flag), 1);
  EXPECT_EQ(flag, 0);
  tarvo_dmsm_free(&h);
  tarvo_dmsm_free(nullptr);

  std::vector<std::string> got = peer.requests();
  ASSERT_EQ(got.size(), 8u);
  std::string host = "HOST: 127.0.0.1:" + std::to_string(peer.port()) + "\r\n";
  EXPECT_EQ(got[0], "GET /get_server_state HTTP/1.1\r\n" + host + "CONNECTION: close\r\n\r\n");
  EXPECT_EQ(got[3], "GET /start_server HTTP/1.1\r\n" + host + "CONNECTION: close\r\n\r\n");
  EXPECT_EQ(got[4], "GET /set_auto_run_state HTTP/1.1\r\n" + host +
                        "CONNECTION: close\r\nX-AUTO-RUN-STATE: active\r\n\r\n");
  EXPECT_EQ(got[5], "GET /set_auto_run_state HTTP/1.1\r\n" + host +
                        "CONNECTION: close\r\nX-AUTO-RUN-STATE: inactive\r\n\r\n");
  EXPECT_EQ(got[7], "GET /get_auto_run_state HTTP/1.1\r\n" + host + "CONNECTION: close\r\n\r\n");
}

TEST(dmsm, no_listener_fails_every_call_and_leaves_the_flags)
{
  // In a namespace of the test's own, no other program can take the port
  // meanwhile.
  const std::string &problem = tarvo_test::private_net();
  tarvo_dmsm_handle h{};
  ASSERT_EQ(tarvo_dmsm_init(&h, problem.empty() ? DMSM_TEST_PORT : closed_port()), 1);
  int active = 7, flag = 8;
  EXPECT_EQ(tarvo_dmsm_start_server(&h), 0);
  EXPECT_EQ(tarvo_dmsm_stop_server(&h), 0);
  EXPECT_EQ(tarvo_dmsm_get_server_state(&h, &active), 0);
  EXPECT_EQ(tarvo_dmsm_set_auto_run_state(&h, 1), 0);
  EXPECT_EQ(tarvo_dmsm_get_auto_run_state(&h, &flag), 0);
  EXPECT_EQ(active, 7);
  EXPECT_EQ(flag, 8);
  tarvo_dmsm_free(&h);
}

TEST(dmsm, starts_and_stops_the_server_program)
{
  const std::string &problem = tarvo_test::private_net();
  if (!problem.empty()) GTEST_SKIP() << problem;
  tarvo_test::vennard_run run(DMSM_TEST_BASE_PORT, false, false);
  tarvo_dmsm_handle h{};
  ASSERT_EQ(tarvo_dmsm_init(&h, DMSM_TEST_PORT), 1);
  int active = -1;
  bool up = false;
  for (int i = 0; i < 400 && !up; i++) {
    up = tarvo_dmsm_get_server_state(&h, &active);
    if (!up) usleep(50 * 1000);
  }
  ASSERT_TRUE(up) << "the management port did not answer";
  EXPECT_EQ(active, 0);
  EXPECT_EQ(tarvo_dmsm_start_server(&h), 1);
  EXPECT_EQ(tarvo_dmsm_get_server_state(&h, &active), 1);
  EXPECT_EQ(active, 1);
  int flag = -1;
  EXPECT_EQ(tarvo_dmsm_get_auto_run_state(&h, &flag), 1);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(tarvo_dmsm_set_auto_run_state(&h, 1), 1);
  EXPECT_EQ(tarvo_dmsm_get_auto_run_state(&h, &flag), 1);
  EXPECT_EQ(flag, 1);
  EXPECT_TRUE(std::filesystem::exists(run.data + "/conf/auto_run"));
  EXPECT_EQ(tarvo_dmsm_stop_server(&h), 1);
  EXPECT_EQ(tarvo_dmsm_get_server_state(&h, &active), 1);
  EXPECT_EQ(active, 0);
  tarvo_dmsm_free(&h);
}
