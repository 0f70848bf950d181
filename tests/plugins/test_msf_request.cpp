// The request reader's two variants on a socket pair: what each refuses,
// what it keeps for the serving step, and the keep-alive flag.
#include <corda_common/msf_common.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

struct read_result {
  int ok = 0;
  msf_request_rec r{};
  std::string answer;
};

read_result read_request(const char *version, std::vector<std::string> lines, int variant)
{
  int sv[2];
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
  std::vector<char *> headers;
  for (std::string &l : lines) headers.push_back(l.data());
  headers.push_back(nullptr);
  http_request_startline_rec start{};
  start.method = const_cast<char *>("GET");
  start.version = const_cast<char *>(version);
  plugin_http_get_request q{};
  q.startline = &start;
  q.headers = headers.data();
  q.socket = sv[0];
  read_result res;
  res.ok = msf_request_read(&res.r, &q, variant);
  close(sv[0]);
  char buf[4096];
  for (ssize_t n; (n = read(sv[1], buf, sizeof buf)) > 0;) res.answer.append(buf, size_t(n));
  close(sv[1]);
  // The values point into the lines, which end here: only flags are read.
  res.r.req.if_modified_since = res.r.req.range = res.r.req.if_range = nullptr;
  res.r.req.time_seek_range = res.r.req.play_speed = nullptr;
  return res;
}

std::string status(const read_result &r) { return r.answer.substr(0, r.answer.find("\r\n")); }

}  // namespace

TEST(RequestReader, TranscodingVariantRefusesSeekInPartsAndPlaySpeedWithoutRange)
{
  const int T = MSF_READER_TRANSCODE;
  EXPECT_EQ(status(read_request("HTTP/1.1", {"host:x", "TimeSeekRange.dlna.org:npt=1-", "timeseekrange.dlna.org:npt=2-"}, T)),
            "HTTP/1.1 400 multipart range not supported");
  EXPECT_EQ(status(read_request("HTTP/1.1", {"host:x", "PlaySpeed.dlna.org:speed=2"}, T)), "HTTP/1.1 406 not acceptable");
  read_result ranged = read_request("HTTP/1.1", {"host:x", "PlaySpeed.dlna.org:speed=2", "range:bytes=0-"}, T);
  EXPECT_EQ(ranged.ok, 1);
  EXPECT_EQ(ranged.r.play_speed_seen, 1);
  EXPECT_EQ(ranged.answer, "");
  // The first refusing line ends the scan.
  EXPECT_EQ(status(read_request("HTTP/1.1", {"if-match:*", "expect:100-continue"}, T)),
            "HTTP/1.1 412 I do not accept If-Match");
}

TEST(RequestReader, PlaylistVariantKeepsTheLastSeekAndTheKeepAliveRule)
{
  const int P = MSF_READER_PLAYLIST;
  std::vector<std::string> lines = {"host:x", "timeseekrange.dlna.org:npt=1-", "TimeSeekRange.dlna.org:npt=2-",
                                    "playspeed.dlna.org:speed=2", "if-range:abc"};
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
  std::vector<char *> headers;
  for (std::string &l : lines) headers.push_back(l.data());
  headers.push_back(nullptr);
  http_request_startline_rec start{};
  start.method = const_cast<char *>("HEAD");
  start.version = const_cast<char *>("HTTP/1.1");
  plugin_http_get_request q{};
  q.startline = &start;
  q.headers = headers.data();
  q.socket = sv[0];
  msf_request_rec r;
  ASSERT_EQ(msf_request_read(&r, &q, P), 1);
  EXPECT_STREQ(r.req.time_seek_range, "npt=2-");
  EXPECT_STREQ(r.req.play_speed, "speed=2");
  EXPECT_STREQ(r.req.if_range, "abc");
  EXPECT_EQ(r.head, 1);
  EXPECT_EQ(r.req.keep_alive, 1);
  // An answer to HEAD has no body.
  EXPECT_EQ(msf_request_fail(&r, "404 file not found"), 0);
  close(sv[0]);
  char buf[4096];
  std::string answer;
  for (ssize_t n; (n = read(sv[1], buf, sizeof buf)) > 0;) answer.append(buf, size_t(n));
  close(sv[1]);
  EXPECT_EQ(answer.substr(answer.size() - 4), "\r\n\r\n");

  EXPECT_EQ(read_request("HTTP/1.1", {"host:x", "connection:keep-alive"}, P).r.req.keep_alive, 1);
  EXPECT_EQ(read_request("HTTP/1.0", {}, P).r.req.keep_alive, 0);
  EXPECT_EQ(read_request("HTTP/1.1", {"host:x", "Connection:close"}, P).r.req.keep_alive, 0);
  EXPECT_EQ(status(read_request("HTTP/1.1", {"host:x", "range:bytes=0-1,3-4"}, P)),
            "HTTP/1.1 400 multipart range not supported");
}
