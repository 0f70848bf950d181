// The scaled program clock and the debug channel.
#include <tarvo_platform/clock.h>

#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_owner.h>

#include <fcntl.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

extern "C" {

double platform_time_scale(void)
{
  static const double scale = [] {
    const char *s = std::getenv("TARVO_TIME_SCALE");
    double v = s ? std::strtod(s, nullptr) : 1.0;
    return std::isfinite(v) && v > 0 ? v : 1.0;
  }();
  return scale;
}

uint64_t platform_clock_ms(void)
{
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return uint64_t(double(std::chrono::duration_cast<std::chrono::microseconds>(now).count()) *
                  platform_time_scale() / 1000.0);
}

uint32_t platform_real_ms(uint32_t ms)
{
  if (ms == 0) return 0;
  double real = std::ceil(double(ms) / platform_time_scale());
  return real < 1 ? 1 : real > double(UINT32_MAX) ? UINT32_MAX : uint32_t(real);
}

void platform_sleep_ms(uint32_t ms)
{
  std::this_thread::sleep_for(std::chrono::milliseconds(platform_real_ms(ms)));
}

void platform_debug_output(const char *text)
{
  const char *path = std::getenv("TARVO_DEBUG_OUTPUT");
  if (!path || !*path || !text) return;
  own::file f(open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (f.fd < 0) return;
  std::string line = std::string(text) + "\n";
  sys_file_allwrite(f.fd, line.data(), uint32_t(line.size()));
}

}  // extern "C"
