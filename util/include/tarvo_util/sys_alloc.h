/* Heap wrappers, byte primitives and the growing arrays. */
#ifndef TARVO_UTIL_SYS_ALLOC_H
#define TARVO_UTIL_SYS_ALLOC_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One UTF-16 code unit. */
typedef uint16_t sys_wchar;

/* Growing arrays: {buf, len, a}.  A zero-filled record is an empty array.
 * The first reservation takes exactly what was asked; later growth is
 * n + n/8 + slack (30; 10 for 32-bit values; 5 for sockets). */
typedef struct { char *buf; uint32_t len; uint32_t a; } sys_stralloc_rec;
typedef struct { unsigned char *buf; uint32_t len; uint32_t a; } sys_memalloc_rec;
typedef struct { void **buf; uint32_t len; uint32_t a; } sys_ptralloc_rec;
typedef struct { uint32_t *buf; uint32_t len; uint32_t a; } sys_uint32alloc_rec;
typedef struct { sys_wchar *buf; uint32_t len; uint32_t a; } sys_wcsalloc_rec;
typedef struct { int *buf; uint32_t len; uint32_t a; } sockalloc_rec;

/* Heap shared by every deliverable: whatever one allocates, any other frees
 * with sys_alloc_free. */
void *sys_alloc(size_t size);
void *sys_alloc_zero(size_t size);
int sys_alloc_re(void **p, size_t old_size, size_t new_size);
void sys_alloc_free(void *p);

void sys_byte_copy(void *dst, size_t n, const void *src);
void sys_byte_copyr(void *dst, size_t n, const void *src);
int sys_byte_diff(const void *a, size_t n, const void *b);
void sys_byte_zero(void *p, size_t n);

/* Text; cat and copy write the guard byte 'Z' at buf[len]. */
int sys_stralloc_ready(sys_stralloc_rec *sa, uint32_t n);
int sys_stralloc_readyplus(sys_stralloc_rec *sa, uint32_t n);
int sys_stralloc_append(sys_stralloc_rec *sa, const char *c);
int sys_stralloc_catb(sys_stralloc_rec *sa, const char *data, uint32_t n);
int sys_stralloc_cat(sys_stralloc_rec *sa, const sys_stralloc_rec *other);
int sys_stralloc_cats(sys_stralloc_rec *sa, const char *s);
int sys_stralloc_copyb(sys_stralloc_rec *sa, const char *data, uint32_t n);
int sys_stralloc_copy(sys_stralloc_rec *sa, const sys_stralloc_rec *other);
int sys_stralloc_copys(sys_stralloc_rec *sa, const char *s);
int sys_stralloc_starts(const sys_stralloc_rec *sa, const char *s);
void sys_stralloc_free(sys_stralloc_rec *sa);

/* Bytes; no guard. */
int sys_memalloc_ready(sys_memalloc_rec *ma, uint32_t n);
int sys_memalloc_readyplus(sys_memalloc_rec *ma, uint32_t n);
int sys_memalloc_append(sys_memalloc_rec *ma, const unsigned char *c);
int sys_memalloc_catb(sys_memalloc_rec *ma, const void *data, uint32_t n);
int sys_memalloc_cat(sys_memalloc_rec *ma, const sys_memalloc_rec *other);
int sys_memalloc_copyb(sys_memalloc_rec *ma, const void *data, uint32_t n);
int sys_memalloc_copy(sys_memalloc_rec *ma, const sys_memalloc_rec *other);
void sys_memalloc_free(sys_memalloc_rec *ma);

/* Pointers. */
int sys_ptralloc_ready(sys_ptralloc_rec *pa, uint32_t n);
int sys_ptralloc_readyplus(sys_ptralloc_rec *pa, uint32_t n);
int sys_ptralloc_append(sys_ptralloc_rec *pa, void *p);
int sys_ptralloc_insert(sys_ptralloc_rec *pa, uint32_t index, void *p);
int sys_ptralloc_remove(sys_ptralloc_rec *pa, uint32_t index);
void sys_ptralloc_free(sys_ptralloc_rec *pa);

/* 32-bit values. */
int sys_uint32alloc_ready(sys_uint32alloc_rec *ua, uint32_t n);
int sys_uint32alloc_readyplus(sys_uint32alloc_rec *ua, uint32_t n);
int sys_uint32alloc_append(sys_uint32alloc_rec *ua, uint32_t v);
int sys_uint32alloc_remove(sys_uint32alloc_rec *ua, uint32_t index);
void sys_uint32alloc_free(sys_uint32alloc_rec *ua);

/* UTF-16 units; cat and copy write the guard unit 0x005A at buf[len]. */
int sys_wcsalloc_ready(sys_wcsalloc_rec *wa, uint32_t n);
int sys_wcsalloc_readyplus(sys_wcsalloc_rec *wa, uint32_t n);
int sys_wcsalloc_append(sys_wcsalloc_rec *wa, const sys_wchar *c);
int sys_wcsalloc_catb(sys_wcsalloc_rec *wa, const sys_wchar *data, uint32_t n);
int sys_wcsalloc_cat(sys_wcsalloc_rec *wa, const sys_wcsalloc_rec *other);
int sys_wcsalloc_cats(sys_wcsalloc_rec *wa, const sys_wchar *s);
int sys_wcsalloc_copyb(sys_wcsalloc_rec *wa, const sys_wchar *data, uint32_t n);
int sys_wcsalloc_copy(sys_wcsalloc_rec *wa, const sys_wcsalloc_rec *other);
int sys_wcsalloc_copys(sys_wcsalloc_rec *wa, const sys_wchar *s);
int sys_wcsalloc_starts(const sys_wcsalloc_rec *wa, const sys_wchar *s);
void sys_wcsalloc_free(sys_wcsalloc_rec *wa);

/* Socket descriptors. */
int sockalloc_ready(sockalloc_rec *ka, uint32_t n);
int sockalloc_readyplus(sockalloc_rec *ka, uint32_t n);
int sockalloc_append(sockalloc_rec *ka, int s);
int sockalloc_remove(sockalloc_rec *ka, uint32_t index);
void sockalloc_free(sockalloc_rec *ka);

#ifdef __cplusplus
}
#endif
#endif
