// Version-1 (time-based) UUIDs.
#include <tarvo_util/digest.h>
#include <tarvo_util/sys_str.h>

#include "uuid_clock.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>

namespace {

using tarvo_uuid::TICKS_PER_MS;

// 100-nanosecond units from 1601-01-01 to 1970-01-01, and from 1582-10-15
// (the UUID epoch) to 1601-01-01.
constexpr uint64_t EPOCH_1601_TO_1970 = 116444736000000000ull;
constexpr uint64_t EPOCH_1582_TO_1601 = 5748192000000000ull;

struct uuid_state {
  std::mutex lock;
  unsigned char node[6];
  bool node_chosen;
  tarvo_uuid::clock_rec clock;
};

uuid_state g_uuid;

// Now in 100-nanosecond units since 1601, at full or at millisecond
// resolution.
uint64_t system_time(bool ms_only)
{
  using namespace std::chrono;
  auto since_1970 = system_clock::now().time_since_epoch();
  uint64_t t = ms_only ? uint64_t(duration_cast<milliseconds>(since_1970).count()) * TICKS_PER_MS
                       : uint64_t(duration_cast<nanoseconds>(since_1970).count()) / 100;
  return t + EPOCH_1601_TO_1970;
}

void seed_generator()
{
  uint64_t t = system_time(false);
  // gettid is a system call; the identifier of a thread never changes.
  thread_local const uint32_t tid = uint32_t(gettid());
  sys_random_init(uint32_t(t >> 32) ^ (tid << 16) ^ uint32_t(t));
  t = system_time(false);
  for (uint32_t n = (uint32_t(t >> 32) ^ uint32_t(t)) & 31; n; n--) sys_random();
}

// The hardware address of the first adapter that is up, not loopback and
// has one.
bool adapter_mac(unsigned char *mac)
{
  ifaddrs *list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool found = false;
  for (ifaddrs *i = list; i && !found; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_PACKET) continue;
    if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK)) continue;
    auto *ll = reinterpret_cast<const sockaddr_ll *>(i->ifa_addr);
    static const unsigned char zero[6] = {};
    if (ll->sll_halen != 6 || std::memcmp(ll->sll_addr, zero, 6) == 0) continue;
    std::memcpy(mac, ll->sll_addr, 6);
    found = true;
  }
  freeifaddrs(list);
  return found;
}

unsigned char random_byte()
{
  return static_cast<unsigned char>(sys_random() & 0xff);
}

}  // namespace

namespace tarvo_uuid {

uint64_t clock_next(clock_rec *c, uint64_t now, uint16_t initial)
{
  c->seq = c->seq_chosen ? uint16_t((c->seq + 1) % CLOCK_SEQ_SPAN) : initial;
  c->seq_chosen = true;
  // The clock has millisecond resolution: calls within one millisecond
  // differ in the clock sequence only.  When one timestamp has used up
  // every clock sequence, or the clock has stepped back, the timestamp
  // moves on from the last one given so that no UUID repeats.
  if (now > c->last_ts) {
    c->last_ts = now;
    c->first_seq = c->seq;
  } else if (c->seq == c->first_seq) {
    c->last_ts += TICKS_PER_MS;
  }
  return c->last_ts;
}

}  // namespace tarvo_uuid

extern "C" int uuid_create(char *buf)
{
  if (!buf) return 0;
  unsigned char b[16];
  {
    std::lock_guard<std::mutex> hold(g_uuid.lock);
    uuid_state &st = g_uuid;
    seed_generator();
    if (!st.node_chosen) {
      if (!adapter_mac(st.node)) {
        for (unsigned char &c : st.node) c = random_byte();
        // The multicast bit: no network card has such an address, so the
        // made-up node cannot take one's UUIDs.
        st.node[0] |= 0x01;
      }
      st.node_chosen = true;
    }
    uint16_t initial = 0;
    if (!st.clock.seq_chosen) {
      uint32_t hi = random_byte();
      initial = uint16_t(((hi << 8) | random_byte()) % tarvo_uuid::CLOCK_SEQ_SPAN);
    }
    uint64_t ts = tarvo_uuid::clock_next(&st.clock, system_time(true) + EPOCH_1582_TO_1601, initial);
    sys_uint32_pack_big(b, uint32_t(ts));
    sys_uint16_pack_big(b + 4, uint16_t(ts >> 32));
    sys_uint16_pack_big(b + 6, uint16_t(((ts >> 48) & 0x0fff) | 0x1000));
    sys_uint16_pack_big(b + 8, uint16_t(st.clock.seq | 0x8000));
    std::memcpy(b + 10, st.node, 6);
  }
  static const char hex[] = "0123456789abcdef";
  char *o = buf;
  for (int i = 0; i < 16; i++) {
    if (i == 4 || i == 6 || i == 8 || i == 10) *o++ = '-';
    *o++ = hex[b[i] >> 4];
    *o++ = hex[b[i] & 15];
  }
  *o = 0;
  return 1;
}
