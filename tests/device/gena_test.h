// A device with an evented test service inside a network namespace of the
// test program's own, a callback server that records NOTIFY requests, and
// SSDP sockets on the group address.
#pragma once

#include "../../upnp/device/device_gena_ssdp.h"
#include "device_test.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace gena_test {

inline constexpr const char *kServiceType = "urn:schemas-upnp-org:service:Test:2";
inline constexpr const char *kServiceId = "urn:upnp-org:serviceId:Test";
inline constexpr const char *kOtherId = "urn:upnp-org:serviceId:Other";
inline constexpr const char *kUdn = "uuid:00000000-1111-2222-3333-444444444444";
inline constexpr const char *kInitialBody =
    "<e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\">\n"
    "<e:property>\n<State>ready</State>\r\n</e:property>\n</e:propertyset>\n";

// Moves the program into a network namespace of its own (once) with lo
// up and open to multicast; "" when that worked, else why not.
std::string private_net();
// Runs a shell command; true when it exited with 0.
bool sh(const std::string &cmd);

#define GENA_NEED_NET()                                             \
  do {                                                              \
    std::string why_ = gena_test::private_net();                    \
    if (!why_.empty()) GTEST_SKIP() << "no private network: " << why_; \
  } while (0)

// A MediaServer:2 root device with the evented services Test:2 (control,
// event/test) and Other:1 (event/other), both with handlers.
std::string description();

struct device {
  tarvo_device_ctx *ctx = nullptr;
  device_service_handler test{}, other{};
  std::atomic<bool> refuse{false};          // the subscription handler says no
  std::atomic<int> ip_changes{0};
  bool started = false;

  // Setters may be called on ctx before.
  bool start(bool ssdp, uint32_t max_age = 1800);
  ~device();
  uint16_t port() const { return ctx->http_port; }
};

struct message {
  std::string raw;
  std::string start;                  // the first line
  std::vector<std::string> headers;   // as sent
  std::string body;
  int64_t at_ms = 0;                  // arrival, steady clock
  std::string header(const std::string &name) const;  // value, "" when absent
};
// A message in text: start line, headers, empty line, body.
message parse(const std::string &raw);

std::string subscribe_request(const std::string &path, const std::string &headers);

// Records every request it is sent; answers each with status (or never,
// when silent).  Listens on ip.
struct callback_server {
  std::string ip;
  int sock = -1;
  uint16_t port = 0;
  std::atomic<bool> silent{false};
  std::string status = "200 OK";  // set before the first request
  std::mutex mu;
  std::condition_variable cv;
  std::vector<message> got;
  std::atomic<bool> stop{false};
  std::thread th;

  explicit callback_server(const char *ip = "127.0.0.1");
  ~callback_server();
  std::string url(const std::string &path = "/cb") const;
  // The first n requests once they are there (fewer after timeout_ms).
  std::vector<message> wait(size_t n, int timeout_ms = 5000);
  size_t count();
};

// A UDP socket bound to ip:port with address reuse; multicast goes out on
// ip.  join: it also takes the group's traffic on that interface only.
struct udp {
  int sock = -1;
  explicit udp(const char *ip = "127.0.0.1", uint16_t port = 0, bool join = false);
  ~udp();
  bool send(const std::string &data, const char *to_ip = "239.255.255.250", uint16_t to_port = 1900);
  // Datagrams until timeout_ms passed, or until max of them are in.
  std::vector<message> collect(int timeout_ms, size_t max = SIZE_MAX);
};

std::string search(const std::string &st, const std::string &mx = "0");

// A port on ip where nothing listens.
uint16_t closed_port(const char *ip);
// The ids of the program's threads.
std::vector<int> threads();
// Voluntary context switches of thread tid so far; -1 when it is gone.
long wakeups(int tid);

}  // namespace gena_test
