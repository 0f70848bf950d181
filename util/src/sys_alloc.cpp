// Heap wrappers, byte primitives and the six growing-array flavours.
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#include <cstdlib>
#include <cstring>

extern "C" {

void *sys_alloc(size_t size)
{
  return std::malloc(size ? size : 1);
}

void *sys_alloc_zero(size_t size)
{
  return std::calloc(size ? size : 1, 1);
}

int sys_alloc_re(void **p, size_t old_size, size_t new_size)
{
  void *n = sys_alloc(new_size);
  if (!n) return 0;
  // Shrinking must not read past the new block's end.
  if (*p) std::memcpy(n, *p, old_size < new_size ? old_size : new_size);
  std::free(*p);
  *p = n;
  return 1;
}

void sys_alloc_free(void *p)
{
  std::free(p);
}

void sys_byte_copy(void *dst, size_t n, const void *src)
{
  auto *d = static_cast<unsigned char *>(dst);
  auto *s = static_cast<const unsigned char *>(src);
  for (size_t i = 0; i < n; i++) d[i] = s[i];
}

void sys_byte_copyr(void *dst, size_t n, const void *src)
{
  auto *d = static_cast<unsigned char *>(dst);
  auto *s = static_cast<const unsigned char *>(src);
  while (n) { n--; d[n] = s[n]; }
}

int sys_byte_diff(const void *a, size_t n, const void *b)
{
  auto *x = static_cast<const unsigned char *>(a);
  auto *y = static_cast<const unsigned char *>(b);
  for (size_t i = 0; i < n; i++)
    if (x[i] != y[i]) return int(x[i]) - int(y[i]);
  return 0;
}

void sys_byte_zero(void *p, size_t n)
{
  std::memset(p, 0, n);
}

}  // extern "C"

namespace {

// Every flavour shares one layout {T *buf; uint32_t len; uint32_t a;}; the
// bodies below work on that layout with the element size and slack given.
struct ga_rec { void *buf; uint32_t len; uint32_t a; };

template <class R> ga_rec *ga(R *r)
{
  static_assert(sizeof(R) == sizeof(ga_rec));
  return reinterpret_cast<ga_rec *>(r);
}

int ga_ready(ga_rec *g, uint32_t n, size_t el, uint32_t slack)
{
  if (!g->buf) {
    void *p = sys_alloc(size_t(n) * el);
    if (!p) return 0;
    g->buf = p;
    g->len = 0;
    g->a = n;
    return 1;
  }
  if (g->a >= n) return 1;
  uint64_t want = uint64_t(n) + n / 8 + slack;
  uint32_t cap = want > UINT32_MAX ? n : uint32_t(want);
  if (!sys_alloc_re(&g->buf, size_t(g->a) * el, size_t(cap) * el)) return 0;
  g->a = cap;
  return 1;
}

int ga_readyplus(ga_rec *g, uint32_t n, size_t el, uint32_t slack)
{
  if (!g->buf) return ga_ready(g, n, el, slack);
  if (uint64_t(g->len) + n > UINT32_MAX) return 0;
  return ga_ready(g, g->len + n, el, slack);
}

int ga_append(ga_rec *g, const void *x, size_t el, uint32_t slack)
{
  if (!ga_readyplus(g, 1, el, slack)) return 0;
  std::memcpy(static_cast<char *>(g->buf) + size_t(g->len) * el, x, el);
  g->len++;
  return 1;
}

// Makes room for want elements (want more with plus); a source inside the
// array itself (a copy or cat of an array to itself) moves along with the
// buffer.
int ga_ready_from(ga_rec *g, uint32_t want, bool plus, const void **data, size_t el, uint32_t slack)
{
  uintptr_t b0 = reinterpret_cast<uintptr_t>(g->buf), d = reinterpret_cast<uintptr_t>(*data);
  bool inside = g->buf && d >= b0 && d < b0 + size_t(g->a) * el;
  if (!(plus ? ga_readyplus(g, want, el, slack) : ga_ready(g, want, el, slack))) return 0;
  if (inside) *data = static_cast<const char *>(g->buf) + (d - b0);
  return 1;
}

// copyb and catb: n elements plus room for one guard element when guard is
// given.
int ga_copyb(ga_rec *g, const void *data, uint32_t n, size_t el, uint32_t slack, const void *guard)
{
  if (n == UINT32_MAX) return 0;
  if (!ga_ready_from(g, n + 1, false, &data, el, slack)) return 0;
  if (n) std::memmove(g->buf, data, size_t(n) * el);
  g->len = n;
  if (guard) std::memcpy(static_cast<char *>(g->buf) + size_t(n) * el, guard, el);
  return 1;
}

int ga_catb(ga_rec *g, const void *data, uint32_t n, size_t el, uint32_t slack, const void *guard)
{
  if (!g->buf) return ga_copyb(g, data, n, el, slack, guard);
  if (n == UINT32_MAX) return 0;
  if (!ga_ready_from(g, n + 1, true, &data, el, slack)) return 0;
  char *end = static_cast<char *>(g->buf) + size_t(g->len) * el;
  if (n) std::memmove(end, data, size_t(n) * el);
  g->len += n;
  if (guard) std::memcpy(end + size_t(n) * el, guard, el);
  return 1;
}

int ga_remove(ga_rec *g, uint32_t index, size_t el)
{
  if (index >= g->len) return 0;
  char *b = static_cast<char *>(g->buf);
  std::memmove(b + size_t(index) * el, b + size_t(index + 1) * el, size_t(g->len - index - 1) * el);
  g->len--;
  return 1;
}

void ga_free(ga_rec *g)
{
  if (g) sys_alloc_free(g->buf);
}

constexpr uint32_t kSlack = 30;
constexpr uint32_t kSlack32 = 10;
constexpr uint32_t kSlackSock = 5;
constexpr char kGuard = 'Z';
constexpr sys_wchar kWGuard = 0x005A;

}  // namespace

extern "C" {

int sys_stralloc_ready(sys_stralloc_rec *sa, uint32_t n) { return ga_ready(ga(sa), n, 1, kSlack); }
int sys_stralloc_readyplus(sys_stralloc_rec *sa, uint32_t n) { return ga_readyplus(ga(sa), n, 1, kSlack); }
int sys_stralloc_append(sys_stralloc_rec *sa, const char *c) { return ga_append(ga(sa), c, 1, kSlack); }
int sys_stralloc_catb(sys_stralloc_rec *sa, const char *d, uint32_t n)
{
  // Writers append many short pieces to a buffer that is already large
  // enough: those need no call through the generic array.
  if (sa->buf && n < sa->a - sa->len) {
    if (n) std::memmove(sa->buf + sa->len, d, n);  // d may be NULL when n is 0
    sa->len += n;
    sa->buf[sa->len] = kGuard;
    return 1;
  }
  return ga_catb(ga(sa), d, n, 1, kSlack, &kGuard);
}
int sys_stralloc_cat(sys_stralloc_rec *sa, const sys_stralloc_rec *o) { return sys_stralloc_catb(sa, o->buf, o->len); }
int sys_stralloc_cats(sys_stralloc_rec *sa, const char *s) { return sys_stralloc_catb(sa, s, sys_str_len(s)); }
int sys_stralloc_copyb(sys_stralloc_rec *sa, const char *d, uint32_t n) { return ga_copyb(ga(sa), d, n, 1, kSlack, &kGuard); }
int sys_stralloc_copy(sys_stralloc_rec *sa, const sys_stralloc_rec *o) { return sys_stralloc_copyb(sa, o->buf, o->len); }
int sys_stralloc_copys(sys_stralloc_rec *sa, const char *s) { return sys_stralloc_copyb(sa, s, sys_str_len(s)); }
void sys_stralloc_free(sys_stralloc_rec *sa) { ga_free(ga(sa)); }

int sys_stralloc_starts(const sys_stralloc_rec *sa, const char *s)
{
  uint32_t n = sys_str_len(s);
  return n <= sa->len && (n == 0 || std::memcmp(sa->buf, s, n) == 0);
}

int sys_memalloc_ready(sys_memalloc_rec *ma, uint32_t n) { return ga_ready(ga(ma), n, 1, kSlack); }
int sys_memalloc_readyplus(sys_memalloc_rec *ma, uint32_t n) { return ga_readyplus(ga(ma), n, 1, kSlack); }
int sys_memalloc_append(sys_memalloc_rec *ma, const unsigned char *c) { return ga_append(ga(ma), c, 1, kSlack); }
int sys_memalloc_catb(sys_memalloc_rec *ma, const void *d, uint32_t n) { return ga_catb(ga(ma), d, n, 1, kSlack, nullptr); }
int sys_memalloc_cat(sys_memalloc_rec *ma, const sys_memalloc_rec *o) { return sys_memalloc_catb(ma, o->buf, o->len); }
int sys_memalloc_copyb(sys_memalloc_rec *ma, const void *d, uint32_t n) { return ga_copyb(ga(ma), d, n, 1, kSlack, nullptr); }
int sys_memalloc_copy(sys_memalloc_rec *ma, const sys_memalloc_rec *o) { return sys_memalloc_copyb(ma, o->buf, o->len); }
void sys_memalloc_free(sys_memalloc_rec *ma) { ga_free(ga(ma)); }

int sys_ptralloc_ready(sys_ptralloc_rec *pa, uint32_t n) { return ga_ready(ga(pa), n, sizeof(void *), kSlack); }
int sys_ptralloc_readyplus(sys_ptralloc_rec *pa, uint32_t n) { return ga_readyplus(ga(pa), n, sizeof(void *), kSlack); }
int sys_ptralloc_append(sys_ptralloc_rec *pa, void *p) { return ga_append(ga(pa), &p, sizeof(void *), kSlack); }
int sys_ptralloc_remove(sys_ptralloc_rec *pa, uint32_t i) { return ga_remove(ga(pa), i, sizeof(void *)); }
void sys_ptralloc_free(sys_ptralloc_rec *pa) { ga_free(ga(pa)); }

int sys_ptralloc_insert(sys_ptralloc_rec *pa, uint32_t index, void *p)
{
  if (index > pa->len) return 0;
  if (!sys_ptralloc_readyplus(pa, 1)) return 0;
  std::memmove(pa->buf + index + 1, pa->buf + index, size_t(pa->len - index) * sizeof(void *));
  pa->buf[index] = p;
  pa->len++;
  return 1;
}

int sys_uint32alloc_ready(sys_uint32alloc_rec *ua, uint32_t n) { return ga_ready(ga(ua), n, 4, kSlack32); }
int sys_uint32alloc_readyplus(sys_uint32alloc_rec *ua, uint32_t n) { return ga_readyplus(ga(ua), n, 4, kSlack32); }
int sys_uint32alloc_append(sys_uint32alloc_rec *ua, uint32_t v) { return ga_append(ga(ua), &v, 4, kSlack32); }
int sys_uint32alloc_remove(sys_uint32alloc_rec *ua, uint32_t i) { return ga_remove(ga(ua), i, 4); }
void sys_uint32alloc_free(sys_uint32alloc_rec *ua) { ga_free(ga(ua)); }

int sys_wcsalloc_ready(sys_wcsalloc_rec *wa, uint32_t n) { return ga_ready(ga(wa), n, 2, kSlack); }
int sys_wcsalloc_readyplus(sys_wcsalloc_rec *wa, uint32_t n) { return ga_readyplus(ga(wa), n, 2, kSlack); }
int sys_wcsalloc_append(sys_wcsalloc_rec *wa, const sys_wchar *c) { return ga_append(ga(wa), c, 2, kSlack); }
int sys_wcsalloc_catb(sys_wcsalloc_rec *wa, const sys_wchar *d, uint32_t n) { return ga_catb(ga(wa), d, n, 2, kSlack, &kWGuard); }
int sys_wcsalloc_cat(sys_wcsalloc_rec *wa, const sys_wcsalloc_rec *o) { return sys_wcsalloc_catb(wa, o->buf, o->len); }
int sys_wcsalloc_cats(sys_wcsalloc_rec *wa, const sys_wchar *s) { return sys_wcsalloc_catb(wa, s, sys_wcs_len(s)); }
int sys_wcsalloc_copyb(sys_wcsalloc_rec *wa, const sys_wchar *d, uint32_t n) { return ga_copyb(ga(wa), d, n, 2, kSlack, &kWGuard); }
int sys_wcsalloc_copy(sys_wcsalloc_rec *wa, const sys_wcsalloc_rec *o) { return sys_wcsalloc_copyb(wa, o->buf, o->len); }
int sys_wcsalloc_copys(sys_wcsalloc_rec *wa, const sys_wchar *s) { return sys_wcsalloc_copyb(wa, s, sys_wcs_len(s)); }
void sys_wcsalloc_free(sys_wcsalloc_rec *wa) { ga_free(ga(wa)); }

int sys_wcsalloc_starts(const sys_wcsalloc_rec *wa, const sys_wchar *s)
{
  uint32_t n = sys_wcs_len(s);
  return n <= wa->len && (n == 0 || std::memcmp(wa->buf, s, size_t(n) * 2) == 0);
}

int sockalloc_ready(sockalloc_rec *ka, uint32_t n) { return ga_ready(ga(ka), n, sizeof(int), kSlackSock); }
int sockalloc_readyplus(sockalloc_rec *ka, uint32_t n) { return ga_readyplus(ga(ka), n, sizeof(int), kSlackSock); }
int sockalloc_append(sockalloc_rec *ka, int s) { return ga_append(ga(ka), &s, sizeof(int), kSlackSock); }
int sockalloc_remove(sockalloc_rec *ka, uint32_t i) { return ga_remove(ga(ka), i, sizeof(int)); }
void sockalloc_free(sockalloc_rec *ka) { ga_free(ga(ka)); }

}  // extern "C"
