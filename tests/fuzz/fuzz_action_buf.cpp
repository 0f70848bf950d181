// links: tarvo_avcp tarvo_util
// Browse answers parsed in place with a buffer size taken from the input:
// nothing may be written at or past the size, and a success leaves a NUL
// inside it.
#include <tarvo_avcp/avcp_action_buf.h>

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (size < 2) return 0;
  std::vector<char> buf(data + 2, data + size);
  buf.push_back(0);
  // The parse bounds its writes by the size it is given; the reading
  // needs the body's NUL, which the buffer holds past it.
  uint32_t given = 1 + uint32_t((data[0] << 8 | data[1]) % buf.size());
  std::vector<char> before = buf;
  uint32_t n[3] = {1, 2, 3};
  int ok = avcp_cds_parse_browse_direct_children_response_buf(buf.data(), given, &n[0], &n[1], &n[2]);
  if (std::memcmp(buf.data() + given, before.data() + given, buf.size() - given)) std::abort();
  if (ok && !std::memchr(buf.data(), 0, given)) std::abort();
  if (!ok && (n[0] != 1 || n[1] != 2 || n[2] != 3)) std::abort();
  return 0;
}
