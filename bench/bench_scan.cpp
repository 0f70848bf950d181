// links: vennard_core
// The share scanner on a library of small files (WAV, in folders of 100):
// the first scan (from the scanner's start until SystemUpdateID has stayed
// the same for a settle period) and the resident memory then; then a
// restart of the database and the scanner on the unchanged library: the
// time until the scan is complete, the bytes read meanwhile and whether
// data.xml was rewritten; and a start of the whole server on it (in a
// network namespace of its own): the time until the first ssdp:alive
// arrives on loopback, and until the scan is complete.
// With --library, the first scan of a real library instead: the media files
// of bench/make_media_library laid out in DIR at each count, read once so
// that the page cache holds them, then scanned by the scanner alone and by
// the scanner with its tagging threads: files per second and resident
// memory (now and at the peak) once the scan is complete.
// Usage: bench_scan [count...] (default 10000 50000)
//        bench_scan --library DIR [count...] (default 10000 20000).
#include <vennard/conf_store.h>
#include <vennard/server.h>
#include <vennard/share_scanner.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <arpa/inet.h>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tarvo_test.h"

namespace fs = std::filesystem;

namespace {

using clock_type = std::chrono::steady_clock;
constexpr int kSettleMs = 3000;

// A script of the source tree (for example "scripts/layout-data"): in the
// tree this program was built from, else above the program itself.
std::string source_script(const char *name)
{
#ifdef TARVO_SOURCE_DIR
  if (fs::exists(fs::path(TARVO_SOURCE_DIR) / name)) return (fs::path(TARVO_SOURCE_DIR) / name).string();
#endif
  fs::path p = fs::read_symlink("/proc/self/exe").parent_path();
  for (; !p.empty() && p != p.root_path(); p = p.parent_path())
    if (fs::exists(p / name)) return (p / name).string();
  return "";
}

// A figure of a /proc/self file: the number after the key.
long proc_value(const char *file, const std::string &key)
{
  std::ifstream f(file);
  for (std::string line; std::getline(f, line);)
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
  return 0;
}

long rss_mib() { return proc_value("/proc/self/status", "VmRSS:") / 1024; }
double rss_kib_in_mib(const char *key) { return double(proc_value("/proc/self/status", key)) / 1024; }

// Processor time of the process so far, user and system: the figure that
// a busy machine disturbs least.
double cpu_seconds()
{
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}
long read_chars() { return proc_value("/proc/self/io", "rchar:"); }

std::string wav(uint32_t n)
{
  auto le = [](uint32_t v, int bytes) {
    std::string s;
    for (int i = 0; i < bytes; i++) s += char((v >> (8 * i)) & 0xff);
    return s;
  };
  return "RIFF" + le(36 + n, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(8000, 4) + le(8000, 4) +
         le(1, 2) + le(8, 2) + "data" + le(n, 4) + std::string(n, '\x80');
}

uint32_t update_id(server_rec *s)
{
  if (!content_db_lock(s)) return 0;
  uint32_t v = content_db_system_update_id(s);
  content_db_unlock(s);
  return v;
}

uint32_t objects(server_rec *s)
{
  if (!content_db_lock(s)) return 0;
  uint32_t n = content_db_count(s);
  content_db_unlock(s);
  return n;
}

bool start(server_rec *s, const std::string &home)
{
  return cm_state_start(s) && content_db_start(s, home.c_str(), "bench") && share_scanner_start(s);
}

void stop(server_rec *s)
{
  share_scanner_stop(s);
  share_locks_close(s);
  content_db_stop(s);
  cm_state_stop(s);
}

bool scanner_idle(server_rec *s) { return std::atomic_ref<int32_t>(s->scanner.idle).load() != 0; }

// Runs body in a process of its own, so that each memory figure is its
// own; false when it fails.
template <class Body> bool in_child(Body body)
{
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    int r = body() ? 0 : 1;
    std::fflush(stdout);
    _exit(r);
  }
  int st = 0;
  return pid > 0 && waitpid(pid, &st, 0) == pid && WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

bool first_scan(int count, const std::string &home)
{
  server_rec s{};
  s.data_home = const_cast<char *>(home.c_str());
  auto t0 = clock_type::now();
  if (!start(&s, home)) return false;
  uint32_t last = update_id(&s);
  auto changed = clock_type::now();
  while (clock_type::now() - changed < std::chrono::milliseconds(kSettleMs)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    uint32_t now = update_id(&s);
    if (now != last) {
      last = now;
      changed = clock_type::now();
    }
  }
  double secs = std::chrono::duration<double>(changed - t0).count();
  std::printf("%6d files: first scan settled after %.2f s (%.0f files/s), %u objects, RSS %ld MiB\n", count, secs,
              count / secs, objects(&s), rss_mib());
  stop(&s);
  return true;
}

bool restart(int count, const std::string &home)
{
  server_rec s{};
  s.data_home = const_cast<char *>(home.c_str());
  std::string data = home + "/conf/data.xml";
  auto saved = fs::last_write_time(data);
  long read0 = read_chars();
  double cpu0 = cpu_seconds();
  auto t0 = clock_type::now();
  if (!start(&s, home)) return false;
  uint32_t before = update_id(&s);
  while (!scanner_idle(&s)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  double secs = std::chrono::duration<double>(clock_type::now() - t0).count(), cpu = cpu_seconds() - cpu0;
  long read = read_chars() - read0;
  std::printf("%6d files: restart until the scan is complete %.3f s (%.3f s of processor time), %ld KiB read "
              "(data.xml %ld KiB), SystemUpdateID %s, RSS %ld MiB\n",
              count, secs, cpu, read / 1024, long(fs::file_size(data) / 1024),
              update_id(&s) == before ? "unchanged" : "changed", rss_mib());
  stop(&s);
  std::printf("%6d files: data.xml %s by the restart\n", count,
              fs::last_write_time(data) == saved ? "untouched" : "rewritten");
  return true;
}

// A socket that receives the SSDP group on loopback (multicast allowed on
// it first); -1 when that cannot be had.
int ssdp_listener()
{
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq ifr{};
  std::strcpy(ifr.ifr_name, "lo");
  if (fd < 0 || ioctl(fd, SIOCGIFFLAGS, &ifr) != 0) return -1;
  ifr.ifr_flags |= IFF_MULTICAST;
  int one = 1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(1900);
  ip_mreq m{};
  inet_pton(AF_INET, "239.255.255.250", &m.imr_multiaddr);
  inet_pton(AF_INET, "127.0.0.1", &m.imr_interface);
  if (ioctl(fd, SIOCSIFFLAGS, &ifr) != 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0 ||
      bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
      setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Seconds from t0 until an ssdp:alive arrives on fd; -1 after 30 s.
double first_alive(int fd, clock_type::time_point t0)
{
  char buf[2048];
  while (clock_type::now() - t0 < std::chrono::seconds(30)) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    ssize_t n = recv(fd, buf, sizeof buf - 1, 0);
    if (n <= 0) continue;
    buf[n] = 0;
    if (std::strstr(buf, "ssdp:alive")) return std::chrono::duration<double>(clock_type::now() - t0).count();
  }
  return -1;
}

// The whole server: until the first ssdp:alive and until the scan is done.
bool server_restart(int count, const std::string &home)
{
  if (!tarvo_test::private_net().empty()) {
    std::printf("%6d files: server start not measured: %s\n", count, tarvo_test::private_net().c_str());
    return true;
  }
  std::ofstream(home + "/conf/upnp_port") << "0";
  int listener = ssdp_listener();
  if (listener < 0) return false;
  static server_rec s{};
  std::atomic<bool> ok{false};
  auto t0 = clock_type::now();
  std::thread t([&] { ok = server_start(&s, home.c_str()) != 0; });
  double up = first_alive(listener, t0);
  close(listener);
  t.join();
  if (!ok) return false;
  while (!scanner_idle(&s)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  double done = std::chrono::duration<double>(clock_type::now() - t0).count();
  std::printf("%6d files: server start: first ssdp:alive after %.3f s, scan complete after %.3f s\n", count, up,
              done);
  server_stop(&s);
  return true;
}

bool run(int count)
{
  char dir[] = "/tmp/tarvo-bench-scan-XXXXXX";
  std::string script = source_script("scripts/layout-data");
  if (!mkdtemp(dir) || script.empty()) return false;
  std::string home = std::string(dir) + "/data", media = std::string(dir) + "/media";
  if (std::system((script + " '" + home + "' >/dev/null").c_str()) != 0) return false;
  std::ofstream(home + "/conf/http_port") << "0";
  std::ofstream(home + "/conf/sync/share/list") << media << "\n";
  std::string body = wav(400);
  for (int i = 0; i < count; i++) {
    std::string folder = media + "/f" + std::to_string(i / 100);
    if (i % 100 == 0) fs::create_directories(folder);
    std::ofstream(folder + "/t" + std::to_string(i) + ".wav", std::ios::binary) << body;
  }
  bool ok = in_child([&] { return first_scan(count, home); }) && in_child([&] { return restart(count, home); }) &&
            in_child([&] { return server_restart(count, home); });
  fs::remove_all(dir);
  return ok;
}


// The regular files under dir that a scan shares (hidden names skipped),
// each read once so that the scan finds them in the page cache.
uint64_t files_warmed(const std::string &dir)
{
  uint64_t n = 0;
  std::vector<char> buf(1 << 20);
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
    if (it->path().filename().string()[0] == '.') {
      if (it->is_directory()) it.disable_recursion_pending();
      continue;
    }
    if (!it->is_regular_file()) continue;
    std::ifstream f(it->path(), std::ios::binary);
    while (f.read(buf.data(), std::streamsize(buf.size())) || f.gcount() > 0) {}
    n++;
  }
  return n;
}

// One first scan of the library by a scanner with that many tagging
// threads (negative: none), from the scanner's start until it is idle.
bool library_scan(uint64_t files, const std::string &library, int32_t threads)
{
  char dir[] = "/tmp/tarvo-bench-scan-XXXXXX";
  std::string script = source_script("scripts/layout-data");
  if (!mkdtemp(dir) || script.empty()) return false;
  std::string home = std::string(dir) + "/data";
  bool ok = std::system((script + " '" + home + "' >/dev/null").c_str()) == 0;
  std::ofstream(home + "/conf/http_port") << "0";
  std::ofstream(home + "/conf/sync/share/list") << library << "\n";
  ok = ok && in_child([&] {
    server_rec s{};
    s.data_home = const_cast<char *>(home.c_str());
    s.scanner.tag_threads = threads;
    if (!cm_state_start(&s) || !content_db_start(&s, home.c_str(), "bench")) return false;
    double cpu0 = cpu_seconds();
    auto t0 = clock_type::now();
    if (!share_scanner_start(&s)) return false;
    while (!scanner_idle(&s)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    double secs = std::chrono::duration<double>(clock_type::now() - t0).count(), cpu = cpu_seconds() - cpu0;
    std::printf("%6llu files, %-18s %7.2f s %7.0f files/s %7.2f s processor, %6u objects, RSS %5.1f MiB, "
                "peak %5.1f MiB\n",
                (unsigned long long)files, threads < 0 ? "scanner alone:" : "tagging threads:", secs,
                double(files) / secs, cpu, objects(&s), rss_kib_in_mib("VmRSS:"), rss_kib_in_mib("VmHWM:"));
    stop(&s);
    return true;
  });
  fs::remove_all(dir);
  return ok;
}

bool library_run(const std::string &library, int count)
{
  std::string make = source_script("bench/make_media_library");
  if (make.empty()) return false;
  if (std::system((make + " '" + library + "' " + std::to_string(count) + " >/dev/null").c_str()) != 0) return false;
  uint64_t files = files_warmed(library);
  return library_scan(files, library, -1) && library_scan(files, library, 0);
}

}  // namespace

int main(int argc, char **argv)
{
  std::vector<int> counts;
  bool library = argc > 2 && !std::strcmp(argv[1], "--library");
  for (int i = library ? 3 : 1; i < argc; i++) counts.push_back(std::atoi(argv[i]));
  if (counts.empty()) counts = library ? std::vector<int>{10000, 20000} : std::vector<int>{10000, 50000};
  std::printf("%u processors\n", std::thread::hardware_concurrency());
  for (int n : counts) {
    if (n <= 0 || !(library ? library_run(fs::absolute(argv[2]).string(), n) : run(n))) {
      std::fprintf(stderr, "bench_scan: the run of %d files failed\n", n);
      return 1;
    }
  }
  return 0;
}
