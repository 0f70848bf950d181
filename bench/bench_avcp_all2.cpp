// links: tarvo_avcp tarvo_cp tarvo_device tarvo_util
// One BrowseDirectChildren to 8 servers of 100 children each at once, in a
// network namespace of its own, against the same 8 asked one after another
// through the device-addressed call; then again with one server answering
// 2 s late, and with every server 250 ms late.  The wall time of the
// multi-server call should be that of the slowest server, not the sum.
//   bench_avcp_all2 [rounds]
#include <tarvo_avcp/tarvo_avcp.h>
#include <tarvo_util/sys_owner.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sched.h>
#include <string>
#include <thread>
#include <vector>

#include "../tests/avcp/cds_fixture.h"

namespace {

constexpr int kServers = 8;
constexpr int kChildren = 100;

double ms_since(std::chrono::steady_clock::time_point t0)
{
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// Milliseconds of the best of rounds; objects: the objects of the last.
double all2(tarvo_cp_ctx **cp, char *const *udns, int rounds, size_t *records, size_t *objects)
{
  double best = 1e18;
  for (int r = 0; r < rounds; r++) {
    tarvo_avcp_search_result **got = nullptr;
    auto t0 = std::chrono::steady_clock::now();
    if (tarvo_avcp_browse_direct_children_all2(cp, udns, "0", "*", &got) != 0) return -1;
    best = std::min(best, ms_since(t0));
    *records = *objects = 0;
    for (size_t i = 0; got[i]; i++, ++*records)
      for (size_t k = 0; got[i]->objects[k]; k++) ++*objects;
    tarvo_avcp_search_result_list_free(got);
  }
  return best;
}

double one_by_one(tarvo_cp_ctx **cp, char *const *udns, int rounds)
{
  double best = 1e18;
  for (int r = 0; r < rounds; r++) {
    auto t0 = std::chrono::steady_clock::now();
    for (size_t i = 0; udns[i]; i++) {
      avcp_didl_object_list list = nullptr;
      uint32_t n, total, update;
      if (tarvo_avcp_browse_direct_children(cp, udns[i], "0", "*", 0, 0, "", &list, &n, &total, &update)) return -1;
      avcp_didl_object_list_free(list);
    }
    best = std::min(best, ms_since(t0));
  }
  return best;
}

}  // namespace

int main(int argc, char **argv)
{
  int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
  if (unshare(CLONE_NEWNET) != 0 || std::system("ip link set lo up")) {
    std::fprintf(stderr, "bench_avcp_all2: needs a network namespace of its own (run as root)\n");
    return 1;
  }
  std::vector<std::unique_ptr<cds_fixture::server>> servers;
  own::str_list udns;
  udns.l = static_cast<sys_str_list>(sys_alloc_zero((kServers + 1) * sizeof(char *)));
  for (int i = 0; i < kServers; i++) {
    auto s = std::make_unique<cds_fixture::server>();
    s->index = i;
    s->port = uint16_t(32400 + i);
    s->children = kChildren;
    if (!s->start()) {
      std::fprintf(stderr, "bench_avcp_all2: server %d did not start\n", i);
      return 1;
    }
    sys_str_clone(cds_fixture::udn_of(i).c_str(), &udns.l[i]);
    servers.push_back(std::move(s));
  }
  tarvo_cp_ctx *cp = nullptr;
  if (!tarvo_cp_start(&cp, nullptr, 0, nullptr)) return 1;
  if (!cds_fixture::discover(&cp, servers)) return 1;
  size_t records = 0, objects = 0;
  double fast = all2(&cp, udns.l, rounds, &records, &objects);
  double seq = one_by_one(&cp, udns.l, rounds);
  std::printf("8 servers x %d children, all answering at once\n", kChildren);
  std::printf("  all2 (one request to every server): %9.2f ms  (%zu records, %zu objects)\n", fast, records, objects);
  std::printf("  one server after another:           %9.2f ms\n", seq);
  servers[5]->delay_ms = 2000;
  int slow_rounds = rounds < 2 ? rounds : 2;
  double late = all2(&cp, udns.l, slow_rounds, &records, &objects);
  double late_seq = one_by_one(&cp, udns.l, 1);
  std::printf("one server 2000 ms late\n");
  std::printf("  all2 (one request to every server): %9.2f ms  (%zu records, %zu objects)\n", late, records, objects);
  std::printf("  one server after another:           %9.2f ms\n", late_seq);
  for (auto &s : servers) s->delay_ms = 250;
  double each = all2(&cp, udns.l, 1, &records, &objects);
  double each_seq = one_by_one(&cp, udns.l, 1);
  std::printf("every server 250 ms late\n");
  std::printf("  all2 (one request to every server): %9.2f ms  (%zu records, %zu objects)\n", each, records, objects);
  std::printf("  one server after another:           %9.2f ms\n", each_seq);
  tarvo_cp_end(&cp);
  return fast < 0 || late < 0 ? 1 : 0;
}
