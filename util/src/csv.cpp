// Comma-separated values with backslash escapes.
#include <tarvo_util/dlna.h>

#include "text_build.h"

using tarvo::list_build;
using tarvo::text_build;

extern "C" {

int csv_append(sys_stralloc_rec *sa, const char *s)
{
  for (const char *p = s; *p; p++) {
    if ((*p == ',' || *p == '\\') && !sys_stralloc_append(sa, "\\")) return 0;
    if (!sys_stralloc_append(sa, p)) return 0;
  }
  return sys_stralloc_append(sa, ",");
}

uint32_t csv_end(sys_stralloc_rec *sa)
{
  if (sa->len) sa->len--;
  return sa->len;
}

int csv_concatenate(char *const *list, char **out)
{
  text_build t;
  for (char *const *p = list; p && *p; p++)
    if (!csv_append(&t.s, *p)) return 0;
  csv_end(&t.s);
  return t.release(out);
}

int csv_split(const char *s, sys_str_list *list)
{
  if (!s) return 0;
  list_build l;
  text_build field;
  // A field is stored at every unescaped ',' and at the end; an empty one
  // needs its buffer made first.
  auto store = [&] { return field.add("") && l.add(field); };
  for (const char *p = s;; p++) {
    char c = *p;
    if (c == '\\') {
      c = *++p;
    } else if (c == ',') {
      if (!store()) return 0;
      continue;
    }
    if (!c) break;
    if (!field.add(c)) return 0;
  }
  if (!store()) return 0;
  return l.release(list);
}

const char *csv_last(const char *s)
{
  if (!s || !*s) return nullptr;
  uint32_t i = sys_str_rchr(s, ',');
  return s[i] ? s + i + 1 : s;
}

void csv_remove_last(char *s)
{
  if (!s) return;
  uint32_t i = sys_str_rchr(s, ',');
  s[s[i] ? i : 0] = '\0';
}

}  // extern "C"
