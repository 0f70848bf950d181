// Strings, string lists, numbers, byte order, sorting and random numbers.
#include <tarvo_util/sys_str.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

// Runs a formatter for real and with buf NULL; both counts must agree.
template <class F> std::string fmt(F f)
{
  char buf[64];
  std::memset(buf, '#', sizeof buf);
  uint32_t n = f(buf), m = f(nullptr);
  EXPECT_EQ(n, m);
  EXPECT_EQ(buf[n], '#');  // no NUL, nothing past the count
  return std::string(buf, n);
}

TEST(Strings, SearchCompareAndFold)
{
  EXPECT_EQ(sys_str_chr("abc", 'z'), 3u);
  EXPECT_EQ(sys_str_rchr("a/b/c", '/'), 3u);
  EXPECT_EQ(sys_str_rchr("abc", '/'), 3u);
  EXPECT_EQ(sys_str_chrb("ab\0cd", 5, 'd'), 4u);
  EXPECT_EQ(sys_str_find("abc", ""), 0u);
  EXPECT_EQ(sys_str_find("abcabd", "abd"), 3u);
  EXPECT_EQ(sys_str_find("ab", "abc"), 2u);
  EXPECT_EQ(sys_str_case_find("Content-TYPE: x", "type:"), 8u);

  EXPECT_LT(sys_str_diff("ab", "abc"), 0);
  EXPECT_GT(sys_str_diff("\x80", "a"), 0);  // bytes compare unsigned
  EXPECT_EQ(sys_str_diffn("abcX", 3, "abcY"), 0);
  EXPECT_EQ(sys_str_case_diff("HeLLo", "hello"), 0);
  EXPECT_NE(sys_str_case_diff("\xc4", "\xe4"), 0);  // ASCII folding only
  // Exactly n bytes, past a NUL that both share.
  EXPECT_NE(sys_str_case_diffn("ab\0X", 4, "AB\0Y"), 0);
  EXPECT_EQ(sys_str_case_diffn("ab\0X", 3, "AB\0Y"), 0);

  EXPECT_EQ(sys_str_start("abc", ""), 1);
  EXPECT_EQ(sys_str_start("ab", "abc"), 0);
  EXPECT_EQ(sys_str_startn("abc", 2, "abc"), 0);
  EXPECT_EQ(sys_str_case_start("Range: x", "RANGE:"), 1);
  EXPECT_EQ(sys_str_case_startn("RANGE:", 3, "rang"), 0);

  char s[] = "Mixed \xc4 Case";
  sys_str_case_lower(s);
  EXPECT_STREQ(s, "mixed \xc4 case");
  sys_str_case_uppern(s, 3);
  EXPECT_STREQ(s, "MIXed \xc4 case");
  char *c = s;
  EXPECT_EQ(sys_str_clone(nullptr, &c), 1);
  EXPECT_EQ(c, nullptr);
}

TEST(Strings, Lists)
{
  char a[] = "one", b[] = "two", e[] = "";
  char *list[] = {a, b, e, nullptr};
  sys_str_list copy = nullptr;
  ASSERT_EQ(sys_str_list_clone(list, &copy), 1);
  EXPECT_NE(copy[0], a);
  EXPECT_EQ(copy[3], nullptr);
  EXPECT_EQ(sys_str_list_find(copy, "two"), 1u);
  EXPECT_EQ(sys_str_list_find(copy, ""), 2u);
  EXPECT_EQ(sys_str_list_find(copy, "TWO"), 3u);  // absent: the count
  EXPECT_EQ(sys_str_list_find(nullptr, "x"), 0u);
  sys_str_list_free(copy);
  ASSERT_EQ(sys_str_list_clone(nullptr, &copy), 1);
  EXPECT_EQ(copy, nullptr);
}

TEST(WideStrings, BehaveAsTheirByteTwins)
{
  const sys_wchar abc[] = {'a', 'B', 0x3042, 0}, abd[] = {'A', 'b', 0x3043, 0}, slash[] = {'/', 'x', '/', 0};
  EXPECT_EQ(sys_wcs_chr(abc, 'z'), 3u);
  EXPECT_EQ(sys_wcs_rchr(slash, '/'), 2u);
  EXPECT_EQ(sys_wcs_diff(abc, abd), 'a' - 'A');
  EXPECT_EQ(sys_wcs_diffn(abc, abd, 0), 0);  // count last here ...
  EXPECT_EQ(sys_wcs_case_diffn(abc, 2, abd), 0);  // ... and second here
  EXPECT_LT(sys_wcs_case_diffn(abc, 3, abd), 0);
  const sys_wchar x0[] = {'a', 0, 'x'}, y0[] = {'A', 0, 'y'};
  EXPECT_NE(sys_wcs_case_diffn(x0, 3, y0), 0);  // exactly n units
  sys_wchar *c = nullptr;
  ASSERT_EQ(sys_wcs_clone(abc, &c), 1);
  EXPECT_EQ(sys_wcs_diff(c, abc), 0);
  EXPECT_EQ(sys_wcs_start(c, abc), 1);
  EXPECT_EQ(sys_wcs_start(slash, abc), 0);
  sys_alloc_free(c);
}

TEST(Numbers, Formatting)
{
  EXPECT_EQ(sys_str_fmt_uint(nullptr, 0), 1u);
  EXPECT_EQ(fmt([](char *b) { return sys_str_fmt_uint16(b, 70000); }), "4464");
  EXPECT_EQ(fmt([](char *b) { return sys_str_fmt_int32(b, INT32_MIN); }), "-2147483648");
  EXPECT_EQ(fmt([](char *b) { return sys_str_fmt_int16(b, 40000); }), "-25536");
  EXPECT_EQ(fmt([](char *b) { return sys_str_fmt_int64(b, INT64_MIN); }), "-9223372036854775808");
  EXPECT_EQ(fmt([](char *b) { return sys_str_fmt_xint(b, 255); }), "ff");
  EXPECT_EQ(fmt([](char *b) { return sys_str_fmt_xint16(b, 0x12345); }), "2345");
  EXPECT_EQ(fmt([](char *b) { return sys_str_fmt_0uint(b, 5, 3); }), "005");
  EXPECT_EQ(fmt([](char *b) { return sys_str_fmt_0uint(b, 12345, 3); }), "12345");
  EXPECT_EQ(fmt([](char *b) { return sys_str_fmt_0uint16(b, 65536 + 7, 2); }), "07");
  EXPECT_EQ(fmt([](char *b) { return sys_str_fmt_0xint16(b, 0xabcde, 6); }), "00bcde");

  std::mt19937_64 rng(3);
  for (int i = 0; i < 5000; i++) {
    uint64_t u = rng() >> (rng() % 64);
    int64_t s = int64_t(rng()) >> (rng() % 64);
    char want[32];
    snprintf(want, sizeof want, "%llu", (unsigned long long)u);
    ASSERT_EQ(fmt([&](char *b) { return sys_str_fmt_uint64(b, u); }), want);
    snprintf(want, sizeof want, "%lld", (long long)s);
    ASSERT_EQ(fmt([&](char *b) { return sys_str_fmt_int64(b, s); }), want);
    snprintf(want, sizeof want, "%016llx", (unsigned long long)u);
    ASSERT_EQ(fmt([&](char *b) { return sys_str_fmt_0xint64(b, u, 16); }), want);
    snprintf(want, sizeof want, "%u", unsigned(u));
    ASSERT_EQ(fmt([&](char *b) { return sys_str_fmt_uint(b, uint32_t(u)); }), want);
  }
}

TEST(Numbers, Scanning)
{
  uint32_t u = 99;
  EXPECT_EQ(sys_str_scan_uint("12ab", &u), 2u);
  EXPECT_EQ(u, 12u);
  EXPECT_EQ(sys_str_scan_uint("x", &u), 0u);
  EXPECT_EQ(u, 0u);  // stores even when nothing was read
  EXPECT_EQ(sys_str_scan_uint32("4294967296", &u), 10u);
  EXPECT_EQ(u, 0u);  // wraps silently
  uint16_t u16;
  EXPECT_EQ(sys_str_scan_uint16("65537", &u16), 5u);
  EXPECT_EQ(u16, 1);

  int32_t i = 77;
  EXPECT_EQ(sys_str_scan_int("", &i), 0u);
  EXPECT_EQ(i, 77);  // nothing stored
  EXPECT_EQ(sys_str_scan_int("-", &i), 1u);
  EXPECT_EQ(i, 0);
  EXPECT_EQ(sys_str_scan_int("+15;", &i), 3u);
  EXPECT_EQ(i, 15);
  EXPECT_EQ(sys_str_scan_int32("-2147483648", &i), 11u);
  EXPECT_EQ(i, INT32_MIN);
  int64_t i64;
  EXPECT_EQ(sys_str_scan_int64("-9223372036854775808", &i64), 20u);
  EXPECT_EQ(i64, INT64_MIN);

  EXPECT_EQ(sys_str_scan_xint("fF0g", &u), 3u);
  EXPECT_EQ(u, 0xff0u);
  EXPECT_EQ(sys_str_scan_xint("0x10", &u), 1u);  // no prefix
  uint64_t u64;
  EXPECT_EQ(sys_str_scan_xint64("123456789abcdef0", &u64), 16u);
  EXPECT_EQ(u64, 0x123456789abcdef0ULL);
}

TEST(Numbers, ByteOrder)
{
  unsigned char b[9] = {0};
  sys_uint16_pack(b + 1, 0x1234);  // unaligned
  EXPECT_EQ(std::memcmp(b + 1, "\x34\x12", 2), 0);
  sys_uint32_pack_big(b + 1, 0x89abcdef);
  EXPECT_EQ(std::memcmp(b + 1, "\x89\xab\xcd\xef", 4), 0);
  sys_uint64_pack(b + 1, 0x0102030405060788ULL);
  EXPECT_EQ(std::memcmp(b + 1, "\x88\x07\x06\x05\x04\x03\x02\x01", 8), 0);
  uint16_t v16;
  uint32_t v32;
  uint64_t v64;
  sys_uint16_unpack_big(b + 1, &v16);
  EXPECT_EQ(v16, 0x8807);
  sys_uint32_unpack(b + 1, &v32);
  EXPECT_EQ(v32, 0x05060788u);
  sys_uint64_unpack_big(b + 1, &v64);
  EXPECT_EQ(v64, 0x8807060504030201ULL);
  sys_uint64_pack_big(b, 0xf1e2d3c4b5a69788ULL);
  sys_uint64_unpack_big(b, &v64);
  EXPECT_EQ(v64, 0xf1e2d3c4b5a69788ULL);
  sys_uint16_pack_big(b, 0xabcd);
  sys_uint16_unpack(b, &v16);
  EXPECT_EQ(v16, 0xcdab);
  sys_uint32_pack(b, 0xabcdef01);
  sys_uint32_unpack_big(b, &v32);
  EXPECT_EQ(v32, 0x01efcdabu);
  sys_uint64_unpack(b, &v64);
  EXPECT_EQ(uint32_t(v64), 0xabcdef01u);
}

// Comparison of 32-bit keys that counts its calls through the context.
struct counted {
  uint64_t calls = 0;
};

int cmp_u32(const void *a, const void *b, void *ctx)
{
  static_cast<counted *>(ctx)->calls++;
  uint32_t x, y;
  std::memcpy(&x, a, 4);
  std::memcpy(&y, b, 4);
  return x < y ? -1 : x > y;
}

// Sorts keys with sort_quick and checks the result against std::sort and
// the number of comparisons against n log n.
void check_sort(std::vector<uint32_t> keys, const char *what)
{
  std::vector<uint32_t> want = keys;
  std::sort(want.begin(), want.end());
  counted c;
  sort_quick(keys.data(), uint32_t(keys.size()), 4, &c, cmp_u32);
  EXPECT_EQ(keys, want) << what;
  double n = double(keys.size());
  EXPECT_LT(double(c.calls), 8 * n * std::log2(n + 2) + 100) << what << " n=" << keys.size();
}

TEST(SortQuick, MatchesStdSortOnRandomInput)
{
  std::mt19937 rng(11);
  for (uint32_t n : {0u, 1u, 2u, 6u, 7u, 8u, 40u, 41u, 100u, 1000u, 100000u}) {
    std::vector<uint32_t> k(n);
    for (auto &x : k) x = rng();
    check_sort(k, "random");
    for (auto &x : k) x = rng() % 3;
    check_sort(k, "three keys");
  }
}

TEST(SortQuick, StaysFastOnAdversarialPatterns)
{
  const uint32_t n = 50000;
  std::mt19937 rng(5);
  std::vector<uint32_t> k(n);
  std::iota(k.begin(), k.end(), 0);
  check_sort(k, "sorted");
  std::reverse(k.begin(), k.end());
  check_sort(k, "reversed");
  for (uint32_t i = 0; i < n; i++) k[i] = i < n / 2 ? i : n - i;
  check_sort(k, "organ pipe");
  for (uint32_t i = 0; i < n; i++) k[i] = i % 100;
  check_sort(k, "sawtooth");
  std::fill(k.begin(), k.end(), 42);
  check_sort(k, "all equal");
  for (uint32_t i = 0; i < n; i++) k[i] = i;
  for (int i = 0; i < 20; i++) std::swap(k[rng() % n], k[rng() % n]);
  check_sort(k, "nearly sorted");

  // Already split around the middle value, both halves shuffled: the
  // partition moves nothing, and a whole-range insertion sort would take
  // quadratic time.
  const uint32_t m = n / 2;
  k[0] = n + 1;
  for (uint32_t i = 1; i < m; i++) k[i] = i - 1;
  k[m] = m;
  for (uint32_t i = m + 1; i < n; i++) k[i] = i;
  std::shuffle(k.begin() + 1, k.begin() + m, rng);
  std::shuffle(k.begin() + m + 1, k.end(), rng);
  check_sort(k, "split halves");
}

TEST(SortQuick, WideUnalignedAndByteSizedElements)
{
  struct rec {
    uint32_t key, tag, pad;
  };
  std::mt19937 rng(9);
  std::vector<rec> v(3000);
  for (uint32_t i = 0; i < v.size(); i++) v[i] = {uint32_t(rng() % 500), i, 0xabcdef};
  auto by_key = [](const void *a, const void *b, void *) {
    return int(static_cast<const rec *>(a)->key) - int(static_cast<const rec *>(b)->key);
  };
  sort_quick(v.data(), uint32_t(v.size()), sizeof(rec), nullptr, by_key);
  std::vector<bool> seen(v.size());
  for (uint32_t i = 0; i < v.size(); i++) {
    if (i) {
      ASSERT_LE(v[i - 1].key, v[i].key);
    }
    ASSERT_EQ(v[i].pad, 0xabcdefu);  // whole records moved
    seen[v[i].tag] = true;
  }
  EXPECT_EQ(std::count(seen.begin(), seen.end(), true), long(v.size()));

  // Three-byte keys at an odd address are swapped byte by byte.
  std::vector<unsigned char> raw(1 + 3 * 2000);
  for (auto &b : raw) b = (unsigned char)rng();
  auto be24 = [](const unsigned char *p) { return (p[0] << 16) | (p[1] << 8) | p[2]; };
  auto cmp3 = [](const void *a, const void *b, void *) {
    auto p = static_cast<const unsigned char *>(a), q = static_cast<const unsigned char *>(b);
    return std::memcmp(p, q, 3);
  };
  std::vector<int> want;
  for (size_t i = 1; i < raw.size(); i += 3) want.push_back(be24(&raw[i]));
  std::sort(want.begin(), want.end());
  sort_quick(raw.data() + 1, 2000, 3, nullptr, cmp3);
  for (size_t i = 0; i < want.size(); i++) ASSERT_EQ(be24(&raw[1 + 3 * i]), want[i]);

  // Four-byte elements at an address that is not a multiple of four.
  std::vector<unsigned char> odd(1 + 4 * 500);
  for (auto &b : odd) b = (unsigned char)rng();
  std::vector<uint32_t> keys(500);
  std::memcpy(keys.data(), odd.data() + 1, 4 * 500);
  std::sort(keys.begin(), keys.end());
  counted c;
  sort_quick(odd.data() + 1, 500, 4, &c, cmp_u32);
  std::vector<uint32_t> got(500);
  std::memcpy(got.data(), odd.data() + 1, 4 * 500);
  EXPECT_EQ(got, keys);
}

TEST(Random, RangeAndRepeatability)
{
  sys_random_init(1234);
  std::vector<int> a;
  for (int i = 0; i < 10000; i++) a.push_back(sys_random());
  for (int x : a) ASSERT_TRUE(x >= 0 && x <= 32767);
  EXPECT_GT(*std::max_element(a.begin(), a.end()), 32000);
  EXPECT_LT(*std::min_element(a.begin(), a.end()), 700);
  sys_random_init(1234);
  for (int x : a) ASSERT_EQ(sys_random(), x);
}

TEST(Random, SeveralThreadsShareOneSequence)
{
  // Threads drawing from one seed together get exactly the values that one
  // thread gets alone: no step is lost or taken twice.
  const int threads = 8, each = 20000;
  sys_random_init(77);
  std::vector<int> alone(threads * each);
  for (int &x : alone) x = sys_random();
  sys_random_init(77);
  std::vector<std::vector<int>> got(threads);
  std::vector<std::thread> ts;
  for (int t = 0; t < threads; t++)
    ts.emplace_back([&, t] {
      for (int i = 0; i < each; i++) got[t].push_back(sys_random());
    });
  for (auto &t : ts) t.join();
  std::vector<int> together;
  for (auto &g : got) together.insert(together.end(), g.begin(), g.end());
  std::sort(alone.begin(), alone.end());
  std::sort(together.begin(), together.end());
  EXPECT_EQ(together, alone);
}

}  // namespace

// Formats from data files: only the first two %s and %% are read; a
// hostile %n, %x or a third %s is copied as text, and the output is cut.
TEST(FormatTexts, OnlyTwoStringsAndPercent)
{
  char out[64];
  EXPECT_EQ(sys_str_format_texts(out, sizeof out, "Version %s (%s) 100%%", "1.2", "x64"), 22u);
  EXPECT_STREQ(out, "Version 1.2 (x64) 100%");
  sys_str_format_texts(out, sizeof out, "%s %n %x %s %s %d", "a", nullptr);
  EXPECT_STREQ(out, "a %n %x  %s %d");
  EXPECT_EQ(sys_str_format_texts(out, 5, "%s!", "abcdef", nullptr), 7u);
  EXPECT_STREQ(out, "abcd");
  EXPECT_EQ(sys_str_format_texts(nullptr, 0, "trailing %", nullptr, nullptr), 10u);
}
