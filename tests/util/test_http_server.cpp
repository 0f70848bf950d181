// Reading GET/HEAD requests and bodies; error, file, range, time-seek and
// DLNA answers.
#include <tarvo_util/http_message.h>
#include <tarvo_util/http_server.h>
#include <tarvo_util/sys_time.h>

#include "net_test.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using net_test::tcp_pair;

namespace {

const int64_t kOld = 784111777;
const char kOldDate[] = "Sun, 06 Nov 1994 08:49:37 GMT";

// A server-side connection record over a loopback pair; the client end is
// t.b.
struct server_conn {
  tcp_pair t;
  std::unique_ptr<http_server_conn> c{new http_server_conn{}};

  explicit server_conn(int http11 = 1, int head = 0)
  {
    c->server_name = "tarvo-test";
    c->http11 = http11;
    c->head = head;
    c->socket = t.a;
    sys_socket_ndelay_on(t.a);
    sys_socketbuffer_init(&c->in, t.a, c->in_buf, sizeof c->in_buf, 2000);
    sys_socketbuffer_init(&c->out, t.a, c->out_buf, sizeof c->out_buf, 2000);
  }
  void client_sends(const std::string &s, bool close = true)
  {
    net_test::send_all(t.b, s);
    if (close) sys_socket_shutdown(t.b, 1);
  }
  // What the server wrote, with the DATE value blanked out.
  std::string answer()
  {
    sys_socket_shutdown(t.a, 1);
    std::string a = net_test::recv_all(t.b);
    size_t d = a.find("DATE: ");
    if (d != std::string::npos) a.replace(d + 6, a.find('\r', d) - d - 6, "*");
    return a;
  }
  std::string next_line()
  {
    sys_stralloc_rec sa{};
    std::string r = http_header_readline(&c->in, &sa) ? std::string(sa.buf, sa.len) : "<none>";
    sys_stralloc_free(&sa);
    return r;
  }
};

std::string error_answer(const std::string &status, bool body = true)
{
  return "HTTP/1.1 " + status + "\r\nSERVER: tarvo-test\r\nDATE: *\r\nCONTENT-LENGTH: " +
         std::to_string(status.size() + 28) +
         "\r\nCONNECTION: close\r\nCONTENT-TYPE: text/html\r\n\r\n" +
         (body ? "<html><body>" + status + "</body></html>\r\n" : "");
}

struct request_case {
  const char *name;
  int http11, head;
  std::string headers;
  std::string status;  // "" = no answer expected
  bool stop = false;
};

}  // namespace

TEST(HttpServerRequest, FillsTheRecord)
{
  server_conn s;
  s.client_sends(
      "Host: 127.0.0.1\r\nConnection: close\r\nIf-Modified-Since: " + std::string(kOldDate) +
          "\r\nIf-Modified-Since: later\r\nRANGE : bytes=0-\r\nIf-Range:  x\r\n"
          "TimeSeekRange.dlna.org: npt=1-\r\nPlaySpeed.dlna.org: speed=2\r\n"
          "getcontentFeatures.dlna.org: 1\r\ntransferMode.dlna.org: interactive\r\nX-Long: a\r\n b\r\n"
          "User-Agent: t\r\n\r\nNEXT\r\n",
      false);
  http_server_request_rec req{};
  int stop = 0;
  ASSERT_TRUE(http_server_read_get_request(s.c.get(), nullptr, &stop, &req));
  EXPECT_EQ(req.keep_alive, 0);
  EXPECT_STREQ(req.if_modified_since, "later");
  EXPECT_STREQ(req.range, "bytes=0-");
  EXPECT_STREQ(req.if_range, "x");
  EXPECT_STREQ(req.time_seek_range, "npt=1-");
  EXPECT_STREQ(req.play_speed, "speed=2");
  EXPECT_STREQ(req.transfer_mode, "Interactive");
  EXPECT_EQ(s.next_line(), "NEXT");
  http_server_get_request_free(&req);
  EXPECT_EQ(req.range, nullptr);
  http_server_get_request_free(nullptr);
}

TEST(HttpServerRequest, KeepAliveAndBodies)
{
  struct c { int http11; std::string h; int keep; };
  const c cases[] = {
      {1, "Host: 127.0.0.1\r\n\r\n", 1},
      {0, "\r\n", 0},
      {0, "Connection: keep-alive\r\n\r\n", 0},
      {1, "Host: 127.0.0.1\r\nConnection: Close\r\nConnection: keep-alive\r\n\r\n", 1},
      {1, "Host: 127.0.0.1\r\nConnection: keep-alive\r\nconnection: close\r\n\r\n", 0},
      // Bodies are read and dropped, so the next request follows.
      {1, "Host: 127.0.0.1\r\nContent-Length: 5 \r\n\r\nhello", 1},
      {1, "Host: 127.0.0.1\r\nTransfer-Encoding: Chunked\r\nContent-Length: 99\r\n\r\n3\r\nabc\r\n0\r\n\r\n", 1},
      // A time seek that would be refused alone goes with a Range.
      {0, "TimeSeekRange.dlna.org: npt=1-,2\r\nRange: bytes=0-\r\n\r\n", 0},
  };
  for (const c &x : cases) {
    server_conn s(x.http11);
    s.client_sends(x.h + "NEXT\r\n", false);
    http_server_request_rec req{};
    ASSERT_TRUE(http_server_read_get_request(s.c.get(), nullptr, nullptr, &req)) << x.h;
    EXPECT_EQ(req.keep_alive, x.keep) << x.h;
    EXPECT_EQ(s.next_line(), "NEXT") << x.h;
    http_server_get_request_free(&req);
  }
}

// Each refused request pauses a second before it is given up, so the cases
// run side by side.
TEST(HttpServerRequest, RefusalsAnswerExactlyAndPause)
{
  std::string big;
  for (int i = 0; i < HTTP_HEADER_LINES_MAX + 1; i++) big += "X: y\r\n";
  const std::vector<request_case> cases = {
      {"expect", 1, 0, "Host: 127.0.0.1\r\nExpect: 100-continue\r\n\r\n", "417 I do not accept Expect"},
      {"expect head", 1, 1, "Host: 127.0.0.1\r\nexpect: 100-continue\r\n\r\n", "417 I do not accept Expect"},
      {"if-match", 1, 0, "Host: 127.0.0.1\r\nIf-Match: *\r\n\r\n", "412 I do not accept If-Match"},
      {"if-none-match", 1, 0, "If-None-Match: x\r\n\r\n", "412 I do not accept If-None-Match"},
      {"if-unmodified", 1, 0, "If-Unmodified-Since: x\r\n\r\n", "412 I do not accept If-Unmodified-Since"},
      {"features", 1, 0, "Host: 127.0.0.1\r\ngetcontentFeatures.dlna.org: 2\r\n\r\n", "400 bad request"},
      {"no host", 1, 0, "User-Agent: x\r\n\r\n", "400 HTTP/1.1 requests must include a host name"},
      // DNS rebinding: a page's own name that resolves to this machine.
      {"foreign host", 1, 0, "Host: evil.example:80\r\n\r\n", "400 Bad Request"},
      {"two hosts", 0, 0, "Host: 127.0.0.1\r\nHost: evil.example\r\n\r\n", "400 Bad Request"},
      {"multi range", 1, 0, "Host: 127.0.0.1\r\nRange: bytes=0-1,5-6\r\n\r\n", "400 multipart range not supported"},
      {"two ranges", 0, 0, "Range: bytes=0-1\r\nRange: bytes=5-6\r\n\r\n", "400 multipart range not supported"},
      {"two seeks", 0, 0, "TimeSeekRange.dlna.org: npt=1-\r\nTimeSeekRange.dlna.org: npt=2-\r\n\r\n",
       "400 multipart range not supported"},
      {"coding", 0, 0, "Transfer-Encoding: gzip\r\n\r\n", "505 I do not accept Transfer-Encoding"},
      {"length", 0, 0, "Content-Length: 12x\r\n\r\n", "412 invalid Content-Length"},
      {"length empty", 0, 0, "Content-Length:\r\n\r\n", "412 invalid Content-Length"},
      {"length overflow", 0, 0, "Content-Length: 99999999999999999999999\r\n\r\n", "412 invalid Content-Length"},
      {"too many lines", 0, 0, big + "\r\n", "400 bad request"},
      {"too long", 0, 0, "X: " + std::string(HTTP_HEADER_LINE_MAX, 'a') + "\r\n\r\n", "400 bad request"},
      {"cut", 1, 0, "Host: 127.0.0.1\r\n", ""},
      {"short body", 0, 0, "Content-Length: 10\r\n\r\nabc", ""},
      {"bad chunk", 0, 0, "Transfer-Encoding: chunked\r\n\r\nzz\r\n", ""},
      {"stopped", 1, 0, "Host: 127.0.0.1\r\n\r\n", "", true},
  };
  std::vector<std::thread> runs;
  for (const request_case &rc : cases) {
    runs.emplace_back([&rc] {
      server_conn s(rc.http11, rc.head);
      std::thread w([&] { s.client_sends(rc.headers); });
      http_server_request_rec req{};
      int stop = rc.stop;
      auto t0 = std::chrono::steady_clock::now();
      EXPECT_FALSE(http_server_read_get_request(s.c.get(), nullptr, &stop, &req)) << rc.name;
      EXPECT_GE(net_test::ms_since(t0), HTTP_SERVER_FAIL_PAUSE_MS - 50) << rc.name;
      EXPECT_EQ(req.range, nullptr);
      w.join();
      std::string want = rc.status.empty() ? "" : error_answer(rc.status, !rc.head);
      EXPECT_EQ(s.answer(), want) << rc.name;
    });
  }
  for (auto &r : runs) r.join();
}

TEST(HttpServerBody, ReadAndChunked)
{
  {
    server_conn s;
    s.client_sends("abcdef");
    sys_stralloc_rec sa{};
    ASSERT_TRUE(http_server_read(s.c.get(), 4, &sa));
    EXPECT_EQ(std::string(sa.buf, sa.len), "abcd");
    ASSERT_TRUE(http_server_read(s.c.get(), 0, &sa));
    EXPECT_FALSE(http_server_read(s.c.get(), 10, nullptr));
    sys_stralloc_free(&sa);
  }
  {
    server_conn s;
    s.client_sends("5;ext=1\r\nhello\r\n3\r\nabc\r\n0\r\nX: y\r\nZ: w\r\n\r\nNEXT\r\n");
    sys_stralloc_rec sa{};
    ASSERT_TRUE(http_server_read_chunked(s.c.get(), &sa));
    EXPECT_EQ(std::string(sa.buf, sa.len), "helloabc");
    EXPECT_EQ(s.next_line(), "NEXT");
    sys_stralloc_free(&sa);
  }
  const char *bad[] = {
      "5\r\nhelloX\r\n0\r\n\r\n",                       // data not followed by CR LF
      "zz\r\n",                                         // no size
      "\r\n",                                           // empty size line
      "5\n",                                            // bare LF
      "5;a-very-long-chunk-extension-text\r\nhello\r\n0\r\n\r\n",
      "10000000000000000\r\n",                          // more than 64 bits
      "5\r\nhel",                                       // the stream ends
  };
  for (const char *b : bad) {
    server_conn s;
    s.client_sends(b);
    EXPECT_FALSE(http_server_read_chunked(s.c.get(), nullptr)) << b;
  }
  {
    server_conn s;
    s.client_sends("0\r\n\r\nNEXT\r\n");
    EXPECT_TRUE(http_server_read_chunked_0(&s.c->in));
    EXPECT_EQ(s.next_line(), "NEXT");
  }
  {
    server_conn s;
    s.client_sends("1\r\na\r\n0\r\n\r\n");
    EXPECT_FALSE(http_server_read_chunked_0(&s.c->in));
  }
}

namespace {

struct file_answer {
  int ok, send_body;
  http_server_range_rec range;
  std::string text;
};

enum kind { plain, dlna, transcoding, transcoding_dlna };

file_answer write_file_answer(kind k, const http_server_request_rec &req, uint64_t size,
                              int64_t mtime = kOld, int http11 = 1, int head = 0,
                              const char *features = nullptr)
{
  server_conn s;
  file_answer a{};
  a.range.size = size;
  a.send_body = -1;
  switch (k) {
  case plain:
    a.ok = http_server_write_get_response_header(&s.c->out, http11, head, &req, "tarvo-test", "video/mpeg",
                                                 mtime, &a.send_body, &a.range);
    break;
  case dlna:
    a.ok = http_server_write_get_response_header_dlna(&s.c->out, http11, head, &req, "tarvo-test",
                                                      "video/mpeg", features, mtime, &a.send_body, &a.range);
    break;
  case transcoding:
    a.ok = http_server_write_get_response_header_transcoding(&s.c->out, http11, head, &req, "tarvo-test",
                                                             "video/mpeg", mtime, &a.send_body, &a.range);
    break;
  case transcoding_dlna:
    a.ok = http_server_write_get_response_header_transcoding_dlna(
        &s.c->out, http11, head, &req, "tarvo-test", "video/mpeg", features, mtime, &a.send_body, &a.range);
    break;
  }
  a.text = s.answer();
  return a;
}

http_server_request_rec request(const char *range = nullptr, const char *ims = nullptr,
                                const char *if_range = nullptr, int keep_alive = 1)
{
  http_server_request_rec r{};
  r.keep_alive = keep_alive;
  r.range = const_cast<char *>(range);
  r.if_modified_since = const_cast<char *>(ims);
  r.if_range = const_cast<char *>(if_range);
  return r;
}

std::string head(const char *status, const std::string &extra = "")
{
  return std::string("HTTP/1.1 ") + status + "\r\nSERVER: tarvo-test\r\nDATE: *\r\n" + extra;
}

const std::string kTail = "LAST-MODIFIED: " + std::string(kOldDate) + "\r\nCONTENT-TYPE: video/mpeg\r\n";

}  // namespace

TEST(HttpServerAnswer, ExactFileHeaderBlocks)
{
  file_answer a = write_file_answer(plain, request(), 1000);
  EXPECT_TRUE(a.ok);
  EXPECT_EQ(a.send_body, 1);
  EXPECT_EQ(a.range.offset, 0u);
  EXPECT_EQ(a.range.length, 1000u);
  EXPECT_EQ(a.text, head("200 OK") + kTail + "CONTENT-LENGTH: 1000\r\n\r\n");

  a = write_file_answer(plain, request("bytes=0-"), 1000);
  EXPECT_TRUE(a.ok);
  EXPECT_EQ(a.text, head("206 partial content", "CONTENT-RANGE: bytes 0-999/1000\r\n") + kTail +
                        "CONTENT-LENGTH: 1000\r\n\r\n");

  a = write_file_answer(plain, request("bytes=10-19", kOldDate, nullptr, 0), 1000);
  EXPECT_TRUE(a.ok);
  EXPECT_EQ(a.send_body, 0);
  EXPECT_EQ(a.text, head("304 not modified") + kTail + "CONTENT-LENGTH: 1000\r\nCONNECTION: close\r\n\r\n");

  a = write_file_answer(plain, request("bytes=1000-"), 1000);
  EXPECT_FALSE(a.ok);
  EXPECT_EQ(a.send_body, 0);
  EXPECT_EQ(a.text, error_answer("416 requested range not satisfiable"));

  a = write_file_answer(plain, request("items=0-1"), 1000, kOld, 1, 1);
  EXPECT_FALSE(a.ok);
  EXPECT_EQ(a.text, error_answer("400 bad request", false));

  // HEAD: the same headers, no body.
  a = write_file_answer(plain, request("bytes=-10"), 1000, kOld, 1, 1);
  EXPECT_TRUE(a.ok);
  EXPECT_EQ(a.send_body, 0);
  EXPECT_EQ(a.text, head("206 partial content", "CONTENT-RANGE: bytes 990-999/1000\r\n") + kTail +
                        "CONTENT-LENGTH: 10\r\n\r\n");
}

TEST(HttpServerAnswer, RangesAtAndBeyondTheEnd)
{
  struct c { const char *v; uint64_t size; int code; uint64_t off, len; };
  const c cases[] = {
      {"bytes=0-", 1000, 206, 0, 1000},       {"bytes=-0", 1000, 416, 0, 0},
      {"bytes=-2000", 1000, 206, 0, 1000},    {"bytes=500-100", 1000, 416, 0, 0},
      {"bytes=1000-", 1000, 416, 0, 0},       {"bytes=999-", 1000, 206, 999, 1},
      {"bytes=999-999", 1000, 206, 999, 1},   {"bytes=10-2000", 1000, 206, 10, 990},
      {"bytes=10-20 ", 1000, 400, 0, 0},      {"items=0-1", 1000, 400, 0, 0},
      {"BYTES = 10 - 20", 1000, 206, 10, 11}, {"bytes=- 5", 1000, 206, 995, 5},
      {"bytes=", 1000, 400, 0, 0},            {"bytes=x", 1000, 400, 0, 0},
      {"bytes=5", 1000, 400, 0, 0},           {"bytes=1000x", 1000, 416, 0, 0},
      {"bytes=99999999999999999999999-", 1000, 416, 0, 0},
      {"bytes=0-99999999999999999999999", 1000, 206, 0, 1000},
      {"bytes=-99999999999999999999999", 1000, 206, 0, 1000},
      {"bytes=-1", 1, 206, 0, 1},             {"bytes=0-0", 1, 206, 0, 1},
      {"bytes=5-", 0, 200, 0, 0},             {"bytes=-0", 0, 200, 0, 0},
      {"bytes=0-", 5000000000ull, 206, 0, 5000000000ull},
  };
  for (const c &x : cases) {
    file_answer a = write_file_answer(plain, request(x.v), x.size);
    int code = std::stoi(a.text.substr(9, 3));
    EXPECT_EQ(code, x.code) << x.v;
    EXPECT_EQ(a.ok, x.code < 400) << x.v;
    if (x.code >= 400) continue;
    EXPECT_EQ(a.range.offset, x.off) << x.v;
    EXPECT_EQ(a.range.length, x.len) << x.v;
    EXPECT_NE(a.text.find("CONTENT-LENGTH: " + std::to_string(x.len) + "\r\n"), std::string::npos) << x.v;
  }
}

TEST(HttpServerAnswer, ConditionsAndAge)
{
  // If-Range: an exact match lets the range through, anything else gives the
  // whole entity.
  file_answer a = write_file_answer(plain, request("bytes=10-19", nullptr, kOldDate), 1000);
  EXPECT_EQ(a.text.substr(0, 21), "HTTP/1.1 206 partial ");
  a = write_file_answer(plain, request("bytes=10-19", nullptr, "Sun, 06 Nov 1994 08:49:38 GMT"), 1000);
  EXPECT_EQ(a.text.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(a.range.length, 1000u);
  // A stale If-Modified-Since answers 200 and ignores the Range.
  a = write_file_answer(plain, request("bytes=10-19", "Sun, 06 Nov 1994 08:49:36 GMT"), 1000);
  EXPECT_EQ(a.text.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(a.send_body, 1);
  EXPECT_EQ(a.range.length, 1000u);
  // Under If-Modified-Since even an unsatisfiable range is not looked at.
  a = write_file_answer(plain, request("bytes=2000-", "x"), 1000);
  EXPECT_TRUE(a.ok);

  int64_t now;
  sys_time_now(&now);
  a = write_file_answer(plain, request(), 10, now - 3);
  EXPECT_EQ(a.text.find("LAST-MODIFIED"), std::string::npos);
  a = write_file_answer(plain, request(), 10, now - 60);
  EXPECT_NE(a.text.find("LAST-MODIFIED"), std::string::npos);
}

TEST(HttpServerAnswer, TranscodingAndDlnaHeaders)
{
  file_answer a = write_file_answer(transcoding, request("bytes=100-"), 1000);
  EXPECT_EQ(a.text, head("206 partial content", "CONTENT-RANGE: bytes 100-999/1000\r\n") + kTail +
                        "TRANSFER-ENCODING: chunked\r\n\r\n");
  a = write_file_answer(transcoding, request(nullptr, nullptr, nullptr, 0), 1000, kOld, 0);
  EXPECT_EQ(a.text, head("200 OK") + kTail + "CONNECTION: close\r\n\r\n");

  const char *f = "DLNA.ORG_PN=MP3;DLNA.ORG_OP=11;DLNA.ORG_PS=2";
  a = write_file_answer(dlna, request(), 1000, kOld, 1, 0, f);
  EXPECT_EQ(a.text, head("200 OK") + kTail +
                        "CONTENT-LENGTH: 1000\r\nVary: TimeSeekRange.dlna.org,PlaySpeed.dlna.org\r\n"
                        "contentFeatures.dlna.org: " + f + "\r\n\r\n");
  a = write_file_answer(transcoding_dlna, request(), 1000, kOld, 1, 0, "DLNA.ORG_OP=01");
  EXPECT_EQ(a.text, head("200 OK") + kTail +
                        "TRANSFER-ENCODING: chunked\r\ncontentFeatures.dlna.org: DLNA.ORG_OP=01\r\n\r\n");
  a = write_file_answer(dlna, request(), 1, kOld, 1, 0, "DLNA.ORG_PS=x;dlna.org_op=10");
  EXPECT_NE(a.text.find("Vary: PlaySpeed.dlna.org\r\n"), std::string::npos);
  a = write_file_answer(dlna, request(), 1, kOld, 1, 0, "");
  EXPECT_EQ(a.text.find("contentFeatures"), std::string::npos);
}

TEST(HttpServerAnswer, TimeSeek)
{
  http_server_npt_rec npt{0, 90500, 600000};
  http_server_range_rec range{0, 500, 1000};
  http_server_request_rec req = request();
  const char *f = "DLNA.ORG_OP=10";
  {
    server_conn s;
    int send = -1;
    ASSERT_TRUE(http_server_write_get_response_header_time_seek_dlna(
        &s.c->out, 1, 0, &req, "tarvo-test", "video/mpeg", f, kOld, &send, &npt, &range));
    EXPECT_EQ(send, 1);
    EXPECT_EQ(s.answer(), head("200 OK", "TimeSeekRange.dlna.org: npt=0-90.500/600 bytes=0-499/1000\r\n") +
                              kTail + "CONTENT-LENGTH: 500\r\nVary: TimeSeekRange.dlna.org\r\n"
                              "contentFeatures.dlna.org: DLNA.ORG_OP=10\r\n\r\n");
  }
  {
    server_conn s;
    int send = -1;
    http_server_npt_rec n2{1001, 2000, 3003};
    ASSERT_TRUE(http_server_write_get_response_header_time_seek_transcoding_dlna(
        &s.c->out, 1, 1, &req, "tarvo-test", "audio/L16", nullptr, kOld, &send, &n2, nullptr));
    EXPECT_EQ(send, 0);
    EXPECT_EQ(s.answer(), head("200 OK", "TimeSeekRange.dlna.org: npt=1.001-2/3.003\r\n") + "LAST-MODIFIED: " +
                              kOldDate + "\r\nCONTENT-TYPE: audio/L16\r\nTRANSFER-ENCODING: chunked\r\n\r\n");
  }
  {
    server_conn s;
    int send = -1;
    http_server_request_rec r2 = request(nullptr, kOldDate);
    ASSERT_TRUE(http_server_write_get_response_header_time_seek_dlna(
        &s.c->out, 1, 0, &r2, "tarvo-test", "video/mpeg", nullptr, kOld, &send, &npt, &range));
    EXPECT_EQ(send, 0);
    EXPECT_EQ(s.answer(), head("304 not modified") + kTail + "CONTENT-LENGTH: 500\r\n\r\n");
  }
}

TEST(HttpServerAnswer, CommonLinesCarryTheCurrentDate)
{
  server_conn s;
  ASSERT_TRUE(http_server_write_common_header(&s.c->out, "404 file not found", nullptr));
  ASSERT_TRUE(sys_socketbuffer_flush(&s.c->out));
  sys_socket_shutdown(s.t.a, 1);
  std::string raw = net_test::recv_all(s.t.b);
  ASSERT_EQ(raw.substr(0, 45), "HTTP/1.1 404 file not found\r\nSERVER: \r\nDATE: ");
  int64_t t, now;
  ASSERT_EQ(http_date_scan(raw.substr(45, 29).c_str(), &t), 29u);
  sys_time_now(&now);
  EXPECT_LE(std::llabs(now - t), 2);
}

// The wait for a request line: silence is waited out for every attempt, a
// line that has begun only for one wait, so that a client trickling it a
// byte at a time cannot hold the connection for all of them.
TEST(HttpServerRequestLine, SilenceWaitsEveryAttemptABegunLineOne)
{
  const int stop = 0;
  auto timed = [&](server_conn &s, uint32_t attempts, std::string *line) {
    sys_stralloc_rec sa{};
    auto t0 = std::chrono::steady_clock::now();
    int got = http_server_read_request_line(s.c.get(), 100, attempts, &stop, &sa);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    *line = got ? std::string(sa.buf, sa.len) : "<none>";
    sys_stralloc_free(&sa);
    return ms;
  };
  std::string line;
  server_conn silent;
  EXPECT_GE(timed(silent, 4, &line), 390);
  EXPECT_EQ(line, "<none>");
  server_conn trickling;
  trickling.client_sends("GET /a HT", false);
  EXPECT_LT(timed(trickling, 10, &line), 500);
  EXPECT_EQ(line, "<none>");
  server_conn blank_first;
  blank_first.client_sends("\r\n\r\nGET /a HTTP/1.1\r\n", false);
  timed(blank_first, 2, &line);
  EXPECT_EQ(line, "GET /a HTTP/1.1");
}
