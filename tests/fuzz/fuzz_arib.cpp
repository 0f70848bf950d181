// links: tarvo_util
// ARIB text decoding: measuring and filling agree, the fill stays inside its
// buffer, and the text is well-formed UTF-8.
#include <tarvo_util/charset.h>

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  uint32_t n;
  if (!utf8_from_arib(data, uint32_t(size), nullptr, 0, &n)) return 0;
  std::vector<char> buf(size_t(n) + 1, 0);
  uint32_t got;
  if (!utf8_from_arib(data, uint32_t(size), buf.data(), n + 1, &got) || got != n) std::abort();
  if (std::memchr(buf.data(), 0, n)) std::abort();
  // Well-formed UTF-8 survives a trip through code points unchanged.
  void *units;
  char *back;
  if (!utf8_to_ucs2(4, UTF8_ORDER_MACHINE, buf.data(), &units)) std::abort();
  if (!utf8_from_ucs2(4, UTF8_ORDER_MACHINE, units, &back)) std::abort();
  if (std::strcmp(back, buf.data()) != 0) std::abort();
  sys_alloc_free(units);
  sys_alloc_free(back);
  // A short buffer keeps a prefix of whole characters.
  if (n) {
    std::vector<char> small(n / 2 + 1, 0);
    if (!utf8_from_arib(data, uint32_t(size), small.data(), uint32_t(small.size() - 1), &got)) std::abort();
    if (got > small.size() - 1 || std::memcmp(small.data(), buf.data(), got) != 0) std::abort();
  }
  return 0;
}
