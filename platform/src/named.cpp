// Named objects: a mutex on an abstract UNIX socket (the kernel frees the
// name when its owner dies), an in-process auto-reset event, and a section
// on POSIX shared memory.
#include <tarvo_platform/named.h>

#include <tarvo_util/sys_socket.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace {

// How long a second instance and the owner wait on each other's request.
constexpr uint32_t NAMED_REQUEST_WAIT_MS = 1000;
constexpr char activate_request[] = "activate\n";

bool name_ok(const char *name)
{
  size_t n = name ? std::strlen(name) : 0;
  return n > 0 && n <= NAMED_NAME_MAX && !std::strchr(name, '/');
}

std::string scoped(int scope, const char *name, char sep)
{
  std::string s = "tarvo";
  s += sep;
  s += scope == NAMED_SCOPE_GLOBAL ? std::string("global") : "u" + std::to_string(getuid());
  return s + sep + name;
}

socklen_t abstract_addr(sockaddr_un *a, int scope, const char *name)
{
  std::string path = scoped(scope, name, '/');
  std::memset(a, 0, sizeof *a);
  a->sun_family = AF_UNIX;
  std::memcpy(a->sun_path + 1, path.data(), path.size());  // leading NUL: abstract
  return socklen_t(offsetof(sockaddr_un, sun_path) + 1 + path.size());
}

struct event_state {
  std::mutex m;
  std::condition_variable cv;
  bool signalled = false;
};

}  // namespace

struct named_event_rec {
  std::string name;
  event_state *state;
};

struct named_section_rec {
  std::string shm_name;
  void *map;
  bool owner;
};

namespace {

struct event_table {
  std::mutex m;
  std::map<std::string, std::pair<event_state *, int>> by_name;  // state, opens
};

event_table &events()
{
  static event_table t;
  return t;
}

}  // namespace

extern "C" {

int named_mutex_create(const char *name, int scope, int *fd, int *exists)
{
  *exists = 0;
  *fd = -1;
  if (!name_ok(name)) return 0;
  int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return 0;
  sockaddr_un a;
  socklen_t len = abstract_addr(&a, scope, name);
  if (bind(s, reinterpret_cast<sockaddr *>(&a), len) != 0) {
    *exists = errno == EADDRINUSE;
    close(s);
    return 0;
  }
  if (listen(s, 4) != 0) {
    close(s);
    return 0;
  }
  *fd = s;
  return 1;
}

int named_mutex_take_request(int fd)
{
  int c = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (c < 0) return 0;
  char buf[sizeof activate_request];
  uint32_t have = 0, got = 0;
  while (have < sizeof activate_request - 1 && sys_socket_read_wait(c, NAMED_REQUEST_WAIT_MS) > 0 &&
         sys_socket_recv(c, buf + have, uint32_t(sizeof activate_request - 1 - have), &got) && got)
    have += got;
  close(c);
  return have == sizeof activate_request - 1 && !std::memcmp(buf, activate_request, have);
}

int named_mutex_activate(const char *name, int scope)
{
  if (!name_ok(name)) return 0;
  int s = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return 0;
  sockaddr_un a;
  socklen_t len = abstract_addr(&a, scope, name);
  int ok = connect(s, reinterpret_cast<sockaddr *>(&a), len) == 0 &&
           sys_socket_allsend(s, activate_request, sizeof activate_request - 1);
  close(s);
  return ok;
}

void named_mutex_close(int fd)
{
  if (fd >= 0) close(fd);
}

named_event_rec *named_event_open(const char *name)
{
  if (!name) return nullptr;
  event_table &t = events();
  std::lock_guard<std::mutex> g(t.m);
  auto &slot = t.by_name[name];
  if (!slot.first) slot.first = new event_state;
  slot.second++;
  return new named_event_rec{name, slot.first};
}

void named_event_set(named_event_rec *e)
{
  if (!e) return;
  {
    std::lock_guard<std::mutex> g(e->state->m);
    e->state->signalled = true;
  }
  e->state->cv.notify_one();
}

int named_event_wait(named_event_rec *e, uint32_t timeout_ms)
{
  if (!e) return 0;
  std::unique_lock<std::mutex> g(e->state->m);
  if (!e->state->cv.wait_for(g, std::chrono::milliseconds(timeout_ms), [&] { return e->state->signalled; }))
    return 0;
  e->state->signalled = false;
  return 1;
}

void named_event_close(named_event_rec *e)
{
  if (!e) return;
  event_table &t = events();
  {
    std::lock_guard<std::mutex> g(t.m);
    auto it = t.by_name.find(e->name);
    if (--it->second.second == 0) {
      delete it->second.first;
      t.by_name.erase(it);
    }
  }
  delete e;
}

named_section_rec *named_section_create(const char *name, int scope, void **map)
{
  *map = nullptr;
  if (!name_ok(name)) return nullptr;
  std::string shm = "/" + scoped(scope, name, '.');
  int fd = shm_open(shm.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  void *p = MAP_FAILED;
  if (ftruncate(fd, NAMED_SECTION_SIZE) == 0)
    p = mmap(nullptr, NAMED_SECTION_SIZE, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED) {
    shm_unlink(shm.c_str());
    return nullptr;
  }
  *map = p;
  return new named_section_rec{shm, p, true};
}

named_section_rec *named_section_open(const char *name, int scope, const void **map)
{
  *map = nullptr;
  if (!name_ok(name)) return nullptr;
  std::string shm = "/" + scoped(scope, name, '.');
  int fd = shm_open(shm.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  struct stat st;
  void *p = MAP_FAILED;
  if (fstat(fd, &st) == 0 && st.st_size >= off_t(NAMED_SECTION_SIZE))
    p = mmap(nullptr, NAMED_SECTION_SIZE, PROT_READ, MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED) return nullptr;
  *map = p;
  return new named_section_rec{shm, p, false};
}

void named_section_close(named_section_rec *s)
{
  if (!s) return;
  munmap(s->map, NAMED_SECTION_SIZE);
  if (s->owner) shm_unlink(s->shm_name.c_str());
  delete s;
}

}  // extern "C"
