// links: corda_common tarvo_util
// The LPCM rewrite on arbitrary item text and attribute values, in both
// styles: what it accepts comes out NUL-terminated within the capacity,
// parses again as a document.
#include <corda_common/msf_lpcm.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  if (!size) return 0;
  std::string text(reinterpret_cast<const char *>(data) + 1, size - 1);
  if (text.find('\0') != std::string::npos) return 0;
  msf_lpcm_style style{(data[0] & 1) ? "corda_lpcm_mp4" : "corda_lpcm", data[0] & 2, data[0] & 1};
  const uint32_t capacity = 1u << 16;
  std::vector<char> out(capacity), again(capacity);
  if (!msf_lpcm_rewrite(&style, text.c_str(), out.data(), capacity)) return 0;
  if (!std::memchr(out.data(), 0, capacity)) std::abort();
  static const msf_rewrite_hooks kCopy = {nullptr, nullptr, nullptr, nullptr};
  if (!msf_rewrite_run(&kCopy, nullptr, out.data(), again.data(), capacity)) std::abort();
  return 0;
}
