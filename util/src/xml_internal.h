// Pieces shared by the XML readers and writers of the foundation.
#pragma once

#include <tarvo_util/xml.h>
#include <tarvo_util/xml_walk.h>

#include <limits>
#include <type_traits>

inline void xml_free_str(char *s) { sys_alloc_free(s); }

// A NULL-terminated array of owned records under construction: what is
// still held when it goes out of scope is freed.
template <class T, void (*Free)(T *)> struct xml_owned_list {
  sys_ptralloc_rec pa{};
  bool present = false;  // the element that holds the list was seen

  xml_owned_list() = default;
  xml_owned_list(const xml_owned_list &) = delete;
  xml_owned_list &operator=(const xml_owned_list &) = delete;
  ~xml_owned_list()
  {
    for (uint32_t i = 0; i < pa.len; i++) Free(static_cast<T *>(pa.buf[i]));
    sys_ptralloc_free(&pa);
  }
  // Takes p; on exhaustion p is freed and false comes back.
  bool add(T *p)
  {
    if (sys_ptralloc_append(&pa, p)) return true;
    Free(p);
    return false;
  }
  // Hands the NULL-terminated array over (an empty one when nothing was
  // added); false on exhaustion, with nothing handed over.
  bool finish(T ***out)
  {
    if (!sys_ptralloc_append(&pa, nullptr)) return false;
    *out = reinterpret_cast<T **>(pa.buf);
    pa = sys_ptralloc_rec{};
    return true;
  }
};

using xml_str_list = xml_owned_list<char, xml_free_str>;

// A zero-filled record from the shared heap, or NULL.
template <class T> T *xml_zalloc() { return static_cast<T *>(sys_alloc_zero(sizeof(T))); }

// A decimal that fits T, blanks and line breaks around it allowed.
template <class T> bool xml_scan_decimal(const char *s, T *out)
{
  using U = std::make_unsigned_t<T>;
  auto space = [](char c) { return c == ' ' || (c >= 9 && c <= 13); };
  while (space(*s)) s++;
  bool neg = false;
  if (std::is_signed_v<T> && (*s == '-' || *s == '+')) neg = *s++ == '-';
  U limit = neg ? U(U(std::numeric_limits<T>::max()) + 1) : U(std::numeric_limits<T>::max());
  U v = 0;
  const char *digits = s;
  for (; *s >= '0' && *s <= '9'; s++) {
    U d = U(*s - '0');
    if (v > (limit - d) / 10) return false;
    v = U(v * 10 + d);
  }
  if (s == digits) return false;
  while (space(*s)) s++;
  if (*s) return false;
  *out = neg ? T(U(0) - v) : T(v);
  return true;
}
