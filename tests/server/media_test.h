// A media server on a fresh data folder inside a private network
// namespace, and clients that talk to it over real sockets: raw HTTP for
// the media server, SOAP for the services.  A "remote" client binds
// 127.0.0.2, which the test ARP cache lists.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "server_test.h"

namespace media_test {

// Enters a network namespace of the process's own with loopback up, once;
// the reason when that is not allowed (empty when it is).
const std::string &private_net();

constexpr const char *kLocal = "127.0.0.1";
constexpr const char *kRemote = "127.0.0.2";

// A TCP connection from `from` to 127.0.0.1:port.
struct client {
  int fd = -1;
  std::string pending;  // read but not yet taken
  client(uint16_t port, const char *from = kLocal);
  ~client();
  bool send(const std::string &data) const;
  // One answer: the header block (status line included, DATE value
  // blanked) and, unless head, CONTENT-LENGTH bytes of body.  ok is false
  // when the connection ended first.
  struct answer {
    bool ok = false;
    std::string head, body;
    std::string status() const;
    std::string header(const std::string &name) const;
  };
  answer read_answer(bool head = false, int ms = 5000);
  // 1 when the peer has closed within ms (what is read meanwhile is
  // dropped), 0 when it kept the connection open.
  bool closed(int ms = 3000);
};

// One HTTP exchange on a fresh connection.
client::answer request(uint16_t port, const std::string &text, const char *from = kLocal);

// The outcome of a SOAP action.
struct soap_result {
  uint32_t code = 0;  // UPnP error code; 0 success; 1 when no proper answer came
  std::map<std::string, std::string> out;
  std::string operator[](const std::string &name) const;
};

// A ContentDirectory action from `from` to the device port upnp_port.
soap_result cds_action(uint16_t upnp_port, const std::string &name,
                       const std::vector<std::pair<std::string, std::string>> &args, const char *from = kLocal);

// The server: ConnectionManager, content database with the media HTTP
// server, access control, the share scanner's locks, and the device stack
// serving the ContentDirectory, ConnectionManager and X_DeviceManager
// services.
struct fixture {
  server_test::server srv;
  bool device = false, scanner = false, access = false;
  uint16_t upnp_port = 0, http_port = 0;
  ~fixture();
  bool start(bool with_device = true);
  void stop();
  // A ContentDirectory action from `from`.
  soap_result action(const std::string &name, const std::vector<std::pair<std::string, std::string>> &args,
                     const char *from = kLocal) const;
  // An object made by CreateObject from a local requester under parent,
  // from the inner DIDL-Lite of one object; its id, empty on failure.
  std::string create(const std::string &parent, const std::string &object_xml);
  // The text of the first res of an object (its URL path).
  std::string res_path(const std::string &id);
};

// A DIDL-Lite document around one object's text, with every namespace.
std::string didl(const std::string &object_xml);

}  // namespace media_test
