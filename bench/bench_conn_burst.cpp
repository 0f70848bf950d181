// links: vennard_core
// Connections from one address at once, on the media and device ports of
// a server in a network namespace of its own: how many of 80 requests
// sent in bursts of 16 and of 32 connections are answered, and the share
// of a TV-like client's requests (16 media and 16 device connections kept
// alive, subscribed, browsing) that it must send again.  Usage:
// bench_conn_burst [rounds of the TV-like client per connection (8)]
#include <cstdio>
#include <cstdlib>

#include "burst_test.h"

int main(int argc, char **argv)
{
  if (!media_test::private_net().empty()) {
    std::fprintf(stderr, "no private network: %s\n", media_test::private_net().c_str());
    return 77;
  }
  uint32_t rounds = argc > 1 ? uint32_t(std::atoi(argv[1])) : 8;
  media_test::fixture f;
  burst_test::requests r;
  if (!burst_test::make(f, &r)) {
    std::fprintf(stderr, "the server did not start\n");
    return 1;
  }
  for (uint32_t size : {16u, 32u}) {
    uint32_t media = 0, device = 0;
    for (uint32_t sent = 0; sent < 80; sent += size) {
      uint32_t n = sent + size > 80 ? 80 - sent : size;
      media += burst_test::burst(r.media_port, r.picture, n, media_test::kRemote);
      device += burst_test::burst(r.device_port, r.desc, n, media_test::kRemote);
    }
    std::printf("bursts of %2u: media port %u of 80 answered 200, device port %u of 80\n", size, media, device);
  }
  for (int run = 0; run < 3; run++) {
    burst_test::tv_result t = burst_test::tv(r, 16, 16, rounds, media_test::kRemote);
    std::printf("TV-like client: %u requests, %u retries (%.0f %%), %u failed\n", t.requests, t.retries,
                t.requests ? 100.0 * t.retries / t.requests : 0.0, t.failed);
  }
  return 0;
}
