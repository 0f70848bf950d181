// links: tarvo_util
// The media server at scale, in one run: a generated library of 20,000
// small files (10,000 MP3 in one folder, 1,000 JPEG in another, 9,000
// mixed in folders of 100, one of them a 254 MiB sparse video) served by
// the real program (bin/vennard) on its own data folder, in a network
// namespace of its own.  Reports start to the first ssdp:alive, the first
// scan, resident memory, Browse pages from one and from 8 clients, a
// whole-file stream read two ways, idle wake-ups, the restart on the
// unchanged library and, through bench_content_db beside it (always this
// build's, whichever program is served), the load of a data.xml of 100,000
// objects.  Usage: bench_scale [seconds per Browse run (default 3)
// [program (default bin/vennard beside bench/) [count0: only the
// RequestedCount 0 run, three times | paged: only the runs of pages of 50,
// twice, with the size of their answers | stream: only the stream, three
// times | restart: only the restart, five times | found: three starts, each
// with the first alive, the first search answer, the idle wake-ups over
// the seconds given and the stop | 100k: the library of
// 100,000 files (see library_make_100k): the first scan, resident memory,
// pages of 50 in its 50,000-child folder, Browse with a stream for ten
// times the seconds, the restart and the load of its own data.xml |
// 100k-layout DIR: only that library and a data folder in DIR, for a
// memory profiler run by hand | 100k-again DIR: the library that
// 100k-layout left in DIR served: start, Search, restart, Search]]]].
#include <arpa/inet.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tarvo_test.h"

extern char **environ;

namespace fs = std::filesystem;

namespace {

using clock_type = std::chrono::steady_clock;
constexpr const char *kCdsType = "urn:schemas-upnp-org:service:ContentDirectory:1";
constexpr uint64_t kStreamSize = uint64_t(254) << 20;

double since(clock_type::time_point t) { return std::chrono::duration<double>(clock_type::now() - t).count(); }

bool fail(const std::string &what)
{
  std::fprintf(stderr, "bench_scale: %s\n", what.c_str());
  return false;
}

std::string le(uint32_t v, int bytes)
{
  std::string s;
  for (int i = 0; i < bytes; i++) s += char((v >> (8 * i)) & 0xff);
  return s;
}

std::string be(uint32_t v, int bytes)
{
  std::string s;
  for (int i = bytes - 1; i >= 0; i--) s += char((v >> (8 * i)) & 0xff);
  return s;
}

// An ID3v2.3 tag with title, artist, album and track, then a few MPEG-1
// layer III frames of silence.
std::string mp3(const std::string &title, const std::string &album, uint32_t track,
                const std::string &artist = "Bench Artist", const std::string &genre = "")
{
  std::string frames;
  auto text = [&](const char *id, const std::string &v) { frames += id + be(uint32_t(v.size() + 1), 4) + std::string(2, '\0') + '\0' + v; };
  text("TIT2", title);
  text("TPE1", artist);
  text("TALB", album);
  text("TRCK", std::to_string(track));
  if (!genre.empty()) text("TCON", genre);
  uint32_t n = uint32_t(frames.size());
  std::string tag = std::string("ID3\3\0\0", 6) + char((n >> 21) & 0x7f) + char((n >> 14) & 0x7f) +
                    char((n >> 7) & 0x7f) + char(n & 0x7f) + frames;
  std::string frame = std::string("\xff\xfb\x90\x64", 4) + std::string(413, '\0');
  for (int i = 0; i < 4; i++) tag += frame;
  return tag;
}

// A baseline JPEG header of the given size (no scan data).
std::string jpeg(uint32_t w, uint32_t h)
{
  return std::string("\xff\xd8\xff\xe0\0\x10JFIF\0\1\1\0\0\1\0\1\0\0", 20) + "\xff\xc0" + be(17, 2) + '\x08' +
         be(h, 2) + be(w, 2) + '\x03' + std::string("\x01\x22\x00\x02\x11\x01\x03\x11\x01", 9) + "\xff\xd9";
}

std::string wav(uint32_t n)
{
  return "RIFF" + le(36 + n, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(8000, 4) + le(8000, 4) +
         le(1, 2) + le(8, 2) + "data" + le(n, 4) + std::string(n, '\x80');
}

// A PTS field of an MPEG-2 PES header.
std::string pts5(uint64_t pts)
{
  return {char(0x21 | ((pts >> 29) & 0x0E)), char(pts >> 22), char(((pts >> 14) & 0xFE) | 1), char(pts >> 7),
          char(((pts << 1) & 0xFE) | 1)};
}

// A 2,048-byte MPEG-2 program stream: two packs of 1,024 bytes, each a
// video packet with a PTS (1 s apart) and a padding packet.  The first
// picture follows a 352x288 25 fps sequence header, each picture a GOP
// header: what a player and the tag reader need to call it MPEG video.
std::string mpg()
{
  const std::string pack("\0\0\1\xBA\x44\0\4\0\4\1\1\x89\xC3\xF8", 14);
  const std::string sequence("\0\0\1\xB3\x16\x01\x20\x23\x0B\x40\x20\xA0", 12);
  const std::string picture("\0\0\1\0\0\x0F\xFF\xF8", 8);  // temporal reference 0, an I picture
  std::string s;
  for (uint32_t second : {0u, 1u}) {
    // The GOP's time code 0:00:second:00, closed.
    std::string gop = std::string("\0\0\1\xB8\0\x08", 6) + char(second << 5) + '\x40';
    std::string video = (second ? "" : sequence) + gop + picture;
    std::string pes = std::string("\x80\x80\x05", 3) + pts5(90000 * (second + 1)) + video;
    std::string unit = pack + std::string("\0\0\1\xE0", 4) + be(uint32_t(pes.size()), 2) + pes;
    uint32_t padding = uint32_t(1024 - unit.size() - 6);
    s += unit + std::string("\0\0\1\xBE", 4) + be(padding, 2) + std::string(padding, '\xFF');
  }
  return s;
}

void put(const std::string &path, const std::string &data) { std::ofstream(path, std::ios::binary) << data; }

// The library: big/ (10,000 MP3 of one album, tracks in shuffled order),
// pics/ (1,000 JPEG) and mixed/m00..m89 (MP3, WAV, JPEG and MPEG files;
// the first one the 254 MiB stream).
bool library_make(const std::string &media)
{
  fs::create_directories(media + "/big");
  fs::create_directories(media + "/pics");
  for (uint32_t i = 0; i < 10000; i++) {
    uint32_t n = (i * 7919u) % 10000 + 1;
    put(media + "/big/t" + std::to_string(i) + ".mp3", mp3("Track " + std::to_string(n), "Big Album", n));
  }
  for (uint32_t i = 0; i < 1000; i++) put(media + "/pics/p" + std::to_string(i) + ".jpg", jpeg(640 + i, 480));
  for (uint32_t i = 0; i < 9000; i++) {
    std::string folder = media + "/mixed/m" + std::to_string(i / 100);
    if (i % 100 == 0) fs::create_directories(folder);
    std::string name = folder + "/x" + std::to_string(i);
    if (i == 0) {
      // A WAV header that tells the whole size: the scanner keeps no file
      // that its readers take for none of their kinds.
      put(name + ".wav", wav(0).replace(4, 4, le(uint32_t(kStreamSize - 8), 4)).replace(40, 4, le(uint32_t(kStreamSize - 44), 4)));
      int fd = open((name + ".wav").c_str(), O_WRONLY | O_CLOEXEC);
      if (fd < 0 || ftruncate(fd, off_t(kStreamSize)) != 0) return fail("sparse stream file");
      close(fd);
      continue;
    }
    switch (i % 4) {
      case 0: put(name + ".mp3", mp3("Mixed " + std::to_string(i), "Album " + std::to_string(i / 20), i % 20 + 1)); break;
      case 1: put(name + ".wav", wav(400)); break;
      case 2: put(name + ".jpg", jpeg(320, 200 + i % 100)); break;
      default: put(name + ".mpg", mpg());
    }
  }
  return true;
}

// A file made once and linked under each of its names: the library of
// 100,000 files costs little disk.
bool link_each(const std::string &from, const std::vector<std::string> &names)
{
  for (const std::string &n : names)
    if (link(from.c_str(), n.c_str()) != 0) return fail("link " + n);
  return true;
}

// A 12 MiB MPEG-2 transport stream (video and audio) by ffmpeg.
bool transport_stream(const std::string &path)
{
  std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc=size=352x288:rate=25 "
                    "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 30 -c:v mpeg2video -b:v 3000k "
                    "-minrate 3000k -maxrate 3000k -bufsize 1835k -c:a mp2 -b:a 192k -f mpegts '" + path + "'";
  return std::system(cmd.c_str()) == 0 || fail("ffmpeg (the transport stream)");
}

// The library of 100,000 files: big/ (50,000 tagged MP3 of 5,000 albums
// by 1,000 artists in 25 genres, each file its own), pics/ (5,000 JPEG),
// mixed/g00..g14/f00..f29 (450 folders of 100: MP3 of 20 albums, WAV, JPEG,
// MPEG and a playlist of five of them) and video/stream.ts; all but the
// big folder links of a few files made in templates/.
bool library_make_100k(const std::string &media, const std::string &templates)
{
  for (const char *d : {"/big", "/pics", "/video"}) fs::create_directories(media + d);
  fs::create_directories(templates);
  for (uint32_t i = 0; i < 50000; i++) {
    uint32_t album = (i * 7919u) % 50000 / 10, artist = album / 5;
    put(media + "/big/t" + std::to_string(i) + ".mp3",
        mp3("Song " + std::to_string(i), "Album " + std::to_string(album), i % 10 + 1, "Artist " + std::to_string(artist),
            "Genre " + std::to_string(artist % 25)));
  }
  std::vector<std::vector<std::string>> pics(50);
  for (uint32_t i = 0; i < 5000; i++) pics[i % 50].push_back(media + "/pics/p" + std::to_string(i) + ".jpg");
  for (uint32_t t = 0; t < 50; t++) {
    std::string from = templates + "/p" + std::to_string(t) + ".jpg";
    put(from, jpeg(640 + t, 480));
    if (!link_each(from, pics[t])) return false;
  }
  // Each folder holds the same names, so one playlist serves them all.
  std::vector<std::vector<std::string>> mixed(100);
  for (uint32_t f = 0; f < 450; f++) {
    char folder[32];
    std::snprintf(folder, sizeof folder, "/mixed/g%02u/f%02u", f / 30, f % 30);
    fs::create_directories(media + folder);
    for (uint32_t i = 0; i < 100; i++) mixed[i].push_back(media + folder + "/x" + std::to_string(i));
  }
  std::string list = "#EXTM3U\n";
  for (uint32_t i = 0; i < 100; i++) {
    std::string from = templates + "/x" + std::to_string(i), ext;
    switch (i % 4) {
      case 0: ext = ".mp3", put(from + ext, mp3("Mixed " + std::to_string(i), "Mixed Album " + std::to_string(i % 20), i % 20 + 1)); break;
      case 1: ext = ".wav", put(from + ext, wav(400)); break;
      case 2: ext = ".jpg", put(from + ext, jpeg(320, 200 + i)); break;
      default: ext = i == 99 ? ".m3u" : ".mpg", put(from + ext, i == 99 ? list : mpg());
    }
    if (i % 20 == 0) list += "x" + std::to_string(i) + ".mp3\n";
    std::vector<std::string> names;
    for (const std::string &n : mixed[i]) names.push_back(n + ext);
    if (!link_each(from + ext, names)) return false;
  }
  return transport_stream(media + "/video/stream.ts");
}

std::string exe_dir() { return fs::read_symlink("/proc/self/exe").parent_path().string(); }

std::string layout_script()
{
  fs::path p = exe_dir();
  for (; !p.empty() && p != p.root_path(); p = p.parent_path())
    if (fs::exists(p / "scripts/layout-data")) return (p / "scripts/layout-data").string();
  return "";
}

double rss_mib(pid_t pid)
{
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(f, line);)
    if (line.rfind("VmRSS:", 0) == 0) return double(std::stol(line.substr(6))) / 1024;
  return 0;
}

// utime + stime in clock ticks.
uint64_t cpu_ticks(pid_t pid)
{
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string all((std::istreambuf_iterator<char>(f)), {});
  size_t close = all.rfind(')');
  if (close == std::string::npos) return 0;
  std::vector<std::string> fields;
  size_t at = close + 2;
  while (at < all.size() && fields.size() < 15) {
    size_t sp = all.find(' ', at);
    fields.push_back(all.substr(at, sp - at));
    at = sp == std::string::npos ? all.size() : sp + 1;
  }
  return fields.size() >= 13 ? std::stoull(fields[11]) + std::stoull(fields[12]) : 0;
}

// The program, started on the data folder.
struct server_process {
  std::string service, log, bin = fs::path(exe_dir()).parent_path().string() + "/bin/vennard";
  pid_t pid = -1;
  bool start()
  {
    std::vector<std::string> env = {"TARVO_SERVICE_DIR=" + service, "TARVO_COMMON_MUSIC=", "TARVO_COMMON_PICTURES=",
                                    "TARVO_COMMON_VIDEO=", "HOME=" + service, "PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
    std::vector<char *> envp;
    for (std::string &e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    char *argv[] = {bin.data(), nullptr};
    int r = posix_spawn(&pid, bin.c_str(), &fa, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&fa);
    return r == 0 || fail("cannot start " + bin);
  }
  void stop()
  {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int st = 0;
    for (int i = 0; i < 1500 && waitpid(pid, &st, WNOHANG) != pid; i++) usleep(20000);
    if (kill(pid, 0) == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    pid = -1;
  }
  ~server_process() { stop(); }
  // Seconds from t0 until the process's CPU time last grew before it
  // stayed flat for quiet seconds (the scan is then complete).
  double busy_until(clock_type::time_point t0, double quiet, double limit)
  {
    uint64_t last = cpu_ticks(pid);
    double last_change = since(t0);
    while (since(t0) < limit) {
      usleep(50000);
      uint64_t now = cpu_ticks(pid);
      if (now != last) {
        last = now;
        last_change = since(t0);
      } else if (since(t0) - last_change >= quiet) {
        break;
      }
    }
    return last_change;
  }
};

int connect_to(uint16_t port)
{
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// An HTTP/1.1 client on one connection, opened again when the server
// closes it.
struct http_client {
  uint16_t port;
  bool keep_alive;
  int fd = -1;
  std::string buf;
  ~http_client()
  {
    if (fd >= 0) close(fd);
  }
  // Sends a request and reads one answer; its status and body.
  bool exchange(const std::string &head, const std::string &body, int *status, std::string *out)
  {
    if (fd < 0 && (fd = connect_to(port)) < 0) return false;
    std::string req = head + "CONNECTION: " + (keep_alive ? "keep-alive" : "close") +
                      "\r\nCONTENT-LENGTH: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    bool ok = send(fd, req.data(), req.size(), MSG_NOSIGNAL) == ssize_t(req.size()) && read_answer(status, out);
    if (!ok || !keep_alive) {
      close(fd);
      fd = -1;
      buf.clear();
    }
    return ok;
  }
  bool fill()
  {
    char tmp[65536];
    ssize_t n = recv(fd, tmp, sizeof tmp, 0);
    if (n <= 0) return false;
    buf.append(tmp, size_t(n));
    return true;
  }
  bool read_answer(int *status, std::string *out)
  {
    size_t end;
    while ((end = buf.find("\r\n\r\n")) == std::string::npos)
      if (!fill()) return false;
    std::string head = buf.substr(0, end);
    buf.erase(0, end + 4);
    *status = std::atoi(head.c_str() + 9);
    std::string lower = head;
    for (char &ch : lower) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    size_t cl = lower.find("content-length:");
    if (cl == std::string::npos) {
      while (fill()) {
      }
      *out = std::move(buf);
      buf.clear();
      return true;
    }
    size_t len = std::strtoull(head.c_str() + cl + 15, nullptr, 10);
    while (buf.size() < len)
      if (!fill()) return false;
    *out = buf.substr(0, len);
    buf.erase(0, len);
    return true;
  }
};

std::string soap_body(const std::string &action, const std::string &args)
{
  return "<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:" +
         action + " xmlns:u=\"" + kCdsType + "\">" + args + "</u:" + action + "></s:Body></s:Envelope>";
}

std::string soap_head(const std::string &action, uint16_t port)
{
  return "POST /control/ContentDirectory HTTP/1.1\r\nHOST: 127.0.0.1:" + std::to_string(port) +
         "\r\nCONTENT-TYPE: text/xml; charset=\"utf-8\"\r\nSOAPACTION: \"" + kCdsType + "#" + action + "\"\r\n";
}

std::string browse_args(const std::string &id, uint32_t start, uint32_t count)
{
  return "<ObjectID>" + id + "</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter>"
         "<StartingIndex>" + std::to_string(start) + "</StartingIndex><RequestedCount>" + std::to_string(count) +
         "</RequestedCount><SortCriteria></SortCriteria>";
}

// The text between the first <name> and </name>.
std::string element(const std::string &text, const std::string &name, size_t from = 0)
{
  size_t a = text.find("<" + name + ">", from);
  if (a == std::string::npos) return "";
  a += name.size() + 2;
  return text.substr(a, text.find("</" + name + ">", a) - a);
}

// XML entities of a Result undone (enough for ids, titles and URLs).
std::string unescape(std::string s)
{
  for (auto [from, to] : {std::pair<const char *, const char *>{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""},
                          {"&apos;", "'"}, {"&amp;", "&"}}) {
    std::string out;
    for (size_t at = 0;;) {
      size_t hit = s.find(from, at);
      out += s.substr(at, hit - at);
      if (hit == std::string::npos) break;
      out += to;
      at = hit + std::strlen(from);
    }
    s = out;
  }
  return s;
}

struct library {
  pid_t pid = -1;
  uint16_t upnp_port = 0, http_port = 0;
  std::string big_id, pics_id, stream_url;

  std::string browse(const std::string &id, uint32_t count = 0)
  {
    http_client c{upnp_port, false, -1, {}};
    int status = 0;
    std::string body;
    if (!c.exchange(soap_head("Browse", upnp_port), soap_body("Browse", browse_args(id, 0, count)), &status, &body) ||
        status != 200)
      return "";
    return unescape(element(body, "Result"));
  }

  // The id of the child of a container with that title.
  std::string child(const std::string &parent, const std::string &title)
  {
    std::string didl = browse(parent);
    size_t t = didl.find("<dc:title>" + title + "</dc:title>");
    if (t == std::string::npos) return "";
    size_t open = didl.rfind("<container id=\"", t);
    if (open == std::string::npos) return "";
    open += 15;
    return didl.substr(open, didl.find('"', open) - open);
  }

  // The URL of the first resource of the item of a container with that title.
  std::string resource(const std::string &parent, const std::string &title)
  {
    std::string didl = parent.empty() ? "" : browse(parent);
    size_t x = didl.find("<dc:title>" + title + "</dc:title>");
    size_t res = x == std::string::npos ? x : didl.find("<res ", x);
    if (res == std::string::npos) return "";
    size_t a = didl.find('>', res) + 1;
    return didl.substr(a, didl.find("</res>", a) - a);
  }

  bool find_100k(const std::string &media)
  {
    std::string share = child("Container:UserFiles", fs::path(media).filename().string());
    big_id = share.empty() ? "" : child(share, "big");
    pics_id = share.empty() ? "" : child(share, "pics");
    stream_url = resource(share.empty() ? "" : child(share, "video"), "stream");
    return (!big_id.empty() && !pics_id.empty() && !stream_url.empty()) || fail("library containers not found");
  }

  bool find(const std::string &media)
  {
    std::string share = child("Container:UserFiles", fs::path(media).filename().string());
    std::string mixed = share.empty() ? "" : child(share, "mixed");
    std::string m0 = mixed.empty() ? "" : child(mixed, "m0");
    big_id = share.empty() ? "" : child(share, "big");
    pics_id = share.empty() ? "" : child(share, "pics");
    std::string didl = m0.empty() ? "" : browse(m0);
    size_t x = didl.find("<dc:title>x0</dc:title>");
    size_t res = x == std::string::npos ? x : didl.find("<res ", x);
    if (res != std::string::npos) {
      size_t a = didl.find('>', res) + 1;
      stream_url = didl.substr(a, didl.find("</res>", a) - a);
    }
    return (!big_id.empty() && !pics_id.empty() && !stream_url.empty()) || fail("library containers not found");
  }
};

// Pages of 50 (or count 0) from clients at once for seconds: answers per
// second, ms per answer (one client) and the 99th percentile.
void browse_load(library &lib, const char *what, const std::string &id, uint32_t total, uint32_t count, int clients,
                 bool keep_alive, double seconds, bool sizes = false)
{
  std::vector<std::vector<double>> lat(static_cast<size_t>(clients));
  std::atomic<uint64_t> failed{0}, bytes{0};
  auto end = clock_type::now() + std::chrono::duration<double>(seconds);
  auto t0 = clock_type::now();
  uint64_t cpu0 = cpu_ticks(lib.pid);
  std::vector<std::thread> t;
  for (int k = 0; k < clients; k++)
    t.emplace_back([&, k] {
      http_client c{lib.upnp_port, keep_alive, -1, {}};
      uint32_t start = uint32_t(k) * 977 % total;
      while (clock_type::now() < end) {
        auto a = clock_type::now();
        int status = 0;
        std::string body;
        bool ok = c.exchange(soap_head("Browse", lib.upnp_port), soap_body("Browse", browse_args(id, start, count)),
                             &status, &body) &&
                  status == 200;
        if (!ok) failed++;
        else lat[size_t(k)].push_back(since(a) * 1000), bytes += body.size();
        start = count ? (start + count) % total : 0;
      }
    });
  for (auto &x : t) x.join();
  double took = since(t0);
  uint64_t cpu = cpu_ticks(lib.pid) - cpu0;
  std::vector<double> all;
  for (auto &v : lat) all.insert(all.end(), v.begin(), v.end());
  std::sort(all.begin(), all.end());
  double mean = 0;
  for (double v : all) mean += v;
  mean = all.empty() ? 0 : mean / double(all.size());
  double p99 = all.empty() ? 0 : all[std::min(all.size() - 1, size_t(double(all.size()) * 0.99))];
  // The server's CPU time per answer depends less on the load of the
  // machine than the rates do.
  double cpu_ms = all.empty() ? 0 : double(cpu) * 1000 / double(sysconf(_SC_CLK_TCK)) / double(all.size());
  std::printf("%-56s %7.1f answers/s  %7.2f ms each  p99 %7.2f ms  server CPU %6.2f ms  (%llu failed)", what,
              double(all.size()) / took, mean, p99, cpu_ms, static_cast<unsigned long long>(failed.load()));
  if (sizes) std::printf("  %.0f bytes each", all.empty() ? 0 : double(bytes) / double(all.size()));
  std::printf("\n");
  std::fflush(stdout);
}

// The file in reads of up to 1 MiB, once by a reader that is woken for
// every 64 KiB segment (on loopback the server's sending thread pays for
// each of those wake-ups), once by one woken only when 256 KiB are there,
// as a player filling a large buffer is.
void stream_run(library &lib)
{
  std::string path = lib.stream_url.substr(lib.stream_url.find('/', 7));
  constexpr int kRead = 1 << 20, kLowWater = 256 << 10;
  // The first pass fills the page cache.
  for (int pass = 0; pass < 3; pass++) {
    int low_water = pass == 2 ? kLowWater : 0;
    int fd = connect_to(lib.http_port);
    if (fd >= 0 && low_water) setsockopt(fd, SOL_SOCKET, SO_RCVLOWAT, &low_water, sizeof low_water);
    std::string req = "GET " + path + " HTTP/1.1\r\nHOST: 127.0.0.1\r\nCONNECTION: close\r\n\r\n";
    uint64_t got = 0;
    auto t0 = clock_type::now();
    if (fd >= 0 && send(fd, req.data(), req.size(), MSG_NOSIGNAL) == ssize_t(req.size())) {
      std::vector<char> buf(kRead);
      for (ssize_t n; (n = recv(fd, buf.data(), buf.size(), 0)) > 0;) got += uint64_t(n);
    }
    double took = since(t0);
    if (fd >= 0) close(fd);
    if (pass)
      std::printf("%-58s %8.0f MB/s (%.1f MiB in %.3f s)\n",
                  low_water ? "whole-file stream, reader woken per 256 KiB (SO_RCVLOWAT)"
                            : "whole-file stream, loopback",
                  double(got) / took / 1e6, double(got) / 1048576, took);
  }
}

// Voluntary context switches of each thread of the process, by thread id.
std::vector<std::pair<std::string, uint64_t>> task_switches(pid_t pid)
{
  std::vector<std::pair<std::string, uint64_t>> out;
  std::error_code ec;
  for (const auto &t : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::ifstream f(t.path() / "status");
    for (std::string line; std::getline(f, line);)
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
        out.emplace_back(t.path().filename().string(), std::stoull(line.substr(24)));
  }
  return out;
}

// The wake-ups of the idle process, and of each thread that woke; the
// total.
uint64_t wakeups(pid_t pid, double seconds)
{
  auto a = task_switches(pid);
  usleep(useconds_t(seconds * 1e6));
  auto b = task_switches(pid);
  uint64_t total = 0;
  std::string each;
  for (const auto &[tid, n] : b) {
    uint64_t before = 0;
    for (const auto &[t0, n0] : a)
      if (t0 == tid) before = n0;
    total += n - before;
    // The system call it waits in tells which thread it is.
    std::string call;
    std::ifstream(fs::path("/proc/" + std::to_string(pid) + "/task/" + tid + "/syscall")) >> call;
    if (n > before) each += " " + tid + "(call " + call + "):" + std::to_string(n - before);
  }
  std::printf("%-58s %8.1f per second (over %.0f s; by thread%s)\n", "idle wake-ups (voluntary context switches)",
              double(total) / seconds, seconds, each.c_str());
  return total;
}

// The load of a data.xml of 100,000 objects, by bench_content_db beside
// this program: the median of five loads.
// With a data folder, the load of its own data.xml (BM_LoadHome).
void database_load(const std::string &home = "")
{
  fs::path bench = fs::read_symlink("/proc/self/exe").parent_path() / "bench_content_db";
  std::string name = home.empty() ? "BM_Load/100000" : "BM_LoadHome";
  std::string label = home.empty() ? "data.xml of 100,000 objects loaded" : "data.xml of this library loaded";
  std::string cmd = (home.empty() ? "" : "BENCH_CONTENT_DB_HOME='" + home + "' ") + "'" + bench.string() +
                    "' --benchmark_filter='" + name + "$' --benchmark_repetitions=5"
                    " --benchmark_report_aggregates_only=true 2>/dev/null";
  double ms = -1;
  if (FILE *f = popen(cmd.c_str(), "r")) {
    char line[512];
    std::string median = name + "_median";
    while (std::fgets(line, sizeof line, f))
      if (!std::strncmp(line, median.c_str(), median.size())) std::sscanf(line + median.size(), "%lf", &ms);
    pclose(f);
  }
  if (ms < 0) std::printf("%-58s (bench_content_db did not run)\n", label.c_str());
  else std::printf("%-58s %8.0f ms (median of 5)\n", label.c_str(), ms);
}

bool data_folder(const std::string &top, const std::string &media, server_process *p)
{
  std::string home = top + "/data", script = layout_script();
  if (script.empty()) return fail("no scripts/layout-data");
  if (std::system(("'" + script + "' '" + home + "' >/dev/null").c_str()) != 0) return fail("layout-data");
  put(home + "/conf/sync/share/list", media + "\n");
  put(home + "/conf/auto_run", "");
  p->service = top + "/service";
  p->log = top + "/server.log";
  fs::create_directories(p->service);
  put(p->service + "/service_name", "Tarvo Media Server\n");
  put(p->service + "/data_home", home + "\n");
  return true;
}

// Starts the program: the time to the first ssdp:alive and until the scan
// is complete.
bool start_timed(server_process &p, const char *label)
{
  tarvo_test::ssdp_listener ssdp;
  auto t0 = clock_type::now();
  if (!p.start()) return false;
  bool heard = ssdp.hears("ssdp:alive", 20000);
  double alive = since(t0);
  double scanned = p.busy_until(t0, 2.0, 300);
  if (heard) std::printf("%-58s %8.3f s\n", (std::string(label) + ": start to the first ssdp:alive").c_str(), alive);
  else std::printf("%-58s none in 20 s\n", (std::string(label) + ": start to the first ssdp:alive").c_str());
  std::printf("%-58s %8.2f s\n", (std::string(label) + ": until the scan is complete").c_str(), scanned);
  std::fflush(stdout);
  return true;
}

// A control point that searches for the content directory every 0.1 s
// from t0 on: seconds to the first answer, -1 when none came by the limit.
double first_answer(clock_type::time_point t0, double limit)
{
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in group{};
  group.sin_family = AF_INET;
  group.sin_port = htons(1900);
  inet_pton(AF_INET, "239.255.255.250", &group.sin_addr);
  in_addr lo{};
  inet_pton(AF_INET, "127.0.0.1", &lo);
  setsockopt(fd, IPPROTO_IP, IP_MULTICAST_IF, &lo, sizeof lo);
  std::string search = std::string("M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\n"
                                   "MX: 1\r\nST: ") + kCdsType + "\r\n\r\n";
  double got = -1;
  for (double next = 0; got < 0 && since(t0) < limit; next += 0.1) {
    sendto(fd, search.data(), search.size(), 0, reinterpret_cast<sockaddr *>(&group), sizeof group);
    for (double wait; got < 0 && (wait = next + 0.1 - since(t0)) > 0;) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, int(wait * 1000) + 1) <= 0) continue;
      char buf[2048];
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n > 12 && !std::strncmp(buf, "HTTP/1.1 200", 12)) got = since(t0);
    }
  }
  close(fd);
  return got;
}

double median(std::vector<double> v)
{
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Three starts on the scanned library: the first ssdp:alive, the first
// answer to a control point searching from the start, the idle wake-ups
// once the start has settled, and the stop; each run and the medians.
bool found_runs(server_process &p, double idle_seconds)
{
  std::vector<double> alive, answer, wakes, stop;
  for (int run = 0; run < 3; run++) {
    p.stop();
    tarvo_test::ssdp_listener ssdp;
    auto t0 = clock_type::now();
    if (!p.start()) return false;
    std::thread searcher([&] { answer.push_back(first_answer(t0, 10)); });
    alive.push_back(ssdp.hears("ssdp:alive", 10000) ? since(t0) : -1);
    searcher.join();
    p.busy_until(clock_type::now(), 2.0, 60);
    wakes.push_back(double(wakeups(p.pid, idle_seconds)));
    auto s0 = clock_type::now();
    kill(p.pid, SIGTERM);
    waitpid(p.pid, nullptr, 0);
    stop.push_back(since(s0));
    p.pid = -1;
    std::printf("run %d: first alive %.3f s, first search answer %.3f s, %.0f wake-ups in %.0f s idle, stop %.3f s\n",
                run + 1, alive.back(), answer.back(), wakes.back(), idle_seconds, stop.back());
  }
  std::printf("%-58s %8.3f s\n", "median: start to the first ssdp:alive", median(alive));
  std::printf("%-58s %8.3f s\n", "median: start to the first search answer (every 0.1 s)", median(answer));
  std::printf("%-58s %8.0f (over %.0f s)\n", "median: idle wake-ups of all threads", median(wakes), idle_seconds);
  std::printf("%-58s %8.3f s\n", "median: SIGTERM to the end of the process", median(stop));
  return true;
}

// Browse pages of 50 from 8 clients while one client streams the
// transport stream again and again, for seconds.
void mixed_load(library &lib, double seconds)
{
  std::atomic<bool> done{false};
  std::atomic<uint64_t> streamed{0};
  std::thread streamer([&] {
    std::string path = lib.stream_url.substr(lib.stream_url.find('/', 7));
    std::vector<char> buf(1 << 20);
    while (!done) {
      int fd = connect_to(lib.http_port);
      std::string req = "GET " + path + " HTTP/1.1\r\nHOST: 127.0.0.1\r\nCONNECTION: close\r\n\r\n";
      if (fd >= 0 && send(fd, req.data(), req.size(), MSG_NOSIGNAL) == ssize_t(req.size()))
        for (ssize_t n; !done && (n = recv(fd, buf.data(), buf.size(), 0)) > 0;) streamed += uint64_t(n);
      if (fd >= 0) close(fd);
    }
  });
  browse_load(lib, "Browse 50,000-child folder, 50, 8 clients, and a stream", lib.big_id, 50000, 50, 8, false, seconds);
  done = true;
  streamer.join();
  std::printf("%-58s %8.0f MiB\n", "  streamed meanwhile", double(streamed.load()) / 1048576);
}

std::string search_args(uint32_t count)
{
  return "<ContainerID>0</ContainerID><SearchCriteria>upnp:class derivedfrom &quot;object.item&quot;</SearchCriteria>"
         "<Filter>*</Filter><StartingIndex>0</StartingIndex><RequestedCount>" + std::to_string(count) +
         "</RequestedCount><SortCriteria></SortCriteria>";
}

// A value of /proc/PID/status in MiB.
double status_mib(pid_t pid, const char *name)
{
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(f, line);)
    if (line.rfind(name, 0) == 0) return double(std::stol(line.substr(std::strlen(name)))) / 1024;
  return 0;
}

// A whole-library Search for every item: its time with RequestedCount 1
// (median of five), and the resident peak while RequestedCount 0 is
// answered (the kernel's high-water mark, reset before), beside the
// resident memory before it and the size of the answer.
void search_figures(library &lib, const char *label)
{
  auto one = [&](uint32_t count, std::string *body) {
    http_client c{lib.upnp_port, false, -1, {}};
    int status = 0;
    auto t = clock_type::now();
    bool ok = c.exchange(soap_head("Search", lib.upnp_port), soap_body("Search", search_args(count)), &status, body) &&
              status == 200;
    return ok ? since(t) : -1.0;
  };
  std::vector<double> took;
  std::string body;
  for (int i = 0; i < 5; i++) took.push_back(one(1, &body));
  std::printf("%-58s %8.3f s  (of %s matches)\n", (std::string(label) + ": Search, RequestedCount 1").c_str(),
              median(took), element(body, "TotalMatches").c_str());
  double idle = rss_mib(lib.pid);
  std::ofstream(("/proc/" + std::to_string(lib.pid) + "/clear_refs").c_str()) << "5";
  double t = one(0, &body);
  double peak = status_mib(lib.pid, "VmHWM:"), answer = double(body.size()) / 1048576;
  std::printf("%-58s %8.1f MiB  (before %.1f, answer %.1f MiB in %.2f s, peak - before - answer %.1f MiB)\n",
              (std::string(label) + ": Search, RequestedCount 0, resident peak").c_str(), peak, idle, answer, t,
              peak - idle - answer);
  std::fflush(stdout);
}

// The 100,000-file library, its figures in one run.
int run_100k(const std::string &top, double seconds, const char *bin)
{
  std::string media = top + "/library";
  auto t0 = clock_type::now();
  if (!library_make_100k(media, top + "/templates")) return 1;
  std::printf("%-58s %8.2f s\n", "generated 100,000 files", since(t0));
  server_process p;
  if (bin) p.bin = bin;
  if (!data_folder(top, media, &p) || !start_timed(p, "first start")) return 1;
  library lib;
  lib.pid = p.pid;
  lib.upnp_port = uint16_t(std::stoul(tarvo_test::read_file(top + "/data/conf/upnp_port")));
  lib.http_port = uint16_t(std::stoul(tarvo_test::read_file(top + "/data/conf/http_port")));
  if (!lib.find_100k(media)) return std::fputs(tarvo_test::read_file(p.log).c_str(), stderr), 1;
  std::printf("%-58s %8.1f MiB\n", "resident memory after the first scan", rss_mib(p.pid));
  search_figures(lib, "first scan");
  browse_load(lib, "Browse 50,000-child folder, 50, 1 client, keep-alive", lib.big_id, 50000, 50, 1, true, seconds);
  browse_load(lib, "Browse 50,000-child folder, 50, 8 clients", lib.big_id, 50000, 50, 8, false, seconds);
  browse_load(lib, "Browse 5,000-child folder, 50, 8 clients", lib.pics_id, 5000, 50, 8, false, seconds);
  mixed_load(lib, seconds * 10);
  std::printf("%-58s %8.1f MiB\n", "resident memory after the Browse and stream load", rss_mib(p.pid));
  p.busy_until(clock_type::now(), 2.0, 60);
  p.stop();
  if (!start_timed(p, "restart on the unchanged library")) return 1;
  std::printf("%-58s %8.1f MiB\n", "resident memory after the restart", rss_mib(p.pid));
  search_figures(lib, "restart");
  p.stop();
  database_load(top + "/data");
  return 0;
}

// The library that 100k-layout left in top, served again: the start
// (the first one scans), the Search figures, a restart and the Search
// figures again.
int run_100k_again(const std::string &top, const char *bin)
{
  server_process p;
  if (bin) p.bin = bin;
  p.service = top + "/service";
  p.log = top + "/server.log";
  if (!start_timed(p, "start")) return 1;
  library lib;
  lib.pid = p.pid;
  lib.upnp_port = uint16_t(std::stoul(tarvo_test::read_file(top + "/data/conf/upnp_port")));
  lib.http_port = uint16_t(std::stoul(tarvo_test::read_file(top + "/data/conf/http_port")));
  std::printf("%-58s %8.1f MiB\n", "resident memory", rss_mib(p.pid));
  search_figures(lib, "start");
  p.busy_until(clock_type::now(), 2.0, 60);
  p.stop();
  if (!start_timed(p, "restart on the unchanged library")) return 1;
  lib.pid = p.pid;
  std::printf("%-58s %8.1f MiB\n", "resident memory after the restart", rss_mib(p.pid));
  search_figures(lib, "restart");
  return 0;
}

}  // namespace

int main(int argc, char **argv)
{
  double seconds = argc > 1 ? std::atof(argv[1]) : 3;
  bool only_count0 = argc > 3 && !std::strcmp(argv[3], "count0");
  bool only_paged = argc > 3 && !std::strcmp(argv[3], "paged");
  bool only_stream = argc > 3 && !std::strcmp(argv[3], "stream");
  bool only_restart = argc > 3 && !std::strcmp(argv[3], "restart");
  bool only_found = argc > 3 && !std::strcmp(argv[3], "found");
  bool files_100k = argc > 3 && !std::strcmp(argv[3], "100k");
  if (argc > 4 && !std::strcmp(argv[3], "100k-layout")) {
    std::string top = argv[4];
    server_process p;
    if (!library_make_100k(top + "/library", top + "/templates") || !data_folder(top, top + "/library", &p)) return 1;
    return std::printf("TARVO_SERVICE_DIR=%s HOME=%s\n", p.service.c_str(), p.service.c_str()), 0;
  }
  if (!tarvo_test::private_net().empty()) return fail(tarvo_test::private_net()), 1;
  if (std::system("ip link set lo multicast on") != 0) return fail("ip link set lo multicast on"), 1;
  if (argc > 4 && !std::strcmp(argv[3], "100k-again")) return run_100k_again(argv[4], argv[2]);
  char dir[] = "/tmp/tarvo-bench-scale-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  std::string top = dir, media = top + "/library";
  struct cleanup {
    std::string d;
    ~cleanup() { fs::remove_all(d); }
  } gone{top};
  if (files_100k) return run_100k(top, seconds, argc > 2 ? argv[2] : nullptr);
  auto t0 = clock_type::now();
  if (!library_make(media)) return 1;
  std::printf("%-58s %8.2f s\n", "generated 20,000 files", since(t0));
  server_process p;
  if (argc > 2) p.bin = argv[2];
  if (!data_folder(top, media, &p) || !start_timed(p, "first start")) return 1;
  library lib;
  lib.pid = p.pid;
  lib.upnp_port = uint16_t(std::stoul(tarvo_test::read_file(top + "/data/conf/upnp_port")));
  lib.http_port = uint16_t(std::stoul(tarvo_test::read_file(top + "/data/conf/http_port")));
  if (!lib.find(media)) return std::fputs(tarvo_test::read_file(p.log).c_str(), stderr), 1;
  std::printf("%-58s %8.1f MiB\n", "resident memory after the first scan", rss_mib(p.pid));
  if (only_count0) {
    for (int i = 0; i < 3; i++)
      browse_load(lib, "Browse 10,000-child folder, RequestedCount 0, 8 clients", lib.big_id, 10000, 0, 8, false,
                  seconds * 2);
    std::printf("%-58s %8.1f MiB\n", "resident memory after the Browse load", rss_mib(p.pid));
    p.stop();
    return 0;
  }
  if (only_stream) {
    for (int i = 0; i < 3; i++) stream_run(lib);
    p.stop();
    return 0;
  }
  if (only_restart) {
    p.busy_until(clock_type::now(), 2.0, 60);
    for (int i = 0; i < 5; i++) {
      p.stop();
      if (!start_timed(p, "restart on the unchanged library")) return 1;
    }
    p.stop();
    return 0;
  }
  if (only_found) {
    p.busy_until(clock_type::now(), 2.0, 60);
    return found_runs(p, seconds) ? 0 : 1;
  }
  if (only_paged) {
    for (int i = 0; i < 2; i++) {
      browse_load(lib, "Browse 10,000-child folder, 50, 1 client, keep-alive", lib.big_id, 10000, 50, 1, true, seconds,
                  true);
      browse_load(lib, "Browse 10,000-child folder, 50, 8 clients", lib.big_id, 10000, 50, 8, false, seconds, true);
      browse_load(lib, "Browse 1,000-child folder, 50, 8 clients", lib.pics_id, 1000, 50, 8, false, seconds, true);
    }
    std::printf("%-58s %8.1f MiB\n", "resident memory after the Browse load", rss_mib(p.pid));
    p.stop();
    return 0;
  }
  browse_load(lib, "Browse 10,000-child folder, 50, 1 client, keep-alive", lib.big_id, 10000, 50, 1, true, seconds);
  browse_load(lib, "Browse 10,000-child folder, 50, 8 clients", lib.big_id, 10000, 50, 8, false, seconds);
  browse_load(lib, "Browse 10,000-child folder, 50, 1 client", lib.big_id, 10000, 50, 1, false, seconds);
  browse_load(lib, "Browse 1,000-child folder, 50, 1 client", lib.pics_id, 1000, 50, 1, false, seconds);
  browse_load(lib, "Browse 1,000-child folder, 50, 8 clients", lib.pics_id, 1000, 50, 8, false, seconds);
  browse_load(lib, "Browse 10,000-child folder, RequestedCount 0, 8 clients", lib.big_id, 10000, 0, 8, false,
              seconds * 2);
  std::printf("%-58s %8.1f MiB\n", "resident memory after the Browse load", rss_mib(p.pid));
  stream_run(lib);
  // Let the save after the scan and the Browse load settle first.
  p.busy_until(clock_type::now(), 2.0, 60);
  wakeups(p.pid, 10);
  p.stop();
  if (!start_timed(p, "restart on the unchanged library")) return 1;
  p.stop();
  database_load();
  return 0;
}
