// The event snapshot the page's capture script posts: a JSON array of six
// strings of UTF-8, read with bounds; anything else is refused whole.
#include <tarvo_html/html_limits.h>
#include <tarvo_html/html_view.h>

#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#include <glib.h>

#include <strings.h>

#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr int kFields = 6;

struct reader {
  const char *p, *end;
  void blanks()
  {
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')) ++p;
  }
  bool take(char c)
  {
    blanks();
    if (p == end || *p != c) return false;
    ++p;
    return true;
  }
  bool hex4(uint32_t *out)
  {
    if (end - p < 4) return false;
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      char c = *p++;
      v <<= 4;
      if (c >= '0' && c <= '9') v |= uint32_t(c - '0');
      else if (c >= 'a' && c <= 'f') v |= uint32_t(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') v |= uint32_t(c - 'A' + 10);
      else return false;
    }
    *out = v;
    return true;
  }
  // \uXXXX, with a following low surrogate for a high one; no NUL and no
  // lone surrogate, since the text ends up in C strings and UTF-8.
  bool unicode(uint32_t *cp)
  {
    if (!hex4(cp) || *cp == 0 || (*cp >= 0xDC00 && *cp <= 0xDFFF)) return false;
    if (*cp < 0xD800 || *cp > 0xDBFF) return true;
    uint32_t low;
    if (end - p < 2 || p[0] != '\\' || p[1] != 'u') return false;
    p += 2;
    if (!hex4(&low) || low < 0xDC00 || low > 0xDFFF) return false;
    *cp = 0x10000 + ((*cp - 0xD800) << 10) + (low - 0xDC00);
    return true;
  }
  static void put_utf8(std::string *s, uint32_t cp)
  {
    if (cp < 0x80) s->push_back(char(cp));
    else if (cp < 0x800) {
      s->push_back(char(0xC0 | (cp >> 6)));
      s->push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      s->push_back(char(0xE0 | (cp >> 12)));
      s->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
      s->push_back(char(0x80 | (cp & 0x3F)));
    } else {
      s->push_back(char(0xF0 | (cp >> 18)));
      s->push_back(char(0x80 | ((cp >> 12) & 0x3F)));
      s->push_back(char(0x80 | ((cp >> 6) & 0x3F)));
      s->push_back(char(0x80 | (cp & 0x3F)));
    }
  }
  bool escape(std::string *s)
  {
    if (p == end) return false;
    char c = *p++;
    static const char from[] = "\"\\/bfnrt", to[] = "\"\\/\b\f\n\r\t";
    if (const char *f = std::strchr(from, c); f && c) {
      s->push_back(to[f - from]);
      return true;
    }
    uint32_t cp;
    if (c != 'u' || !unicode(&cp)) return false;
    put_utf8(s, cp);
    return true;
  }
  bool string(std::string *s)
  {
    if (!take('"')) return false;
    while (p < end) {
      unsigned char c = static_cast<unsigned char>(*p++);
      if (c == '"') return true;
      if (c < 0x20) return false;  // raw control bytes are not JSON
      if (c == '\\') {
        if (!escape(s)) return false;
      } else s->push_back(char(c));
    }
    return false;
  }
};

bool checked_value(const std::string &s, int *out)
{
  if (s.empty()) *out = -1;
  else if (s == "1") *out = 1;
  else if (s == "0") *out = 0;
  else return false;
  return true;
}

}  // namespace

extern "C" {

int HtmlEventSnapshotParse(const char *text, size_t size, HTML_EVENT_SNAPSHOT *out)
{
  if (!out) return 0;
  std::memset(out, 0, sizeof *out);
  if (!text || size > HTML_SNAPSHOT_MAX) return 0;
  reader r{text, text + size};
  std::string f[kFields];
  if (!r.take('[')) return 0;
  for (int i = 0; i < kFields; ++i)
    if ((i && !r.take(',')) || !r.string(&f[i])) return 0;
  if (!r.take(']')) return 0;
  r.blanks();
  int checked;
  if (r.p != r.end || f[0].empty() || !checked_value(f[4], &checked)) return 0;
  for (const std::string &t : f)
    if (!g_utf8_validate(t.data(), gssize(t.size()), nullptr)) return 0;
  out->checked = checked;
  if (sys_str_clone(f[0].c_str(), &out->event) && sys_str_clone(f[1].c_str(), &out->id) &&
      sys_str_clone(f[2].c_str(), &out->tag) && sys_str_clone(f[3].c_str(), &out->class_name) &&
      sys_str_clone(f[5].c_str(), &out->value))
    return 1;
  HtmlEventSnapshotFree(out);
  return 0;
}

int HtmlCaptureMatches(const HTML_CAPTURE *e, const HTML_EVENT_SNAPSHOT *s)
{
  if (!e || !s || !e->event || !e->name || !s->event || std::strcmp(e->event, s->event) != 0) return 0;
  if (e->kind == HTML_CAPTURE_BY_ID) return s->id && std::strcmp(e->name, s->id) == 0;
  if (e->kind == HTML_CAPTURE_BY_TAG) return s->tag && strcasecmp(e->name, s->tag) == 0;
  if (e->kind != HTML_CAPTURE_BY_CLASS || !s->class_name || !*e->name) return 0;
  std::string_view classes(s->class_name), name(e->name);
  // The class attribute is a list separated by ASCII white space.
  for (size_t at = 0; at < classes.size();) {
    size_t end = classes.find_first_of(" \t\r\n\f", at);
    if (end == classes.npos) end = classes.size();
    if (classes.substr(at, end - at) == name) return 1;
    at = end + 1;
  }
  return 0;
}

void HtmlEventSnapshotFree(HTML_EVENT_SNAPSHOT *s)
{
  if (!s) return;
  sys_alloc_free(s->event);
  sys_alloc_free(s->id);
  sys_alloc_free(s->tag);
  sys_alloc_free(s->class_name);
  sys_alloc_free(s->value);
  std::memset(s, 0, sizeof *s);
}
}
