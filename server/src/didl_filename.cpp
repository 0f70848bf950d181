// File names that XML cannot hold.  A Linux file name is bytes; one that
// is not UTF-8 of XML characters (a Latin-1 name from an old disk) is kept
// exactly in memory and written as "%" followed by the name with '%',
// control bytes and bytes from 0x80 up as %XX.  Every path the server
// stores otherwise begins with '/', and a value is read back as such a
// name only when its bytes are not a legal value themselves, so names
// stored before keep their meaning.
#include "didl_impl.h"

#include <tarvo_util/xml.h>

namespace {

int hex_value(char c)
{
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

namespace didl {

bool filename_escape(const char *raw, std::string *out)
{
  static const char kHex[] = "0123456789ABCDEF";
  out->assign(1, '%');
  for (const char *p = raw; *p; p++) {
    auto c = static_cast<unsigned char>(*p);
    if (c == '%' || c < 0x20 || c >= 0x7F) {
      out->push_back('%');
      out->push_back(kHex[c >> 4]);
      out->push_back(kHex[c & 15]);
    } else {
      out->push_back(*p);
    }
  }
  return true;
}

bool filename_unescape(const char *stored, std::string *out)
{
  if (stored[0] != '%') return false;
  out->clear();
  for (const char *p = stored + 1; *p; p++) {
    if (*p != '%') {
      out->push_back(*p);
      continue;
    }
    int hi = hex_value(p[1]), lo = hi < 0 ? -1 : hex_value(p[2]);
    if (lo < 0) return false;
    char c = static_cast<char>(hi << 4 | lo);
    if (!c) return false;
    out->push_back(c);
    p += 2;
  }
  return !xml_gen_is_legal_value(out->c_str());
}

}  // namespace didl
