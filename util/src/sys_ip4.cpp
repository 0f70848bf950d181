// IPv4 and MAC address text, the machine's address list, the ARP cache,
// host names, the SSDP constants and the network start-up call.
#include <tarvo_util/sys_socket.h>

#include "sys_socket_impl.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netdb.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace {

const uint8_t kSsdpIp[4] = {239, 255, 255, 250};
const uint8_t kLoopback[4] = {127, 0, 0, 1};
const uint8_t kAny[4] = {0, 0, 0, 0};

int decval(char c)
{
  return c >= '0' && c <= '9' ? c - '0' : -1;
}

// count groups of digits (in the base that digit() reads) separated by
// sep, each at most 255; the characters consumed, 0 on failure.
template <class Digit> uint32_t scan_groups(const char *s, uint8_t *out, int count, char sep,
                                            unsigned base, Digit digit)
{
  uint32_t i = 0;
  for (int g = 0; g < count; g++) {
    if (g && s[i++] != sep) return 0;
    unsigned v = 0;
    uint32_t start = i;
    for (int d; (d = digit(s[i])) >= 0; i++) {
      v = v * base + unsigned(d);
      if (v > 255) return 0;
    }
    if (i == start) return 0;
    out[g] = uint8_t(v);
  }
  return i;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trimmed(std::string_view s)
{
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
  return s;
}

bool is_disabled(char *const *disabled, const char *name, const uint8_t *ip)
{
  if (!disabled) return false;
  char text[16];
  std::string_view addr(text, sys_ip4_fmt(text, ip));
  for (; *disabled; disabled++) {
    std::string_view e = trimmed(*disabled);
    if (!e.empty() && (e == addr || (name && e == name))) return true;
  }
  return false;
}

int ip4_list(sys_memalloc_rec *ma, char *const *disabled)
{
  ifaddrs *list;
  if (getifaddrs(&list) != 0) {
    ma->len = 0;
    return 0;
  }
  int r = tarvo_impl::ip4_list_from(list, ma, disabled);
  freeifaddrs(list);
  return r;
}

// One line of the ARP cache: "IP HW-type Flags HW-address Mask Device".
// Only complete entries with a 6-byte hardware address count.
bool arp_line(const char *s, uint8_t *ip, uint8_t *mac)
{
  while (*s == ' ') s++;
  uint32_t k = sys_ip4_scan(s, ip);
  if (!k || s[k] != ' ') return false;
  char *end;
  s += k;
  std::strtoul(s, &end, 16);  // hardware type
  if (end == s) return false;
  s = end;
  unsigned long flags = std::strtoul(s, &end, 16);
  if (end == s || !(flags & ATF_COM)) return false;
  s = end;
  while (*s == ' ') s++;
  k = sys_mac_scan(s, mac);
  return k == 17 && (s[k] == ' ' || s[k] == '\t' || s[k] == '\n' || s[k] == 0);
}

template <class Match> int arp_find(Match match)
{
  const char *path = std::getenv("TARVO_ARP_FILE");
  std::FILE *f = std::fopen(path && *path ? path : "/proc/net/arp", "re");
  if (!f) return 0;
  char line[SYS_ARP_LINE_MAX];
  bool skipping = false;
  int found = 0;
  while (!found && std::fgets(line, sizeof line, f)) {
    bool whole = std::strchr(line, '\n') || std::feof(f);
    // The tail of an over-long line is not a line of its own.
    if (!skipping && whole) {
      uint8_t ip[4], mac[6];
      if (arp_line(line, ip, mac)) found = match(ip, mac);
    }
    skipping = !whole;
  }
  std::fclose(f);
  return found;
}

}  // namespace

int tarvo_impl::ip4_list_from(const ifaddrs *list, sys_memalloc_rec *ma, char *const *disabled)
{
  ma->len = 0;
  uint32_t entries = 0;
  for (const ifaddrs *a = list; a && entries < SYS_IP4_LIST_MAX_ENTRIES; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    entries++;
    if (!(a->ifa_flags & IFF_UP) || (a->ifa_flags & IFF_LOOPBACK)) continue;
    uint8_t ip[4];
    std::memcpy(ip, &reinterpret_cast<const sockaddr_in *>(a->ifa_addr)->sin_addr, 4);
    if (!std::memcmp(ip, kAny, 4) || is_disabled(disabled, a->ifa_name, ip)) continue;
    if (!sys_memalloc_catb(ma, ip, 4)) return 0;
  }
  return sys_memalloc_catb(ma, kLoopback, 4);
}

extern "C" {

int platform_init(void)
{
  struct sigaction sa{};
  sa.sa_handler = SIG_IGN;
  sigemptyset(&sa.sa_mask);
  return sigaction(SIGPIPE, &sa, nullptr) == 0;
}

int platform_server_name(char **s)
{
  utsname u;
  uint32_t major = 0, minor = 0;
  if (uname(&u) == 0) {
    uint32_t k = sys_str_scan_uint32(u.release, &major);
    if (k && u.release[k] == '.') sys_str_scan_uint32(u.release + k + 1, &minor);
  }
  sys_stralloc_rec sa{};
  char num[12];
  bool ok = sys_stralloc_copys(&sa, "Windows/") &&
            sys_stralloc_catb(&sa, num, sys_str_fmt_uint32(num, major)) &&
            sys_stralloc_cats(&sa, ".") &&
            sys_stralloc_catb(&sa, num, sys_str_fmt_uint32(num, minor)) &&
            sys_stralloc_cats(&sa, " UPnP/1.0 Kelmar Tarvo UPnP/1.0") &&
            sys_stralloc_catb(&sa, "", 1);
  if (!ok) {
    sys_stralloc_free(&sa);
    return 0;
  }
  *s = sa.buf;
  return 1;
}

int sys_host_local(char **name)
{
  char buf[SYS_HOST_NAME_MAX + 1] = {};
  if (gethostname(buf, SYS_HOST_NAME_MAX) != 0) return 0;
  return sys_str_clone(buf, name);
}

int sys_host_ip4(const char *name, sys_memalloc_rec *ma)
{
  ma->len = 0;
  if (!name) return 0;
  uint8_t ip[4];
  uint32_t k = sys_ip4_scan(name, ip);
  if (k && !name[k]) return sys_memalloc_catb(ma, ip, 4);
  addrinfo hints{}, *res;
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  if (getaddrinfo(name, nullptr, &hints, &res) != 0) return 0;
  int ok = 1;
  for (addrinfo *a = res; a && ok; a = a->ai_next)
    ok = sys_memalloc_catb(ma, &reinterpret_cast<sockaddr_in *>(a->ai_addr)->sin_addr, 4);
  freeaddrinfo(res);
  if (!ok) {
    sys_memalloc_free(ma);
    *ma = sys_memalloc_rec{};
    return 0;
  }
  return ma->len != 0;
}

const uint8_t *ssdp_ip(void) { return kSsdpIp; }
uint16_t ssdp_port(void) { return 1900; }
const char *ssdp_host(void) { return "239.255.255.250"; }
const char *ssdp_host_port(void) { return "239.255.255.250:1900"; }
const uint8_t *sys_ip4_loopback(void) { return kLoopback; }
const uint8_t *sys_ip4_any(void) { return kAny; }

uint32_t sys_ip4_fmt(char *buf, const uint8_t *ip)
{
  uint32_t n = 0;
  for (int i = 0; i < 4; i++) {
    if (i) {
      if (buf) buf[n] = '.';
      n++;
    }
    n += sys_str_fmt_uint32(buf ? buf + n : nullptr, ip[i]);
  }
  return n;
}

uint32_t sys_ip4_scan(const char *s, uint8_t *ip)
{
  uint8_t t[4];
  uint32_t n = scan_groups(s, t, 4, '.', 10, decval);
  if (n) std::memcpy(ip, t, 4);
  return n;
}

int sys_ip4_list(sys_memalloc_rec *ma) { return ip4_list(ma, nullptr); }

int sys_ip4_list2(sys_memalloc_rec *ma, char *const *disabled) { return ip4_list(ma, disabled); }

int sys_ip4_watch_open(int *fd)
{
  *fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
  if (*fd < 0) return 0;
  sockaddr_nl a{};
  a.nl_family = AF_NETLINK;
  a.nl_groups = RTMGRP_IPV4_IFADDR | RTMGRP_LINK;
  if (::bind(*fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) return 1;
  ::close(*fd);
  *fd = -1;
  return 0;
}

void sys_ip4_watch_clear(int fd)
{
  // The messages themselves are not needed: the list is read again.  An
  // overflow (ENOBUFS) ends the reading like an empty socket.
  char buf[8192];
  for (;;) {
    ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
  }
}

int sys_ip4_get(uint8_t *ip)
{
  sys_memalloc_rec ma{};
  int ok = ip4_list(&ma, nullptr) && ma.len >= 4;
  if (ok) std::memcpy(ip, ma.buf, 4);
  sys_memalloc_free(&ma);
  return ok;
}

uint32_t sys_mac_fmt(char *buf, const uint8_t *mac)
{
  if (buf) {
    for (int i = 0; i < 6; i++) {
      if (i) buf[3 * i - 1] = ':';
      sys_str_fmt_0xint32(buf + 3 * i, mac[i], 2);
    }
  }
  return 17;
}

uint32_t sys_mac_scan(const char *s, uint8_t *mac)
{
  uint8_t t[6];
  uint32_t n = scan_groups(s, t, 6, ':', 16, sys_str_hex_digit);
  if (n) std::memcpy(mac, t, 6);
  return n;
}

int sys_mac_from_ip_cache4(uint8_t *mac, const uint8_t *ip)
{
  return arp_find([&](const uint8_t *eip, const uint8_t *emac) {
    if (std::memcmp(eip, ip, 4)) return 0;
    std::memcpy(mac, emac, 6);
    return 1;
  });
}

int sys_mac_to_ip_cache4(const uint8_t *mac, uint8_t *ip)
{
  return arp_find([&](const uint8_t *eip, const uint8_t *emac) {
    if (std::memcmp(emac, mac, 6)) return 0;
    std::memcpy(ip, eip, 4);
    return 1;
  });
}

}  // extern "C"
