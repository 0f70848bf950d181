// The test process's own namespaces: a user namespace entered before main
// where the process is not root, then the network and mount namespaces
// made inside it, so that these tests run as any user.
//
// This file is a member of the static library tarvo_test_ns: the linker
// takes it only into programs that call private_net() or private_mounts(),
// so only those run inside a user namespace.
#include "tarvo_test.h"

#include <sys/types.h>

namespace tarvo_test {
namespace {

bool write_proc(const char *path, const std::string &text)
{
  int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == ssize_t(text.size());
  close(fd);
  return ok;
}

// Maps the user to root of a new user namespace, as `unshare -r` does:
// the process then holds every capability over the namespaces it makes,
// and programs it starts (ip, mount, the server) keep them across exec.
// Empty when that worked or root needs none; the reason otherwise.
const std::string &user_namespace()
{
  static const std::string problem = [] {
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (uid == 0) return std::string();
    if (unshare(CLONE_NEWUSER) != 0) return std::string("user namespaces not allowed: ") + strerror(errno);
    if (!write_proc("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1\n") ||
        !write_proc("/proc/self/setgroups", "deny") ||
        !write_proc("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1\n"))
      return std::string("the user namespace cannot be mapped: ") + strerror(errno);
    return std::string();
  }();
  return problem;
}

// Before main: a process that has started a thread cannot enter a user
// namespace, and tests start threads long before they ask for a network.
const bool entered_early = (user_namespace(), true);

std::string refused(const char *what)
{
  std::string why = std::string(what) + ": " + strerror(errno);
  if (!user_namespace().empty()) why += " (" + user_namespace() + ")";
  return why;
}

}  // namespace

const std::string &private_net()
{
  static const std::string problem = [] {
    if (unshare(CLONE_NEWNET) != 0) return refused("network namespaces not allowed");
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq ifr{};
    std::strcpy(ifr.ifr_name, "lo");
    bool up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags |= IFF_UP;
    up = up && ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    if (fd >= 0) close(fd);
    return up ? std::string() : std::string("cannot bring loopback up: ") + strerror(errno);
  }();
  return problem;
}

const std::string &private_mounts()
{
  static const std::string problem = [] {
    if (unshare(CLONE_NEWNS) != 0) return refused("mount namespaces not allowed");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      return std::string("mounts cannot be made private: ") + strerror(errno);
    return std::string();
  }();
  return problem;
}

}  // namespace tarvo_test
