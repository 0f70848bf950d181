// Script string escaping for texts placed in the page.
#include "js_escape.h"

#include <cstdio>

namespace {

void unicode_escape(std::string *out, unsigned code)
{
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\u%04X", code);
  out->append(buf);
}

}  // namespace

std::string js_string_escape(std::string_view text)
{
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    // U+2028 and U+2029 end a line inside a script literal; E2 80 A8/A9 in UTF-8.
    if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
        (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xA8) {
      unicode_escape(&out, 0x2028u + (static_cast<unsigned char>(text[i + 2]) & 1u));
      i += 2;
    } else if (c == '\\' || c == '\'' || c == '"') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c == '\n') {
      out.append("\\n");
    } else if (c == '\r') {
      out.append("\\r");
    } else if (c < 0x20 || c == 0x7F || c == '<') {
      // "<" so that no "</script>" or "<!--" can form inside a literal.
      unicode_escape(&out, c);
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}
