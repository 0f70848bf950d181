/* Character sets: UTF-8 to and from 16-bit and 32-bit Unicode arrays, to and
 * from any charset iconv knows, to and from the native charset, guessing the
 * charset of unlabelled bytes, and ARIB 8-bit broadcast text.
 *
 * Results are 1/0.  "n" receives a length in units (UCS calls) or bytes
 * (the others), without the terminator.  A NULL buffer only measures.  The
 * "2" calls hand back a heap string that the caller frees with
 * sys_alloc_free. */
#ifndef TARVO_UTIL_CHARSET_H
#define TARVO_UTIL_CHARSET_H

#include <stdint.h>
#include <tarvo_util/sys_alloc.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Byte order of unit arrays. */
#define UTF8_ORDER_MACHINE 0
#define UTF8_ORDER_LITTLE 1
#define UTF8_ORDER_BIG 2

/* unit_size 2 (one 16-bit unit per character; code points above U+FFFF
 * become U+FFFD) or 4 (32-bit code points).  count is in units and includes
 * the terminating 0 unit. */
int utf8_to_ucs(uint32_t unit_size, int order, const char *utf8, void *buf, uint32_t count, uint32_t *n);
int utf8_to_ucs2(uint32_t unit_size, int order, const char *utf8, void **out);
int utf8_to_wcs(const char *utf8, sys_wchar *buf, uint32_t count, uint32_t *n);
int utf8_to_wcs2(const char *utf8, sys_wchar **out);

/* units: a 0-terminated array of 16-bit (unit_size 2) or 32-bit units.
 * size is in bytes and includes the NUL. */
int utf8_from_ucs(uint32_t unit_size, int order, const void *units, char *buf, uint32_t size, uint32_t *n);
int utf8_from_ucs2(uint32_t unit_size, int order, const void *units, char **out);
int utf8_from_wcs(const sys_wchar *wcs, char *buf, uint32_t size, uint32_t *n);
int utf8_from_wcs2(const sys_wchar *wcs, char **out);

/* Named charsets.  utf8_to writes the charset's terminator (1, 2 or 4 zero
 * bytes) after the text and accepts only the charset names it knows;
 * utf8_from accepts any name iconv knows and reads text up to its first
 * zero unit (2 bytes wide for UTF-16/UCS-2, 4 for UCS-4, else 1), counted in
 * whole units from the start: wide text of an odd byte length needs zero
 * bytes up to the next unit boundary and then a whole zero unit. */
int utf8_to(const char *charset, const char *utf8, char *buf, uint32_t size, uint32_t *n);
int utf8_to2(const char *charset, const char *utf8, char **out);
int utf8_from(const char *charset, const char *text, char *buf, uint32_t size, uint32_t *n);
int utf8_from2(const char *charset, const char *text, char **out);

/* The native charset: CHARACTER_ENCODING when set, else the codeset of the
 * user's locale (the C/POSIX locale counts as UTF-8). */
int utf8_to_native(const char *utf8, char *buf, uint32_t size, uint32_t *n);
int utf8_to_native2(const char *utf8, char **out);
int utf8_from_native(const char *text, char *buf, uint32_t size, uint32_t *n);
int utf8_from_native2(const char *text, char **out);

/* A static name: "ASCII", "UTF-8", "SHIFT-JIS", "EUC-JP" or "ISO-8859-1".
 * Never NULL. */
const char *charencoding_autodetect(const char *data, uint32_t len);

/* ARIB 8-bit broadcast text of len bytes.  buf NULL: n = the UTF-8 length.
 * Otherwise at most size bytes of whole characters and no NUL; pass a
 * zero-filled buffer of the measured length plus one for a C string. */
int utf8_from_arib(const unsigned char *data, uint32_t len, char *buf, uint32_t size, uint32_t *n);

#ifdef __cplusplus
}
#endif
#endif
