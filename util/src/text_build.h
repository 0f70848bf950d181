// Internal: building heap strings and string lists that end up in the
// caller's hands, freed on every early return.
#pragma once

#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/sys_str.h>

#include <cstdint>
#include <cstring>
#include <string_view>

namespace tarvo {

// A text being built; its buffer is freed unless handed over.
struct text_build : own::stralloc {
  bool add(std::string_view v)
  {
    if (v.size() > UINT32_MAX - 1) return false;
    return sys_stralloc_catb(&s, v.data(), uint32_t(v.size()));
  }
  bool add(char c) { return sys_stralloc_append(&s, &c); }
  // NUL-terminates and hands the buffer over.
  bool release(char **out)
  {
    if (!add('\0')) return false;
    *out = s.buf;
    s = sys_stralloc_rec{};
    return true;
  }
};

// A heap copy of v.
inline bool heap_copy(std::string_view v, char **out)
{
  char *p = static_cast<char *>(sys_alloc(v.size() + 1));
  if (!p) return false;
  if (!v.empty()) std::memcpy(p, v.data(), v.size());
  p[v.size()] = '\0';
  *out = p;
  return true;
}

// A NULL-terminated list of heap strings being built.
struct list_build : own::str_list_build {
  bool add(std::string_view v)
  {
    char *s;
    return heap_copy(v, &s) && take(s);
  }
  bool add(text_build &t)
  {
    char *s;
    return t.release(&s) && take(s);
  }
};

inline bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline bool case_starts(std::string_view s, std::string_view prefix)
{
  return s.size() >= prefix.size() && !sys_str_case_diffn(s.data(), uint32_t(prefix.size()), prefix.data());
}

}  // namespace tarvo
