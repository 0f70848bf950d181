// The media HTTP server over real sockets: plain, ranged, HEAD and
// conditional answers, time seek on L16 and MPEG resources, the error
// answers and when the connection closes, private objects, plug-in
// resources, and a stop that ends every connection; the attacks a web page
// or a neighbour can make (DNS rebinding, paths cut at a NUL, connection
// floods) and the DLNA transfer mode.
#include <vennard/conf_store.h>
#include <vennard/content_db.h>
#include <vennard/content_directory.h>
#include <vennard/media_http.h>
#include <vennard/vennard_limits.h>

#include <gtest/gtest.h>

#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_socket.h>
#include <tarvo_util/util_limits.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <thread>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "media_test.h"
#include "tarvo_live.h"
#include "ps_stream.h"

namespace {

using media_test::client;
using media_test::kRemote;

constexpr int64_t kOld = 946684800;  // 2000-01-01 00:00:00 UTC
constexpr const char *kOldText = "Sat, 01 Jan 2000 00:00:00 GMT";
constexpr uint32_t kL16Size = 176400 * 6;

std::string get(const std::string &path, const std::string &headers = "", const char *method = "GET",
                const std::string &host = "127.0.0.1")
{
  return std::string(method) + " " + path + " HTTP/1.1\r\nHOST: " + host + "\r\n" + headers + "\r\n";
}

std::string host_name()
{
  char buf[256] = {};
  gethostname(buf, sizeof buf - 1);
  return buf;
}

int thread_count()
{
  int n = 0;
  if (DIR *d = opendir("/proc/self/task")) {
    while (dirent *e = readdir(d)) n += e->d_name[0] != '.';
    closedir(d);
  }
  return n;
}

std::string item(const std::string &title, const std::string &res_attributes)
{
  return "<item id=\"\" parentID=\"Container:UserFiles\" restricted=\"0\"><dc:title>" + title +
         "</dc:title><upnp:class>object.item.audioItem.musicTrack</upnp:class><res " + res_attributes +
         "></res></item>";
}

class MediaHttp : public ::testing::Test {
protected:
  media_test::fixture f;
  std::string mp3, l16, mpeg, big;  // URL paths
  std::string body;                 // the mp3 file's bytes
  std::string plugin = server_test::plugin("media");

  std::string file(const std::string &name, const std::string &data)
  {
    std::string path = f.srv.data.dir / name;
    tarvo_test::write_file(path, data);
    sys_file_utime(path.c_str(), &kOld, nullptr);
    return path;
  }

  void SetUp() override
  {
    if (!media_test::private_net().empty()) GTEST_SKIP() << media_test::private_net();
    for (int i = 0; i < 1000; i++) body += char('a' + i % 26);
    std::string mp3_file = file("a.mp3", body), l16_file = file("a.lpcm", std::string(kL16Size, '\x01')),
                mpeg_file = file("a.mpg", tarvo_test::ps_stream(100, 2000));
    f.srv.data.put("filter", plugin + "\n");
    ASSERT_TRUE(f.start());
    std::string id = f.create("Container:UserFiles",
                              item("mp3", "protocolInfo=\"http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01\" "
                                          "tarvo:filename=\"" + mp3_file + "\""));
    mp3 = f.res_path(id);
    l16 = f.res_path(f.create("Container:UserFiles",
                              item("l16", "protocolInfo=\"http-get:*:audio/L16;rate=44100;channels=2:DLNA.ORG_OP=10\" "
                                          "duration=\"0:00:06.000\" bitrate=\"176400\" tarvo:filename=\"" +
                                              l16_file + "\"")));
    mpeg = f.res_path(f.create("Container:UserFiles",
                               item("mpeg", "protocolInfo=\"http-get:*:video/mpeg:DLNA.ORG_OP=10\" "
                                            "duration=\"0:00:10.000\" bitrate=\"20000\" tarvo:filename=\"" +
                                                mpeg_file + "\"")));
    ASSERT_FALSE(mp3.empty());
    ASSERT_FALSE(l16.empty());
    ASSERT_FALSE(mpeg.empty());
  }

  std::string ask(const std::string &text, const char *from = media_test::kLocal)
  {
    return media_test::request(f.http_port, text, from).head;
  }
};

TEST_F(MediaHttp, PlainRangedHeadAndConditionalAnswersOnOneConnection)
{
  client c(f.http_port);
  const std::string common = "SERVER: Tarvo Media Server\r\nDATE: *\r\nLAST-MODIFIED: " + std::string(kOldText) +
                             "\r\nCONTENT-TYPE: audio/mpeg\r\n";
  const std::string features = "contentFeatures.dlna.org: DLNA.ORG_PN=MP3;DLNA.ORG_OP=01\r\n\r\n";
  ASSERT_TRUE(c.send(get(mp3)));
  client::answer a = c.read_answer();
  ASSERT_TRUE(a.ok);
  EXPECT_EQ(a.head, "HTTP/1.1 200 OK\r\n" + common + "CONTENT-LENGTH: 1000\r\n" + features);
  EXPECT_EQ(a.body, body);

  ASSERT_TRUE(c.send(get(mp3 + "/more/text", "Range: bytes=10-19\r\n")));
  a = c.read_answer();
  EXPECT_EQ(a.head, "HTTP/1.1 206 partial content\r\nSERVER: Tarvo Media Server\r\nDATE: *\r\n"
                    "CONTENT-RANGE: bytes 10-19/1000\r\nLAST-MODIFIED: " +
                        std::string(kOldText) + "\r\nCONTENT-TYPE: audio/mpeg\r\nCONTENT-LENGTH: 10\r\n" + features);
  EXPECT_EQ(a.body, body.substr(10, 10));

  ASSERT_TRUE(c.send(get(mp3, "", "HEAD")));
  a = c.read_answer(true);
  EXPECT_EQ(a.head, "HTTP/1.1 200 OK\r\n" + common + "CONTENT-LENGTH: 1000\r\n" + features);

  ASSERT_TRUE(c.send(get(mp3, "If-Modified-Since: " + std::string(kOldText) + "\r\n")));
  a = c.read_answer(true);
  EXPECT_EQ(a.status(), "304 not modified");

  // The last request closes the connection after its answer.
  ASSERT_TRUE(c.send(get(mp3, "Connection: close\r\n")));
  a = c.read_answer();
  EXPECT_EQ(a.header("connection"), "close");
  EXPECT_EQ(a.body, body);
  EXPECT_TRUE(c.closed());
}

TEST_F(MediaHttp, ErrorsAreAnsweredAndCloseTheConnection)
{
  struct {
    std::string request, status;
  } cases[] = {
      {"GET http:x HTTP/1.1\r\n\r\n", "400 bad request"},
      {get("/a/../b"), "404 file does not exist"},
      {get(mp3 + "/.hidden"), "404 file does not exist"},
      {get(mp3, "", "POST"), "501 method not implemented"},
      {get("/999999-1.mp3"), "404 file not found"},
      // A stored path that only leads a longer segment names nothing.
      {get(mp3 + "0"), "404 file not found"},
      {get(mp3, "PlaySpeed.dlna.org: speed=2\r\n"), "406 not acceptable"},
      {get(mp3, "TimeSeekRange.dlna.org: npt=1-\r\n"), "406 not acceptable"},
      {get(mp3, "Range: bytes=2000-\r\n"), "416 requested range not satisfiable"},
  };
  for (const auto &k : cases) {
    client c(f.http_port);
    ASSERT_TRUE(c.send(k.request + get(mp3)));
    client::answer a = c.read_answer();
    EXPECT_EQ(a.status(), k.status) << k.request;
    EXPECT_EQ(a.header("connection"), "close") << k.request;
    EXPECT_EQ(a.body, "<html><body>" + k.status + "</body></html>\r\n") << k.request;
    EXPECT_TRUE(c.closed()) << k.request;
  }
  // Not HTTP at all: no answer.
  client c(f.http_port);
  ASSERT_TRUE(c.send("GET " + mp3 + " FOO/1.0\r\n\r\n"));
  EXPECT_FALSE(c.read_answer().ok);
  EXPECT_TRUE(c.closed());
}

// A file whose name is not UTF-8 is stored in its escaped form and served
// by its bytes.
TEST_F(MediaHttp, FileNamesThatAreNotUtf8AreServed)
{
  std::string path = file("caf\xe9 100%.mp3", body), escaped = "%";
  for (char c : path) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", static_cast<unsigned char>(c));
    escaped += static_cast<unsigned char>(c) >= 0x7f || c == '%' ? hex : std::string(1, c);
  }
  std::string id = f.create("Container:UserFiles",
                            item("latin", "protocolInfo=\"http-get:*:audio/mpeg:*\" tarvo:filename=\"" + escaped + "\""));
  ASSERT_FALSE(id.empty());
  client::answer a = media_test::request(f.http_port, get(f.res_path(id)));
  EXPECT_EQ(a.status(), "200 OK");
  EXPECT_EQ(a.body, body);
}

TEST_F(MediaHttp, RangeAndPlaySpeedOrTimeSeekGiveAPlainRange)
{
  for (const char *extra : {"PlaySpeed.dlna.org: speed=1\r\n", "TimeSeekRange.dlna.org: npt=1-\r\n"}) {
    client::answer a = media_test::request(f.http_port, get(l16, std::string("Range: bytes=0-3\r\n") + extra));
    EXPECT_EQ(a.status(), "206 partial content") << extra;
    EXPECT_EQ(a.header("content-range"), "bytes 0-3/" + std::to_string(kL16Size)) << extra;
    EXPECT_EQ(a.header("timeseekrange.dlna.org"), "") << extra;
  }
}

TEST_F(MediaHttp, L16TimeSeek)
{
  client c(f.http_port);
  ASSERT_TRUE(c.send(get(l16, "TimeSeekRange.dlna.org: npt=1-\r\n")));
  client::answer a = c.read_answer();
  EXPECT_EQ(a.head, "HTTP/1.1 200 OK\r\nSERVER: Tarvo Media Server\r\nDATE: *\r\n"
                    "TimeSeekRange.dlna.org: npt=1-6/6 bytes=176400-1058399/1058400\r\nLAST-MODIFIED: " +
                        std::string(kOldText) +
                        "\r\nCONTENT-TYPE: audio/L16;rate=44100;channels=2\r\nCONTENT-LENGTH: 882000\r\n"
                        "Vary: TimeSeekRange.dlna.org\r\ncontentFeatures.dlna.org: DLNA.ORG_OP=10\r\n\r\n");
  EXPECT_EQ(a.body.size(), 882000u);
  // Offsets of whole sample frames: the end rounds up.
  ASSERT_TRUE(c.send(get(l16, "TimeSeekRange.dlna.org: npt=0.5-1.003\r\n")));
  a = c.read_answer();
  EXPECT_EQ(a.header("timeseekrange.dlna.org"), "npt=0.500-1.003/6 bytes=88200-176931/1058400");

  for (const char *bad : {"npt=x-", "npt=6-", "npt=2-1"}) {
    client e(f.http_port);
    ASSERT_TRUE(e.send(get(l16, std::string("TimeSeekRange.dlna.org: ") + bad + "\r\n")));
    EXPECT_EQ(e.read_answer().status(), std::string(bad) == "npt=x-" ? "400 bad request"
                                                                       : "416 requested range not satisfiable")
        << bad;
    EXPECT_TRUE(e.closed()) << bad;
  }
}

TEST_F(MediaHttp, L16RangesStayInsideTheFileAndNeedChannels)
{
  // A bit rate four times too high: the end is cut to the file's end, a
  // start beyond it is refused.
  std::string lying = f.res_path(f.create(
      "Container:UserFiles",
      item("lying", "protocolInfo=\"http-get:*:audio/L16;rate=44100;channels=2:DLNA.ORG_OP=10\" "
                    "duration=\"0:00:06.000\" bitrate=\"705600\" tarvo:filename=\"" +
                        std::string(f.srv.data.dir / "a.lpcm") + "\"")));
  client::answer a = media_test::request(f.http_port, get(lying, "TimeSeekRange.dlna.org: npt=1-2\r\n"));
  EXPECT_EQ(a.header("timeseekrange.dlna.org"), "npt=1-2/6 bytes=705600-1058399/1058400");
  EXPECT_EQ(a.body.size(), kL16Size - 705600u);
  a = media_test::request(f.http_port, get(lying, "TimeSeekRange.dlna.org: npt=2-\r\n"));
  EXPECT_EQ(a.status(), "416 requested range not satisfiable");

  std::string mono0 = f.res_path(f.create(
      "Container:UserFiles",
      item("zero", "protocolInfo=\"http-get:*:audio/L16;rate=44100;channels=0:DLNA.ORG_OP=10\" "
                   "duration=\"0:00:06.000\" bitrate=\"176400\" tarvo:filename=\"" +
                       std::string(f.srv.data.dir / "a.lpcm") + "\"")));
  client c(f.http_port);
  ASSERT_TRUE(c.send(get(mono0, "TimeSeekRange.dlna.org: npt=1-\r\n")));
  EXPECT_FALSE(c.read_answer().ok);
  EXPECT_TRUE(c.closed());
}

TEST_F(MediaHttp, MpegTimeSeek)
{
  client c(f.http_port);
  ASSERT_TRUE(c.send(get(mpeg, "TimeSeekRange.dlna.org: npt=0-\r\n")));
  client::answer a = c.read_answer();
  EXPECT_EQ(a.status(), "200 OK");
  EXPECT_EQ(a.header("timeseekrange.dlna.org"), "npt=0-10/10 bytes=0-199999/200000");
  EXPECT_EQ(a.body.size(), 200000u);
  ASSERT_TRUE(c.send(get(mpeg, "TimeSeekRange.dlna.org: npt=5-\r\n")));
  a = c.read_answer();
  EXPECT_EQ(a.header("timeseekrange.dlna.org"), "npt=5-10/10 bytes=100000-199999/200000");
  for (const char *bad : {"npt=10-", "npt=4-3"}) {
    client e(f.http_port);
    ASSERT_TRUE(e.send(get(mpeg, std::string("TimeSeekRange.dlna.org: ") + bad + "\r\n")));
    EXPECT_EQ(e.read_answer().status(), "416 requested range not satisfiable") << bad;
  }
}

TEST_F(MediaHttp, PrivateObjectsAreNotFoundFromOtherMachines)
{
  std::string id = mp3.substr(1, mp3.find('-') - 1);
  ASSERT_EQ(f.action("X_SetPrivate", {{"ObjectID", id}, {"Private", "1"}}).code, 0u);
  EXPECT_EQ(media_test::request(f.http_port, get(mp3), kRemote).status(), "404 file not found");
  EXPECT_EQ(media_test::request(f.http_port, get(mp3)).status(), "200 OK");
  EXPECT_EQ(media_test::request(f.http_port, get(l16, "Range: bytes=0-0\r\n"), kRemote).status(),
            "206 partial content");
}

TEST_F(MediaHttp, PluginResourcesAreServedByThePlugin)
{
  std::string file = f.srv.data.dir / "a.lpcm";
  std::string served = f.res_path(f.create(
      "Container:UserFiles",
      item("plugin", "protocolInfo=\"http-get:*:audio/L16;rate=44100;channels=2:DLNA.ORG_OP=10\" "
                     "duration=\"0:00:06.000\" tarvo:filter=\"msf_media\" tarvo:filename=\"" + file + "\"")));
  ASSERT_FALSE(served.empty());
  client c(f.http_port);
  ASSERT_TRUE(c.send(get(served + "/x")));
  client::answer a = c.read_answer();
  EXPECT_EQ(a.status(), "200 OK");
  EXPECT_EQ(a.body, "method=GET\npath=" + served + "/x\nmime=audio/L16;rate=44100;channels=2\n"
                    "features=DLNA.ORG_OP=10\nduration=6000\nfile=" + file + "\nprivate=1\nremote_port=" +
                        a.body.substr(a.body.rfind('=') + 1));
  // The plug-in kept the connection open; an empty chunked body passes.
  ASSERT_TRUE(c.send(get(served, "Transfer-Encoding: chunked\r\n") + "0\r\n\r\n"));
  EXPECT_EQ(c.read_answer().status(), "200 OK");
  // A plug-in that closes its socket ends the connection.
  ASSERT_TRUE(c.send(get(served, "X-Close: 1\r\n")));
  EXPECT_EQ(c.read_answer().status(), "200 OK");
  EXPECT_TRUE(c.closed());

  for (const char *body : {"Content-Length: 5\r\n\r\nhello", "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n"}) {
    client b(f.http_port);
    std::string text = get(served);
    text.replace(text.size() - 2, 2, body);
    ASSERT_TRUE(b.send(text));
    a = b.read_answer();
    EXPECT_EQ(a.status(), "501 I do not accept messages") << body;
    EXPECT_TRUE(b.closed()) << body;
  }
}

// With corda_lpcm removed from filter after a scan, or named there by its
// path, its audio/L16 resources were still listed and a GET answered
// "200 audio/L16" with the MP3's bytes: a player played noise.
TEST_F(MediaHttp, ResourcesNoPlugInAnswersAreNotFoundNorListed)
{
  std::string mp3_file = f.srv.data.dir / "a.mp3", m3u_file = file("l.m3u", "a.mp3\n");
  const std::string l16 = "protocolInfo=\"http-get:*:audio/L16;rate=44100;channels=2:*\" tarvo:filename=\"" + mp3_file;
  std::string id = f.create("Container:UserFiles",
                            "<item id=\"\" parentID=\"Container:UserFiles\" restricted=\"0\"><dc:title>t</dc:title>"
                            "<upnp:class>object.item.audioItem.musicTrack</upnp:class>"
                            "<res protocolInfo=\"http-get:*:audio/mpeg:*\" tarvo:filename=\"" + mp3_file + "\"></res>"
                            "<res " + l16 + "\" tarvo:filter=\"corda_lpcm\"></res>"
                            "<res " + l16 + "\" tarvo:filter=\"msf_media\"></res></item>");
  std::vector<std::string> paths;
  ASSERT_TRUE(content_db_lock(&f.srv.s));
  const didl_object *o = content_db_get(&f.srv.s, id.c_str());
  for (uint32_t i = 0; o && i < o->properties.len; i++)
    if (property_at(o, i)->element == DIDL_NAME(EL_RES)) paths.push_back(property_at(o, i)->text);
  content_db_unlock(&f.srv.s);
  ASSERT_EQ(paths.size(), 3u);
  EXPECT_EQ(media_test::request(f.http_port, get(paths[0])).body, body);
  EXPECT_EQ(media_test::request(f.http_port, get(paths[1])).status(), "404 file not found");
  EXPECT_EQ(media_test::request(f.http_port, get(paths[1]), kRemote).status(), "404 file not found");
  EXPECT_EQ(media_test::request(f.http_port, get(paths[2])).body.rfind("method=GET\n", 0), 0u);
  for (const char *from : {media_test::kLocal, kRemote}) {
    media_test::soap_result r = f.action("Browse", {{"ObjectID", id}, {"BrowseFlag", "BrowseMetadata"}, {"Filter", "*"},
                                                   {"StartingIndex", "0"}, {"RequestedCount", "0"}, {"SortCriteria", ""}},
                                         from);
    ASSERT_EQ(r.code, 0u);
    EXPECT_NE(r["Result"].find(paths[0] + "</res>"), std::string::npos) << r["Result"];
    EXPECT_EQ(r["Result"].find(paths[1] + "</res>"), std::string::npos) << r["Result"];
    EXPECT_NE(r["Result"].find(paths[2] + "</res>"), std::string::npos) << r["Result"];
  }

  // A playlist is the file itself: without its plug-in it is sent as it is.
  std::string list = f.res_path(f.create(
      "Container:UserFiles", item("list", "protocolInfo=\"http-get:*:audio/x-mpegurl:*\" tarvo:filter=\"corda_m3u\" "
                                          "tarvo:filename=\"" + m3u_file + "\"")));
  client::answer a = media_test::request(f.http_port, get(list));
  EXPECT_EQ(a.status(), "200 OK");
  EXPECT_EQ(a.body, "a.mp3\n");
}

TEST_F(MediaHttp, StopEndsEveryConnectionPromptly)
{
  std::string path = f.srv.data.dir / "big.mpg";
  int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, int64_t(1) << 30), 0);
  close(fd);
  std::string big = f.res_path(f.create(
      "Container:UserFiles", item("big", "protocolInfo=\"http-get:*:video/mpeg:*\" tarvo:filename=\"" + path + "\"")));
  client idle(f.http_port), reader(f.http_port);
  ASSERT_TRUE(idle.send(get(mp3)));
  ASSERT_TRUE(idle.read_answer().ok);
  // The download stalls once its first bytes are in: the client reads
  // nothing.
  ASSERT_TRUE(reader.send(get(big)));
  pollfd p{reader.fd, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, tarvo_test::kLiveMs), 1);
  auto t0 = std::chrono::steady_clock::now();
  f.stop();
  // Not a speed: the stop came before the idle connection could time out,
  // which is what it once waited for (and the stalled one for longer).
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(MEDIA_HTTP_IN_TIMEOUT_MS));
  EXPECT_TRUE(idle.closed());
  EXPECT_TRUE(reader.closed(tarvo_test::kLiveMs));
}

// DNS rebinding: a web page whose own name was made to resolve to this
// machine reads the library unless the Host header is checked.
TEST_F(MediaHttp, RebindingHostsAreRefused)
{
  std::string port = std::to_string(f.http_port);
  std::string file = f.srv.data.dir / "a.lpcm";
  std::string served = f.res_path(f.create(
      "Container:UserFiles", item("plugin", "protocolInfo=\"http-get:*:audio/L16;rate=44100;channels=2:*\" "
                                            "tarvo:filter=\"msf_media\" tarvo:filename=\"" + file + "\"")));
  for (const std::string &path : {mp3, served}) {
    for (const std::string &evil : {std::string("evil.example"), "evil.example:" + port, "127.0.0.1.evil.example:" + port}) {
      client c(f.http_port);
      ASSERT_TRUE(c.send(get(path, "", "GET", evil)));
      client::answer a = c.read_answer();
      EXPECT_EQ(a.status(), "400 Bad Request") << path << " " << evil;
      EXPECT_EQ(a.body.find(body), std::string::npos);
      EXPECT_TRUE(c.closed()) << evil;
    }
    for (const std::string &good : {"127.0.0.1:" + port, std::string("localhost"), host_name(), host_name() + ".local:" + port})
      EXPECT_EQ(media_test::request(f.http_port, get(path, "", "GET", good)).status(), "200 OK") << path << " " << good;
  }
  // Two Host lines: a proxy in front may have read the other one.
  EXPECT_EQ(media_test::request(f.http_port, get(mp3, "Host: evil.example\r\n")).status(), "400 Bad Request");
}

// A decoded NUL used to cut the path: "/<id>-<n>.mp3%00.png" served the MP3.
TEST_F(MediaHttp, DecodedControlBytesInPathsAreRefused)
{
  for (const char *tail : {"%00.png", "%01", "%0a", "%0D%0AX:%20y", "/%7f"}) {
    client c(f.http_port);
    ASSERT_TRUE(c.send(get(mp3 + tail)));
    client::answer a = c.read_answer();
    EXPECT_EQ(a.status(), "400 Bad Request") << tail;
    EXPECT_EQ(a.body.find(body), std::string::npos) << tail;
    EXPECT_TRUE(c.closed()) << tail;
  }
  EXPECT_EQ(media_test::request(f.http_port, get(mp3 + "/%41")).status(), "200 OK");
}

TEST_F(MediaHttp, TransferModeIsEchoed)
{
  for (const char *mode : {"Streaming", "Interactive", "Background"}) {
    client::answer a = media_test::request(f.http_port, get(mp3, std::string("transferMode.dlna.org: ") + mode + "\r\n"));
    EXPECT_EQ(a.header("transfermode.dlna.org"), mode);
    a = media_test::request(f.http_port, get(l16, std::string("TransferMode.DLNA.ORG: ") + mode + "\r\n"
                                                  "TimeSeekRange.dlna.org: npt=1-\r\n"));
    EXPECT_EQ(a.header("transfermode.dlna.org"), mode);
  }
  EXPECT_EQ(media_test::request(f.http_port, get(mp3, "transferMode.dlna.org: Other\r\n")).header("transfermode.dlna.org"), "");
  EXPECT_EQ(media_test::request(f.http_port, get(mp3)).header("transfermode.dlna.org"), "");
}

// Idle connections from one neighbour must not lock everyone else out,
// nor make the server grow a thread for each of them.
TEST_F(MediaHttp, IdleFloodFromOneAddressLeavesOthersServed)
{
  // A served connection that stays kept alive, for the threads' baseline.
  int idle_threads = thread_count();
  std::vector<std::unique_ptr<client>> flood;
  for (int i = 0; i < 500; i++) flood.push_back(std::make_unique<client>(f.http_port, kRemote));
  int during = thread_count();
  // Each newcomer takes the place of the oldest silent one, whose thread
  // may still be leaving: a bounded number, never one per connection.
  EXPECT_LE(during, idle_threads + 2 * int(MEDIA_HTTP_CONNS_MAX));
  // A client locked out is told 503 at once.
  client::answer a = media_test::request(f.http_port, get(mp3));
  EXPECT_EQ(a.status(), "200 OK");
  // Beyond its address's share the flood's silent connections give way
  // once past their grace: the address is served again.
  EXPECT_TRUE(tarvo_test::eventually([&] {
    return media_test::request(f.http_port, get(mp3, "Connection: close\r\n"), kRemote).status() == "200 OK";
  }));
  flood.clear();
  EXPECT_TRUE(tarvo_test::eventually([&] { return thread_count() <= idle_threads; })) << thread_count();
}

// A client's kept-alive connections hold no share of its address: its
// next connection is served beside them, and none of them is closed under
// it (a TV would find its next request unanswered and send it again).
TEST_F(MediaHttp, KeptAliveConnectionsStayOpenForTheirClientsNextOne)
{
  std::vector<std::unique_ptr<client>> kept;
  for (uint32_t i = 0; i < CONN_PER_ADDRESS_MAX; i++) {
    kept.push_back(std::make_unique<client>(f.http_port, kRemote));
    ASSERT_TRUE(kept.back()->send(get(l16, "Range: bytes=0-0\r\n")));
    ASSERT_TRUE(kept.back()->read_answer().ok);
  }
  client late(f.http_port, kRemote);
  ASSERT_TRUE(late.send(get(l16, "Range: bytes=0-0\r\n")));
  EXPECT_EQ(late.read_answer().status(), "206 partial content");
  for (auto &k : kept) {
    ASSERT_TRUE(k->send(get(l16, "Range: bytes=0-0\r\n")));
    EXPECT_EQ(k->read_answer().status(), "206 partial content");
  }
}

// A refused request is paused before its close; the paused connections
// of one address must not keep its next good request out.
TEST_F(MediaHttp, RefusedRequestsPauseWithoutHoldingSlots)
{
  std::vector<std::unique_ptr<client>> refused;
  for (uint32_t i = 0; i < CONN_PER_ADDRESS_MAX; i++) {
    refused.push_back(std::make_unique<client>(f.http_port, kRemote));
    ASSERT_TRUE(refused.back()->send(get(l16, "", "GET", "evil.example")));
    ASSERT_EQ(refused.back()->read_answer().status(), "400 Bad Request");
  }
  // Paused ones that held their slots left the newcomer a 503.
  client late(f.http_port, kRemote);
  ASSERT_TRUE(late.send(get(l16, "Range: bytes=0-0\r\n")));
  EXPECT_EQ(late.read_answer().status(), "206 partial content");
}

// CreateObject takes a res with this server's URL as a path; it must be
// written back with the requester's URL, not as the bare path.
TEST_F(MediaHttp, CreatedResourceWithOurUrlIsWrittenAbsolute)
{
  std::string base = "http://127.0.0.1:" + std::to_string(f.http_port);
  std::string object = "<item id=\"\" parentID=\"Container:UserFiles\" restricted=\"0\"><dc:title>t</dc:title>"
                       "<upnp:class>object.item.audioItem.musicTrack</upnp:class><res protocolInfo=\"http-get:*:"
                       "audio/mpeg:*\">" + base + mp3 + "</res></item>";
  media_test::soap_result r =
      f.action("CreateObject", {{"ContainerID", "Container:UserFiles"}, {"Elements", media_test::didl(object)}});
  ASSERT_EQ(r.code, 0u);
  EXPECT_EQ(f.res_path(r["ObjectID"]), mp3);
  EXPECT_NE(r["Result"].find(">" + base + mp3 + "</res>"), std::string::npos) << r["Result"];
  r = f.action("Browse", {{"ObjectID", r["ObjectID"]}, {"BrowseFlag", "BrowseMetadata"}, {"Filter", "*"},
                          {"StartingIndex", "0"}, {"RequestedCount", "0"}, {"SortCriteria", ""}});
  ASSERT_EQ(r.code, 0u);
  EXPECT_NE(r["Result"].find(">" + base + mp3 + "</res>"), std::string::npos) << r["Result"];
}

TEST_F(MediaHttp, BroadcastLosslessAndMatroskaFilesHaveTypes)
{
  const std::pair<const char *, const char *> types[] = {
      {"a.ts", "video/mpeg"}, {"a.M2TS", "video/mpeg"}, {"a.mts", "video/mpeg"}, {"a.m2t", "video/mpeg"},
      {"a.flac", "audio/flac"}, {"a.mkv", "video/x-matroska"}};
  for (const auto &[name, type] : types) {
    char *mime = nullptr;
    ASSERT_TRUE(conf_mimetype(f.srv.data.home.c_str(), (std::string("/media/") + name).c_str(), &mime)) << name;
    EXPECT_STREQ(mime, type) << name;
    sys_alloc_free(mime);
  }
}

// The caps of the media server and the management port, as a connection
// thread meets them: a silent connection gives way to a newcomer only past
// its grace and one that has sent a byte never; a newcomer beyond the
// share waits for a slot, and has one when a client closes its own
// connection, or is told 503 when none comes, and at once when too many
// of its address wait already.
TEST(MediaConnSet, NewcomersWaitForASlotThatOnlyIdleOnesGiveUp)
{
  conn_set_rec set;
  ASSERT_TRUE(conn_set_init(&set, 32, 2, 100, "test"));
  static std::atomic<bool> go;
  go = false;
  // The request line, once the connection has its slot; then the thread
  // holds it until go.
  auto run = [](void *p) {
    auto *slot = static_cast<conn_slot *>(p);
    sys_stralloc_rec line{};
    int64_t due = 0;
    if (conn_request_line(conn_slot_policy(&slot->http), 1, 0, &due, &line))
      go.wait(false);
    sys_stralloc_free(&line);
    conn_set_leave(slot);
  };
  std::vector<conn_slot *> slots;
  // The peer's end of a new connection from 10.0.0.1 that has sent line;
  // -1 when it was turned away at once.
  auto admit = [&](const char *line) {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return -1;
    auto *slot = static_cast<conn_slot *>(sys_alloc_zero(sizeof(conn_slot)));
    http_server_conn *c = &slot->http;
    c->socket = sv[0];
    sys_socket_ndelay_on(sv[0]);
    sys_socketbuffer_init(&c->in, sv[0], c->in_buf, sizeof c->in_buf, 1000);
    sys_socketbuffer_init(&c->out, sv[0], c->out_buf, sizeof c->out_buf, 1000);
    const uint8_t ip[4] = {10, 0, 0, 1};
    std::memcpy(c->addr.remote_ip, ip, 4);
    EXPECT_EQ(write(sv[1], line, strlen(line)), ssize_t(strlen(line)));
    if (conn_set_admit(&set, slot, run)) {
      slots.push_back(slot);
      return sv[1];
    }
    sys_alloc_free(slot);
    char buf[64] = {};
    EXPECT_GT(read(sv[1], buf, sizeof buf - 1), 0);
    EXPECT_EQ(std::string(buf).rfind("HTTP/1.1 503", 0), 0u) << buf;
    close(sv[1]);
    return -1;
  };
  // What the server said before it closed.
  auto said = [](int fd) {
    std::string got;
    char buf[256];
    pollfd p{fd, POLLIN, 0};
    for (ssize_t n; poll(&p, 1, tarvo_test::kLiveMs) == 1 && (n = read(fd, buf, sizeof buf)) > 0;) got.append(buf, n);
    return got;
  };
  // Whether the connection of slot has its slot and its request line.
  auto holds = [&](conn_slot *slot) {
    sys_mutex_lock(&set.mutex);
    bool in = false;
    for (uint32_t i = 0; i < set.policy.conns.len; i++)
      in |= set.policy.conns.buf[i] == &slot->policy && !slot->policy.waiting &&
            __atomic_load_n(&slot->policy.idle, __ATOMIC_ACQUIRE) == CONN_BUSY;
    sys_mutex_unlock(&set.mutex);
    return in;
  };
  const char *get = "GET / HTTP/1.1\r\n";
  int silent = admit(""), talker = admit(get);
  ASSERT_TRUE(tarvo_test::eventually([&] { return holds(slots[1]); }));
  int a = admit(get);
  EXPECT_EQ(said(silent), "");
  EXPECT_TRUE(tarvo_test::eventually([&] { return holds(slots[2]); }));
  int b = admit(get);
  EXPECT_EQ(said(b).rfind("HTTP/1.1 503", 0), 0u);
  int c = admit(get);
  close(talker);
  EXPECT_TRUE(tarvo_test::eventually([&] { return holds(slots[4]); }));
  std::vector<int> waiting;
  for (uint32_t i = 0; i < CONN_WAITING_PER_ADDRESS_MAX; i++) waiting.push_back(admit(get));
  EXPECT_EQ(std::count(waiting.begin(), waiting.end(), -1), 0);
  EXPECT_EQ(admit(get), -1);
  go = true;
  go.notify_all();
  for (int fd : waiting) close(fd);
  for (int fd : {silent, a, b, c}) close(fd);
  conn_set_close(&set);
}

}  // namespace
