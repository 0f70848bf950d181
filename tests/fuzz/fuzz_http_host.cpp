// links: tarvo_util
// Host header check: any bytes, never a read past the value, and a value
// that passes never holds a byte that cannot stand in a host and port.
#include <tarvo_util/http_message.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size > 4096) return 0;
  // An exact-size copy lets ASan see any read past the value.
  std::vector<char> v(data, data + size);
  if (http_host_allowed(v.data(), uint32_t(size)))
    for (char c : v)
      if (c == '/' || c == '@' || c == '\0' || c == '\r' || c == '\n') std::abort();
  std::vector<char> line(size + 6);
  std::memcpy(line.data(), "host:", 5);
  std::memcpy(line.data() + 5, data, size);
  char *lines[] = {line.data(), nullptr};
  http_header_host_allowed(lines);
  http_path_allowed(v.data(), uint32_t(size));
  return 0;
}
