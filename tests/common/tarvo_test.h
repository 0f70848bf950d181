// Helpers shared by the test programs.
#pragma once

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/capability.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tarvo_test {

// 1 in a ThreadSanitizer build: tests of libraries not built for it skip.
#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadChecker = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kThreadChecker = true;
#else
constexpr bool kThreadChecker = false;
#endif
#else
constexpr bool kThreadChecker = false;
#endif

// The exit status of a test program in which nothing failed but a test
// skipped: CTest's SKIP_RETURN_CODE for every test (tarvo_test_dir).
constexpr int kSkipStatus = 77;

// A fresh folder under the system's temporary folder, removed with the
// object.
struct scratch_dir {
  std::filesystem::path path;
  scratch_dir()
  {
    std::string t = (std::filesystem::temp_directory_path() / "tarvo-test-XXXXXX").string();
    if (!mkdtemp(t.data())) std::abort();
    path = t;
  }
  ~scratch_dir()
  {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string operator/(const std::string &name) const { return (path / name).string(); }
};

inline void write_file(const std::string &path, const std::string &data)
{
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << data;
}

inline std::string read_file(const std::string &path)
{
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// The folder of the source tree's tests/ (for data files), from CTest's
// environment.
inline std::string data_dir()
{
  const char *d = std::getenv("TARVO_TEST_DATA");
  return d ? d : "tests";
}

// What a shell command writes on its standard output; *status its wait
// status (-1 when it could not run).
inline std::string command_output(const std::string &cmd, int *status)
{
  std::string out;
  *status = -1;
  FILE *p = popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[512];
  while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  *status = pclose(p);
  return out;
}

// The exit code of a child within ms (-1: killed by a signal; -2: still
// running, then killed).
inline int wait_exit(pid_t pid, int ms)
{
  for (int i = 0; i < ms / 10; ++i) {
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -2;
}

// Pages of a file in the page cache: what reads of it have brought in since
// they were dropped.
inline uint64_t page_cache_count(const std::string &path)
{
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  void *m = MAP_FAILED;
  if (fd >= 0 && fstat(fd, &st) == 0 && st.st_size > 0)
    m = mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
  if (fd >= 0) close(fd);
  if (m == MAP_FAILED) return 0;
  size_t page = size_t(sysconf(_SC_PAGESIZE));
  std::vector<unsigned char> in((size_t(st.st_size) + page - 1) / page);
  uint64_t n = 0;
  if (mincore(m, size_t(st.st_size), in.data()) == 0)
    for (unsigned char c : in) n += c & 1;
  munmap(m, size_t(st.st_size));
  return n;
}

// Drops a file's pages from the page cache, as any user may; false where
// they stay (a file system that keeps files only in memory).
inline bool page_cache_drop(const std::string &path)
{
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool asked = fdatasync(fd) == 0 && posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
  close(fd);
  return asked && page_cache_count(path) == 0;
}

// Moves the process into a network namespace of its own with loopback up,
// once; the reason when that is not allowed (empty when it is).  A program
// that calls it runs inside a user namespace of its own where it is not
// root (tarvo_test_ns.cpp).
const std::string &private_net();

// Moves the process into a mount namespace of its own whose mounts are
// private, once (it must be done before the process starts a thread); the
// reason when that is not allowed.  Inside a user namespace as
// private_net().
const std::string &private_mounts();

// Takes from the calling thread root's power to open files whatever their
// modes, so that a test of an unreadable file holds for root as for any
// user; given back with the object.  Other users have nothing to take.
struct without_file_override {
  __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved[2]{};
  bool cut = false;
  without_file_override()
  {
    if (syscall(SYS_capget, &head, saved) != 0) return;
    __user_cap_data_struct less[2] = {saved[0], saved[1]};
    less[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    cut = syscall(SYS_capset, &head, less) == 0;
  }
  ~without_file_override()
  {
    if (cut) syscall(SYS_capset, &head, saved);
  }
  without_file_override(const without_file_override &) = delete;
  without_file_override &operator=(const without_file_override &) = delete;
};

// A socket that hears the SSDP group on the interface of one address,
// loopback by default (inside a namespace of the process's own).
struct ssdp_listener {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  explicit ssdp_listener(const char *ip = "127.0.0.1")
  {
    int one = 1, off = 0;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(1900);
    bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ip_mreqn m{};
    inet_pton(AF_INET, "239.255.255.250", &m.imr_multiaddr);
    inet_pton(AF_INET, ip, &m.imr_address);
    setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m);
  }
  ~ssdp_listener() { close(fd); }
  ssdp_listener(const ssdp_listener &) = delete;
  ssdp_listener &operator=(const ssdp_listener &) = delete;
  // Whether a NOTIFY with that NTS comes within ms.
  bool hears(const std::string &nts, int ms)
  {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 5) <= 0) continue;
      char buf[2048];
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n > 0 && std::string(buf, size_t(n)).find("NTS: " + nts + "\r\n") != std::string::npos) return true;
    }
    return false;
  }
};

// A small tmpfs on a fresh folder, for tests of a full disk: mounted in a
// mount namespace of the process's own (private_mounts), unmounted with
// the object.  problem says why when it cannot be had.
struct small_tmpfs {
  std::string path, problem, filler;
  explicit small_tmpfs(size_t bytes)
  {
    if (!(problem = private_mounts()).empty()) return;
    std::string t = (std::filesystem::temp_directory_path() / "tarvo-tmpfs-XXXXXX").string();
    if (!mkdtemp(t.data())) std::abort();
    std::string options = "size=" + std::to_string(bytes);
    if (mount("tarvo-test", t.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
      problem = std::string("tmpfs cannot be mounted: ") + strerror(errno);
      rmdir(t.c_str());
      return;
    }
    path = t;
    filler = path + "/.filler";
  }
  ~small_tmpfs()
  {
    if (path.empty()) return;
    umount2(path.c_str(), MNT_DETACH);
    rmdir(path.c_str());
  }
  // Takes every free byte; false when the disk did not fill up.
  bool fill() const
  {
    int fd = open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    static const std::string block(65536, 'f');
    for (size_t n = block.size(); fd >= 0 && n; n /= 16)
      while (write(fd, block.data(), n) == ssize_t(n)) {
      }
    bool full = fd >= 0 && errno == ENOSPC;
    if (fd >= 0) close(fd);
    return full;
  }
  void free_space() const { unlink(filler.c_str()); }
};

}  // namespace tarvo_test
