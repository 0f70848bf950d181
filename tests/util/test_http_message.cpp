// Header lines, normalisation, header values, start lines and dates.
#include <tarvo_util/http_message.h>

#include "net_test.h"
#include "tarvo_live.h"
#include "tarvo_test.h"

#include <fcntl.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

using net_test::tcp_pair;

namespace {

std::string text(const sys_stralloc_rec &sa) { return std::string(sa.buf ? sa.buf : "", sa.len); }

std::vector<std::string> to_vector(sys_str_list l)
{
  std::vector<std::string> v;
  for (char **p = l; p && *p; p++) v.emplace_back(*p);
  return v;
}

std::string normalized(std::string s)
{
  s.resize(http_header_normalize(s.data(), uint32_t(s.size())));
  return s;
}

// Reads a header block over a loopback socket while a writer thread sends
// the given pieces, pausing pause_ms before each, until the read ends.
struct block_read {
  tcp_pair t;
  char store[512];
  sys_socketbuffer_rec sb;
  std::vector<std::string> lines;
  int ok = 0;

  block_read(const std::vector<std::string> &pieces, uint32_t timeout_ms = 2000, int pause_ms = 0)
  {
    sys_socket_ndelay_on(t.a);
    sys_socketbuffer_init(&sb, t.a, store, sizeof store, timeout_ms);
    std::atomic<bool> read_done{false};
    std::thread w([&] {
      for (const auto &p : pieces) {
        if (pause_ms) std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
        if (read_done) break;
        if (!sys_socket_allsend(t.b, p.data(), uint32_t(p.size()))) break;
      }
      sys_socket_shutdown(t.b, 1);
    });
    sys_str_list l = nullptr;
    ok = http_header_read(&sb, &l);
    read_done = true;
    lines = to_vector(l);
    sys_str_list_free(l);
    sys_socket_shutdown(t.a, 2);
    w.join();
  }
};

}  // namespace

TEST(HttpHeader, Normalize)
{
  EXPECT_EQ(normalized("Content-Length : 12"), "Content-Length:12");
  EXPECT_EQ(normalized("HOST:  a:80"), "HOST:a:80");
  EXPECT_EQ(normalized("X \t:\t y z "), "X:y z ");
  EXPECT_EQ(normalized("NoColon here"), "NoColon here");
  EXPECT_EQ(normalized("  : value"), "  : value");
  EXPECT_EQ(normalized(":v"), ":v");
  EXPECT_EQ(normalized(" X: a"), " X:a");
  EXPECT_EQ(normalized("A:"), "A:");
  EXPECT_EQ(normalized("A :  "), "A:");
}

TEST(HttpHeader, ReadJoinsContinuationsAndDropsBareLfLines)
{
  block_read a({"A: 1\nB: 2\r\n\r\n"});
  ASSERT_TRUE(a.ok);
  EXPECT_EQ(a.lines, std::vector<std::string>{"B:2"});

  block_read b({"X: a\r\n", " b\r\n\tc\r\nHost :  h:1\r\n", "\r\nnext"});
  ASSERT_TRUE(b.ok);
  EXPECT_EQ(b.lines, (std::vector<std::string>{"X:a b\tc", "Host:h:1"}));

  block_read empty({"\r\n"});
  ASSERT_TRUE(empty.ok);
  EXPECT_TRUE(empty.lines.empty());

  // The stream ends before the empty line.
  block_read cut({"A: 1\r\nB: 2\r\n"});
  EXPECT_FALSE(cut.ok);
}

TEST(HttpHeader, SingleLines)
{
  tcp_pair t;
  sys_socket_ndelay_on(t.a);
  char store[16];
  sys_socketbuffer_rec sb;
  sys_socketbuffer_init(&sb, t.a, store, sizeof store, 2000);
  net_test::send_all(t.b, "\n\nskip\nGET / HTTP/1.1\r\nlonger than the buffer line\r\ntail");
  sys_socket_shutdown(t.b, 1);
  sys_stralloc_rec sa{};
  ASSERT_TRUE(http_header_readline(&sb, &sa));
  EXPECT_EQ(text(sa), "GET / HTTP/1.1");
  ASSERT_TRUE(http_header_readline(&sb, &sa));
  EXPECT_EQ(text(sa), "longer than the buffer line");
  EXPECT_FALSE(http_header_readline(&sb, &sa));  // "tail" has no CR LF

  // In memory a LF without CR stays in the line.
  std::string d = "a\nb\r\nc", e = "\nx\r\n", g = std::string(HTTP_HEADER_LINE_MAX + 1, 'a') + "\r\n";
  uint32_t pos = 0;
  ASSERT_TRUE(http_header_readline2(d.data(), uint32_t(d.size()), &pos, &sa));
  EXPECT_EQ(text(sa), "a\nb");
  EXPECT_EQ(pos, 5u);
  EXPECT_FALSE(http_header_readline2(d.data(), uint32_t(d.size()), &pos, &sa));
  EXPECT_EQ(pos, 5u);
  pos = 0;
  ASSERT_TRUE(http_header_readline2(e.data(), uint32_t(e.size()), &pos, &sa));
  EXPECT_EQ(text(sa), "\nx");
  pos = 0;
  EXPECT_FALSE(http_header_readline2(g.data(), uint32_t(g.size()), &pos, &sa));
  sys_stralloc_free(&sa);
}

TEST(HttpHeader, ReadFromFileBufferAcceptsBareLf)
{
  tarvo_test::scratch_dir d;
  tarvo_test::write_file(d / "h", "A: 1\nB: 2\r\nC:\n  3\n\nbody");
  tarvo_test::write_file(d / "cut", "A: 1\n");
  char store[8];
  sys_filebuffer_rec fb;
  sys_str_list l = nullptr;
  int fd = open((d / "h").c_str(), O_RDONLY | O_CLOEXEC);
  sys_filebuffer_init(&fb, fd, store, sizeof store);
  ASSERT_TRUE(http_header_readf(&fb, &l));
  EXPECT_EQ(to_vector(l), (std::vector<std::string>{"A:1", "B:2", "C:3"}));
  sys_str_list_free(l);
  sys_stralloc_rec sa{};
  EXPECT_FALSE(http_header_readlinef(&fb, &sa));  // "body" ends without LF
  sys_stralloc_free(&sa);
  close(fd);
  fd = open((d / "cut").c_str(), O_RDONLY | O_CLOEXEC);
  sys_filebuffer_init(&fb, fd, store, sizeof store);
  EXPECT_FALSE(http_header_readf(&fb, &l));
  close(fd);
}

TEST(HttpHeader, ReadingIsBounded)
{
  std::string line_max = "X: " + std::string(HTTP_HEADER_LINE_MAX - 3, 'a') + "\r\n";
  block_read at_limit({line_max, "\r\n"});
  EXPECT_TRUE(at_limit.ok);
  block_read long_line({"X: " + std::string(HTTP_HEADER_LINE_MAX, 'a') + "\r\n\r\n"});
  EXPECT_FALSE(long_line.ok);
  // Continuations count toward the joined line.
  std::string half(HTTP_HEADER_LINE_MAX / 2, 'b');
  block_read joined({"X: " + half + "\r\n", " " + half + "\r\n\r\n"});
  EXPECT_FALSE(joined.ok);

  std::string many;
  for (int i = 0; i < HTTP_HEADER_LINES_MAX; i++) many += "H" + std::to_string(i) + ": v\r\n";
  block_read thousand({many, "\r\n"});
  EXPECT_TRUE(thousand.ok);
  EXPECT_EQ(thousand.lines.size(), size_t(HTTP_HEADER_LINES_MAX));
  block_read too_many({many, "One-more: v\r\n\r\n"});
  EXPECT_FALSE(too_many.ok);

  std::string big;
  for (int i = 0; i < 20; i++) big += "B" + std::to_string(i) + ": " + std::string(60000, 'c') + "\r\n";
  block_read too_big({big, "\r\n"});
  EXPECT_FALSE(too_big.ok);

  // Bare-LF lines are dropped but still counted.
  block_read lf_flood({std::string(HTTP_HEADER_BLOCK_MAX + 10, '\n'), "\r\n"}, 5000);
  EXPECT_FALSE(lf_flood.ok);
}

TEST(HttpHeader, SlowSenderCannotStretchTheRead)
{
  // Every piece comes well within the timeout, the whole block does not.
  std::vector<std::string> drip;
  // A read stretched by each piece would last 40 s, past the liveness bound.
  for (int i = 0; i < 400; i++) drip.push_back("X" + std::to_string(i) + ": 1\r\n");
  drip.push_back("\r\n");
  auto t0 = std::chrono::steady_clock::now();
  block_read slow(drip, 1000, 100);
  EXPECT_FALSE(slow.ok);
  EXPECT_TRUE(sys_socketbuffer_is_timeout(&slow.sb));
  EXPECT_LT(net_test::ms_since(t0), tarvo_test::kLiveMs);

  block_read quick({"A: 1\r\n", "B: 2\r\n", "\r\n"}, 1000, 100);
  EXPECT_TRUE(quick.ok);

  // The same holds for one line.
  tcp_pair t;
  sys_socket_ndelay_on(t.a);
  char store[64];
  sys_socketbuffer_rec sb;
  sys_socketbuffer_init(&sb, t.a, store, sizeof store, 600);
  std::atomic<bool> read_done{false};
  std::thread w([&] {
    for (int i = 0; i < 400 && !read_done; i++) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (!sys_socket_allsend(t.b, "a", 1)) break;
    }
  });
  sys_stralloc_rec sa{};
  t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(http_header_readline(&sb, &sa));
  read_done = true;
  EXPECT_LT(net_test::ms_since(t0), tarvo_test::kLiveMs);
  sys_socket_shutdown(t.a, 2);
  w.join();
  sys_stralloc_free(&sa);
}

TEST(HttpHeader, Values)
{
  EXPECT_EQ(http_header_skipspace(" \t x"), 3u);
  EXPECT_TRUE(http_header_value_case_equal("connection:Close", 11, "close"));
  EXPECT_FALSE(http_header_value_case_equal("connection:Closed", 11, "close"));
  EXPECT_TRUE(http_header_value_case_equal("connection:close keep", 11, "close"));
  EXPECT_FALSE(http_header_value_equal("connection:Close", 11, "close"));
  EXPECT_TRUE(http_header_value_equal("HOST:239.255.255.250:1900", 5, "239.255.255.250:1900"));
  EXPECT_FALSE(http_header_value_equal("HOST:239.255.255.250:1900", 5, "239.255.255.250"));

  sys_stralloc_rec sa{};
  ASSERT_TRUE(http_header_value_get("ST:urn:x \t ", 3, &sa));
  EXPECT_EQ(text(sa), "urn:x");
  ASSERT_TRUE(http_header_value_get_timeout("TIMEOUT:Second-1800 ", 8, &sa));
  EXPECT_EQ(text(sa), "1800");
  EXPECT_FALSE(http_header_value_get_timeout("TIMEOUT:infinite", 8, &sa));

  uint32_t n = 7;
  EXPECT_EQ(http_header_value_scan_uint("content-length:4294967295", 15, &n), 10u);
  EXPECT_EQ(n, 4294967295u);
  EXPECT_EQ(http_header_value_scan_uint("content-length:4294967296", 15, &n), 0u);
  EXPECT_EQ(http_header_value_scan_uint("content-length:x", 15, &n), 0u);
  uint64_t n64;
  EXPECT_EQ(http_header_value_scan_uint64("content-length:18446744073709551615", 15, &n64), 20u);
  EXPECT_EQ(n64, UINT64_MAX);
  EXPECT_EQ(http_header_value_scan_uint64("content-length:18446744073709551616", 15, &n64), 0u);

  n = 5;
  EXPECT_TRUE(http_header_value_get_cache_control_max_age("CACHE-CONTROL:max-age = 1800", 14, &n));
  EXPECT_EQ(n, 1800u);
  EXPECT_TRUE(http_header_value_get_cache_control_max_age("CACHE-CONTROL:MAX-AGE=", 14, &n));
  EXPECT_FALSE(http_header_value_get_cache_control_max_age("CACHE-CONTROL:max-age 10", 14, &n));
  EXPECT_FALSE(http_header_value_get_cache_control_max_age("CACHE-CONTROL:no-cache", 14, &n));
  sys_stralloc_free(&sa);
}

TEST(HttpHeader, TimeSeekRange)
{
  struct c { const char *v; int ok; int64_t s, e; int has_end; };
  const c cases[] = {
      {"npt=10.5-", 1, 10500, 0, 0},
      {"npt = 0:01:00.250 - 0:02:00/0:10:00", 1, 60250, 120000, 1},
      {"NPT=1-2 ", 1, 1000, 2000, 1},
      {"npt=5-/*", 1, 5000, 0, 0},
      {"npt=5-7/ 600", 1, 5000, 7000, 1},
      {"npt=5-x", 0, 0, 0, 0},
      {"npt=5", 0, 0, 0, 0},
      {"npt=-5", 0, 0, 0, 0},
      {"npt 5-", 0, 0, 0, 0},
      {"bytes=5-", 0, 0, 0, 0},
      {"npt=5-6/", 0, 0, 0, 0},
      {"npt=5-6 7", 0, 0, 0, 0},
  };
  for (const c &x : cases) {
    std::string line = std::string("TimeSeekRange.dlna.org:") + x.v;
    int64_t s = -1, e = -1;
    int has = -1;
    int r = http_header_value_get_time_seek_range_dlna_request(line.c_str(), 23, &s, &e, &has);
    EXPECT_EQ(r, x.ok) << x.v;
    if (!r || !x.ok) continue;
    EXPECT_EQ(s, x.s) << x.v;
    EXPECT_EQ(e, x.e) << x.v;
    EXPECT_EQ(has, x.has_end) << x.v;
    EXPECT_EQ(http_header_value_get_time_seek_range_dlna_response(line.c_str(), 23, &s, &e, &has), 1);
  }
}

TEST(HttpStartLine, RequestAndStatusLines)
{
  struct c { std::string line; int ok; const char *method, *path, *query, *version; };
  const c req[] = {
      {"GET   /a?b   HTTP/1.1", 1, "GET", "/a", "b", "HTTP/1.1"},
      {" GET / HTTP/1.1", 1, "", "/GET", "", "/"},
      {"GET http://h:8080/x?y HTTP/1.0 extra", 1, "GET", "/x", "y", "HTTP/1.0"},
      {"GET http:/x HTTP/1.1", 0, "", "", "", ""},
      {std::string("GET /a\0b HTTP/1.1", 17), 0, "", "", "", ""},
  };
  for (const c &x : req) {
    sys_stralloc_rec sa{};
    sys_stralloc_copyb(&sa, x.line.data(), uint32_t(x.line.size()));
    http_request_startline_rec r{};
    ASSERT_EQ(http_request_startline_parse(&r, &sa), x.ok) << x.line;
    if (x.ok) {
      EXPECT_STREQ(r.method, x.method);
      EXPECT_STREQ(r.uri.path, x.path);
      EXPECT_STREQ(r.uri.query, x.query);
      EXPECT_STREQ(r.version, x.version);
    }
    http_request_startline_free(&r);
    sys_stralloc_free(&sa);
  }
  for (auto [line, code, reason] : {std::tuple{"HTTP/1.1 404 Not  Found ", "404", "Not  Found "},
                                    std::tuple{"HTTP/1.1 200", "200", ""}}) {
    sys_stralloc_rec sa{};
    sys_stralloc_copys(&sa, line);
    http_response_startline_rec r{};
    ASSERT_TRUE(http_response_startline_parse(&r, &sa));
    EXPECT_STREQ(r.version, "HTTP/1.1");
    EXPECT_STREQ(r.code, code);
    EXPECT_STREQ(r.reason, reason);
    http_response_startline_free(&r);
    sys_stralloc_free(&sa);
  }
}

TEST(HttpDate, ScanForms)
{
  struct c { const char *s; uint32_t n; int64_t t; };
  const c cases[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", 29, 784111777},
      {"Sun, 06 Nov 1994 08:49:37 GMT  ", 31, 784111777},
      {"Sun, 06 Nov 1994 08:49:37 GMT; x", 0, 0},
      {"06 Nov 94 08:49 +0100", 21, 784108140},
      {"Sun,6 Nov 1994 08:49:37 -0130", 29, 784111777 + 5400},
      {"Sun , 06 Nov 1994 08 : 49 : 37 UT", 33, 784111777},
      {"(c) Sun, (a (nested)) 06 Nov 1994 08:49:37 GMT (x)", 50, 784111777},
      {"Sun, 06 Nov 1994 08:49:37 EST", 29, 784111777 + 5 * 3600},
      {"Sun, 06 Nov 1994 08:49:37 PDT", 29, 784111777 + 7 * 3600},
      {"Sun, 06 Nov 1994 08:49:37 z", 27, 784111777},
      {"Sun, 06 Nov 1994 08:49:37 a", 27, 784111777 - 3600},
      {"Sun, 06 Nov 1994 08:49:37 M", 27, 784111777 - 12 * 3600},
      {"Sun, 06 Nov 1994 08:49:37 Y", 27, 784111777 + 12 * 3600},
      {"Thu, 01 Jan 70 00:00:00 GMT", 27, 0},
      {"01 Jan 49 00:00:00 GMT", 22, 2493072000},
      {"01 Jan 150 00:00:00 GMT", 23, 2524608000},
      {"Sun, 06 Nov 1994 08:49:37 J", 0, 0},
      {"Sun, 06 Nov 1994 08:49:37 UTC", 0, 0},
      {"Sun, 06 Nov 1994 08:49:37", 0, 0},
      {"Sunday, 06-Nov-94 08:49:37 GMT", 0, 0},
      {"Sun Nov  6 08:49:37 1994", 0, 0},
      {"06 Nov 1994 08:49:37 GMT (unclosed", 0, 0},
      {"32 Jan 1994 08:49:37 GMT", 0, 0},
      {"06 nov 1994 08:49:37 GMT", 0, 0},
      {"06 Nov 1994 8:49:37 GMT", 0, 0},
      {"06 Nov 1994 08:49:3 GMT", 0, 0},
      {"006 Nov 1994 08:49:37 GMT", 0, 0},
      {"06 Nov 1994 08:49:37 +01000", 0, 0},
      {"06 Nov 99999999999 08:49:37 GMT", 0, 0},
  };
  for (const c &x : cases) {
    int64_t t = -1;
    EXPECT_EQ(http_date_scan(x.s, &t), x.n) << x.s;
    if (x.n) {
      EXPECT_EQ(t, x.t) << x.s;
    }
  }
}

TEST(HttpDate, FormatAndRoundTrip)
{
  char b[40];
  int64_t t = 0;
  ASSERT_EQ(http_date_fmt(b, &t), 29u);
  EXPECT_EQ(std::string(b, 29), "Thu, 01 Jan 1970 00:00:00 GMT");
  t = 784111777;
  EXPECT_EQ(std::string(b, http_date_fmt(b, &t)), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(http_date_fmt(nullptr, &t), 29u);
  t = 951782400;  // leap day
  EXPECT_EQ(std::string(b, http_date_fmt(b, &t)), "Tue, 29 Feb 2000 00:00:00 GMT");

  std::mt19937_64 rng(7);
  for (int i = 0; i < 2000; i++) {
    int64_t v = int64_t(rng() % 6000000000ull);  // 1970 to about 2160
    uint32_t n = http_date_fmt(b, &v);
    b[n] = 0;
    int64_t back = -1;
    ASSERT_EQ(http_date_scan(b, &back), n) << b;
    ASSERT_EQ(back, v) << b;
  }
}

// DNS rebinding: a page whose name resolves to this machine must not pass
// for the machine itself, on any port, whatever it prepends or appends.
TEST(HttpHost, RebindingNamesRefusedOwnNamesPass)
{
  char name[256] = {};
  ASSERT_EQ(gethostname(name, sizeof name - 1), 0);
  std::string own(name), shrt = own.substr(0, own.find('.'));
  auto ok = [](const std::string &v) { return http_host_allowed(v.data(), uint32_t(v.size())); };
  for (const std::string &v : std::vector<std::string>{"127.0.0.1", "192.168.1.20:30000", " 10.0.0.1:1 ", "[::1]", "[fe80::1]:30001",
                        "localhost", "LOCALHOST:30000", "localhost.", own, own + ":30000", shrt,
                        shrt + ".local", shrt + ".local:8080"})
    EXPECT_TRUE(ok(v)) << v;
  for (const std::string &v : std::vector<std::string>{"", " ", "evil.example", "evil.example:30000", "127.0.0.1.evil.example:30000",
                        "localhost.evil.example", own + ".evil.example", "evil-" + shrt, "127.0.0.1:0",
                        "127.0.0.1:65536", "127.0.0.1:", "127.0.0.1:80x", "[::1", "[evil]", "::1",
                        "127.1", "1.2.3.4.5", std::string("127.0.0.1\0.x", 11), std::string("127.0.0.1\0.x", 12), "local host"})
    EXPECT_FALSE(ok(v)) << v;

  char h1[] = "host:evil.example", h2[] = "HOST:127.0.0.1:30000", other[] = "accept:*/*";
  char *none[] = {other, nullptr}, *bad[] = {other, h1, nullptr}, *good[] = {h2, other, nullptr},
       *twice[] = {h2, h2, nullptr};
  EXPECT_TRUE(http_header_host_allowed(none));
  EXPECT_TRUE(http_header_host_allowed(good));
  EXPECT_FALSE(http_header_host_allowed(bad));
  EXPECT_FALSE(http_header_host_allowed(twice));
}

TEST(HttpHost, DecodedPathsWithControlBytesRefused)
{
  EXPECT_TRUE(http_path_allowed("/a b/%c3.mp3", 12));
  for (const std::string &p : {std::string("/1-0.mp3\0.png", 13), std::string("/\x01"), std::string("/a\nb"),
                        std::string("/\x7f")})
    EXPECT_FALSE(http_path_allowed(p.data(), uint32_t(p.size()))) << p.size();
}
