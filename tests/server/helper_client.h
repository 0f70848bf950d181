// A plain TCP client for the management port tests.
#pragma once

#include <cstdint>
#include <string>

namespace mgmt_test {

// Sends request from the local address `from` to 127.0.0.1:port and reads
// until the server closes.  Sets *refused when the connection could not be
// made.
std::string exchange(uint16_t port, const std::string &request, const char *from = "127.0.0.1",
                     bool *refused = nullptr);
// A GET of path with the given extra header lines (each ending in CR LF).
std::string get(uint16_t port, const std::string &path, const std::string &headers = "");
// A port that nothing listens on at the moment.
uint16_t free_port();
// Waits up to ms for the port to accept a connection.
bool wait_listening(uint16_t port, int ms);

}  // namespace mgmt_test
