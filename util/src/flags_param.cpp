// The DLNA.ORG_FLAGS value: 32 hexadecimal digits, the first 8 holding the
// primary flags.
#include <tarvo_util/dlna.h>


namespace {

constexpr char kHex[] = "0123456789abcdef";

// The primary flags, or false unless the first 8 characters are all
// hexadecimal digits and bit is 0-31.
bool primary(const char *p, int bit, uint32_t *v)
{
  if (bit < 0 || bit > 31) return false;
  uint32_t x = 0;
  for (int i = 0; i < 8; i++) {
    int d = sys_str_hex_digit(p[i]);
    if (d < 0) return false;
    x = (x << 4) | uint32_t(d);
  }
  *v = x;
  return true;
}

}  // namespace

extern "C" {

void flags_param_init(char *p)
{
  for (int i = 0; i < 32; i++) p[i] = '0';
  p[32] = '\0';
}

int flags_param_set_primary_flag(char *p, int bit)
{
  uint32_t v;
  if (!primary(p, bit, &v)) return 0;
  v |= uint32_t(1) << bit;
  for (int i = 7; i >= 0; i--, v >>= 4) p[i] = kHex[v & 15];
  return 1;
}

int flags_param_get_primary_flag(const char *p, int bit)
{
  uint32_t v;
  return primary(p, bit, &v) && (v >> bit & 1);
}

}  // extern "C"
