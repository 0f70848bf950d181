// Heap wrappers, byte primitives and the growing arrays.
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

// Huge requests below must fail with NULL rather than end the program.
extern "C" const char *__asan_default_options()
{
  return "allocator_may_return_null=1";
}
extern "C" const char *__tsan_default_options()
{
  return "allocator_may_return_null=1";
}

namespace {

std::string text(const sys_stralloc_rec &sa)
{
  return std::string(sa.buf, sa.len);
}

TEST(Heap, ReallocCopiesWhatFitsAndBytesCompareUnsigned)
{
  auto *p = static_cast<unsigned char *>(sys_alloc_zero(64));
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 64; i++) ASSERT_EQ(p[i], 0);
  for (int i = 0; i < 64; i++) p[i] = (unsigned char)i;
  void *v = p;
  ASSERT_EQ(sys_alloc_re(&v, 64, 128), 1);
  p = static_cast<unsigned char *>(v);
  for (int i = 0; i < 64; i++) ASSERT_EQ(p[i], i);
  // Shrinking copies only what the new block holds.
  ASSERT_EQ(sys_alloc_re(&v, 128, 8), 1);
  EXPECT_EQ(std::memcmp(v, "\0\1\2\3\4\5\6\7", 8), 0);
  sys_alloc_free(v);
  sys_alloc_free(nullptr);

  char a[] = "abcdefgh";
  sys_byte_copyr(a + 2, 5, a);  // overlapping, destination above
  EXPECT_STREQ(a, "ababcdeh");
  const unsigned char x[] = {1, 2, 0x80}, y[] = {1, 2, 0x01};
  EXPECT_EQ(sys_byte_diff(x, 2, y), 0);
  EXPECT_EQ(sys_byte_diff(x, 3, y), 0x7f);
}

TEST(Stralloc, GrowthLeavesRoomForTheTextAndItsGuard)
{
  sys_stralloc_rec sa{};
  ASSERT_EQ(sys_stralloc_cats(&sa, "abc"), 1);
  EXPECT_EQ(sa.len, 3u);
  EXPECT_GE(sa.a, 4u);
  EXPECT_EQ(std::memcmp(sa.buf, "abcZ", 4), 0);
  ASSERT_EQ(sys_stralloc_append(&sa, ""), 1);  // the NUL takes the guard's place
  EXPECT_EQ(sa.len, 4u);
  EXPECT_GE(sa.a, 4u);
  EXPECT_STREQ(sa.buf, "abc");
  ASSERT_EQ(sys_stralloc_append(&sa, "x"), 1);
  EXPECT_GE(sa.a, 6u);
  sa.len = 3;
  ASSERT_EQ(sys_stralloc_cats(&sa, "de"), 1);
  EXPECT_EQ(text(sa), "abcde");
  EXPECT_EQ(sa.buf[sa.len], 'Z');
  ASSERT_EQ(sys_stralloc_ready(&sa, 10), 1);
  EXPECT_GE(sa.a, 10u);
  char *before = sa.buf;
  ASSERT_EQ(sys_stralloc_ready(&sa, 10), 1);  // already room: nothing moves
  EXPECT_EQ(sa.buf, before);
  ASSERT_EQ(sys_stralloc_ready(&sa, 100), 1);
  EXPECT_GE(sa.a, 100u);
  EXPECT_EQ(text(sa), "abcde");
  sys_stralloc_free(&sa);
}

TEST(Stralloc, ReadyplusOnAnEmptyRecordIgnoresItsLength)
{
  sys_stralloc_rec sa{nullptr, 77, 0};
  ASSERT_EQ(sys_stralloc_readyplus(&sa, 5), 1);
  EXPECT_EQ(sa.len, 0u);
  EXPECT_GE(sa.a, 5u);
  ASSERT_EQ(sys_stralloc_copys(&sa, "hello"), 1);
  EXPECT_EQ(sys_stralloc_readyplus(&sa, UINT32_MAX - 2), 0);  // len + n wraps
  EXPECT_EQ(text(sa), "hello");
  sys_stralloc_free(&sa);
}

TEST(Stralloc, CopyCatAndStarts)
{
  sys_stralloc_rec a{}, b{};
  ASSERT_EQ(sys_stralloc_copyb(&a, "xyz", 2), 1);
  EXPECT_EQ(text(a), "xy");
  EXPECT_EQ(a.buf[2], 'Z');
  ASSERT_EQ(sys_stralloc_copys(&b, "-123"), 1);
  ASSERT_EQ(sys_stralloc_cat(&a, &b), 1);
  EXPECT_EQ(text(a), "xy-123");
  ASSERT_EQ(sys_stralloc_copy(&b, &a), 1);
  EXPECT_EQ(text(b), "xy-123");
  EXPECT_EQ(sys_stralloc_starts(&b, "xy-"), 1);
  EXPECT_EQ(sys_stralloc_starts(&b, ""), 1);
  EXPECT_EQ(sys_stralloc_starts(&b, "xy-1234"), 0);
  EXPECT_EQ(sys_stralloc_starts(&b, "y"), 0);
  ASSERT_EQ(sys_stralloc_catb(&b, "", 0), 1);
  ASSERT_EQ(sys_stralloc_catb(&b, nullptr, 0), 1);  // an empty record's buffer as the source
  EXPECT_EQ(text(b), "xy-123");
  EXPECT_EQ(b.buf[b.len], 'Z');
  sys_stralloc_free(&a);
  sys_stralloc_free(&b);
}

// A full array (len == a), so that the guard byte forces growth.
void full(sys_stralloc_rec *sa, const char *s)
{
  *sa = sys_stralloc_rec{};
  uint32_t n = sys_str_len(s);
  ASSERT_EQ(sys_stralloc_ready(sa, n), 1);
  for (uint32_t i = 0; i < n; i++) ASSERT_EQ(sys_stralloc_append(sa, s + i), 1);
  ASSERT_EQ(sa->a, sa->len);
}

TEST(Stralloc, SourceInsideTheArrayItselfSurvivesGrowth)
{
  sys_stralloc_rec sa;
  full(&sa, "abcdefg");
  ASSERT_EQ(sys_stralloc_cat(&sa, &sa), 1);
  EXPECT_EQ(text(sa), "abcdefgabcdefg");
  EXPECT_EQ(sa.buf[sa.len], 'Z');
  sys_stralloc_free(&sa);

  full(&sa, "abcdefg");
  ASSERT_EQ(sys_stralloc_copy(&sa, &sa), 1);
  EXPECT_EQ(text(sa), "abcdefg");
  EXPECT_EQ(sa.buf[sa.len], 'Z');
  ASSERT_EQ(sys_stralloc_copyb(&sa, sa.buf + 2, 3), 1);
  EXPECT_EQ(text(sa), "cde");
  sys_stralloc_free(&sa);
}

TEST(Memalloc, SharesTheTextBodiesWithoutGuard)
{
  sys_memalloc_rec ma{}, mb{};
  const unsigned char d[] = {0, 1, 2, 0};
  ASSERT_EQ(sys_memalloc_copyb(&ma, d, 4), 1);
  EXPECT_GE(ma.a, 4u);
  ASSERT_EQ(sys_memalloc_catb(&ma, d, 4), 1);
  EXPECT_GE(ma.a, 8u);
  ASSERT_EQ(sys_memalloc_copy(&mb, &ma), 1);
  ASSERT_EQ(sys_memalloc_cat(&mb, &ma), 1);
  ASSERT_EQ(mb.len, 16u);
  EXPECT_EQ(std::memcmp(mb.buf + 8, "\0\1\2\0\0\1\2\0", 8), 0);
  sys_memalloc_free(&ma);
  sys_memalloc_free(&mb);
}

TEST(Ptralloc, InsertAndRemoveBounds)
{
  sys_ptralloc_rec pa{};
  int x[4];
  EXPECT_EQ(sys_ptralloc_insert(&pa, 1, &x[0]), 0);
  ASSERT_EQ(sys_ptralloc_insert(&pa, 0, &x[1]), 1);
  EXPECT_GE(pa.a, 1u);
  ASSERT_EQ(sys_ptralloc_insert(&pa, 0, &x[0]), 1);
  EXPECT_GE(pa.a, 2u);
  ASSERT_EQ(sys_ptralloc_insert(&pa, 2, &x[3]), 1);  // index == len appends
  ASSERT_EQ(sys_ptralloc_insert(&pa, 2, &x[2]), 1);
  EXPECT_EQ(sys_ptralloc_insert(&pa, 5, &x[2]), 0);
  ASSERT_EQ(pa.len, 4u);
  for (int i = 0; i < 4; i++) EXPECT_EQ(pa.buf[i], &x[i]);
  EXPECT_EQ(sys_ptralloc_remove(&pa, 4), 0);
  ASSERT_EQ(sys_ptralloc_remove(&pa, 1), 1);
  ASSERT_EQ(sys_ptralloc_remove(&pa, 2), 1);
  ASSERT_EQ(pa.len, 2u);
  EXPECT_EQ(pa.buf[0], &x[0]);
  EXPECT_EQ(pa.buf[1], &x[2]);
  ASSERT_EQ(sys_ptralloc_append(&pa, nullptr), 1);
  EXPECT_EQ(pa.buf[2], nullptr);
  sys_ptralloc_free(&pa);
  EXPECT_NE(pa.buf, nullptr);  // the record keeps its fields
  sys_ptralloc_free(nullptr);
}

TEST(Ptralloc, FailedGrowthLeavesTheArrayAsItWas)
{
  sys_ptralloc_rec pa{};
  int x;
  ASSERT_EQ(sys_ptralloc_append(&pa, &x), 1);
  ASSERT_EQ(sys_ptralloc_append(&pa, &x), 1);
  void **buf = pa.buf;
  uint32_t a = pa.a;
  // Room for about 4 billion pointers is more than the machine has.
  EXPECT_EQ(sys_ptralloc_readyplus(&pa, UINT32_MAX - 2), 0);
  EXPECT_EQ(pa.buf, buf);
  EXPECT_EQ(pa.len, 2u);
  EXPECT_EQ(pa.a, a);
  EXPECT_EQ(pa.buf[1], &x);
  sys_ptralloc_free(&pa);
}

TEST(SmallArrays, GrowToHoldWhatIsAdded)
{
  sys_uint32alloc_rec ua{};
  for (uint32_t i = 0; i < 3; i++) ASSERT_EQ(sys_uint32alloc_append(&ua, i * 7), 1);
  EXPECT_GE(ua.a, 3u);
  ASSERT_EQ(sys_uint32alloc_remove(&ua, 0), 1);
  EXPECT_EQ(sys_uint32alloc_remove(&ua, 2), 0);
  EXPECT_EQ(ua.len, 2u);
  EXPECT_EQ(ua.buf[0], 7u);
  EXPECT_EQ(ua.buf[1], 14u);
  sys_uint32alloc_free(&ua);

  sockalloc_rec ka{};
  for (int i = 0; i < 3; i++) ASSERT_EQ(sockalloc_append(&ka, i + 3), 1);
  EXPECT_GE(ka.a, 3u);
  ASSERT_EQ(sockalloc_remove(&ka, 2), 1);
  EXPECT_EQ(ka.len, 2u);
  EXPECT_EQ(ka.buf[1], 4);
  sockalloc_free(&ka);
}

TEST(Wcsalloc, UnitsAndGuard)
{
  const sys_wchar abc[] = {'a', 'b', 0x3042, 0}, ab[] = {'a', 'b', 0};
  sys_wcsalloc_rec wa{};
  ASSERT_EQ(sys_wcsalloc_cats(&wa, abc), 1);
  EXPECT_EQ(wa.len, 3u);
  EXPECT_GE(wa.a, 4u);
  EXPECT_EQ(wa.buf[3], 0x005A);
  EXPECT_EQ(sys_wcsalloc_starts(&wa, ab), 1);
  ASSERT_EQ(sys_wcsalloc_cat(&wa, &wa), 1);
  ASSERT_EQ(wa.len, 6u);
  EXPECT_GE(wa.a, 7u);
  EXPECT_EQ(wa.buf[5], 0x3042);
  EXPECT_EQ(wa.buf[6], 0x005A);
  ASSERT_EQ(sys_wcsalloc_copys(&wa, ab), 1);
  EXPECT_EQ(wa.len, 2u);
  EXPECT_EQ(sys_wcsalloc_starts(&wa, abc), 0);
  sys_wcsalloc_free(&wa);
}

}  // namespace
