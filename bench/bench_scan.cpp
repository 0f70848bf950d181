// links: vennard_core
// The share scanner's first scan of 10,000 and 50,000 small files (WAV, in
// folders of 100): the time from the scanner's start until SystemUpdateID
// has stayed the same for a settle period, and the resident memory then.
// Usage: bench_scan [count...] (default 10000 50000).
#include <vennard/conf_store.h>
#include <vennard/server.h>
#include <vennard/share_scanner.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kSettleMs = 3000;

std::string layout_script()
{
  fs::path p = fs::read_symlink("/proc/self/exe").parent_path();
  for (; !p.empty() && p != p.root_path(); p = p.parent_path())
    if (fs::exists(p / "scripts/layout-data")) return (p / "scripts/layout-data").string();
  return "";
}

long rss_kib()
{
  std::ifstream f("/proc/self/status");
  for (std::string line; std::getline(f, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

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

  server_rec s{};
  s.data_home = home.data();
  if (!cm_state_start(&s) || !content_db_start(&s, home.c_str(), "bench")) return false;
  auto t0 = std::chrono::steady_clock::now();
  if (!share_scanner_start(&s)) return false;
  uint32_t last = update_id(&s);
  auto changed = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - changed < std::chrono::milliseconds(kSettleMs)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    uint32_t now = update_id(&s);
    if (now != last) {
      last = now;
      changed = std::chrono::steady_clock::now();
    }
  }
  double secs = std::chrono::duration<double>(changed - t0).count();
  long rss = rss_kib();
  uint32_t objects = 0;
  if (content_db_lock(&s)) {
    objects = content_db_count(&s);
    content_db_unlock(&s);
  }
  std::printf("%6d files: settled after %.2f s (%.0f files/s), %u objects, SystemUpdateID %u, RSS %ld MiB\n",
              count, secs, count / secs, objects, last, rss / 1024);
  share_scanner_stop(&s);
  share_locks_close(&s);
  content_db_stop(&s);
  cm_state_stop(&s);
  fs::remove_all(dir);
  return true;
}

}  // namespace

int main(int argc, char **argv)
{
  std::vector<int> counts;
  for (int i = 1; i < argc; i++) counts.push_back(std::atoi(argv[i]));
  if (counts.empty()) counts = {10000, 50000};
  // Each count in a process of its own: the memory figure is its own.
  for (int n : counts) {
    pid_t pid = fork();
    if (pid == 0) {
      int r = n > 0 && run(n) ? 0 : 1;
      std::fflush(stdout);
      _exit(r);
    }
    int st = 0;
    if (pid < 0 || waitpid(pid, &st, 0) != pid || !WIFEXITED(st) || WEXITSTATUS(st)) {
      std::fprintf(stderr, "bench_scan: the run of %d files failed\n", n);
      return 1;
    }
  }
  return 0;
}
