// XML text writers: escaping, elements, attributes, trimming and the
// character check for values that will be stored as XML.
#include <tarvo_util/xml.h>

#include "xml_internal.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

constexpr const char *entity_of(unsigned char c)
{
  switch (c) {
  case '"': return "&quot;";
  case '&': return "&amp;";
  case '\'': return "&apos;";
  case '<': return "&lt;";
  case '>': return "&gt;";
  default: return nullptr;
  }
}

bool is_trim_space(char c) { return c == ' ' || (c >= 9 && c <= 13); }

bool in(unsigned char c, unsigned lo, unsigned hi) { return c >= lo && c <= hi; }

// Length of the UTF-8 sequence that starts at s, or 0 when it is not one
// that an XML document may hold.
uint32_t legal_sequence(const unsigned char *s)
{
  unsigned char c = s[0];
  if (c < 0x20 || in(c, 0x80, 0xC1) || c >= 0xF5) return 0;
  if (c < 0x80) return 1;
  uint32_t n = c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
  // The string's NUL stops the walk here: it is not a continuation byte.
  for (uint32_t i = 1; i < n; i++)
    if (!in(s[i], 0x80, 0xBF)) return 0;
  unsigned char d = s[1];
  if (c == 0xE0 && d < 0xA0) return 0;  // overlong
  if (c == 0xED && d > 0x9F) return 0;  // surrogates
  if (c == 0xEF && d == 0xBF && s[2] >= 0xBE) return 0;  // U+FFFE, U+FFFF
  if (c == 0xF0 && d < 0x90) return 0;  // overlong
  if (c == 0xF4 && d > 0x8F) return 0;  // beyond U+10FFFF
  return n;
}

// The bytes each byte adds when written as its entity, by table: the
// escape runs over every byte of a large Result.
constexpr auto kExtra = [] {
  std::array<uint8_t, 256> t{};
  for (unsigned c = 0; c < 256; c++)
    if (const char *e = entity_of(static_cast<unsigned char>(c))) t[c] = uint8_t(std::char_traits<char>::length(e) - 1);
  return t;
}();

// The longest entity, "&quot;" and "&apos;".
constexpr uint32_t kEntityMax = 6;
// Each byte is written as one store of this many bytes: a byte as itself,
// or its entity, with the rest overwritten by what follows.
constexpr uint32_t kStore = 8;

struct written {
  char b[kStore];
};

constexpr auto kWritten = [] {
  std::array<written, 256> t{};
  for (unsigned c = 0; c < 256; c++) {
    const char *e = entity_of(static_cast<unsigned char>(c));
    if (!e) t[c].b[0] = char(c);
    for (uint32_t i = 0; e && e[i]; i++) t[c].b[i] = e[i];
  }
  return t;
}();

// Writes the n bytes at s escaped at w, which has room for kStore - 1
// bytes beyond the escaped text; the end of what was written.  No branch
// per byte: markup has an entity every few bytes.
char *escape_to(char *w, const char *s, uint32_t n)
{
  for (uint32_t i = 0; i < n; i++) {
    auto c = static_cast<unsigned char>(s[i]);
    std::memcpy(w, kWritten[c].b, kStore);
    w += kExtra[c] + 1u;
  }
  return w;
}

}  // namespace

// A DIDL-Lite Result is mostly markup, and a copy per run between two
// entities cost more than the text itself.  Where the buffer has room for
// the worst case, one pass writes the bytes; else a first pass counts them,
// so that the buffer grows no more than the text needs.
int xml_gen_encode_appendb(sys_stralloc_rec *sa, const char *s, uint32_t n)
{
  // A source inside the buffer itself moves along with it, and lies
  // before the end that is written.
  uintptr_t b0 = reinterpret_cast<uintptr_t>(sa->buf), at = reinterpret_cast<uintptr_t>(s);
  bool inside = sa->buf && at >= b0 && at < b0 + sa->a;
  if (sa->buf && !inside && uint64_t(n) * kEntityMax + kStore < uint64_t(sa->a - sa->len)) {
    char *w = escape_to(sa->buf + sa->len, s, n);
    sa->len = uint32_t(w - sa->buf);
    return 1;
  }
  uint64_t out = n;
  for (uint32_t i = 0; i < n; i++) out += kExtra[static_cast<unsigned char>(s[i])];
  if (out + kStore > UINT32_MAX || !sys_stralloc_readyplus(sa, uint32_t(out + kStore))) return 0;
  if (inside) s = sa->buf + (at - b0);
  char *w = sa->buf + sa->len;
  if (out == n) std::memcpy(w, s, n);
  else escape_to(w, s, n);
  sa->len += uint32_t(out);
  return 1;
}

extern "C" {

int xml_gen_encode_append(sys_stralloc_rec *sa, const char *s)
{
  return xml_gen_encode_appendb(sa, s, sys_str_len(s));
}

int xml_gen_element_append(sys_stralloc_rec *sa, const char *name, const char *text)
{
  return sys_stralloc_cats(sa, "<") && sys_stralloc_cats(sa, name) && sys_stralloc_cats(sa, ">") &&
         (!text || xml_gen_encode_append(sa, text)) && sys_stralloc_cats(sa, "</") &&
         sys_stralloc_cats(sa, name) && sys_stralloc_cats(sa, ">\r\n");
}

int xml_gen_attribute_append(sys_stralloc_rec *sa, const char *name, const char *value)
{
  return sys_stralloc_cats(sa, " ") && sys_stralloc_cats(sa, name) && sys_stralloc_cats(sa, "=\"") &&
         xml_gen_encode_append(sa, value) && sys_stralloc_cats(sa, "\"");
}

void xml_gen_text_trim(sys_stralloc_rec *sa)
{
  char *b = sa->buf;
  uint32_t n = sa->len;
  for (uint32_t i = 0; i < n; i++)
    if (b[i] == '\r' || b[i] == '\n') b[i] = ' ';
  while (n && is_trim_space(b[n - 1])) n--;
  uint32_t start = 0;
  while (start < n && is_trim_space(b[start])) start++;
  if (start) sys_byte_copy(b, n - start, b + start);
  sa->len = n - start;
}

int xml_gen_is_legal_value(const char *s)
{
  const auto *p = reinterpret_cast<const unsigned char *>(s);
  while (*p) {
    // Most values are printable ASCII: those bytes need no sequence check.
    while (*p >= 0x20 && *p < 0x80) p++;
    if (!*p) break;
    uint32_t n = legal_sequence(p);
    if (!n) return 0;
    p += n;
  }
  return 1;
}

int xml_gen_is_legal_text(const char *s)
{
  const auto *p = reinterpret_cast<const unsigned char *>(s);
  while (*p) {
    uint32_t n = *p == '\t' || *p == '\n' || *p == '\r' ? 1 : legal_sequence(p);
    if (!n) return 0;
    p += n;
  }
  return 1;
}

}  // extern "C"
