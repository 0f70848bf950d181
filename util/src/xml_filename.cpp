// File names that XML cannot hold.  A Linux file name is bytes; one that
// is not UTF-8 of XML characters (a Latin-1 name from an old disk) travels
// in XML as "%" and the name with '%', control bytes and bytes from 0x7F up
// as %XX.  A value reads back as such a name only when the bytes it stands
// for are not a legal value themselves, so that legal names written as
// they are keep their meaning.
#include <tarvo_util/xml.h>

#include "hex_digit.h"

extern "C" {

int xml_gen_filename_append(sys_stralloc_rec *sa, const char *name)
{
  if (xml_gen_is_legal_value(name)) return sys_stralloc_cats(sa, name);
  static const char kHex[] = "0123456789ABCDEF";
  if (!sys_stralloc_cats(sa, "%")) return 0;
  for (const char *p = name; *p; p++) {
    auto c = static_cast<unsigned char>(*p);
    char code[3] = {'%', kHex[c >> 4], kHex[c & 15]};
    bool escaped = c == '%' || c < 0x20 || c >= 0x7F;
    if (!(escaped ? sys_stralloc_catb(sa, code, 3) : sys_stralloc_append(sa, p))) return 0;
  }
  return 1;
}

int xml_filename_decode(const char *stored, char *out)
{
  if (stored[0] != '%') return 0;
  char *o = out;
  for (const char *p = stored + 1; *p; p++) {
    if (*p != '%') {
      *o++ = *p;
      continue;
    }
    int hi = tarvo::hex_digit(p[1]), lo = hi < 0 ? -1 : tarvo::hex_digit(p[2]);
    if (lo < 0 || !(hi | lo)) return 0;
    *o++ = static_cast<char>(hi << 4 | lo);
    p += 2;
  }
  *o = '\0';
  return !xml_gen_is_legal_value(out);
}

}  // extern "C"
