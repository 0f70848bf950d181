// URL parsing, joining, resolving, escaping and query lists.
#include <tarvo_util/uri.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct parsed {
  bool ok;
  std::string scheme, host, port, path, query;
};

parsed parse(const char *s)
{
  uri_rec u{};
  parsed p{uri_parse(&u, s) == 1, "", "", "", "", ""};
  if (p.ok) {
    p = {true, u.scheme, u.host, u.port, u.path, u.query};
    uri_free(&u);
  } else {
    EXPECT_EQ(u.scheme, nullptr) << "failed parse stored a part";
    EXPECT_EQ(u.path, nullptr);
  }
  return p;
}

std::string take(char *s)
{
  std::string r = s ? s : "(null)";
  sys_alloc_free(s);
  return r;
}

std::string resolve(const char *base, const char *ref)
{
  char *out = nullptr;
  if (!uri_resolve(base, ref, &out)) return "FAIL";
  return take(out);
}

std::vector<std::string> vec(sys_str_list l)
{
  std::vector<std::string> v;
  for (char **p = l; *p; p++) v.push_back(*p);
  sys_str_list_free(l);
  return v;
}

TEST(UriParse, AbsoluteUrlsSplitIntoFiveParts)
{
  auto p = parse("http://192.168.0.5:8080/desc.xml?x=1");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.scheme, "http");
  EXPECT_EQ(p.host, "192.168.0.5");
  EXPECT_EQ(p.port, "8080");
  EXPECT_EQ(p.path, "/desc.xml");
  EXPECT_EQ(p.query, "x=1");

  p = parse("http://a/b/c/d;p?q");
  EXPECT_EQ(p.host, "a");
  EXPECT_EQ(p.path, "/b/c/d;p");
  EXPECT_EQ(p.query, "q");

  p = parse("http://host");
  EXPECT_EQ(p.port, "");
  EXPECT_EQ(p.path, "/");
  p = parse("http://host:/");
  EXPECT_EQ(p.host, "host");
  EXPECT_EQ(p.port, "");
  // Only the first '?' splits.
  p = parse("http://h/p?a=1?b");
  EXPECT_EQ(p.path, "/p");
  EXPECT_EQ(p.query, "a=1?b");
}

TEST(UriParse, QueryRightAfterTheHostIsNotPartOfTheHost)
{
  auto p = parse("http://h:80?x=1");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.host, "h");
  EXPECT_EQ(p.port, "80");
  EXPECT_EQ(p.path, "/");
  EXPECT_EQ(p.query, "x=1");
}

TEST(UriParse, RequestTargets)
{
  auto p = parse("*");
  EXPECT_EQ(p.path, "*");
  EXPECT_EQ(p.scheme, "");
  p = parse("/a/b?c=d");
  EXPECT_EQ(p.path, "/a/b");
  EXPECT_EQ(p.query, "c=d");
  p = parse("rel/x");
  EXPECT_EQ(p.path, "/rel/x");
  p = parse("");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.path, "/");
  p = parse("?q");
  EXPECT_EQ(p.path, "/");
  EXPECT_EQ(p.query, "q");
}

TEST(UriParse, ColonOutsideASchemeBelongsToThePath)
{
  auto p = parse("/a:b");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.scheme, "");
  EXPECT_EQ(p.path, "/a:b");
  p = parse("/item?t=12:30:00");
  ASSERT_TRUE(p.ok);
  EXPECT_EQ(p.path, "/item");
  EXPECT_EQ(p.query, "t=12:30:00");
}

TEST(UriParse, MalformedAbsoluteUrlsFail)
{
  EXPECT_FALSE(parse("http:/x").ok);
  EXPECT_FALSE(parse("http://").ok);
  EXPECT_FALSE(parse("http:").ok);
  EXPECT_FALSE(parse("urn:x:y").ok);
  EXPECT_TRUE(parse("http:///x").ok);
}

TEST(UriGetString, WritesEveryDelimiter)
{
  uri_rec u{};
  ASSERT_TRUE(uri_parse(&u, "http://host/p"));
  char *s = nullptr;
  ASSERT_TRUE(uri_get_string(&u, &s));
  EXPECT_EQ(take(s), "http://host:/p?");
  uri_free(&u);

  ASSERT_TRUE(uri_parse(&u, "http://h:8080/a/b?x=1&y"));
  ASSERT_TRUE(uri_get_string(&u, &s));
  EXPECT_EQ(take(s), "http://h:8080/a/b?x=1&y");
  uri_free(&u);
  uri_free(nullptr);
}

TEST(UriResolve, RelativeReferences)
{
  // Forms RFC 3986 section 5.4.1 resolves the same way without dot-segment
  // removal.
  const char *b = "http://a/b/c/d;p?q";
  EXPECT_EQ(resolve(b, "g:h"), "g:h");
  EXPECT_EQ(resolve(b, "g"), "http://a/b/c/g");
  EXPECT_EQ(resolve(b, "g/"), "http://a/b/c/g/");
  EXPECT_EQ(resolve(b, "/g"), "http://a/g");
  EXPECT_EQ(resolve(b, "g?y"), "http://a/b/c/g?y");
  EXPECT_EQ(resolve(b, "g;x?y#s"), "http://a/b/c/g;x?y#s");

  EXPECT_EQ(resolve("http://h:80/dev/root.xml", "desc/x.xml"), "http://h:80/dev/desc/x.xml");
  EXPECT_EQ(resolve("http://h:80/dev/root.xml", "/x.xml"), "http://h:80/x.xml");
  EXPECT_EQ(resolve("http://h:80", "x.xml"), "http://h:80/x.xml");
  EXPECT_EQ(resolve("http://h:80", "/x.xml"), "http://h:80/x.xml");
  EXPECT_EQ(resolve("http://h:80/dev/root.xml", "http://o/y"), "http://o/y");
  EXPECT_EQ(resolve(nullptr, "http://o/y"), "http://o/y");
}

TEST(UriResolve, FailsWithoutAUsableBase)
{
  EXPECT_EQ(resolve("http://h/", nullptr), "FAIL");
  EXPECT_EQ(resolve(nullptr, "./x.xml"), "FAIL");
  EXPECT_EQ(resolve(nullptr, "/x.xml"), "FAIL");
  EXPECT_EQ(resolve("/local/path", "x"), "FAIL");
  EXPECT_EQ(resolve("http://", "x"), "FAIL");
}

TEST(UriRemovePathPrefix, KeepsPathAndQuery)
{
  char a[] = "http://h:80/a/b?c";
  EXPECT_TRUE(uri_remove_path_prefix(a));
  EXPECT_STREQ(a, "/a/b?c");
  char b[] = "http://h:80";
  EXPECT_TRUE(uri_remove_path_prefix(b));
  EXPECT_STREQ(b, "/");
  char c[] = "/already";
  EXPECT_TRUE(uri_remove_path_prefix(c));
  EXPECT_STREQ(c, "/already");
  char d[] = "h:80/x";
  EXPECT_FALSE(uri_remove_path_prefix(d));
  EXPECT_STREQ(d, "h:80/x");
}

TEST(UriEscape, EscapesOutsideTheUnreservedSet)
{
  char *s = nullptr;
  ASSERT_TRUE(uri_escape("a b/\xc3\xbc", &s));
  EXPECT_EQ(take(s), "a%20b/%c3%bc");
  ASSERT_TRUE(uri_escape("-_.!~*'()/09AZaz:?&=%+", &s));
  EXPECT_EQ(take(s), "-_.!~*'()/09AZaz%3a%3f%26%3d%25%2b");
  EXPECT_EQ(uri_should_escape("a%20b"), 0);
  EXPECT_EQ(uri_should_escape("a b"), 1);
  EXPECT_EQ(uri_should_escape("a/b.c"), 0);
  EXPECT_NE(uri_is_escaped("x%"), 0);
  EXPECT_EQ(uri_is_escaped("x"), 0);
}

TEST(UriEscape, EveryByteRoundTrips)
{
  std::string all;
  for (int c = 1; c < 256; c++) all += char(c);
  char *e = nullptr;
  ASSERT_TRUE(uri_escape(all.c_str(), &e));
  EXPECT_EQ(uri_should_escape(e), 0);
  std::string escaped = e;
  EXPECT_EQ(escaped.find_first_of(" +:?&=\x7f\x80\xff"), std::string::npos);
  uri_unescape(e);
  EXPECT_EQ(std::string(e), all);
  sys_alloc_free(e);
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
  EXPECT_EQ(un(""), "");
}

TEST(UriFromPath, FileUris)
{
  char *s = nullptr;
  ASSERT_TRUE(uri_from_path("/media/a b/c.mp3", &s));
  EXPECT_EQ(take(s), "file:///media/a%20b/c.mp3");
  ASSERT_TRUE(uri_from_path("//server/share/x", &s));
  EXPECT_EQ(take(s), "file://server/share/x");
  ASSERT_TRUE(uri_from_path("rel", &s));
  EXPECT_EQ(take(s), "file:///rel");
  // A backslash is part of a file name, not a separator.
  ASSERT_TRUE(uri_from_path("/a\\b", &s));
  EXPECT_EQ(take(s), "file:///a%5cb");
}

TEST(UriProtocolEqual, SchemeAndColon)
{
  EXPECT_EQ(uri_protocol_equal("HTTP://x", "http"), 1);
  EXPECT_EQ(uri_protocol_equal("http-get:*", "http"), 0);
  EXPECT_EQ(uri_protocol_equal("http", "http"), 0);
  EXPECT_EQ(uri_protocol_equal("htt:", "http"), 0);
}

TEST(UriParseQuery, PairsAreUnescaped)
{
  sys_str_list n = nullptr, v = nullptr;
  ASSERT_TRUE(uri_parse_query("a=1&b=%41+c", &n, &v));
  EXPECT_EQ(vec(n), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(vec(v), (std::vector<std::string>{"1", "A c"}));

  ASSERT_TRUE(uri_parse_query("a=&=b&c=x=y", &n, &v));
  EXPECT_EQ(vec(n), (std::vector<std::string>{"a", "", "c"}));
  EXPECT_EQ(vec(v), (std::vector<std::string>{"", "b", "x=y"}));
}

TEST(UriParseQuery, APairWithoutEqualsFailsTheWhole)
{
  for (const char *q : {"", "a=1&", "flag", "a=1&flag"}) {
    sys_str_list n = nullptr, v = nullptr;
    EXPECT_EQ(uri_parse_query(q, &n, &v), 0) << q;
    EXPECT_EQ(n, nullptr);
    EXPECT_EQ(v, nullptr);
  }
}

}  // namespace
