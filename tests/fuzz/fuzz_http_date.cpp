// links: tarvo_util
// RFC 822/1123 date scanning: the count stays inside the text, and a date
// that scans formats back into text that scans to the same time.
#include <tarvo_util/http_message.h>
#include <tarvo_util/sys_time.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string s(reinterpret_cast<const char *>(data), size);
  s = s.c_str();
  int64_t t;
  uint32_t n = http_date_scan(s.c_str(), &t);
  if (n > s.size()) std::abort();
  if (!n) return 0;
  sys_caltime_rec c;
  if (!sys_caltime_utc_from(&c, &t)) return 0;
  char buf[64];
  uint32_t k = http_date_fmt(buf, &t);
  buf[k] = 0;
  int64_t back;
  if (http_date_scan(buf, &back) != k || back != t) std::abort();
  return 0;
}
