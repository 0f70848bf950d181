// links: tarvo_util
// UTF-16 to UTF-8 of 1 MB of mixed Latin and Japanese text, through the
// direct encoder and through the named-charset conversion.
#include <benchmark/benchmark.h>

#include <tarvo_util/charset.h>

#include <vector>

namespace {

std::vector<sys_wchar> sample()
{
  std::vector<sys_wchar> w;
  const sys_wchar piece[] = {u'T', u'i', u't', u'l', u'e', u' ', 0x756A, 0x7D44, 0x540D, 0x3042, 0xE9, u' '};
  while (w.size() < (1u << 19)) w.insert(w.end(), std::begin(piece), std::end(piece));
  w.resize(1u << 19);  // 1 MB of units
  w.push_back(0);
  return w;
}

void BM_utf8_from_wcs2(benchmark::State &st)
{
  auto w = sample();
  for (auto _ : st) {
    char *out;
    if (!utf8_from_wcs2(w.data(), &out)) st.SkipWithError("conversion failed");
    benchmark::DoNotOptimize(out);
    sys_alloc_free(out);
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * (1 << 20));
}

void BM_utf8_from2_utf16(benchmark::State &st)
{
  auto w = sample();
  for (auto _ : st) {
    char *out;
    if (!utf8_from2("UTF-16LE", reinterpret_cast<const char *>(w.data()), &out)) st.SkipWithError("conversion failed");
    benchmark::DoNotOptimize(out);
    sys_alloc_free(out);
  }
  st.SetBytesProcessed(int64_t(st.iterations()) * (1 << 20));
}

}  // namespace

BENCHMARK(BM_utf8_from_wcs2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_utf8_from2_utf16)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
