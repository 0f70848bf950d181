// links: tarvo_util
// The TimeSeekRange.dlna.org value parser: no crash or overrun, and the
// end is given only with its flag.
#include <tarvo_util/http_message.h>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string line = "TimeSeekRange.dlna.org:" + std::string(reinterpret_cast<const char *>(data), size);
  line = line.c_str();
  int64_t start = -1, end = -1;
  int has_end = -1;
  if (http_header_value_get_time_seek_range_dlna_request(line.c_str(), 23, &start, &end, &has_end)) {
    if (has_end != 0 && has_end != 1) std::abort();
    if (!has_end && end != 0) std::abort();
    if (start < 0 || end < 0) std::abort();
  }
  return 0;
}
