// The plug-ins inside the running server program: a playlist served as
// entry URLs and its entries under them, the request reader's refusals,
// and the playlist plug-in mapped once although the server also links it.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tarvo_test.h"

namespace fs = std::filesystem;
extern char **environ;

namespace {

constexpr uint16_t kUpnpPort = 30000, kHttpPort = 30001;

// What came back on one connection until the server closed it, and how
// long that took.
struct reply {
  std::string text;
  double seconds = 0;
  std::string status() const { return text.substr(0, text.find("\r\n")); }
  std::string body() const
  {
    size_t at = text.find("\r\n\r\n");
    return at == std::string::npos ? "" : text.substr(at + 4);
  }
  std::string header(const std::string &name) const
  {
    std::smatch m;
    if (!std::regex_search(text, m, std::regex("\r\n" + name + ": *([^\r]*)\r\n", std::regex::icase))) return "";
    return m[1];
  }
};

reply talk(uint16_t port, const std::string &request)
{
  reply r;
  auto begin = std::chrono::steady_clock::now();
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size())) {
    char buf[65536];
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 10000) > 0) {
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      r.text.append(buf, size_t(n));
    }
  }
  close(fd);
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  return r;
}

reply get(const std::string &path, const std::string &headers = "")
{
  return talk(kHttpPort, "GET " + path + " HTTP/1.1\r\nHOST: 127.0.0.1\r\nCONNECTION: close\r\n" + headers + "\r\n");
}

std::string unescape(std::string s)
{
  for (auto [from, to] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}})
    for (size_t at; (at = s.find(from)) != std::string::npos;) s.replace(at, std::strlen(from), to);
  return s;
}

std::string browse(const std::string &id)
{
  std::string type = "urn:schemas-upnp-org:service:ContentDirectory:1";
  std::string body = "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                     "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:Browse xmlns:u=\"" +
                     type + "\"><ObjectID>" + id +
                     "</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter>"
                     "<StartingIndex>0</StartingIndex><RequestedCount>0</RequestedCount><SortCriteria></SortCriteria>"
                     "</u:Browse></s:Body></s:Envelope>";
  return unescape(talk(kUpnpPort, "POST /control/ContentDirectory HTTP/1.1\r\nHOST: 127.0.0.1\r\n"
                                      "CONTENT-TYPE: text/xml; charset=\"utf-8\"\r\nSOAPACTION: \"" + type +
                                          "#Browse\"\r\nCONNECTION: close\r\nCONTENT-LENGTH: " +
                                          std::to_string(body.size()) + "\r\n\r\n" + body)
                      .body());
}

// The server program on a laid-out data folder whose filter names the
// three plug-ins and whose one share is built here.
struct running_server {
  tarvo_test::scratch_dir dir;
  std::string service = dir / "service", data = dir / "data", media = dir / "media";
  pid_t pid = -1;

  running_server()
  {
    fs::create_directories(service);
    fs::create_directories(media + "/sub");
    tarvo_test::write_file(service + "/service_name", "Tarvo Media Server\n");
    tarvo_test::write_file(service + "/data_home", data + "\n");
    EXPECT_EQ(std::system((tarvo_test::data_dir() + "/../scripts/layout-data " + data).c_str()), 0);
    tarvo_test::write_file(data + "/conf/filter", "corda_m3u\ncorda_didl\ncorda_album_art\n");
    tarvo_test::write_file(data + "/conf/auto_run", "");
    tarvo_test::write_file(data + "/conf/sync/share/list", media + "\n");
    tarvo_test::write_file(media + "/a.mp3", "first entry's bytes");
    tarvo_test::write_file(media + "/sub/b.ogg", "third entry");
    tarvo_test::write_file(media + "/notes.txt", "not media");
    tarvo_test::write_file(media + "/list.m3u", "#EXTM3U\n\na.mp3\nmissing.mp3\nsub/b.ogg\nnotes.txt\n");
  }
  ~running_server()
  {
    if (pid > 0) {
      kill(pid, SIGTERM);
      for (int i = 0; i < 500 && waitpid(pid, nullptr, WNOHANG) != pid; i++) usleep(20000);
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
  }
  bool start()
  {
    std::vector<std::string> env = {"TARVO_SERVICE_DIR=" + service};
    for (char **e = environ; *e; e++)
      if (std::strncmp(*e, "TARVO_SERVICE_DIR=", 18) && std::strncmp(*e, "NOTIFY_SOCKET=", 14)) env.push_back(*e);
    std::vector<char *> envp;
    for (auto &e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const char *bin = std::getenv("TARVO_BIN");
    std::string prog = std::string(bin ? bin : "bin") + "/vennard";
    char *argv[] = {prog.data(), nullptr};
    return posix_spawn(&pid, prog.c_str(), nullptr, nullptr, argv, envp.data()) == 0;
  }
  // The URL path of the playlist's resource once the share is scanned.
  std::string playlist_path()
  {
    std::regex res("<res [^>]*>http://127\\.0\\.0\\.1:30001(/[^<]*\\.m3u)</res>");
    for (int i = 0; i < 300; i++) {
      std::smatch m, share;
      std::string shares = browse("Container:UserFiles");
      if (std::regex_search(shares, share, std::regex("<container id=\"([^\"]+)\""))) {
        std::string children = browse(share[1]);
        if (std::regex_search(children, m, res)) return m[1];
      }
      usleep(100000);
    }
    return "";
  }
};

// The distinct files mapped under a name in a process.
std::set<std::string> mapped(pid_t pid, const std::string &name)
{
  std::set<std::string> files;
  std::istringstream maps(tarvo_test::read_file("/proc/" + std::to_string(pid) + "/maps"));
  for (std::string line; std::getline(maps, line);) {
    if (line.find(name) == std::string::npos) continue;
    std::istringstream f(line);
    std::string range, perms, offset, dev, inode;
    f >> range >> perms >> offset >> dev >> inode;
    files.insert(dev + ":" + inode);
  }
  return files;
}

}  // namespace

TEST(PlaylistServing, EntriesAsUrlsTheirFilesAndTheRefusals)
{
  if (!tarvo_test::private_net().empty()) GTEST_SKIP() << tarvo_test::private_net();
  running_server srv;
  ASSERT_TRUE(srv.start());
  std::string path = srv.playlist_path();
  ASSERT_FALSE(path.empty());

  // Entry 2 names no file and entry 4 is no media file: both are counted,
  // neither is listed.
  std::string base = "http://127.0.0.1:30001" + path;
  std::string listed = base + "/1.mp3\r\n" + base + "/3.ogg\r\n";
  reply whole = get(path);
  EXPECT_EQ(whole.status(), "HTTP/1.1 200 OK");
  EXPECT_EQ(whole.body(), listed);
  EXPECT_EQ(whole.header("CONTENT-LENGTH"), std::to_string(listed.size()));
  reply part = get(path, "RANGE: bytes=7-16\r\n");
  EXPECT_EQ(part.status(), "HTTP/1.1 206 partial content");
  EXPECT_EQ(part.body(), listed.substr(7, 10));
  EXPECT_EQ(get(path, "TimeSeekRange.dlna.org: npt=0-\r\n").status(), "HTTP/1.1 400 bad request");

  reply first = get(path + "/1.mp3");
  EXPECT_EQ(first.status(), "HTTP/1.1 200 OK");
  EXPECT_EQ(first.body(), "first entry's bytes");
  EXPECT_EQ(first.header("CONTENT-TYPE"), "audio/mpeg");
  reply third = get(path + "/3.ogg", "RANGE: bytes=6-\r\n");
  EXPECT_EQ(third.status(), "HTTP/1.1 206 partial content");
  EXPECT_EQ(third.body(), "entry");
  EXPECT_EQ(third.header("CONTENT-TYPE"), "application/ogg");
  EXPECT_EQ(get(path + "/3.ogg", "PlaySpeed.dlna.org: speed=2\r\n").status(), "HTTP/1.1 406 not acceptable");
  // A playlist line may name any file the server can read, such as
  // /etc/shadow: only media files are served.
  for (const char *missing : {"/2.mp3", "/4.txt", "/9.mp3"})
    EXPECT_EQ(get(path + missing).status(), "HTTP/1.1 404 file not found") << missing;

  // The reader's refusals, with the length of their bodies, after the
  // pause.
  reply no_host = talk(kHttpPort, "GET " + path + " HTTP/1.1\r\n\r\n");
  EXPECT_EQ(no_host.status(), "HTTP/1.1 400 HTTP/1.1 requests must include a host name");
  EXPECT_EQ(no_host.header("CONTENT-LENGTH"), "74");
  EXPECT_EQ(no_host.header("SERVER"), "Tarvo Media Server");
  EXPECT_GE(no_host.seconds, 0.9);
  EXPECT_LT(no_host.seconds, 5);
  reply expect = get(path, "EXPECT: 100-continue\r\n");
  EXPECT_EQ(expect.status(), "HTTP/1.1 417 I do not accept Expect");
  EXPECT_EQ(expect.header("CONTENT-LENGTH"), std::to_string(std::string("417 I do not accept Expect").size() + 28));
  EXPECT_EQ(get(path, "RANGE: bytes=0-1\r\nRANGE: bytes=3-4\r\n").status(), "HTTP/1.1 400 multipart range not supported");
  EXPECT_EQ(get(path, "getcontentFeatures.dlna.org: 2\r\n").status(), "HTTP/1.1 400 bad request");
  EXPECT_EQ(get(path, "getcontentFeatures.dlna.org: 1\r\n").status(), "HTTP/1.1 200 OK");
  // HTTP/1.0 needs no Host.
  EXPECT_EQ(talk(kHttpPort, "GET " + path + " HTTP/1.0\r\n\r\n").body(), listed);

  // Loaded by name from the filter, the plug-in is the library the
  // server links, not a second copy.
  EXPECT_EQ(mapped(srv.pid, "libcorda_m3u.so").size(), 1u);
  EXPECT_EQ(mapped(srv.pid, "libcorda_didl.so").size(), 1u);
}
