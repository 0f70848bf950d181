// links: tarvo_html_snapshot tarvo_util
// The event snapshot a page posts, on arbitrary bytes: a parsed snapshot
// has valid UTF-8 texts and a checked value of -1, 0 or 1, and written
// back as the page would write it, it reads back the same.
#include <tarvo_html/html_view.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool utf8(const char *s)
{
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p;) {
    int n = *p < 0x80 ? 0 : (*p & 0xE0) == 0xC0 ? 1 : (*p & 0xF0) == 0xE0 ? 2 : (*p & 0xF8) == 0xF0 ? 3 : -1;
    if (n < 0) return false;
    ++p;
    for (int i = 0; i < n; ++i, ++p)
      if ((*p & 0xC0) != 0x80) return false;
  }
  return true;
}

void json(std::string *out, const char *s)
{
  *out += '"';
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p; ++p) {
    char buf[8];
    if (*p == '"' || *p == '\\') *out += '\\', *out += char(*p);
    else if (*p < 0x20) std::snprintf(buf, sizeof buf, "\\u%04x", *p), *out += buf;
    else *out += char(*p);
  }
  *out += '"';
}

std::string written(const HTML_EVENT_SNAPSHOT &s)
{
  std::string out = "[";
  for (const char *f : {s.event, s.id, s.tag, s.class_name}) json(&out, f), out += ',';
  json(&out, s.checked < 0 ? "" : s.checked ? "1" : "0");
  out += ',';
  json(&out, s.value);
  return out + "]";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  HTML_EVENT_SNAPSHOT s;
  if (!HtmlEventSnapshotParse(reinterpret_cast<const char *>(data), size, &s)) return 0;
  if (s.checked < -1 || s.checked > 1) std::abort();
  for (const char *f : {s.event, s.id, s.tag, s.class_name, s.value})
    if (!utf8(f)) std::abort();
  std::string again = written(s);
  HTML_EVENT_SNAPSHOT t;
  if (!HtmlEventSnapshotParse(again.data(), again.size(), &t)) {
    // Longer than the bound once written back is the only way to fail here.
    if (again.size() <= 64 * 1024) std::abort();
    HtmlEventSnapshotFree(&s);
    return 0;
  }
  if (written(t) != again) std::abort();
  HtmlEventSnapshotFree(&t);
  HtmlEventSnapshotFree(&s);
  return 0;
}
