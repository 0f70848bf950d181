// Charset conversions: Unicode arrays, named charsets, the native charset
// and the charset guess.
#include <gtest/gtest.h>

#include <tarvo_util/charset.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The heap string a "2" call hands back, or "<fail>".
template <class F> std::string heap_text(F convert, size_t len = std::string::npos)
{
  char *out = nullptr;
  if (!convert(&out)) return "<fail>";
  std::string r(out, len == std::string::npos ? std::strlen(out) : len);
  sys_alloc_free(out);
  return r;
}

std::string from2(const char *cs, const std::string &text)
{
  return heap_text([&](char **o) { return utf8_from2(cs, text.c_str(), o); });
}

// The converted bytes without the terminator.
std::string to2(const char *cs, const std::string &utf8)
{
  uint32_t n;
  if (!utf8_to(cs, utf8.c_str(), nullptr, 0, &n)) return "<fail>";
  return heap_text([&](char **o) { return utf8_to2(cs, utf8.c_str(), o); }, n);
}

std::string native_to(const std::string &utf8)
{
  return heap_text([&](char **o) { return utf8_to_native2(utf8.c_str(), o); });
}

std::string native_from(const std::string &text)
{
  return heap_text([&](char **o) { return utf8_from_native2(text.c_str(), o); });
}

// Unit arrays handed to utf8_from need a terminating zero unit.
std::string units16be(std::initializer_list<uint16_t> u)
{
  std::string s;
  for (uint16_t v : u) s += {char(v >> 8), char(v & 0xFF)};
  return s + std::string(2, '\0');
}

std::string units32(std::initializer_list<uint32_t> u, bool big)
{
  std::string s;
  for (uint32_t v : u)
    for (int i = 0; i < 4; i++) s += char(v >> (big ? 24 - 8 * i : 8 * i));
  return s + std::string(4, '\0');
}

const std::string kNihongo = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // three kanji
const std::string kGrin = "\xF0\x9F\x98\x80";                          // U+1F600

}  // namespace

TEST(UnicodeArrays, DecodeKeepsOrReplacesAstralByUnitSize)
{
  std::string text = "a" + kGrin + "b";
  sys_wchar *w;
  ASSERT_EQ(utf8_to_wcs2(text.c_str(), &w), 1);
  EXPECT_EQ(w[0], u'a');
  EXPECT_EQ(w[1], 0xFFFD);
  EXPECT_EQ(w[2], u'b');
  EXPECT_EQ(w[3], 0);
  sys_alloc_free(w);

  void *u;
  ASSERT_EQ(utf8_to_ucs2(4, UTF8_ORDER_MACHINE, text.c_str(), &u), 1);
  auto *c = static_cast<uint32_t *>(u);
  EXPECT_EQ(c[1], 0x1F600u);
  EXPECT_EQ(c[3], 0u);
  sys_alloc_free(u);
}

TEST(UnicodeArrays, DecodeStopsAtIllegalSequences)
{
  const struct {
    const char *in;
    uint32_t units;
  } cases[] = {
    {"A\xC0\x80" "B", 1},          // overlong NUL
    {"A\xED\xA0\x80", 1},          // encoded surrogate
    {"A\xF4\x90\x80\x80", 1},      // beyond U+10FFFF
    {"A\xF8\x88\x80\x80\x80", 1},  // five-byte form
    {"AB\xE3\x81", 2},             // cut short by the end
    {"\xE3\x81\x82z", 2},
  };
  for (const auto &t : cases) {
    uint32_t n = 99;
    EXPECT_EQ(utf8_to_ucs(2, UTF8_ORDER_MACHINE, t.in, nullptr, 0, &n), 1);
    EXPECT_EQ(n, t.units) << t.in;
  }
  uint32_t n;
  EXPECT_EQ(utf8_to_ucs(3, UTF8_ORDER_MACHINE, "A", nullptr, 0, &n), 0);
}

TEST(UnicodeArrays, DecodeTruncatesWithTerminatorAndHonoursByteOrder)
{
  unsigned char b[8];
  uint32_t n;
  std::memset(b, 0xEE, sizeof b);
  ASSERT_EQ(utf8_to_ucs(2, UTF8_ORDER_BIG, "\xE3\x81\x82xyz", b, 3, &n), 1);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(std::string((char *)b, 6), std::string("\x30\x42\x00x\x00\x00", 6));
  EXPECT_EQ(b[6], 0xEE);

  ASSERT_EQ(utf8_to_ucs(4, UTF8_ORDER_LITTLE, "\xE3\x81\x82", b, 2, &n), 1);
  EXPECT_EQ(std::string((char *)b, 8), std::string("\x42\x30\x00\x00\x00\x00\x00\x00", 8));
}

TEST(UnicodeArrays, EncodeJoinsSurrogatePairsAndReplacesBadValues)
{
  const struct {
    std::vector<sys_wchar> in;
    std::string out;
  } cases[] = {
    {{0xD83D, 0xDE00, 0}, kGrin},
    {{u'a', 0xD83D, u'b', 0}, "a\xEF\xBF\xBD" "b"},  // lone high surrogate
    {{0xDE00, u'b', 0}, "\xEF\xBF\xBD" "b"},          // lone low surrogate
    {{0xD83D, 0}, "\xEF\xBF\xBD"},
    {{0x00E9, 0x20AC, 0}, "\xC3\xA9\xE2\x82\xAC"},
  };
  for (const auto &t : cases) {
    char *out;
    ASSERT_EQ(utf8_from_wcs2(t.in.data(), &out), 1);
    EXPECT_EQ(std::string(out), t.out);
    sys_alloc_free(out);
  }
  const uint32_t wide[] = {0x200000, 0x110000, 0xD800, 0x10FFFF, 0};
  char buf[32];
  uint32_t n;
  ASSERT_EQ(utf8_from_ucs(4, UTF8_ORDER_MACHINE, wide, buf, sizeof buf, &n), 1);
  EXPECT_EQ(std::string(buf, n), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xF4\x8F\xBF\xBF");
}

TEST(UnicodeArrays, EncodeWritesWholeCharactersAndTheNul)
{
  const sys_wchar ab[] = {u'a', u'b', 0x3042, 0};
  char buf[8];
  uint32_t n;
  std::memset(buf, 'x', sizeof buf);
  ASSERT_EQ(utf8_from_wcs(ab, buf, 4, &n), 1);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(std::string(buf, 4), std::string("ab\0x", 4));
  // A surrogate pair either fits as a whole or not at all.
  const sys_wchar pair[] = {u'a', 0xD83D, 0xDE00, 0};
  ASSERT_EQ(utf8_from_wcs(pair, buf, 5, &n), 1);
  EXPECT_EQ(n, 1u);
  ASSERT_EQ(utf8_from_wcs(pair, buf, 6, &n), 1);
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(utf8_from_wcs(pair, buf, 0, &n), 0);
}

TEST(NamedCharsets, RoundTrips)
{
  const std::string mixed = "A\xC3\xA9" + kNihongo + kGrin;
  for (const char *cs : {"UTF-16LE", "UTF-16BE", "UTF-16", "UCS-4LE", "UCS-4BE", "UTF-8", "utf8"})
    EXPECT_EQ(from2(cs, to2(cs, mixed) + std::string(4, '\0')), mixed) << cs;

  const struct {
    const char *cs;
    std::string utf8, bytes;
  } cases[] = {
    {"ISO-8859-1", "caf\xC3\xA9", "caf\xE9"},
    {"8859_5", "\xD0\x96", "\xB6"},
    {"SHIFT-JIS", kNihongo, "\x93\xFA\x96\x7B\x8C\xEA"},
    {"sjis", kNihongo, "\x93\xFA\x96\x7B\x8C\xEA"},
    {"CP932", kNihongo, "\x93\xFA\x96\x7B\x8C\xEA"},
    {"EUC-JP", kNihongo, "\xC6\xFC\xCB\xDC\xB8\xEC"},
    {"ISO-2022-JP", kNihongo, "\x1B$BF|K\\8l\x1B(B"},
    {"UCS-2BE", "\xC3\xA9", std::string("\x00\xE9", 2)},
  };
  for (const auto &t : cases) {
    EXPECT_EQ(to2(t.cs, t.utf8), t.bytes) << t.cs;
    EXPECT_EQ(from2(t.cs, t.bytes + std::string(2, '\0')), t.utf8) << t.cs;
  }
}

TEST(NamedCharsets, WideSourcesAreMeasuredByTheirUnitWidth)
{
  // Text whose units hold zero bytes must not end at the first of them.
  EXPECT_EQ(from2("UTF-16BE", units16be({u'O', u'K', 0x3042})), "OK\xE3\x81\x82");
  EXPECT_EQ(from2("UCS-4LE", units32({u'h', u'i', 0x1F600}, false)), "hi" + kGrin);
  EXPECT_EQ(from2("UCS-4", units32({u'h', u'i'}, true)), "hi");
}

TEST(NamedCharsets, UnconvertibleInputSkipsWholeUnits)
{
  // A lone surrogate or a value beyond Unicode is dropped; what follows
  // stays aligned.
  EXPECT_EQ(from2("UTF-16BE", units16be({u'a', 0xD800, u'b', u'c'})), "abc");
  EXPECT_EQ(from2("UCS-4BE", units32({u'a', 0x110000, u'b', 0xDC00, u'c'}, true)), "abc");
  EXPECT_EQ(from2("UCS-4LE", units32({u'a', 0x7FFFFFFF, u'b'}, false)), "ab");
  // Bytes that start no character in a byte charset are skipped alone.
  EXPECT_EQ(from2("SHIFT-JIS", "a\xFF" "b\x93\xFA"), "ab\xE6\x97\xA5");
  // Characters the target lacks vanish; the rest converts.
  EXPECT_EQ(to2("ISO-8859-1", "a" + kNihongo + "\xC3\xA9"), "a\xE9");
  EXPECT_EQ(to2("ISO-8859-1", "a\xFF" "b"), "ab");
}

TEST(NamedCharsets, JapaneseRemap)
{
  const std::string fullwidth_tilde = "\xEF\xBD\x9E";
  EXPECT_EQ(to2("EUC-JP", fullwidth_tilde), "\xA1\xC1");
  EXPECT_EQ(from2("EUC-JP", "\xA1\xC1"), fullwidth_tilde);
  EXPECT_EQ(to2("CP932", "\xEF\xBC\x8D"), "\x81\x7C");  // fullwidth hyphen-minus
  EXPECT_EQ(from2("CP932", "\x81\x60"), fullwidth_tilde);
  // Only the exact names remap: other names keep iconv's own mapping.
  EXPECT_EQ(from2("EUCJP", "\xA1\xC1"), "\xE3\x80\x9C");
}

TEST(NamedCharsets, NamesAndBuffers)
{
  uint32_t n;
  char buf[16];
  // utf8_to knows only its own names; utf8_from takes anything iconv knows.
  EXPECT_EQ(utf8_to("KOI8-R", "a", nullptr, 0, &n), 0);
  EXPECT_EQ(from2("KOI8-R", "\xE1"), "\xD0\x90");
  EXPECT_EQ(utf8_from("NO-SUCH-CHARSET", "a", nullptr, 0, &n), 0);
  EXPECT_EQ(to2("csShiftJIS", kNihongo), "\x93\xFA\x96\x7B\x8C\xEA");

  // The terminator is as wide as the charset's units.
  EXPECT_EQ(utf8_to("UTF-16LE", "ab", buf, 1, &n), 0);
  std::memset(buf, 'x', sizeof buf);
  ASSERT_EQ(utf8_to("UTF-16LE", "abc", buf, 6, &n), 1);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(std::string(buf, 7), std::string("a\0b\0\0\0x", 7));

  // A short buffer keeps whole characters only.
  ASSERT_EQ(utf8_to("UTF-8", kNihongo.c_str(), buf, 5, &n), 1);
  EXPECT_EQ(std::string(buf, n + 1), kNihongo.substr(0, 3) + '\0');
  ASSERT_EQ(utf8_from("EUC-JP", "\xC6\xFC\xCB\xDC", buf, 6, &n), 1);
  EXPECT_EQ(std::string(buf), kNihongo.substr(0, 3));
  EXPECT_EQ(utf8_from("EUC-JP", "a", buf, 0, &n), 0);
  ASSERT_EQ(utf8_from("ASCII", "abcdef", buf, 4, &n), 1);
  EXPECT_EQ(std::string(buf), "abc");
}

TEST(NativeCharset, FromTheEnvironmentOrTheLocale)
{
  // The native charset is worked out once per process: each case runs in a
  // process of its own.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
    {
      setenv("CHARACTER_ENCODING", "ISO-8859-1", 1);
      uint32_t n;
      bool ok = native_to("caf\xC3\xA9") == "caf\xE9";
      ok = ok && utf8_to_native(kNihongo.c_str(), nullptr, 0, &n) == 0;  // no Latin-1 form
      ok = ok && from2("ISO-8859-1", "\xE9") == "\xC3\xA9";               // the native path
      ok = ok && native_from("\xE9") == "\xC3\xA9";
      std::exit(ok ? 0 : 1);
    },
    testing::ExitedWithCode(0), "");
  EXPECT_EXIT(
    {
      unsetenv("CHARACTER_ENCODING");
      unsetenv("LC_ALL");
      unsetenv("LC_CTYPE");
      setenv("LANG", "C", 1);
      char buf[4];
      uint32_t n;
      // The C locale is taken as UTF-8; bytes that start no character go.
      bool ok = native_from("a\xFF" "b\xC3\xA9") == "ab\xC3\xA9";
      ok = ok && native_to(kNihongo) == kNihongo;
      ok = ok && utf8_to_native(kNihongo.c_str(), buf, 4, &n) && n == 3;
      ok = ok && utf8_to_native("a", buf, 0, &n) == 0;
      std::exit(ok ? 0 : 1);
    },
    testing::ExitedWithCode(0), "");
}

TEST(CharsetGuess, Results)
{
  const std::string sjis_kana = "\x82\xA0\x82\xA2\x82\xA4";  // hiragana a, i, u
  const std::string sjis_no_high = "\xE0\x40\xE0\x41\xE0\x42";
  const struct {
    std::string in;
    const char *want;
  } cases[] = {
    {"plain text\r\n\t", "ASCII"},
    {"\x1B$BF|\x1B(B", "UTF-8"},
    {"caf\xC3\xA9", "UTF-8"},
    {sjis_kana, "SHIFT-JIS"},
    {"\xC6\xFC\xCB\xDC\xB8\xEC", "EUC-JP"},
    {sjis_no_high, "ISO-8859-1"},  // too few 0x80-0x9F bytes and not EUC-JP
    {"\xE0\xE0\xE0\xE0", "EUC-JP"},
    {"caf\xE9 au lait", "ISO-8859-1"},
    {std::string("ok\0\xFF", 4), "ASCII"},  // a zero byte ends the text
  };
  for (const auto &t : cases)
    EXPECT_STREQ(charencoding_autodetect(t.in.data(), uint32_t(t.in.size())), t.want) << t.in;
  EXPECT_STREQ(charencoding_autodetect("\xFF", 0), "ASCII");

  // Only 256 bytes count, and a character cut at that edge is no fault.
  std::string long_utf8 = std::string(255, 'a') + kNihongo;
  EXPECT_STREQ(charencoding_autodetect(long_utf8.data(), uint32_t(long_utf8.size())), "UTF-8");
  std::string long_sjis;
  while (long_sjis.size() < 255) long_sjis += sjis_kana;
  long_sjis.resize(255);
  long_sjis += "\x82\xA0\xFF\xFF";
  EXPECT_STREQ(charencoding_autodetect(long_sjis.data(), uint32_t(long_sjis.size())), "SHIFT-JIS");
}
