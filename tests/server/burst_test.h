// Clients that load the media and device ports from one address at once:
// a burst of connections that each send one request, and a TV-like
// client that keeps many connections alive fetching media, thumbnails,
// the description and Browse answers while subscribed to the services;
// and a client that sends its request header slowly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "media_test.h"

namespace burst_test {

// The requests the clients send, on a server started by make().
struct requests {
  uint16_t media_port = 0, device_port = 0;
  std::string picture;     // a small media GET that closes the connection
  std::string thumb;       // the same, kept alive
  std::string media_part;  // a ranged GET of a larger file, kept alive
  std::string desc;        // the device description, closing
  std::string desc_kept;   // the same, kept alive
  std::string browse;      // a Browse action, kept alive
};

// Starts f with a picture and a larger media file listed.
bool make(media_test::fixture &f, requests *r);

// n connections from `from`, each opened and sent `request` at once from a
// thread of its own: how many were answered "200 OK".
uint32_t burst(uint16_t port, const std::string &request, uint32_t n, const char *from);

// What the TV-like client met: its requests, those it had to send again
// because the server closed the connection unanswered or said 503, and
// those answered with an unexpected status or not at all after retries.
struct tv_result {
  uint32_t requests = 0, retries = 0, failed = 0;
};

// media_conns connections to the media port and device_conns to the
// device port, all from `from` and opened at once, each sending `rounds`
// requests kept alive; the device connections subscribe first.
tv_result tv(const requests &r, uint32_t media_conns, uint32_t device_conns, uint32_t rounds, const char *from);

// A request header sent in pieces, gap_ms apart, on a connection from
// `from`: how many pieces went out before the server was seen to answer
// or close (pieces.size() when it never did).
size_t slow_header(uint16_t port, const char *from, const std::vector<std::string> &pieces, int gap_ms);

// The pieces of a GET of path whose request line takes four gaps and its
// header four more.
std::vector<std::string> slow_get(const std::string &path);

}  // namespace burst_test
