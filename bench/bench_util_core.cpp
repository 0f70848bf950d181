// links: tarvo_util
// Appending to a text array, and sort_quick against std::sort.
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

// Many small appends of a few bytes each onto one array, as the writers of
// XML and HTTP headers do.
void BM_stralloc_small_appends(benchmark::State &state)
{
  const int count = int(state.range(0));
  for (auto _ : state) {
    sys_stralloc_rec sa{};
    for (int i = 0; i < count; i++) {
      sys_stralloc_cats(&sa, "<tag>");
      char c = char('a' + i % 26);
      sys_stralloc_append(&sa, &c);
    }
    benchmark::DoNotOptimize(sa.buf);
    sys_stralloc_free(&sa);
  }
  state.SetItemsProcessed(state.iterations() * count * 2);
}
BENCHMARK(BM_stralloc_small_appends)->Arg(1000)->Arg(100000);

std::vector<uint32_t> random_keys(size_t n)
{
  std::mt19937 rng(42);
  std::vector<uint32_t> v(n);
  for (auto &x : v) x = rng();
  return v;
}

int cmp_u32(const void *a, const void *b, void *)
{
  uint32_t x, y;
  std::memcpy(&x, a, 4);
  std::memcpy(&y, b, 4);
  return x < y ? -1 : x > y;
}

// Sorts a fresh copy of 1M random keys per iteration.
template <void (*Sort)(std::vector<uint32_t> &)> void BM_sort(benchmark::State &state)
{
  const auto keys = random_keys(size_t(state.range(0)));
  std::vector<uint32_t> v;
  for (auto _ : state) {
    state.PauseTiming();
    v = keys;
    state.ResumeTiming();
    Sort(v);
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void by_sort_quick(std::vector<uint32_t> &v)
{
  sort_quick(v.data(), uint32_t(v.size()), 4, nullptr, cmp_u32);
}

void by_std_sort(std::vector<uint32_t> &v)
{
  std::sort(v.begin(), v.end());
}

BENCHMARK(BM_sort<by_sort_quick>)->Name("BM_sort_quick")->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_sort<by_std_sort>)->Name("BM_std_sort")->Arg(1 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
