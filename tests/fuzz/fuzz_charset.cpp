// links: tarvo_util
// The charset guess and the conversions it leads to: measuring and filling
// agree, short buffers are never overrun, and UTF-8 from the wide charsets
// is well-formed.
#include <tarvo_util/charset.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Converts with a measured buffer and with a short one (canary beyond it).
void check_from(const char *cs, const char *text)
{
  uint32_t n;
  if (!utf8_from(cs, text, nullptr, 0, &n)) return;
  std::vector<char> buf(size_t(n) + 1);
  uint32_t got;
  if (!utf8_from(cs, text, buf.data(), n + 1, &got) || got != n || buf[n] != 0) std::abort();
  uint32_t small = n / 3 + 1;
  std::vector<char> s(small + 1, '\x7F');
  if (!utf8_from(cs, text, s.data(), small, &got) || got >= small || s[got] != 0 || s[small] != '\x7F')
    std::abort();
}

bool well_formed(const char *utf8)
{
  void *units;
  char *back;
  if (!utf8_to_ucs2(4, UTF8_ORDER_MACHINE, utf8, &units)) return false;
  bool same = utf8_from_ucs2(4, UTF8_ORDER_MACHINE, units, &back) && std::strcmp(back, utf8) == 0;
  sys_alloc_free(units);
  if (same) sys_alloc_free(back);
  return same;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  std::string text(reinterpret_cast<const char *>(data), size);
  // Wide text ends at a zero unit on a unit boundary.
  text.append(8 - text.size() % 4, '\0');
  const char *cs = charencoding_autodetect(text.data(), uint32_t(size));
  if (!cs) std::abort();
  check_from(cs, text.c_str());

  for (const char *wide : {"UTF-16LE", "UCS-4BE"}) {
    char *out;
    if (!utf8_from2(wide, text.c_str(), &out)) std::abort();
    if (!well_formed(out)) std::abort();
    // Back into the wide charset and out again gives the same text.
    char *enc, *again;
    if (!utf8_to2(wide, out, &enc) || !utf8_from2(wide, enc, &again) || std::strcmp(out, again) != 0)
      std::abort();
    sys_alloc_free(enc);
    sys_alloc_free(again);
    sys_alloc_free(out);
  }
  char *sj;
  if (utf8_from2("SHIFT-JIS", text.c_str(), &sj)) {
    if (!well_formed(sj)) std::abort();
    sys_alloc_free(sj);
  }
  return 0;
}
