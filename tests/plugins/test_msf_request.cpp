// The request reader's two variants on a socket pair: what each refuses,
// what it keeps for the serving step, and the keep-alive flag.
#include <corda_common/msf_common.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// A request with these header lines whose answer goes into a socket pair.
struct paired_request {
  std::vector<std::string> lines;
  std::vector<char *> headers;
  http_request_startline_rec start{};
  plugin_http_get_request q{};
  int sv[2] = {-1, -1};
  msf_request_rec r;
  paired_request(const char *method, const char *version, std::vector<std::string> l) : lines(std::move(l))
  {
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    for (std::string &s : lines) headers.push_back(s.data());
    headers.push_back(nullptr);
    start.method = const_cast<char *>(method);
    start.version = const_cast<char *>(version);
    q.startline = &start;
    q.headers = headers.data();
    q.socket = sv[0];
  }
  ~paired_request()
  {
    close(sv[0]);
    close(sv[1]);
  }
  int read(int variant) { return msf_request_read(&r, &q, variant); }
  // Everything written, once the plug-in's side is closed.
  std::string answer()
  {
    close(sv[0]);
    sv[0] = -1;
    std::string text;
    char buf[4096];
    for (ssize_t n; (n = ::read(sv[1], buf, sizeof buf)) > 0;) text.append(buf, size_t(n));
    return text;
  }
  std::string status()
  {
    std::string a = answer();
    return a.substr(0, a.find("\r\n"));
  }
};

std::string refusal(const char *version, std::vector<std::string> lines, int variant)
{
  paired_request p("GET", version, std::move(lines));
  EXPECT_EQ(p.read(variant), 0);
  return p.status();
}

int keep_alive(const char *version, std::vector<std::string> lines)
{
  paired_request p("GET", version, std::move(lines));
  EXPECT_EQ(p.read(MSF_READER_PLAYLIST), 1);
  return p.r.req.keep_alive;
}

}  // namespace

TEST(RequestReader, TranscodingVariantRefusesSeekInPartsAndPlaySpeedWithoutRange)
{
  const int T = MSF_READER_TRANSCODE;
  EXPECT_EQ(refusal("HTTP/1.1", {"host:x", "TimeSeekRange.dlna.org:npt=1-", "timeseekrange.dlna.org:npt=2-"}, T),
            "HTTP/1.1 400 multipart range not supported");
  EXPECT_EQ(refusal("HTTP/1.1", {"host:x", "PlaySpeed.dlna.org:speed=2"}, T), "HTTP/1.1 406 not acceptable");
  paired_request ranged("GET", "HTTP/1.1", {"host:x", "PlaySpeed.dlna.org:speed=2", "range:bytes=0-"});
  EXPECT_EQ(ranged.read(T), 1);
  EXPECT_EQ(ranged.r.play_speed_seen, 1);
  EXPECT_EQ(ranged.answer(), "");
  // The first refusing line ends the scan.
  EXPECT_EQ(refusal("HTTP/1.1", {"if-match:*", "expect:100-continue"}, T), "HTTP/1.1 412 I do not accept If-Match");
}

TEST(RequestReader, PlaylistVariantKeepsTheLastSeekAndTheKeepAliveRule)
{
  paired_request p("HEAD", "HTTP/1.1",
                   {"host:x", "timeseekrange.dlna.org:npt=1-", "TimeSeekRange.dlna.org:npt=2-",
                    "playspeed.dlna.org:speed=2", "if-range:abc"});
  ASSERT_EQ(p.read(MSF_READER_PLAYLIST), 1);
  EXPECT_STREQ(p.r.req.time_seek_range, "npt=2-");
  EXPECT_STREQ(p.r.req.play_speed, "speed=2");
  EXPECT_STREQ(p.r.req.if_range, "abc");
  EXPECT_EQ(p.r.head, 1);
  EXPECT_EQ(p.r.req.keep_alive, 1);
  // An answer to HEAD has no body.
  EXPECT_EQ(msf_request_fail(&p.r, "404 file not found"), 0);
  std::string answer = p.answer();
  EXPECT_EQ(answer.substr(answer.size() - 4), "\r\n\r\n");

  EXPECT_EQ(keep_alive("HTTP/1.1", {"host:x", "connection:keep-alive"}), 1);
  EXPECT_EQ(keep_alive("HTTP/1.0", {}), 0);
  EXPECT_EQ(keep_alive("HTTP/1.1", {"host:x", "Connection:close"}), 0);
  EXPECT_EQ(refusal("HTTP/1.1", {"host:x", "range:bytes=0-1,3-4"}, MSF_READER_PLAYLIST),
            "HTTP/1.1 400 multipart range not supported");
}
