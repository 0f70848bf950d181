#include <vennard/service.h>
#include <vennard/vennard_limits.h>

#include <gtest/gtest.h>

#include <tarvo_platform/svc.h>
#include <tarvo_util/http_message.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_socket.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <poll.h>
#include <future>
#include <thread>
#include <unistd.h>
#include <vector>

#include "burst_test.h"
#include "helper_client.h"
#include "tarvo_live.h"
#include "tarvo_test.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// A data folder as the installation lays it out, with the management port
// given; the server started on it keeps to the test's network namespace and
// to its own shares.
void layout(const std::string &home, uint16_t dmsm_port)
{
  std::string cmd = tarvo_test::data_dir() + "/../scripts/layout-data '" + home + "' 30000 30001 " +
                    std::to_string(dmsm_port) + " >/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  for (const char *v : {"TARVO_COMMON_MUSIC", "TARVO_COMMON_PICTURES", "TARVO_COMMON_VIDEO"}) setenv(v, "", 1);
}

#define NEED_PRIVATE_NET()                                                             \
  do {                                                                                 \
    if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net(); \
  } while (0)

std::string take(char *s)
{
  std::string v = s ? s : "";
  sys_alloc_free(s);
  return v;
}

// The management port of a worker record, served on a thread of its own.
struct port_fixture : ::testing::Test {
  tarvo_test::scratch_dir dir;
  std::string home = dir.path.string();
  service_worker_rec w{};
  uint16_t port = 0;
  std::thread loop;

  void SetUp() override
  {
    NEED_PRIVATE_NET();
    port = mgmt_test::free_port();
    layout(home, port);
    fs::remove(home + "/conf/upnp_port");
    ASSERT_EQ(service_worker_init(&w, home.c_str()), 1);
    loop = std::thread([this] { management_port_run(&w); });
    ASSERT_TRUE(mgmt_test::wait_listening(port, tarvo_test::kLiveMs));
  }
  void TearDown() override
  {
    if (!loop.joinable()) return;
    service_worker_stop(&w);
    loop.join();
    service_server_stop(&w);
    service_worker_free(&w);
  }
  void put(const std::string &key, const std::string &text)
  {
    tarvo_test::write_file(home + "/conf/" + key, text);
  }
  bool exists(const std::string &key) { return fs::exists(home + "/conf/" + key); }
};

// The answer: the status line, a DATE line of an RFC 1123 date, then
// exactly rest.
bool answer_is(const std::string &answer, const std::string &status, const std::string &rest)
{
  std::string head = "HTTP/1.1 " + status + "\r\nDATE: ";
  if (answer.compare(0, head.size(), head) != 0) return false;
  std::string after = answer.substr(head.size());
  size_t eol = after.find("\r\n");
  int64_t t = 0;
  return eol != std::string::npos && http_date_scan(after.substr(0, eol).c_str(), &t) == eol &&
         after.substr(eol + 2) == rest;
}

bool is_ok(const std::string &answer, const std::string &state_line = "")
{
  return answer_is(answer, "200 OK", state_line + "\r\n");
}

bool is_error(const std::string &answer, const std::string &status)
{
  return answer_is(answer, status,
                   "CONTENT-LENGTH: " + std::to_string(status.size() + 28) +
                       "\r\nCONNECTION: close\r\nCONTENT-TYPE: text/html\r\n\r\n<html><body>" + status +
                       "</body></html>\r\n");
}

}  // namespace

TEST(service_files, names_and_data_folder)
{
  tarvo_test::scratch_dir dir;
  std::string d = dir.path.string();
  char *name = nullptr, *home = nullptr;
  EXPECT_EQ(service_files_read(d.c_str(), &name, &home), 0);

  tarvo_test::write_file(dir / "service_name", "Tarvo Media Server\r\nignored\n");
  tarvo_test::write_file(dir / "data_home", "MediaData\r\n");
  setenv("TARVO_COMMON_APPDATA", "/srv/appdata", 1);
  ASSERT_EQ(service_files_read(d.c_str(), &name, &home), 1);
  EXPECT_EQ(take(name), "Tarvo Media Server");
  EXPECT_EQ(take(home), "/srv/appdata/MediaData");
  unsetenv("TARVO_COMMON_APPDATA");
  ASSERT_EQ(service_files_read(d.c_str(), &name, &home), 1);
  sys_alloc_free(name);
  EXPECT_EQ(take(home), "/var/lib/MediaData");

  tarvo_test::write_file(dir / "data_home", "/srv/tarvo");
  tarvo_test::write_file(dir / "service_name", std::string(2000, 'n'));
  ASSERT_EQ(service_files_read(d.c_str(), &name, &home), 1);
  EXPECT_EQ(take(name), std::string(1023, 'n'));
  EXPECT_EQ(take(home), "/srv/tarvo");

  // The data folder's path may be 259 bytes long, no more.
  tarvo_test::write_file(dir / "data_home", "/" + std::string(258, 'd'));
  ASSERT_EQ(service_files_read(d.c_str(), &name, &home), 1);
  sys_alloc_free(name);
  sys_alloc_free(home);
  tarvo_test::write_file(dir / "data_home", "/" + std::string(259, 'd'));
  EXPECT_EQ(service_files_read(d.c_str(), &name, &home), 0);
  fs::remove(dir / "data_home");
  EXPECT_EQ(service_files_read(d.c_str(), &name, &home), 0);
}

TEST(service_files, folder_of_the_files)
{
  char *d = nullptr;
  setenv("TARVO_SERVICE_DIR", "/etc/tarvo", 1);
  ASSERT_EQ(service_dir(&d), 1);
  EXPECT_EQ(take(d), "/etc/tarvo");
  unsetenv("TARVO_SERVICE_DIR");
  ASSERT_EQ(service_dir(&d), 1);
  EXPECT_EQ(take(d), fs::canonical("/proc/self/exe").parent_path().string());
}

TEST(service, local_addresses)
{
  const uint8_t loop[4] = {127, 0, 0, 1}, other[4] = {127, 0, 0, 2}, far[4] = {192, 0, 2, 1};
  EXPECT_EQ(is_local_address(loop), 1);
  EXPECT_EQ(is_local_address(other), 0);
  EXPECT_EQ(is_local_address(far), 0);
  sys_memalloc_rec list{};
  ASSERT_EQ(sys_ip4_list(&list), 1);
  for (uint32_t i = 0; i + 4 <= list.len; i += 4) EXPECT_EQ(is_local_address(list.buf + i), 1);
  sys_memalloc_free(&list);
}

TEST_F(port_fixture, server_state_start_and_stop)
{
  EXPECT_TRUE(is_ok(mgmt_test::get(port, "/get_server_state"), "X-DUV-STATE: inactive\r\n"));
  // Without upnp_port the server cannot start.
  EXPECT_TRUE(is_error(mgmt_test::get(port, "/start_server"), "503 service unavailable"));
  EXPECT_TRUE(is_ok(mgmt_test::get(port, "/get_server_state"), "X-DUV-STATE: inactive\r\n"));
  put("upnp_port", "30000");
  EXPECT_TRUE(is_ok(mgmt_test::get(port, "/start_server")));
  EXPECT_TRUE(is_ok(mgmt_test::get(port, "/get_server_state?x=1"), "X-DUV-STATE: active\r\n"));
  // A start while running starts nothing: it holds even without the key.
  fs::remove(home + "/conf/upnp_port");
  EXPECT_TRUE(is_ok(mgmt_test::get(port, "/start_server")));
  EXPECT_TRUE(is_ok(mgmt_test::get(port, "/stop_server")));
  EXPECT_TRUE(is_ok(mgmt_test::get(port, "/get_server_state"), "X-DUV-STATE: inactive\r\n"));
  EXPECT_TRUE(is_ok(mgmt_test::get(port, "/stop_server")));
}

TEST_F(port_fixture, auto_run_state)
{
  EXPECT_TRUE(is_ok(mgmt_test::get(port, "/get_auto_run_state"), "X-AUTO-RUN-STATE: inactive\r\n"));
  EXPECT_TRUE(is_ok(mgmt_test::get(port, "/set_auto_run_state", "x-Auto-Run-STATE :  active\r\n")));
  EXPECT_TRUE(exists("auto_run"));
  EXPECT_TRUE(is_ok(mgmt_test::get(port, "/get_auto_run_state"), "X-AUTO-RUN-STATE: active\r\n"));
  for (const char *bad : {"X-AUTO-RUN-STATE: Active\r\n", "X-AUTO-RUN-STATE: active now\r\n", "",
                          "X-AUTO-RUN-STATES: active\r\n"})
    EXPECT_TRUE(is_error(mgmt_test::get(port, "/set_auto_run_state", bad), "400 bad request")) << bad;
  EXPECT_TRUE(exists("auto_run"));
  EXPECT_TRUE(is_ok(mgmt_test::get(port, "/set_auto_run_state", "X-AUTO-RUN-STATE: inactive\r\n")));
  EXPECT_FALSE(exists("auto_run"));

  // A folder in the flag's place cannot be switched on.
  fs::create_directory(home + "/conf/auto_run");
  EXPECT_TRUE(is_error(mgmt_test::get(port, "/set_auto_run_state", "X-AUTO-RUN-STATE: active\r\n"),
                       "500 internal server error"));
  // Headers that never end.
  EXPECT_TRUE(is_error(mgmt_test::exchange(port, "GET /set_auto_run_state HTTP/1.1\r\nX-A: 1\r\n"),
                       "500 internal server error"));
}

TEST_F(port_fixture, refused_and_unanswered_requests)
{
  EXPECT_TRUE(is_error(mgmt_test::exchange(port, "HEAD /get_server_state HTTP/1.1\r\n\r\n"),
                       "501 method not implemented"));
  EXPECT_TRUE(is_error(mgmt_test::exchange(port, "get /get_server_state HTTP/1.1\r\n\r\n"),
                       "501 method not implemented"));
  // A target with a ':' but no "//" is no URI; a line without a version
  // is no HTTP request.
  EXPECT_TRUE(is_error(mgmt_test::exchange(port, "GET a:b HTTP/1.1\r\n\r\n"), "400 bad request"));
  EXPECT_EQ(mgmt_test::exchange(port, "GET\r\n\r\n"), "");
  EXPECT_TRUE(is_ok(mgmt_test::exchange(port, "\r\n\r\nGET /stop_server HTTP/1.0\r\n\r\n")));

  EXPECT_EQ(mgmt_test::get(port, "/unknown"), "");
  EXPECT_EQ(mgmt_test::get(port, "/get_server_state/"), "");
  EXPECT_EQ(mgmt_test::exchange(port, "GET /get_server_state FTP/1.0\r\n\r\n"), "");
  EXPECT_EQ(mgmt_test::exchange(port, "GET /get_server_state HTTP/1.1"), "");
  std::string flood;
  for (int i = 0; i < 100; i++) flood += "\r\n";
  EXPECT_EQ(mgmt_test::exchange(port, flood + "GET /stop_server HTTP/1.1\r\n\r\n"), "");

  // A client that is not this host gets nothing, not even a status line.
  bool refused = true;
  EXPECT_EQ(mgmt_test::exchange(port, "GET /get_server_state HTTP/1.1\r\n\r\n", "127.0.0.2", &refused), "");
  EXPECT_FALSE(refused);
  EXPECT_TRUE(is_ok(mgmt_test::get(port, "/get_server_state"), "X-DUV-STATE: inactive\r\n"));
}

std::string host_name()
{
  char buf[256] = {};
  gethostname(buf, sizeof buf - 1);
  return buf;
}

// DNS rebinding: a web page whose name resolves to 127.0.0.1 comes from a
// local address and must still not start or stop the server.
TEST_F(port_fixture, rebinding_hosts_are_refused)
{
  std::string p = std::to_string(port);
  for (const std::string &evil : {std::string("evil.example"), "evil.example:" + p, "127.0.0.1.evil.example:" + p})
    for (const char *path : {"/start_server", "/get_server_state"})
      EXPECT_TRUE(is_error(mgmt_test::exchange(port, std::string("GET ") + path + " HTTP/1.1\r\nHost: " + evil +
                                                         "\r\n\r\n"),
                           "400 Bad Request"))
          << evil << path;
  EXPECT_EQ(w.running, 0);
  for (const std::string &good : {"127.0.0.1:" + p, std::string("localhost"), host_name()})
    EXPECT_TRUE(is_ok(mgmt_test::exchange(port, "GET /get_server_state HTTP/1.1\r\nHost: " + good + "\r\n\r\n"),
                      "X-DUV-STATE: inactive\r\n"))
        << good;
}

// Silent local connections used to hold the port one after another for
// their whole timeout; now each has a thread, up to a cap, and at the cap
// the oldest silent one gives way to a request once past its grace.
TEST_F(port_fixture, silent_connections_neither_block_nor_pile_up)
{
  std::vector<int> silent;
  for (int i = 0; i < MGMT_CONNS_MAX + 4; i++) {
    int fd = -1;
    ASSERT_TRUE(sys_socket_tcp(&fd) && sys_socket_connect4(fd, sys_ip4_loopback(), port));
    silent.push_back(fd);
  }
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(is_ok(mgmt_test::get(port, "/get_server_state"), "X-DUV-STATE: inactive\r\n"));
  // Not a speed: answered before the silent ones could time out, which is
  // what a request waited for when they held the port.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(MGMT_IN_TIMEOUT_MS));
  // The first ones made room; the newest still hold their places.
  pollfd first{silent.front(), POLLIN, 0}, last{silent.back(), POLLIN, 0};
  EXPECT_EQ(poll(&first, 1, tarvo_test::kLiveMs), 1);
  EXPECT_EQ(poll(&last, 1, 0), 0);
  for (int fd : silent) sys_socket_close(fd);
}

// A header sent a piece every 0.9 s: the connection is cut when the
// header's 3 s are over, as on the media and device ports, not kept while
// each line comes within the input timeout (until the whole header is in,
// 7.2 s on).
TEST_F(port_fixture, slow_header_is_cut_at_its_deadline)
{
  std::vector<std::string> pieces = burst_test::slow_get("/get_server_state");
  size_t sent = burst_test::slow_header(port, "127.0.0.1", pieces, 900);
  EXPECT_GE(sent, 4u);
  EXPECT_LE(sent, 5u);
}

TEST_F(port_fixture, stop_flag_ends_the_loop)
{
  service_worker_stop(&w);
  // The loop closes the port as it ends; one deaf to the stop keeps it.
  EXPECT_TRUE(tarvo_test::eventually([&] {
    int fd = -1;
    bool heard = sys_socket_tcp(&fd) && sys_socket_connect4(fd, sys_ip4_loopback(), port);
    sys_socket_close(fd);
    return !heard;
  })) << "the port still listens";
  loop.join();
  loop = std::thread([] {});
}

TEST(service, worker_runs_auto_run_and_stops_the_server)
{
  NEED_PRIVATE_NET();
  tarvo_test::scratch_dir dir;
  std::string home = dir.path.string();
  uint16_t port = mgmt_test::free_port();
  layout(home, port);
  tarvo_test::write_file(home + "/conf/auto_run", "");
  service_worker_rec w{};
  ASSERT_EQ(service_worker_init(&w, home.c_str()), 1);
  std::thread t([&] { server_worker(&w); });
  ASSERT_TRUE(mgmt_test::wait_listening(port, tarvo_test::kLiveMs));
  EXPECT_TRUE(is_ok(mgmt_test::get(port, "/get_server_state"), "X-DUV-STATE: active\r\n"));
  service_worker_stop(&w);
  t.join();
  EXPECT_EQ(w.running, 0);
  EXPECT_EQ(w.server.data_home, nullptr);

  // Without a management port the worker stops the server and ends.
  fs::remove(home + "/conf/dmsm_port");
  std::atomic_ref<int32_t>(w.stop) = 0;
  std::thread t2([&] { server_worker(&w); });
  t2.join();
  EXPECT_EQ(w.running, 0);
  service_worker_free(&w);
}

// A worker record on a laid-out data folder, its server not started.
struct worker_fixture : ::testing::Test {
  tarvo_test::scratch_dir dir;
  std::string home = dir.path.string();
  service_worker_rec w{};
  bool made = false;

  void SetUp() override
  {
    NEED_PRIVATE_NET();
    layout(home, 30002);
    ASSERT_TRUE(made = service_worker_init(&w, home.c_str()) == 1);
  }
  void TearDown() override
  {
    if (made) service_worker_free(&w);
  }
};

TEST_F(worker_fixture, power_events_do_not_wait_for_a_start_or_stop)
{

  // A stopped server is not touched; a start takes up the last event.
  service_power_event(&w, SVC_POWER_SUSPEND);
  EXPECT_EQ(w.server.suspended, 0);
  ASSERT_EQ(service_server_start(&w), 1);
  EXPECT_EQ(w.server.suspended, 1);
  service_power_event(&w, 99);
  EXPECT_EQ(w.server.suspended, 1);
  service_power_event(&w, SVC_POWER_RESUME_AUTOMATIC);
  EXPECT_EQ(w.server.suspended, 0);

  // While a start or stop holds the lifecycle (a long load, say), the
  // suspend still reaches the running device at once: past the login
  // manager's delay the system sleeps without it.
  ASSERT_EQ(sys_mutex_lock(&w.lifecycle), 1);
  std::promise<void> done;
  std::thread t([&] {
    service_power_event(&w, SVC_POWER_SUSPEND);
    done.set_value();
  });
  bool prompt = done.get_future().wait_for(10s) == std::future_status::ready;
  sys_mutex_unlock(&w.lifecycle);
  t.join();
  EXPECT_TRUE(prompt);
  EXPECT_EQ(w.server.suspended, 1);

  // Events racing with starts and stops (run under ThreadSanitizer).
  std::atomic<bool> stop{false};
  std::thread events([&] {
    while (!stop) {
      service_power_event(&w, SVC_POWER_SUSPEND);
      service_power_event(&w, SVC_POWER_RESUME_SUSPEND);
    }
  });
  for (int i = 0; i < 20; i++) {
    service_server_start(&w);
    service_server_stop(&w);
  }
  stop = true;
  events.join();
  EXPECT_EQ(w.running, 0);
}

// A stop may come while a start zero-fills the server's record, before
// its load: the stop's flag outlives the fill, so the load is given up
// rather than read to its end (minutes for a large database) with the stop
// waiting.  Here the stop comes first; the start gives up and the file
// stays as the last stop saved it.
TEST_F(worker_fixture, a_stop_asked_before_a_start_clears_the_record_ends_its_load)
{
  ASSERT_EQ(service_server_start(&w), 1);
  service_server_stop(&w);
  std::string saved = tarvo_test::read_file(home + "/conf/data.xml");
  ASSERT_FALSE(saved.empty());

  service_worker_stop(&w);
  EXPECT_EQ(service_server_start(&w), 0);
  EXPECT_EQ(w.running, 0);
  EXPECT_EQ(tarvo_test::read_file(home + "/conf/data.xml"), saved);
  service_server_stop(&w);
}
