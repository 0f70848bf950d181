// A control point under test inside a network namespace of the test
// program's own, what its handlers saw, and a scripted device: an HTTP
// server that serves descriptions and records every request it is sent.
#pragma once

#include "../../upnp/cp/cp_impl.h"
#include "tarvo_test.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <string>
#include <tarvo_cp/tarvo_cp.h>
#include <thread>
#include <vector>

namespace cp_test {

// Enters the namespace (once) with lo up and open to multicast; "" when
// that worked, else why not.
std::string private_net();
bool sh(const std::string &cmd);

#define CP_NEED_NET()                                                  \
  do {                                                                 \
    std::string why_ = cp_test::private_net();                         \
    if (!why_.empty()) GTEST_SKIP() << "no private network: " << why_; \
  } while (0)

// Waits up to ms for pred, checking every 20 ms.
bool eventually(const std::function<bool()> &pred, int ms);

// What the handlers of a tarvo_cp saw.
struct recorder {
  std::mutex mu;
  std::vector<std::string> added;    // "<UDN> <friendlyName> <location>"
  std::vector<std::string> updated;  // "<UDN>"
  std::vector<std::string> removed;  // "<UDN>"
  std::vector<std::string> events;   // "<UDN> <type> <seq>"
  std::vector<std::string> bodies;
  void install(tarvo_cp_ctx **ctx);
  size_t count(std::vector<std::string> recorder::*list);
  std::vector<std::string> get(std::vector<std::string> recorder::*list);
  static int on_event(const char *udn, const char *type, unsigned seq, const char *body, void *user);
};

// A started tarvo_cp, ended with the object.
struct control_point {
  tarvo_cp_ctx *ctx = nullptr;
  recorder seen;
  bool start(std::vector<std::string> targets);
  ~control_point() { tarvo_cp_end(&ctx); }
  uint16_t event_port() const { return ctx ? (*tarvo_cp_get_cp(const_cast<tarvo_cp_ctx **>(&ctx)))->event_port : 0; }
  uint16_t search_port() const { return ctx ? (*tarvo_cp_get_cp(const_cast<tarvo_cp_ctx **>(&ctx)))->ssdp_port : 0; }
};

// A description of one root device with a ContentDirectory:2 service at
// /control and /event.
std::string description(const std::string &udn, const std::string &device_type = "urn:schemas-upnp-org:device:MediaServer:2",
                        const std::string &name = "Fixture");

// An HTTP server on 127.0.0.1 run by one thread, one request per
// connection.  GET of a path in docs answers it; SUBSCRIBE and
// UNSUBSCRIBE answer 200 (SIDs uuid:sub-1, -2, ... and TIMEOUT
// Second-<granted>, or infinite when granted is 0); POST answers a SOAP
// response.  While silent, connections are taken and never answered.
struct fixture_device {
  int sock = -1;
  uint16_t port = 0;
  std::mutex mu;
  std::map<std::string, std::string> docs;
  std::vector<std::string> requests;  // head and body as received
  std::atomic<bool> silent{false};
  std::atomic<uint32_t> granted{1800};
  std::atomic<int> delay_ms{0};       // before each answer
  std::atomic<bool> stop{false};
  std::vector<int> held;              // connections kept while silent
  int next_sid = 0;
  std::thread th;
  fixture_device();
  ~fixture_device();
  std::string url(const std::string &path) const { return "http://127.0.0.1:" + std::to_string(port) + path; }
  std::vector<std::string> got();
  // The requests whose first line begins with method.
  std::vector<std::string> got(const std::string &method);
  void serve(int s);
};

// Sends a datagram from a socket bound to from_ip (any port) to ip:port.
void send_udp(const std::string &from_ip, const std::string &ip, uint16_t port, const std::string &data);
// A search response or NOTIFY alive naming location.
std::string search_response(const std::string &location, const std::string &st, const std::string &usn,
                            bool ext = true, uint32_t max_age = 1800);
std::string alive(const std::string &location, const std::string &nt, const std::string &usn, uint32_t max_age = 1800);
std::string byebye(const std::string &nt, const std::string &usn);
// Sends request to 127.0.0.1:port and reads until the peer closes (or
// until the answers hold `answers` times "\r\n\r\n").
std::string http_exchange(uint16_t port, const std::string &request, int answers = 0, int timeout_ms = 10000);
// A NOTIFY event message.
std::string notify(uint16_t port, const std::string &sid, uint32_t seq, const std::string &body = "<e:propertyset/>");

}  // namespace cp_test
