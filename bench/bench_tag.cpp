// links: tarvo_tag tarvo_avcp tarvo_util
// tarvo_tag_item over a media library laid out by bench/make_media_library,
// per kind of file and from 1 and 8 threads: files per second, bytes read
// per file (the process's rchar in /proc/self/io; the largest single file
// in a separate one-thread pass) and the peak resident memory of the run.
// The MPEG program and transport streams (DVD, VCD; MPEG-2 and H.264 in
// 188- and 192-byte packets) are written by the bench itself with ffmpeg
// when LIBRARY/mpeg lacks them: three sources of 8, 16 and 32 s per kind
// in LIBRARY/mpeg/.sources, linked out to 30 files each, so that the bytes
// read per file show whether a reader's reads are bounded by the length.
// Five-minute constant-rate MP3s at 128 kbit/s (LIBRARY/cbr5), half with
// LAME's Info header and half without a header, are written the same way:
// 2 sources linked out to 150 files each.  Each kind is also read cold, one
// thread: the file's pages are dropped from the page cache just before its
// read (posix_fadvise DONTNEED, which any user may ask), and the read calls
// per file (syscr of /proc/self/io) and the pages the read brought into the
// cache (mincore) are counted; only the reads are timed.
// Usage: bench_tag LIBRARY [threads...] (default 1 8).
#include <tarvo_tag/tarvo_tag.h>
#include <tarvo_util/sys_alloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tarvo_test.h"

namespace fs = std::filesystem;

namespace {

struct kind {
  const char *label;
  const char *extension;
  const char *mime;
  const char *folder;  // only files under this folder of the library; nullptr: outside "long"
};

const kind kKinds[] = {
    {"mp3", ".mp3", "audio/mpeg", nullptr},       {"mp3 60 min", ".mp3", "audio/mpeg", "long"},
    {"mp3 5 min", ".mp3", "audio/mpeg", "cbr5"},
    {"wav", ".wav", "audio/wav", nullptr},        {"ogg", ".ogg", "application/ogg", nullptr},
    {"jpeg", ".jpg", "image/jpeg", nullptr},      {"png", ".png", "image/png", nullptr},
    {"avi", ".avi", "video/avi", nullptr},
    {"wma", ".wma", "audio/x-ms-wma", nullptr},
    {"m4a", ".m4a", "audio/mp4", nullptr},        {"mp4", ".mp4", "video/mp4", nullptr},
    {"ps dvd", ".mpg", "video/mpeg", "mpeg/dvd"},   {"ps vcd", ".mpg", "video/mpeg", "mpeg/vcd"},
    {"ts mpeg2", ".ts", "video/mpeg", "mpeg/ts_mpeg2"}, {"m2ts mpeg2", ".m2ts", "video/mpeg", "mpeg/m2ts_mpeg2"},
    {"ts h264", ".ts", "video/mpeg", "mpeg/ts_h264"}, {"m2ts h264", ".m2ts", "video/mpeg", "mpeg/m2ts_h264"},
};

// How the bench writes the files of an MPEG kind: the folder of kKinds,
// the picture and the ffmpeg output options.
struct generated {
  const char *folder;
  const char *extension;
  const char *size;
  const char *options;
};

const generated kGenerated[] = {
    {"mpeg/dvd", ".mpg", "720x576", "-target pal-dvd -b:v 6M -minrate 6M -maxrate 6M -bufsize 1835k"},
    {"mpeg/vcd", ".mpg", "352x288", "-target pal-vcd"},
    {"mpeg/ts_mpeg2", ".ts", "720x576", "-c:v mpeg2video -b:v 6M -c:a mp2 -f mpegts"},
    {"mpeg/m2ts_mpeg2", ".m2ts", "720x576", "-c:v mpeg2video -b:v 6M -c:a ac3 -f mpegts -mpegts_m2ts_mode 1"},
    {"mpeg/ts_h264", ".ts", "720x576", "-c:v libx264 -preset ultrafast -b:v 4M -c:a aac -f mpegts"},
    {"mpeg/m2ts_h264", ".m2ts", "720x576",
     "-c:v libx264 -preset ultrafast -b:v 4M -c:a ac3 -f mpegts -mpegts_m2ts_mode 1"},
};

constexpr int kSourceSeconds[] = {8, 16, 32};
constexpr int kLinksPerSource = 30;

// The two sources of LIBRARY/cbr5: lame writes its Info header, ffmpeg
// told not to write one none.
const char *const kCbr5Sources[] = {
    "ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=440:duration=300 -ac 2 -ar 44100 -f wav - | "
    "lame --quiet -b 128 --tt 'Five minutes' - ",
    "ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=frequency=550:duration=300 -ac 2 -ar 44100 -c:a libmp3lame "
    "-b:a 128k -write_xing 0 -metadata title='Five minutes' ",
};
constexpr int kCbr5Links = 150;

// Links n files named base_<i>_<n>ext in out to src; copies where links
// cannot be made.
void link_out(const fs::path &src, const fs::path &out, const std::string &base, int i, int n, const char *ext)
{
  std::error_code ec;
  for (int k = 0; k < n; k++) {
    fs::path link = out / (base + "_" + std::to_string(i) + "_" + std::to_string(k) + ext);
    fs::create_hard_link(src, link, ec);
    if (ec) fs::copy_file(src, link, fs::copy_options::overwrite_existing, ec);
  }
}

bool folder_filled(const fs::path &out)
{
  std::error_code ec;
  return fs::exists(out, ec) && !fs::is_empty(out, ec);
}

// The sources of one MPEG kind made with ffmpeg and linked out, unless its
// folder already holds files; false when ffmpeg failed.
bool generate(const fs::path &library, const generated &g)
{
  fs::path out = library / g.folder, sources = library / "mpeg" / ".sources";
  std::error_code ec;
  if (folder_filled(out)) return true;
  fs::create_directories(out, ec);
  fs::create_directories(sources, ec);
  std::string base = fs::path(g.folder).filename().string();
  for (int i = 0; i < int(std::size(kSourceSeconds)); i++) {
    fs::path src = sources / (base + "_" + std::to_string(i) + g.extension);
    std::string cmd = "ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i testsrc=size=" + std::string(g.size) +
                      ":rate=25 -f lavfi -i sine=frequency=" + std::to_string(300 + 100 * i) +
                      ":sample_rate=48000 -t " + std::to_string(kSourceSeconds[i]) + " -ac 2 " + g.options + " '" +
                      src.string() + "'";
    if (!fs::exists(src, ec) && std::system(cmd.c_str()) != 0) return false;
    link_out(src, out, base, i, kLinksPerSource, g.extension);
  }
  return true;
}

bool generate_cbr5(const fs::path &library)
{
  fs::path out = library / "cbr5", sources = library / ".cbr5";
  std::error_code ec;
  if (folder_filled(out)) return true;
  fs::create_directories(out, ec);
  fs::create_directories(sources, ec);
  for (int i = 0; i < int(std::size(kCbr5Sources)); i++) {
    fs::path src = sources / ("cbr5_" + std::to_string(i) + ".mp3");
    if (!fs::exists(src, ec) && std::system((kCbr5Sources[i] + ("'" + src.string() + "'")).c_str()) != 0) return false;
    link_out(src, out, "cbr5", i, kCbr5Links, ".mp3");
  }
  return true;
}

uint64_t proc_field(const char *file, const std::string &key)
{
  std::ifstream f(file);
  for (std::string line; std::getline(f, line);)
    if (line.rfind(key, 0) == 0) return std::stoull(line.substr(key.size()));
  return 0;
}

uint64_t rchar() { return proc_field("/proc/self/io", "rchar:"); }
uint64_t syscr() { return proc_field("/proc/self/io", "syscr:"); }
uint64_t peak_rss_kib() { return proc_field("/proc/self/status", "VmHWM:"); }
// Starts a new peak: the high-water mark drops to the present size.
void peak_reset() { std::ofstream("/proc/self/clear_refs") << "5"; }

std::vector<std::string> files_of(const fs::path &library, const kind &k)
{
  std::vector<std::string> r;
  fs::path root = k.folder ? library / k.folder : library;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator(); ++it) {
    const fs::path &p = it->path();
    if (it->is_directory() && p.filename().string().front() == '.') it.disable_recursion_pending();
    if (!k.folder && it->is_directory() && (p.filename() == "long" || p.filename() == "cbr5"))
      it.disable_recursion_pending();
    if (it->is_regular_file() && p.extension() == k.extension) r.push_back(p.string());
  }
  std::sort(r.begin(), r.end());
  return r;
}

bool item(const std::string &path, const char *mime)
{
  char *text = nullptr;
  if (!tarvo_tag_item(path.c_str(), mime, &text)) return false;
  sys_alloc_free(text);
  return true;
}

// Every file once, shared out among the threads; the failures.
uint32_t run(const std::vector<std::string> &files, const char *mime, unsigned threads)
{
  std::atomic<size_t> next{0};
  std::atomic<uint32_t> failed{0};
  std::vector<std::thread> pool;
  for (unsigned t = 0; t < threads; t++)
    pool.emplace_back([&] {
      for (size_t i; (i = next++) < files.size();)
        if (!item(files[i], mime)) failed++;
    });
  for (std::thread &t : pool) t.join();
  return failed;
}

// What reading the counter itself adds to it.
uint64_t rchar_cost()
{
  uint64_t a = rchar();
  return rchar() - a;
}

// The most bytes any one file cost.
uint64_t max_bytes_per_file(const std::vector<std::string> &files, const char *mime)
{
  uint64_t cost = rchar_cost(), most = 0;
  for (const std::string &f : files) {
    uint64_t before = rchar();
    item(f, mime);
    uint64_t used = rchar() - before;
    most = std::max(most, used > cost ? used - cost : 0);
  }
  return most;
}

struct cold_figures {
  double files_per_s = 0, reads = 0, pages = 0;
};

// Every file read once from one thread, its pages dropped just before.
cold_figures cold_run(const std::vector<std::string> &files, const char *mime)
{
  uint64_t cost = syscr();
  cost = syscr() - cost;
  double secs = 0, reads = 0, pages = 0;
  for (const std::string &f : files) {
    tarvo_test::page_cache_drop(f);
    uint64_t before = syscr();
    auto start = std::chrono::steady_clock::now();
    item(f, mime);
    secs += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    reads += double(syscr() - before - cost);
    pages += double(tarvo_test::page_cache_count(f));
  }
  double n = double(files.size());
  return {n / secs, reads / n, pages / n};
}

}  // namespace

int main(int argc, char **argv)
{
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_tag LIBRARY [threads...]\n");
    return 2;
  }
  std::vector<unsigned> thread_counts;
  for (int i = 2; i < argc; i++) thread_counts.push_back(unsigned(std::max(1, std::atoi(argv[i]))));
  if (thread_counts.empty()) thread_counts = {1, 8};
  for (const generated &g : kGenerated)
    if (!generate(argv[1], g)) std::fprintf(stderr, "bench_tag: ffmpeg could not write %s\n", g.folder);
  if (!generate_cbr5(argv[1])) std::fprintf(stderr, "bench_tag: ffmpeg or lame could not write cbr5\n");
  std::printf("%-8s %-11s %7s %10s %14s %13s %14s %7s\n", "threads", "kind", "files", "files/s", "KiB read/file",
              "max KiB/file", "peak RSS MiB", "failed");
  struct cold_line {
    const char *label;
    size_t files;
    cold_figures figures;
  };
  std::vector<cold_line> cold;
  for (const kind &k : kKinds) {
    std::vector<std::string> files = files_of(argv[1], k);
    if (files.empty()) continue;
    run(files, k.mime, 8);  // warms the page cache and the library
    uint64_t most = max_bytes_per_file(files, k.mime);
    for (unsigned threads : thread_counts) {
      peak_reset();
      uint64_t before = rchar();
      auto start = std::chrono::steady_clock::now();
      uint32_t failed = run(files, k.mime, threads);
      double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      double per_file = double(rchar() - before - rchar_cost()) / double(files.size()) / 1024;
      std::printf("%-8u %-11s %7zu %10.0f %14.1f %13.1f %14.1f %7u\n", threads, k.label, files.size(),
                  double(files.size()) / secs, per_file, double(most) / 1024, double(peak_rss_kib()) / 1024, failed);
      std::fflush(stdout);
    }
    cold.push_back({k.label, files.size(), cold_run(files, k.mime)});
  }
  std::printf("\n%-11s %7s %15s %11s %11s\n", "cold, 1", "files", "files/s", "reads/file", "pages/file");
  for (const auto &[label, n, c] : cold)
    std::printf("%-11s %7zu %15.1f %11.1f %11.1f\n", label, n, c.files_per_s, c.reads, c.pages);
  return 0;
}
