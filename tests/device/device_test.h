// A device with one test service on loopback, and a plain HTTP client.
#pragma once

#include "../../upnp/device/device_impl.h"
#include "tarvo_test.h"

#include <mutex>
#include <string>
#include <vector>

namespace device_test {

inline constexpr const char *kServiceType = "urn:schemas-upnp-org:service:Test:2";
inline constexpr const char *kServiceId = "urn:upnp-org:serviceId:Test";
inline constexpr const char *kUdn = "uuid:00000000-1111-2222-3333-444444444444";

// The description served at "/": a root device with the test service at
// "control/test" and a second service without a handler at "control/none".
std::string description();
// The same shape: a root device of device_type with the test service and a
// second service (second_type, second_id) at control/<second_name> and
// event/<second_name>.
std::string description_of(const std::string &device_type, const std::string &second_type,
                           const std::string &second_id, const std::string &second_name);

// What the handlers saw; guarded by mu.
struct calls {
  std::mutex mu;
  std::vector<std::string> actions;  // "<action>(<name>=<value>,...)"
  std::string udn, service_type, service_id, remote;
  bool lists_null = false;
  std::vector<std::string> batch;    // "accept:<delay>", "delete", "<action>"
};

// A started device; ended by the destructor.
struct device {
  tarvo_device_ctx *ctx = nullptr;
  tarvo_test::scratch_dir root;
  calls seen;
  device_service_handler handler{};
  bool started = false;
  std::string desc;  // the description served; description() when empty

  // Setters may be called on ctx before start().
  bool start(bool with_root = true);
  ~device();
  uint16_t port() const { return ctx->http_port; }
};

// Starts d with 64 MiB served both as static content ("/big") and as a
// file ("/big.bin"), and two clients that ask for one each and then read
// nothing (socks[0] and socks[1]); false when the device did not start.
bool start_with_stalled_readers(device &d, int socks[2]);

struct reply {
  bool ok = false;          // a status line arrived
  std::string status;       // "200 OK"
  std::vector<std::string> headers;  // as sent
  std::string body;
  std::string header(const std::string &name) const;  // value, "" when absent
};

// A connected TCP socket to 127.0.0.1:port from from_ip; -1 on failure.
int connect_to(uint16_t port, const char *from_ip = "127.0.0.1");
bool send_all(int s, const std::string &data);
// Everything the peer sends until it closes (or timeout_ms passes).
std::string read_all(int s, int timeout_ms = 10000);
// One answer: the header block, then CONTENT-LENGTH bytes, or everything to
// the end of the stream without a length.
reply read_reply(int s, int timeout_ms = 10000);
reply parse_reply(const std::string &raw);
// Sends request on a new connection and reads one answer.
reply exchange(uint16_t port, const std::string &request);

// A SOAP request for action of type, with the body's inner arguments.
std::string soap_request(const std::string &path, const std::string &type,
                         const std::string &action, const std::string &args,
                         const std::string &extra_headers = "");

}  // namespace device_test
