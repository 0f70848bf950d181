// The process-wide levelled log.
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_log.h>
#include <tarvo_util/util_limits.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string_view>

namespace {

struct log_state {
  std::mutex m;  // guards everything below and serialises the lines
  std::atomic<bool> ready{false};
  std::atomic<int> level{0};
  int fd = SYS_FILE_INVALID;
  bool own = false;
  char buf[SYS_LOG_BUFFER];
  sys_filebuffer_rec fb{};
  int64_t start_ms = 0;
};

// Never destroyed: threads may log while the process exits.
log_state &state()
{
  static log_state *s = new log_state;
  return *s;
}

int64_t now_ms()
{
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

int level_from_env()
{
  const char *v = std::getenv("SYS_LOG_LEVEL");
  if (!v) return 0;
  char *end;
  long l = std::strtol(v, &end, 10);
  if (end == v || l < 0) return 0;
  return l > SYS_LOG_LEVEL_MAX ? SYS_LOG_LEVEL_MAX : int(l);
}

void open_output(log_state &s)
{
  const char *out = std::getenv("SYS_LOG_OUTPUT");
  s.fd = STDOUT_FILENO;
  s.own = false;
  if (!out || std::string_view(out) == "stdout") return;
  if (std::string_view(out) == "stderr") {
    s.fd = STDERR_FILENO;
    return;
  }
  int fd = open(out, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return;
  if (lseek(fd, 0, SEEK_END) < 0) {
    close(fd);
    return;
  }
  s.fd = fd;
  s.own = true;
}

// Called with the mutex held.
int start(log_state &s)
{
  int level = level_from_env();
  s.level.store(level);
  s.ready.store(true, std::memory_order_release);
  if (!level) return 0;
  open_output(s);
  sys_filebuffer_init(&s.fb, s.fd, s.buf, sizeof s.buf);
  s.start_ms = now_ms();
  time_t t = time(nullptr);
  tm lt;
  char banner[64];
  if (!localtime_r(&t, &lt)) return 0;
  snprintf(banner, sizeof banner, "[%04d/%02d/%02d-%02d:%02d:%02d]\r\n", lt.tm_year + 1900, lt.tm_mon + 1,
           lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec);
  return sys_filebuffer_puts(&s.fb, banner) && sys_filebuffer_flush(&s.fb);
}

const char *tag(int level)
{
  static const char *const tags[] = {"[EMERGENCY]", "[ALERT]",  "[CRITICAL]", "[ERROR]",
                                     "[WARNING]",   "[NOTICE]", "[INFO]",     "[DEBUG]"};
  return level >= 1 && level <= 8 ? tags[level - 1] : "";
}

}  // namespace

extern "C" {

int sys_log_init(void)
{
  log_state &s = state();
  if (s.ready.load(std::memory_order_acquire)) return 1;
  std::lock_guard<std::mutex> g(s.m);
  if (s.ready.load(std::memory_order_relaxed)) return 1;
  return start(s);
}

void sys_log_print(int level, const char *format, ...)
{
  log_state &s = state();
  if (!s.ready.load(std::memory_order_acquire)) sys_log_init();
  int configured = s.level.load(std::memory_order_relaxed);
  if (!configured || level > configured) return;

  char text[SYS_LOG_TEXT_MAX + 1];
  va_list ap;
  va_start(ap, format);
  vsnprintf(text, sizeof text, format, ap);
  va_end(ap);

  std::lock_guard<std::mutex> g(s.m);
  // sys_log_end may have run meanwhile.
  configured = s.level.load(std::memory_order_relaxed);
  if (!configured || level > configured) return;
  int64_t ms = now_ms() - s.start_ms;
  char head[48];
  snprintf(head, sizeof head, "%s [%02d:%02d:%02d.%03d] ", tag(level), int(ms / 3600000 % 100),
           int(ms / 60000 % 60), int(ms / 1000 % 60), int(ms % 1000));
  if (sys_filebuffer_puts(&s.fb, head) && sys_filebuffer_puts(&s.fb, text) && sys_filebuffer_puts(&s.fb, "\r\n"))
    sys_filebuffer_flush(&s.fb);
  else
    s.fb.p = 0;  // a broken output must not hold on to half a line
}

int sys_log_end(void)
{
  log_state &s = state();
  std::lock_guard<std::mutex> g(s.m);
  int r = 0;
  if (s.own) r = sys_file_close(s.fd);
  s.fd = SYS_FILE_INVALID;
  s.own = false;
  s.level.store(0);
  s.ready.store(false, std::memory_order_release);
  return r;
}

}  // extern "C"
