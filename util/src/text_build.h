// Internal: building heap strings and string lists that end up in the
// caller's hands, freed on every early return.
#pragma once

#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#include <cstdint>
#include <cstring>
#include <string_view>

namespace tarvo {

// A text being built; its buffer is freed unless handed over.
struct text_build {
  sys_stralloc_rec sa{};
  text_build() = default;
  text_build(const text_build &) = delete;
  text_build &operator=(const text_build &) = delete;
  ~text_build() { sys_stralloc_free(&sa); }

  bool add(std::string_view v)
  {
    if (v.size() > UINT32_MAX - 1) return false;
    return sys_stralloc_catb(&sa, v.data(), uint32_t(v.size()));
  }
  bool add(char c) { return sys_stralloc_append(&sa, &c); }
  // NUL-terminates and hands the buffer over.
  bool release(char **out)
  {
    if (!add('\0')) return false;
    *out = sa.buf;
    sa = sys_stralloc_rec{};
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
struct list_build {
  sys_ptralloc_rec pa{};
  list_build() = default;
  list_build(const list_build &) = delete;
  list_build &operator=(const list_build &) = delete;
  ~list_build()
  {
    for (uint32_t i = 0; i < pa.len; i++) sys_alloc_free(pa.buf[i]);
    sys_ptralloc_free(&pa);
  }

  // Takes s over; frees it when it cannot be stored.
  bool take(char *s)
  {
    if (sys_ptralloc_append(&pa, s)) return true;
    sys_alloc_free(s);
    return false;
  }
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
  bool release(sys_str_list *out)
  {
    if (!sys_ptralloc_readyplus(&pa, 1)) return false;
    pa.buf[pa.len] = nullptr;
    *out = reinterpret_cast<char **>(pa.buf);
    pa = sys_ptralloc_rec{};
    return true;
  }
};

inline bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline bool case_starts(std::string_view s, std::string_view prefix)
{
  return s.size() >= prefix.size() && !sys_str_case_diffn(s.data(), uint32_t(prefix.size()), prefix.data());
}

}  // namespace tarvo
