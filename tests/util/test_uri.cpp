// URL parsing, joining, resolving, escaping and query lists.
#include <tarvo_util/uri.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// "scheme|host|port|path|query", or "FAIL" (then nothing may be stored).
std::string parse(const char *s)
{
  uri_rec u{};
  if (!uri_parse(&u, s)) {
    EXPECT_EQ(u.scheme, nullptr) << s;
    return "FAIL";
  }
  std::string r = std::string(u.scheme) + "|" + u.host + "|" + u.port + "|" + u.path + "|" + u.query;
  uri_free(&u);
  return r;
}

std::string take(int ok, char *s)
{
  std::string r = ok ? s : "FAIL";
  if (ok) sys_alloc_free(s);
  return r;
}

std::string resolve(const char *base, const char *ref)
{
  char *out = nullptr;
  int ok = uri_resolve(base, ref, &out);
  return take(ok, out);
}

TEST(UriParse, SplitsIntoFiveParts)
{
  EXPECT_EQ(parse("http://192.168.0.5:8080/desc.xml?x=1"), "http|192.168.0.5|8080|/desc.xml|x=1");
  EXPECT_EQ(parse("http://a/b/c/d;p?q=1?2"), "http|a||/b/c/d;p|q=1?2");
  EXPECT_EQ(parse("http://host"), "http|host||/|");
  EXPECT_EQ(parse("http://host:/"), "http|host||/|");
  EXPECT_EQ(parse("http://h:80?x=1"), "http|h|80|/|x=1");
  EXPECT_EQ(parse("http:///x"), "http|||/x|");
  EXPECT_EQ(parse("*"), "|||*|");
  EXPECT_EQ(parse("rel/x?q"), "|||/rel/x|q");
  EXPECT_EQ(parse(""), "|||/|");
  // A ':' that does not follow a scheme name belongs to the path or query.
  EXPECT_EQ(parse("/a:b"), "|||/a:b|");
  EXPECT_EQ(parse("/item?t=12:30:00"), "|||/item|t=12:30:00");
  for (const char *bad : {"http:/x", "http://", "http:", "urn:x:y"}) EXPECT_EQ(parse(bad), "FAIL") << bad;
}

TEST(UriGetString, WritesEveryDelimiter)
{
  uri_rec u{};
  ASSERT_TRUE(uri_parse(&u, "http://host/p"));
  char *s = nullptr;
  int ok = uri_get_string(&u, &s);
  EXPECT_EQ(take(ok, s), "http://host:/p?");
  uri_free(&u);
  uri_free(nullptr);
}

TEST(UriResolve, RelativeReferences)
{
  // The forms RFC 3986 (5.4.1) resolves alike without dot-segment removal.
  const char *b = "http://a/b/c/d;p?q";
  EXPECT_EQ(resolve(b, "g:h"), "g:h");
  EXPECT_EQ(resolve(b, "g"), "http://a/b/c/g");
  EXPECT_EQ(resolve(b, "g/"), "http://a/b/c/g/");
  EXPECT_EQ(resolve(b, "/g"), "http://a/g");
  EXPECT_EQ(resolve(b, "g;x?y#s"), "http://a/b/c/g;x?y#s");

  EXPECT_EQ(resolve("http://h:80/dev/root.xml", "desc/x.xml"), "http://h:80/dev/desc/x.xml");
  EXPECT_EQ(resolve("http://h:80/dev/root.xml", "/x.xml"), "http://h:80/x.xml");
  EXPECT_EQ(resolve("http://h:80", "x.xml"), "http://h:80/x.xml");
  EXPECT_EQ(resolve("http://h:80", "/x.xml"), "http://h:80/x.xml");
  EXPECT_EQ(resolve(nullptr, "http://o/y"), "http://o/y");
  for (auto [base, ref] : std::vector<std::pair<const char *, const char *>>{
           {"http://h/", nullptr}, {nullptr, "./x"}, {nullptr, "/x"}, {"/local/path", "x"}, {"http://", "x"}})
    EXPECT_EQ(resolve(base, ref), "FAIL") << (base ? base : "NULL");
}

TEST(UriRemovePathPrefix, KeepsPathAndQuery)
{
  auto cut = [](std::string s) { return uri_remove_path_prefix(s.data()) ? std::string(s.c_str()) : "FAIL"; };
  EXPECT_EQ(cut("http://h:80/a/b?c"), "/a/b?c");
  EXPECT_EQ(cut("http://h:80"), "/");
  EXPECT_EQ(cut("/already"), "/already");
  EXPECT_EQ(cut("h:80/x"), "FAIL");
}

TEST(UriEscape, EscapesOutsideTheUnreservedSetAndRoundTrips)
{
  char *s = nullptr;
  int ok = uri_escape("a b/\xc3\xbc-_.!~*'()09AZaz:?&=%+\\", &s);
  EXPECT_EQ(take(ok, s), "a%20b/%c3%bc-_.!~*'()09AZaz%3a%3f%26%3d%25%2b%5c");
  EXPECT_EQ(uri_should_escape("a%20b"), 0);
  EXPECT_EQ(uri_should_escape("a b"), 1);
  EXPECT_EQ(uri_should_escape("a/b.c"), 0);

  std::string all;
  for (int c = 1; c < 256; c++) all += char(c);
  ASSERT_TRUE(uri_escape(all.c_str(), &s));
  EXPECT_EQ(uri_should_escape(s), 0);
  uri_unescape(s);
  EXPECT_EQ(std::string(s), all);
  sys_alloc_free(s);
}

TEST(UriUnescape, LenientDecoding)
{
  auto un = [](std::string s) {
    EXPECT_EQ(uri_unescape(s.data()), 1);
    return std::string(s.c_str());
  };
  EXPECT_EQ(un("a+b%41%4a%4A"), "a bAJJ");
  EXPECT_EQ(un("x%4"), "x@");
  EXPECT_EQ(un("x%"), "x%");
  EXPECT_EQ(un("%g1z"), "\x01z");
}

// The one %XX decoder in its three uses: a request path ('+' kept, a
// broken escape left as sent), a stored file name (a broken escape or a
// NUL fails it) and a form value (lenient).
TEST(UriPercentDecode, PathsNamesAndForms)
{
  auto dec = [](std::string s, uint32_t flags, uint32_t *n) {
    int ok = uri_percent_decode(s.data(), flags, n);
    return ok ? std::string(s.data(), *n) : std::string("FAIL");
  };
  uint32_t n = 0;
  EXPECT_EQ(dec("/a+b%20c%zz%4", 0, &n), "/a+b c%zz%4");
  EXPECT_EQ(dec("/x.mp3%00.png", 0, &n), std::string("/x.mp3\0.png", 11));
  EXPECT_EQ(n, 11u);
  EXPECT_EQ(dec("caf%E9+%25", URI_DECODE_STRICT, &n), "caf\xe9+%");
  EXPECT_EQ(dec("a%00b", URI_DECODE_STRICT, &n), "FAIL");
  EXPECT_EQ(dec("a%4", URI_DECODE_STRICT, &n), "FAIL");
  EXPECT_EQ(dec("a%g1", URI_DECODE_STRICT, &n), "FAIL");
  EXPECT_EQ(dec("a+%g1z", URI_DECODE_PLUS | URI_DECODE_LENIENT, &n), "a \x01z");
}

TEST(UriFromPath, FileUris)
{
  char *s = nullptr;
  int ok = uri_from_path("/media/a b/c.mp3", &s);
  EXPECT_EQ(take(ok, s), "file:///media/a%20b/c.mp3");
  ok = uri_from_path("//server/share/x", &s);
  EXPECT_EQ(take(ok, s), "file://server/share/x");
  // A backslash is part of a file name here, not a separator.
  ok = uri_from_path("/a\\b", &s);
  EXPECT_EQ(take(ok, s), "file:///a%5cb");
}

TEST(UriParseQuery, PairsAreUnescapedAndAPairWithoutEqualsFailsTheWhole)
{
  auto query = [](const char *q) {
    sys_str_list n = nullptr, v = nullptr;
    if (!uri_parse_query(q, &n, &v)) {
      EXPECT_EQ(n, nullptr);
      return std::string("FAIL");
    }
    std::string r;
    for (uint32_t i = 0; n[i]; i++) r += std::string(n[i]) + "=" + v[i] + ";";
    sys_str_list_free(n);
    sys_str_list_free(v);
    return r;
  };
  EXPECT_EQ(query("a=1&b=%41+c"), "a=1;b=A c;");
  EXPECT_EQ(query("a=&=b&c=x=y"), "a=;=b;c=x=y;");
  for (const char *bad : {"", "a=1&", "flag", "a=1&flag"}) EXPECT_EQ(query(bad), "FAIL") << bad;
}

}  // namespace
