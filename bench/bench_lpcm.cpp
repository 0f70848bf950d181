// links: tarvo_util dl
// The LPCM plug-ins as the server runs them, loaded from the build's bin/:
// transcoding throughput (seconds of audio per second of CPU) of 60 s
// sources to L16 at 44100 and 48000 Hz into a socket pair; time to the
// first body byte, plain and with a time seek 150 s into a 5-minute
// source; 8 streams read at real-time pace, counting underruns; and the
// cost of one tarvo_msf_as_is_updated.  Sources are made with ffmpeg.
// "chain" times only the first body byte of a time seek and of a byte
// range 19 minutes into a chained Ogg of four 5-minute links.
//   bench_lpcm [seconds of the real-time run, default 20]
//   bench_lpcm chain
#include "../server/include/tarvo_msf.h"

#include <tarvo_util/sys_dlib.h>

#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct plugin {
  tarvo_msf_http_get_fn get = nullptr;
  tarvo_msf_as_is_updated_fn updated = nullptr;
};

std::string bin_dir()
{
  if (const char *b = std::getenv("TARVO_BIN")) return b;
  return (fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin").string();
}

bool load(const std::string &name, plugin *p)
{
  sys_dlib_handle h = nullptr;
  sys_dlib_fn init = nullptr, get = nullptr, upd = nullptr;
  if (!sys_dlib_load(&h, (bin_dir() + "/lib" + name + ".so").c_str()) || !sys_dlib_name(&h, "tarvo_msf_init", &init) ||
      !sys_dlib_name(&h, "tarvo_msf_http_get", &get) || !sys_dlib_name(&h, "tarvo_msf_as_is_updated", &upd))
    return false;
  reinterpret_cast<tarvo_msf_init_fn>(init)();
  p->get = reinterpret_cast<tarvo_msf_http_get_fn>(get);
  p->updated = reinterpret_cast<tarvo_msf_as_is_updated_fn>(upd);
  return true;
}

double cpu_now()
{
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double wall_now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// One request to the plug-in on its own thread, its answer on fd.
struct exchange {
  int fds[2] = {-1, -1};
  std::thread server;
  std::string uri, mime, path;
  std::vector<std::string> header_text;
  std::vector<char *> headers;
  http_request_startline_rec start{};
  plugin_http_get_request req{};

  exchange(const plugin &p, const std::string &file, uint32_t rate, uint32_t channels, uint32_t duration_ms,
           const std::string &seek)
      : uri("/1-1.lpcm"), path(file)
  {
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
    mime = "audio/L16;rate=" + std::to_string(rate) + ";channels=" + std::to_string(channels);
    header_text = {"host: 127.0.0.1"};
    if (!seek.rfind("bytes=", 0))
      header_text.push_back("range:" + seek);  // normalised: no blank after the colon
    else if (!seek.empty())
      header_text.push_back("timeseekrange.dlna.org: npt=" + seek);
    for (auto &h : header_text) headers.push_back(h.data());
    headers.push_back(nullptr);
    start.method = const_cast<char *>("GET");
    start.version = const_cast<char *>("HTTP/1.1");
    start.uri.path = uri.data();
    req = plugin_http_get_request{&start, headers.data(), {}, fds[0], mime.c_str(), "DLNA.ORG_PN=LPCM", duration_ms,
                                  path.c_str(), ""};
    server = std::thread([this, &p] { p.get(&req); shutdown(fds[0], SHUT_WR); });
  }
  ~exchange()
  {
    shutdown(fds[1], SHUT_RDWR);
    server.join();
    close(fds[0]);
    close(fds[1]);
  }
  std::string status;  // the answer's status line
  // Reads up to limit bytes or the end; the seconds to the first body byte.
  double read_all(uint64_t *bytes, uint64_t limit = UINT64_MAX)
  {
    double t0 = wall_now(), first = -1;
    std::vector<char> buf(1 << 16);
    std::string head;
    *bytes = 0;
    for (ssize_t n; *bytes < limit && (n = recv(fds[1], buf.data(), buf.size(), 0)) > 0;) {
      if (first < 0) {
        head.append(buf.data(), size_t(n));
        size_t end = head.find("\r\n\r\n");
        if (end == std::string::npos || head.size() == end + 4) continue;
        first = wall_now() - t0;
        status = head.substr(0, head.find("\r\n"));
        *bytes += head.size() - end - 4;
        continue;
      }
      *bytes += uint64_t(n);
    }
    return first;
  }
};

bool make_source(const std::string &file, int seconds, const std::string &codec)
{
  std::string cmd = "ffmpeg -loglevel error -y -f lavfi -i sine=frequency=1000:duration=" + std::to_string(seconds) +
                    ":sample_rate=44100 -ac 2 " + codec + " " + file + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

struct source {
  const char *name, *file, *codec, *plugin, *mime;
};
const source kSources[] = {
    {"MP3", "s.mp3", "-c:a libmp3lame -b:a 128k", "corda_lpcm", "audio/mpeg"},
    {"WMA", "s.wma", "-c:a wmav2 -b:a 128k", "corda_lpcm", "audio/x-ms-wma"},
    {"AAC", "s.m4a", "-c:a aac -b:a 128k", "corda_lpcm_mp4", "audio/mp4"},
    {"Vorbis", "s.ogg", "-c:a libvorbis", "corda_lpcm", "application/ogg"},
    {"PCM WAV", "s.wav", "-c:a pcm_s16le", "corda_lpcm", "audio/wav"},
};

void throughput(const fs::path &dir, plugin *plugins)
{
  std::printf("throughput, 60 s sources (seconds of audio per CPU second, one stream)\n");
  for (const source &s : kSources) {
    plugin &p = plugins[std::strcmp(s.plugin, "corda_lpcm") ? 1 : 0];
    for (uint32_t rate : {44100u, 48000u}) {
      uint64_t bytes = 0;
      double c0 = cpu_now(), w0 = wall_now();
      {
        exchange x(p, (dir / s.file).string(), rate, 2, 60000, "");
        x.read_all(&bytes);
      }
      double cpu = cpu_now() - c0, wall = wall_now() - w0;
      double audio = double(bytes) / (rate * 4.0);
      if (bytes < uint64_t(rate) * 4 * 59)
        std::printf("  %-8s -> %u Hz: not decoded (%llu bytes)\n", s.name, rate, (unsigned long long)bytes);
      else
        std::printf("  %-8s -> %u Hz: %7.1fx per CPU second, %7.1fx wall\n", s.name, rate, audio / cpu, audio / wall);
    }
  }
}

void first_byte(const fs::path &dir, plugin *plugins)
{
  std::printf("time to the first body byte, 5-minute sources (ms)\n");
  for (const source &s : kSources) {
    plugin &p = plugins[std::strcmp(s.plugin, "corda_lpcm") ? 1 : 0];
    std::string file = (dir / (std::string("long_") + s.file)).string();
    double t[2];
    for (int seek = 0; seek < 2; seek++) {
      uint64_t bytes = 0;
      exchange x(p, file, 44100, 2, 300000, seek ? "150-" : "");
      t[seek] = x.read_all(&bytes, 1);
      // A refusal has a body too: only a 200 answer counts.
      if (x.status != "HTTP/1.1 200 OK" && x.status != "HTTP/1.1 206 partial content") {
        std::printf("  %-8s %s: %s\n", s.name, seek ? "npt=150-" : "plain", x.status.c_str());
        t[seek] = -1;
      }
    }
    if (t[0] < 0 || t[1] < 0)
      std::printf("  %-8s not decoded\n", s.name);
    else
      std::printf("  %-8s plain %7.1f, npt=150- %7.1f\n", s.name, t[0] * 1000, t[1] * 1000);
  }
}

// 8 readers at 176400 bytes a second in 50 ms ticks after a 500 ms start.
void realtime(const fs::path &dir, plugin *plugins, int seconds)
{
  constexpr int kStreams = 8, kTickMs = 50;
  constexpr uint64_t kPerTick = 176400 / (1000 / kTickMs);
  for (const source &s : kSources) {
    plugin &p = plugins[std::strcmp(s.plugin, "corda_lpcm") ? 1 : 0];
    std::atomic<int> underruns{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < kStreams; i++)
      readers.emplace_back([&] {
        exchange x(p, (dir / s.file).string(), 44100, 2, 60000, "");
        std::vector<char> buf(kPerTick);
        auto next = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        for (int tick = 0; tick < seconds * 1000 / kTickMs; tick++) {
          std::this_thread::sleep_until(next);
          next += std::chrono::milliseconds(kTickMs);
          uint64_t got = 0;
          while (got < kPerTick) {
            pollfd pf{x.fds[1], POLLIN, 0};
            int wait = int(std::chrono::duration_cast<std::chrono::milliseconds>(next - std::chrono::steady_clock::now()).count());
            if (poll(&pf, 1, wait > 0 ? wait : 0) <= 0) {
              underruns++;
              break;
            }
            ssize_t n = recv(x.fds[1], buf.data(), kPerTick - got, MSG_DONTWAIT);
            if (n <= 0) {
              underruns++;
              break;
            }
            got += uint64_t(n);
          }
        }
      });
    for (auto &t : readers) t.join();
    std::printf("  %-8s %d streams, %d s at real-time pace: %d underruns\n", s.name, kStreams, seconds, underruns.load());
  }
}

void as_is_updated(const fs::path &dir, plugin *plugins)
{
  std::printf("tarvo_msf_as_is_updated per file (ms)\n");
  char name[] = "res", duration[] = "duration", value[] = "0:01:00.000";
  void *names[] = {name}, *values[] = {value};
  void *attr_names[] = {duration}, *attr_values[] = {value};
  didl_property res{{{attr_names, 1, 1}, {attr_values, 1, 1}}, "res", value};
  void *props[] = {&res};
  didl_object object{{{names, 0, 1}, {values, 0, 1}}, "item", {props, 1, 1}};
  for (const source &s : kSources) {
    plugin &p = plugins[std::strcmp(s.plugin, "corda_lpcm") ? 1 : 0];
    std::string file = (dir / s.file).string();
    constexpr int kRuns = 20;
    int yes = 0;
    double w0 = wall_now();
    for (int i = 0; i < kRuns; i++) yes += p.updated(file.c_str(), s.mime, nullptr, &object);
    std::printf("  %-8s %7.2f (%s)\n", s.name, (wall_now() - w0) * 1000 / kRuns, yes == kRuns ? "rewritten" : "refused");
  }
}

// Four 5-minute links joined, 19 minutes in: a time seek and a byte range.
int chain_seek(const fs::path &dir, const plugin &p)
{
  std::string parts;
  for (int i = 0; i < 4; i++) {
    std::string part = (dir / ("link" + std::to_string(i) + ".ogg")).string();
    if (!make_source(part, 300, "-c:a libvorbis")) {
      std::fprintf(stderr, "ffmpeg could not make the Vorbis links\n");
      return 1;
    }
    parts += " " + part;
  }
  std::string chain = (dir / "chain.ogg").string();
  if (std::system(("cat" + parts + " > " + chain).c_str()) != 0) return 1;
  std::printf("time to the first body byte, 19 minutes into a chained Ogg of four 5-minute links (ms)\n");
  uint64_t at = 1140ull * 176400;
  for (const std::string &seek : {std::string("1140-"), "bytes=" + std::to_string(at) + "-"}) {
    constexpr int kRuns = 5;
    double best = -1;
    for (int i = 0; i < kRuns; i++) {
      uint64_t bytes = 0;
      exchange x(p, chain, 44100, 2, 1200000, seek);
      double t = x.read_all(&bytes, 1);
      if (x.status != "HTTP/1.1 200 OK" && x.status != "HTTP/1.1 206 partial content") {
        std::printf("  %s: %s\n", seek.c_str(), x.status.c_str());
        t = -1;
      }
      if (t >= 0 && (best < 0 || t < best)) best = t;
    }
    std::printf("  %-22s %7.1f (best of %d)\n", seek.c_str(), best * 1000, kRuns);
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv)
{
  plugin plugins[2];
  if (!load("corda_lpcm", &plugins[0]) || !load("corda_lpcm_mp4", &plugins[1])) {
    std::fprintf(stderr, "the plug-ins are not in %s\n", bin_dir().c_str());
    return 1;
  }
  char tmpl[] = "/tmp/bench-lpcm-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  fs::path dir = tmpl;
  if (argc > 1 && !std::strcmp(argv[1], "chain")) {
    int r = chain_seek(dir, plugins[0]);
    fs::remove_all(dir);
    return r;
  }
  int seconds = argc > 1 ? std::atoi(argv[1]) : 20;
  for (const source &s : kSources)
    if (!make_source((dir / s.file).string(), 60, s.codec) ||
        !make_source((dir / (std::string("long_") + s.file)).string(), 300, s.codec))
      std::fprintf(stderr, "ffmpeg could not make the %s sources\n", s.name);
  throughput(dir, plugins);
  first_byte(dir, plugins);
  std::printf("real-time streams\n");
  realtime(dir, plugins, seconds);
  as_is_updated(dir, plugins);
  fs::remove_all(dir);
  return 0;
}
