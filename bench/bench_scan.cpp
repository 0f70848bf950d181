// links: vennard_core
// The share scanner on a library of small files (WAV, in folders of 100):
// the first scan (from the scanner's start until SystemUpdateID has stayed
// the same for a settle period) and the resident memory then; then a
// restart of the database and the scanner on the unchanged library: the
// time until the scan is complete, the bytes read meanwhile and whether
// data.xml was rewritten.  Usage: bench_scan [count...] (default 10000
// 50000).
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
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using clock_type = std::chrono::steady_clock;
constexpr int kSettleMs = 3000;

std::string layout_script()
{
  fs::path p = fs::read_symlink("/proc/self/exe").parent_path();
  for (; !p.empty() && p != p.root_path(); p = p.parent_path())
    if (fs::exists(p / "scripts/layout-data")) return (p / "scripts/layout-data").string();
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
  auto t0 = clock_type::now();
  if (!start(&s, home)) return false;
  uint32_t before = update_id(&s);
  while (!scanner_idle(&s)) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  double secs = std::chrono::duration<double>(clock_type::now() - t0).count();
  long read = read_chars() - read0;
  std::printf("%6d files: restart until the scan is complete %.3f s, %ld KiB read (data.xml %ld KiB), "
              "SystemUpdateID %s, RSS %ld MiB\n",
              count, secs, read / 1024, long(fs::file_size(data) / 1024),
              update_id(&s) == before ? "unchanged" : "changed", rss_mib());
  stop(&s);
  std::printf("%6d files: data.xml %s by the restart\n", count,
              fs::last_write_time(data) == saved ? "untouched" : "rewritten");
  return true;
}

bool run(int count)
{
  char dir[] = "/tmp/tarvo-bench-scan-XXXXXX";
  std::string script = layout_script();
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
  bool ok = in_child([&] { return first_scan(count, home); }) && in_child([&] { return restart(count, home); });
  fs::remove_all(dir);
  return ok;
}

}  // namespace

int main(int argc, char **argv)
{
  std::vector<int> counts;
  for (int i = 1; i < argc; i++) counts.push_back(std::atoi(argv[i]));
  if (counts.empty()) counts = {10000, 50000};
  for (int n : counts) {
    if (n <= 0 || !run(n)) {
      std::fprintf(stderr, "bench_scan: the run of %d files failed\n", n);
      return 1;
    }
  }
  return 0;
}
