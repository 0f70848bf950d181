// URLs: parse, join, resolve, escape, unescape, query lists, file: URIs.
#include <tarvo_util/uri.h>

#include "text_build.h"

#include <algorithm>
#include <string_view>

using tarvo::heap_copy;
using tarvo::list_build;
using tarvo::text_build;
using sv = std::string_view;

namespace {

constexpr char kHex[] = "0123456789abcdef";

// RFC 3986 scheme: a letter, then letters, digits, '+', '-' or '.'.  Only
// a ':' after such a name starts an absolute URL; a ':' after anything else
// (a path "/a:b", a query "?t=1:2") belongs to the path.
bool is_scheme(sv s)
{
  if (s.empty() || !tarvo::is_alpha(s[0])) return false;
  for (char c : s)
    if (!tarvo::is_alpha(c) && !tarvo::is_digit(c) && c != '+' && c != '-' && c != '.') return false;
  return true;
}

bool is_unreserved(unsigned char c)
{
  if (tarvo::is_alpha(char(c)) || tarvo::is_digit(char(c))) return true;
  return c && sv("-_.!~*'()/").find(char(c)) != sv::npos;
}

// The authority of an absolute URL: after "scheme://" (at least one more
// character required) up to the next '/' or the end.  Its end offset in
// *auth_end; false when s is not of that form.
bool find_authority(sv s, size_t *auth_begin, size_t *auth_end)
{
  size_t colon = s.find(':');
  if (colon == sv::npos || s.substr(colon + 1, 2) != "//" || s.size() <= colon + 3) return false;
  *auth_begin = colon + 3;
  size_t slash = s.find('/', *auth_begin);
  *auth_end = slash == sv::npos ? s.size() : slash;
  return true;
}

}  // namespace

extern "C" {

int uri_parse(uri_rec *uri, const char *s)
{
  sv v(s), scheme, host, port, rest = v;
  size_t colon = v.find(':');
  if (colon != sv::npos && is_scheme(v.substr(0, colon))) {
    sv after = v.substr(colon + 1);
    if (after.size() < 3 || after.substr(0, 2) != "//") return 0;
    scheme = v.substr(0, colon);
    sv auth = after.substr(2);
    // A query straight after the host ("http://h?x") ends the authority too.
    size_t end = auth.find_first_of("/?");
    rest = end == sv::npos ? sv() : auth.substr(end);
    auth = auth.substr(0, end);
    size_t c = auth.find(':');
    host = auth.substr(0, c);
    port = c == sv::npos ? sv() : auth.substr(c + 1);
  }
  text_build path;
  if (rest.empty() || (rest[0] != '/' && rest[0] != '*'))
    if (!path.add('/')) return 0;
  size_t q = rest.find('?');
  if (!path.add(rest.substr(0, q))) return 0;
  sv query = q == sv::npos ? sv() : rest.substr(q + 1);

  uri_rec r{};
  if (!heap_copy(scheme, &r.scheme) || !heap_copy(host, &r.host) || !heap_copy(port, &r.port) ||
      !path.release(&r.path) || !heap_copy(query, &r.query)) {
    uri_free(&r);
    return 0;
  }
  *uri = r;
  return 1;
}

void uri_free(uri_rec *uri)
{
  if (!uri) return;
  for (char *p : {uri->scheme, uri->host, uri->port, uri->path, uri->query}) sys_alloc_free(p);
}

int uri_get_string(const uri_rec *uri, char **out)
{
  text_build t;
  return t.add(uri->scheme) && t.add("://") && t.add(uri->host) && t.add(':') && t.add(uri->port) &&
         t.add(uri->path) && t.add('?') && t.add(uri->query) && t.release(out);
}

int uri_resolve(const char *base, const char *ref, char **out)
{
  if (!ref) return 0;
  sv r(ref);
  if (!r.empty() && tarvo::is_alpha(r[0]) && (!base || r.find(':') != sv::npos)) return heap_copy(r, out);
  if (!base) return 0;
  sv b(base);
  size_t auth_begin, auth_end;
  if (!find_authority(b, &auth_begin, &auth_end)) return 0;
  text_build t;
  if (!r.empty() && r[0] == '/') {
    if (!t.add(b.substr(0, auth_end))) return 0;
  } else if (auth_end == b.size()) {
    if (!t.add(b) || !t.add('/')) return 0;
  } else {
    if (!t.add(b.substr(0, b.rfind('/') + 1))) return 0;
  }
  return t.add(r) && t.release(out);
}

int uri_remove_path_prefix(char *s)
{
  if (s[0] == '/') return 1;
  sv v(s);
  size_t auth_begin, auth_end;
  if (!find_authority(v, &auth_begin, &auth_end)) return 0;
  if (auth_end == v.size()) {
    s[0] = '/';
    s[1] = '\0';
    return 1;
  }
  std::memmove(s, s + auth_end, v.size() - auth_end + 1);
  return 1;
}

int uri_escape(const char *s, char **out)
{
  text_build t;
  for (const char *p = s; *p; p++) {
    auto c = static_cast<unsigned char>(*p);
    bool ok = is_unreserved(c) ? t.add(char(c)) : t.add('%') && t.add(kHex[c >> 4]) && t.add(kHex[c & 15]);
    if (!ok) return 0;
  }
  return t.release(out);
}

int uri_unescape(char *s)
{
  uint32_t n;
  return uri_unescape_n(s, &n);
}

int uri_unescape_n(char *s, uint32_t *length) { return uri_percent_decode(s, URI_DECODE_PLUS | URI_DECODE_LENIENT, length); }

int uri_percent_decode(char *s, uint32_t flags, uint32_t *length)
{
  char *w = s;
  for (const char *p = s; *p; p++) {
    int hi = *p == '%' ? sys_str_hex_digit(p[1]) : -1, lo = hi < 0 ? -1 : sys_str_hex_digit(p[2]);
    if (*p == '+' && (flags & URI_DECODE_PLUS)) {
      *w++ = ' ';
    } else if (*p != '%') {
      *w++ = *p;
    } else if (lo >= 0 && ((hi | lo) || !(flags & URI_DECODE_STRICT))) {
      *w++ = char(hi << 4 | lo);
      p += 2;
    } else if (flags & URI_DECODE_STRICT) {
      return 0;
    } else if ((flags & URI_DECODE_LENIENT) && p[1]) {
      // The old form readers' way: what is not a digit counts as 0.
      int v = std::max(sys_str_hex_digit(*++p), 0) << 4;
      if (p[1]) v |= std::max(sys_str_hex_digit(*++p), 0);
      *w++ = char(v);
    } else {
      *w++ = *p;
    }
  }
  *w = '\0';
  *length = uint32_t(w - s);
  return 1;
}

int uri_is_escaped(const char *s) { return sys_str_chr(s, '%') < sys_str_len(s); }

int uri_should_escape(const char *s)
{
  if (uri_is_escaped(s)) return 0;
  for (const char *p = s; *p; p++)
    if (!is_unreserved(static_cast<unsigned char>(*p))) return 1;
  return 0;
}

int uri_from_path(const char *path, char **out)
{
  // '\' is an ordinary file-name byte here, so it is escaped like any other.
  char *esc;
  if (!uri_escape(path, &esc)) return 0;
  sv e(esc);
  text_build t;
  bool ok = t.add("file:") && (e.substr(0, 2) == "//" || t.add("//")) && (e.substr(0, 1) == "/" || t.add('/')) &&
            t.add(e) && t.release(out);
  sys_alloc_free(esc);
  return ok;
}

int uri_protocol_equal(const char *s, const char *scheme)
{
  uint32_t n = sys_str_len(scheme);
  return sys_str_case_start(s, scheme) && s[n] == ':';
}

int uri_parse_query(const char *query, sys_str_list *names, sys_str_list *values)
{
  list_build n, v;
  sv q(query);
  for (;;) {
    size_t eq = q.find('=');
    if (eq == sv::npos) return 0;
    size_t amp = q.find('&', eq + 1);
    sv value = q.substr(eq + 1, amp == sv::npos ? sv::npos : amp - eq - 1);
    char *ns, *vs;
    if (!heap_copy(q.substr(0, eq), &ns) || !n.take(ns)) return 0;
    if (!heap_copy(value, &vs) || !v.take(vs)) return 0;
    uri_unescape(ns);
    uri_unescape(vs);
    if (amp == sv::npos) break;
    q = q.substr(amp + 1);
  }
  sys_str_list nl, vl;
  if (!n.release(&nl)) return 0;
  if (!v.release(&vl)) {
    sys_str_list_free(nl);
    return 0;
  }
  *names = nl;
  *values = vl;
  return 1;
}

}  // extern "C"
