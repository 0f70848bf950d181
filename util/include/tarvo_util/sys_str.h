/* NUL-terminated strings, UTF-16 strings, string lists, number formatting
 * and scanning, byte-order packing, sorting and random numbers. */
#ifndef TARVO_UTIL_SYS_STR_H
#define TARVO_UTIL_SYS_STR_H

#include <stddef.h>
#include <stdint.h>
#include <tarvo_util/sys_alloc.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A NULL-terminated array of heap strings; every piece comes from
 * sys_alloc and is released by sys_str_list_free. */
typedef char **sys_str_list;

uint32_t sys_str_len(const char *s);
uint32_t sys_str_copy(char *dst, const char *src);
int sys_str_clone(const char *s, char **out);
int sys_str_diff(const char *a, const char *b);
int sys_str_diffn(const char *a, uint32_t n, const char *b);
int sys_str_case_diff(const char *a, const char *b);
int sys_str_case_diffn(const char *a, uint32_t n, const char *b);
int sys_str_start(const char *s, const char *prefix);
int sys_str_startn(const char *s, uint32_t n, const char *prefix);
int sys_str_case_start(const char *s, const char *prefix);
int sys_str_case_startn(const char *s, uint32_t n, const char *prefix);
uint32_t sys_str_chr(const char *s, int c);
uint32_t sys_str_rchr(const char *s, int c);
uint32_t sys_str_chrb(const char *s, uint32_t n, int c);
uint32_t sys_str_find(const char *s, const char *t);
uint32_t sys_str_case_find(const char *s, const char *t);
void sys_str_case_lower(char *s);
void sys_str_case_upper(char *s);
void sys_str_case_lowern(char *s, uint32_t n);
void sys_str_case_uppern(char *s, uint32_t n);

int sys_str_list_clone(char *const *list, sys_str_list *out);
void sys_str_list_free(sys_str_list list);
uint32_t sys_str_list_find(char *const *list, const char *s);

uint32_t sys_wcs_len(const sys_wchar *s);
uint32_t sys_wcs_copy(sys_wchar *dst, const sys_wchar *src);
int sys_wcs_clone(const sys_wchar *s, sys_wchar **out);
int sys_wcs_diff(const sys_wchar *a, const sys_wchar *b);
int sys_wcs_diffn(const sys_wchar *a, const sys_wchar *b, uint32_t n);
int sys_wcs_case_diff(const sys_wchar *a, const sys_wchar *b);
int sys_wcs_case_diffn(const sys_wchar *a, uint32_t n, const sys_wchar *b);
int sys_wcs_start(const sys_wchar *s, const sys_wchar *prefix);
uint32_t sys_wcs_chr(const sys_wchar *s, sys_wchar c);
uint32_t sys_wcs_rchr(const sys_wchar *s, sys_wchar c);
uint32_t sys_wcs_chrb(const sys_wchar *s, uint32_t n, sys_wchar c);

/* Formatting: digits without a NUL; the count written.  buf NULL only
 * measures. */
uint32_t sys_str_fmt_uint(char *buf, uint32_t v);
uint32_t sys_str_fmt_uint16(char *buf, uint32_t v);
uint32_t sys_str_fmt_uint32(char *buf, uint32_t v);
uint32_t sys_str_fmt_uint64(char *buf, uint64_t v);
uint32_t sys_str_fmt_int(char *buf, int32_t v);
uint32_t sys_str_fmt_int16(char *buf, int32_t v);
uint32_t sys_str_fmt_int32(char *buf, int32_t v);
uint32_t sys_str_fmt_int64(char *buf, int64_t v);
uint32_t sys_str_fmt_xint(char *buf, uint32_t v);
uint32_t sys_str_fmt_xint16(char *buf, uint32_t v);
uint32_t sys_str_fmt_xint32(char *buf, uint32_t v);
uint32_t sys_str_fmt_xint64(char *buf, uint64_t v);
uint32_t sys_str_fmt_0uint(char *buf, uint32_t v, uint32_t width);
uint32_t sys_str_fmt_0uint16(char *buf, uint32_t v, uint32_t width);
uint32_t sys_str_fmt_0uint32(char *buf, uint32_t v, uint32_t width);
uint32_t sys_str_fmt_0uint64(char *buf, uint64_t v, uint32_t width);
uint32_t sys_str_fmt_0xint(char *buf, uint32_t v, uint32_t width);
uint32_t sys_str_fmt_0xint16(char *buf, uint32_t v, uint32_t width);
uint32_t sys_str_fmt_0xint32(char *buf, uint32_t v, uint32_t width);
uint32_t sys_str_fmt_0xint64(char *buf, uint64_t v, uint32_t width);

/* A format read from a data file or an override library, filled without
 * trusting it: the first "%s" takes a1, the second a2 (NULL: empty), "%%"
 * is one '%', and everything else is copied as it stands.  NUL-terminated
 * in out, cut at size - 1 bytes; the length it would have. */
uint32_t sys_str_format_texts(char *out, uint32_t size, const char *format, const char *a1, const char *a2);

/* Scanning: the characters consumed (0 = nothing read). */
uint32_t sys_str_scan_uint(const char *s, uint32_t *out);
uint32_t sys_str_scan_uint16(const char *s, uint16_t *out);
uint32_t sys_str_scan_uint32(const char *s, uint32_t *out);
uint32_t sys_str_scan_uint64(const char *s, uint64_t *out);
uint32_t sys_str_scan_int(const char *s, int32_t *out);
uint32_t sys_str_scan_int16(const char *s, int16_t *out);
uint32_t sys_str_scan_int32(const char *s, int32_t *out);
uint32_t sys_str_scan_int64(const char *s, int64_t *out);
uint32_t sys_str_scan_xint(const char *s, uint32_t *out);
uint32_t sys_str_scan_xint16(const char *s, uint16_t *out);
uint32_t sys_str_scan_xint32(const char *s, uint32_t *out);
uint32_t sys_str_scan_xint64(const char *s, uint64_t *out);
/* 0-15 for '0'-'9', 'a'-'f' and 'A'-'F'; -1 for any other character. */
int sys_str_hex_digit(char c);

/* Byte order: the plain forms are little-endian. */
void sys_uint16_pack(unsigned char *buf, uint16_t v);
void sys_uint32_pack(unsigned char *buf, uint32_t v);
void sys_uint64_pack(unsigned char *buf, uint64_t v);
void sys_uint16_pack_big(unsigned char *buf, uint16_t v);
void sys_uint32_pack_big(unsigned char *buf, uint32_t v);
void sys_uint64_pack_big(unsigned char *buf, uint64_t v);
void sys_uint16_unpack(const unsigned char *buf, uint16_t *v);
void sys_uint32_unpack(const unsigned char *buf, uint32_t *v);
void sys_uint64_unpack(const unsigned char *buf, uint64_t *v);
void sys_uint16_unpack_big(const unsigned char *buf, uint16_t *v);
void sys_uint32_unpack_big(const unsigned char *buf, uint32_t *v);
void sys_uint64_unpack_big(const unsigned char *buf, uint64_t *v);

typedef int (*sort_quick_cmp)(const void *a, const void *b, void *ctx);
void sort_quick(void *base, uint32_t n, uint32_t size, void *ctx, sort_quick_cmp cmp);

/* Process-wide generator, 0..32767, safe from several threads. */
void sys_random_init(uint32_t seed);
int sys_random(void);

#ifdef __cplusplus
}
#endif
#endif
