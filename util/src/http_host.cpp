// Request checks that every server of the system makes before it acts: the
// Host header (DNS rebinding) and control bytes in decoded paths.
#include <tarvo_util/http_message.h>
#include <tarvo_util/util_limits.h>

#include "http_impl.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string_view>

using tarvo_impl::http_ws;

namespace {

bool case_equal(std::string_view a, std::string_view b)
{
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

bool ends_with_case(std::string_view s, std::string_view tail)
{
  return s.size() >= tail.size() && case_equal(s.substr(s.size() - tail.size()), tail);
}

// ":digits" of a port from 1 to 65535, or nothing at all.
bool port_ok(std::string_view p)
{
  if (p.empty()) return true;
  if (p[0] != ':' || p.size() < 2 || p.size() > 6) return false;
  uint32_t n = 0;
  for (char c : p.substr(1)) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + uint32_t(c - '0');
  }
  return n >= 1 && n <= 65535;
}

// An address literal of the family, in the text inet_pton takes.
bool ip_literal(int family, std::string_view h)
{
  char buf[INET6_ADDRSTRLEN + 1];
  if (h.empty() || h.size() >= sizeof buf) return false;
  h.copy(buf, h.size());
  buf[h.size()] = 0;
  unsigned char a[sizeof(in6_addr)];
  return inet_pton(family, buf, a) == 1;
}

// The machine's name with or without its domain, each also with ".local".
// The name is read at every call: it may change while the server runs.
bool own_name(std::string_view h)
{
  char buf[SYS_HOST_NAME_MAX + 1] = {};
  if (gethostname(buf, SYS_HOST_NAME_MAX) != 0 || !buf[0]) return false;
  std::string_view full(buf);
  std::string_view shrt = full.substr(0, full.find('.'));
  if (ends_with_case(h, ".local")) h.remove_suffix(6);
  return case_equal(h, full) || case_equal(h, shrt);
}

bool name_ok(std::string_view h)
{
  // A trailing root dot names the same host.
  if (!h.empty() && h.back() == '.') h.remove_suffix(1);
  if (h.empty()) return false;
  return ip_literal(AF_INET, h) || case_equal(h, "localhost") || own_name(h);
}

}  // namespace

int http_host_allowed(const char *value, uint32_t length)
{
  if (!value) return 0;
  std::string_view v(value, length);
  while (!v.empty() && http_ws(v.front())) v.remove_prefix(1);
  while (!v.empty() && http_ws(v.back())) v.remove_suffix(1);
  // Embedded blanks, control bytes (a NUL above all) and bytes beyond
  // ASCII (host names travel in punycode) would let the
  // text that is checked differ from the text a resolver is given.
  if (v.empty() || !std::all_of(v.begin(), v.end(), [](char c) { return c > 0x20 && c != 0x7f; })) return 0;
  if (v.front() == '[') {
    size_t close = v.find(']');
    if (close == std::string_view::npos) return 0;
    return ip_literal(AF_INET6, v.substr(1, close - 1)) && port_ok(v.substr(close + 1));
  }
  size_t colon = v.find(':');
  std::string_view host = v.substr(0, colon);
  std::string_view port = colon == std::string_view::npos ? std::string_view() : v.substr(colon);
  return port_ok(port) && name_ok(host);
}

int http_header_host_allowed(char *const *lines)
{
  static constexpr std::string_view prefix = "host:";
  int seen = 0;
  for (char *const *l = lines; l && *l; l++) {
    std::string_view line(*l);
    if (line.size() < prefix.size() || !case_equal(line.substr(0, prefix.size()), prefix)) continue;
    // Two Host lines are refused: the servers in front may read either one.
    if (seen++) return 0;
    std::string_view v = line.substr(prefix.size());
    if (!http_host_allowed(v.data(), uint32_t(v.size()))) return 0;
  }
  return 1;
}

int http_path_allowed(const char *path, uint32_t n)
{
  if (!path) return 0;
  return std::none_of(path, path + n, [](char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7f;
  });
}
