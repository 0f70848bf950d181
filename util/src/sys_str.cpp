// NUL-terminated byte strings, UTF-16 strings and string lists.
#include <tarvo_util/sys_str.h>

#include <cstring>

namespace {

template <class C> C fold_lower(C c) { return (c >= 'A' && c <= 'Z') ? C(c + 32) : c; }
template <class C> C fold_upper(C c) { return (c >= 'a' && c <= 'z') ? C(c - 32) : c; }

// Each body below serves the byte and the UTF-16 twin; U is the unsigned
// element type the differences are taken in.
template <class C> uint32_t t_len(const C *s)
{
  uint32_t n = 0;
  while (s[n]) n++;
  return n;
}

template <class C, class U> int t_diffn(const C *a, uint32_t n, const C *b, bool fold)
{
  for (uint32_t i = 0; i < n; i++) {
    U x = U(a[i]), y = U(b[i]);
    if (fold) { x = fold_lower(x); y = fold_lower(y); }
    if (x != y) return int(x) - int(y);
    if (!x) return 0;
  }
  return 0;
}

// Exactly n elements: a NUL both share does not end the compare.
template <class C, class U> int t_case_diffn(const C *a, uint32_t n, const C *b)
{
  for (uint32_t i = 0; i < n; i++) {
    U x = fold_lower(U(a[i])), y = fold_lower(U(b[i]));
    if (x != y) return int(x) - int(y);
  }
  return 0;
}

template <class C, class U> int t_diff(const C *a, const C *b, bool fold)
{
  return t_diffn<C, U>(a, UINT32_MAX, b, fold);
}

template <class C, class U> int t_startn(const C *s, uint32_t n, const C *prefix, bool fold)
{
  for (uint32_t i = 0; prefix[i]; i++) {
    if (i >= n) return 0;
    U x = U(s[i]), y = U(prefix[i]);
    if (fold) { x = fold_lower(x); y = fold_lower(y); }
    if (x != y) return 0;
  }
  return 1;
}

template <class C> uint32_t t_chr(const C *s, C c)
{
  uint32_t i = 0;
  while (s[i] && s[i] != c) i++;
  return i;
}

template <class C> uint32_t t_rchr(const C *s, C c)
{
  uint32_t i = 0, found = UINT32_MAX;
  for (; s[i]; i++)
    if (s[i] == c) found = i;
  return found == UINT32_MAX ? i : found;
}

template <class C> uint32_t t_chrb(const C *s, uint32_t n, C c)
{
  for (uint32_t i = 0; i < n; i++)
    if (s[i] == c) return i;
  return n;
}

uint32_t find(const char *s, const char *t, bool fold)
{
  uint32_t ls = sys_str_len(s), lt = sys_str_len(t);
  if (!lt) return 0;
  for (uint32_t i = 0; i + lt <= ls; i++)
    if (t_startn<char, unsigned char>(s + i, lt, t, fold)) return i;
  return ls;
}

}  // namespace

extern "C" {

// The C library's scan reads a word at a time: every append of a string
// to a buffer counts it first.
uint32_t sys_str_len(const char *s) { return uint32_t(std::strlen(s)); }

uint32_t sys_str_copy(char *dst, const char *src)
{
  uint32_t n = sys_str_len(src);
  std::memcpy(dst, src, size_t(n) + 1);
  return n;
}

int sys_str_clone(const char *s, char **out)
{
  *out = nullptr;
  if (!s) return 1;
  size_t n = sys_str_len(s) + size_t(1);
  char *p = static_cast<char *>(sys_alloc(n));
  if (!p) return 0;
  std::memcpy(p, s, n);
  *out = p;
  return 1;
}

int sys_str_diff(const char *a, const char *b) { return t_diff<char, unsigned char>(a, b, false); }
int sys_str_diffn(const char *a, uint32_t n, const char *b) { return t_diffn<char, unsigned char>(a, n, b, false); }
int sys_str_case_diff(const char *a, const char *b) { return t_diff<char, unsigned char>(a, b, true); }

int sys_str_case_diffn(const char *a, uint32_t n, const char *b) { return t_case_diffn<char, unsigned char>(a, n, b); }

int sys_str_start(const char *s, const char *p) { return t_startn<char, unsigned char>(s, UINT32_MAX, p, false); }
int sys_str_startn(const char *s, uint32_t n, const char *p) { return t_startn<char, unsigned char>(s, n, p, false); }
int sys_str_case_start(const char *s, const char *p) { return t_startn<char, unsigned char>(s, UINT32_MAX, p, true); }
int sys_str_case_startn(const char *s, uint32_t n, const char *p) { return t_startn<char, unsigned char>(s, n, p, true); }
uint32_t sys_str_chr(const char *s, int c) { return t_chr<char>(s, char(c)); }
uint32_t sys_str_rchr(const char *s, int c) { return t_rchr<char>(s, char(c)); }
uint32_t sys_str_chrb(const char *s, uint32_t n, int c) { return t_chrb<char>(s, n, char(c)); }
uint32_t sys_str_find(const char *s, const char *t) { return find(s, t, false); }
uint32_t sys_str_case_find(const char *s, const char *t) { return find(s, t, true); }
void sys_str_case_lower(char *s) { sys_str_case_lowern(s, sys_str_len(s)); }
void sys_str_case_upper(char *s) { sys_str_case_uppern(s, sys_str_len(s)); }

void sys_str_case_lowern(char *s, uint32_t n)
{
  for (uint32_t i = 0; i < n; i++) s[i] = fold_lower(s[i]);
}

void sys_str_case_uppern(char *s, uint32_t n)
{
  for (uint32_t i = 0; i < n; i++) s[i] = fold_upper(s[i]);
}

int sys_str_list_clone(char *const *list, sys_str_list *out)
{
  *out = nullptr;
  if (!list) return 1;
  uint32_t n = 0;
  while (list[n]) n++;
  auto copy = static_cast<char **>(sys_alloc_zero((size_t(n) + 1) * sizeof(char *)));
  if (!copy) return 0;
  for (uint32_t i = 0; i < n; i++) {
    if (!sys_str_clone(list[i], &copy[i])) {
      sys_str_list_free(copy);
      return 0;
    }
  }
  *out = copy;
  return 1;
}

void sys_str_list_free(sys_str_list list)
{
  if (!list) return;
  for (char **p = list; *p; p++) sys_alloc_free(*p);
  sys_alloc_free(list);
}

uint32_t sys_str_list_find(char *const *list, const char *s)
{
  if (!list) return 0;
  uint32_t i = 0;
  for (; list[i]; i++)
    if (!sys_str_diff(list[i], s)) return i;
  return i;
}

uint32_t sys_wcs_len(const sys_wchar *s) { return t_len(s); }

uint32_t sys_wcs_copy(sys_wchar *dst, const sys_wchar *src)
{
  uint32_t n = sys_wcs_len(src);
  std::memcpy(dst, src, (size_t(n) + 1) * 2);
  return n;
}

int sys_wcs_clone(const sys_wchar *s, sys_wchar **out)
{
  *out = nullptr;
  if (!s) return 1;
  size_t bytes = 2 * size_t(sys_wcs_len(s)) + 2;
  auto p = static_cast<sys_wchar *>(sys_alloc(bytes));
  if (!p) return 0;
  std::memcpy(p, s, bytes);
  *out = p;
  return 1;
}

int sys_wcs_diff(const sys_wchar *a, const sys_wchar *b) { return t_diff<sys_wchar, sys_wchar>(a, b, false); }
int sys_wcs_diffn(const sys_wchar *a, const sys_wchar *b, uint32_t n) { return t_diffn<sys_wchar, sys_wchar>(a, n, b, false); }
int sys_wcs_case_diff(const sys_wchar *a, const sys_wchar *b) { return t_diff<sys_wchar, sys_wchar>(a, b, true); }
int sys_wcs_case_diffn(const sys_wchar *a, uint32_t n, const sys_wchar *b) { return t_case_diffn<sys_wchar, sys_wchar>(a, n, b); }
int sys_wcs_start(const sys_wchar *s, const sys_wchar *p) { return t_startn<sys_wchar, sys_wchar>(s, UINT32_MAX, p, false); }
uint32_t sys_wcs_chr(const sys_wchar *s, sys_wchar c) { return t_chr<sys_wchar>(s, c); }
uint32_t sys_wcs_rchr(const sys_wchar *s, sys_wchar c) { return t_rchr<sys_wchar>(s, c); }
uint32_t sys_wcs_chrb(const sys_wchar *s, uint32_t n, sys_wchar c) { return t_chrb<sys_wchar>(s, n, c); }

}  // extern "C"
