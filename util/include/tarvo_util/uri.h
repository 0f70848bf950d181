/* URLs as the UPnP stack uses them: split, join, resolve, percent-escape,
 * query lists and file: URIs of local paths.  Byte-oriented and lenient:
 * no case, dot-segment or fragment normalisation. */
#ifndef TARVO_UTIL_URI_H
#define TARVO_UTIL_URI_H

#include <stdint.h>
#include <tarvo_util/sys_str.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Five heap strings; a part the URI lacks is "", never NULL.  The path
 * begins with "/" or is "*"; the query is kept without its '?'.  The record
 * is the caller's; uri_free releases the strings only. */
typedef struct {
  char *scheme;
  char *host;
  char *port;
  char *path;
  char *query;
} uri_rec;

/* 1, or 0 with nothing stored. */
int uri_parse(uri_rec *uri, const char *s);
/* NULL and a zero-filled record are tolerated. */
void uri_free(uri_rec *uri);
/* scheme "://" host ":" port path "?" query; ':' and '?' always written. */
int uri_get_string(const uri_rec *uri, char **out);
/* ref made absolute against base (base may be NULL when ref is absolute). */
int uri_resolve(const char *base, const char *ref, char **out);
/* In place: an absolute URL becomes its path and query ("/" when none). */
int uri_remove_path_prefix(char *s);
/* Every byte outside 0-9 A-Z a-z and -_.!~*'()/ as '%' and two lower-case
 * hex digits. */
int uri_escape(const char *s, char **out);
/* In place: '+' becomes a blank, %XY the byte XY.  Always 1. */
int uri_unescape(char *s);
/* The same, with the decoded length: a decoded NUL makes it differ from
 * the string's, so that a check sees the bytes after it. */
int uri_unescape_n(char *s, uint32_t *length);
/* The %XX decoder that the others are made of, in place: %XY becomes the
 * byte XY.  A '%' without two hexadecimal digits stays as it is, unless
 * flags hold URI_DECODE_LENIENT (the one or two characters after it read
 * as digits, others as 0) or URI_DECODE_STRICT (it fails the decoding, as
 * %00 does).  With URI_DECODE_PLUS a '+' becomes a blank.  The decoded
 * length in *length, as above.  1/0. */
#define URI_DECODE_PLUS 1u
#define URI_DECODE_LENIENT 2u
#define URI_DECODE_STRICT 4u
int uri_percent_decode(char *s, uint32_t flags, uint32_t *length);
/* Non-zero when s holds a '%'. */
int uri_is_escaped(const char *s);
/* 0 when s holds a '%' (taken as escaped already); else 1 when some byte
 * needs escaping. */
int uri_should_escape(const char *s);
/* "file://" URI of a local absolute path, escaped. */
int uri_from_path(const char *path, char **out);
/* 1 when s begins with scheme (ASCII case ignored) followed by ':'. */
int uri_protocol_equal(const char *s, const char *scheme);
/* name=value&... into two parallel lists, both unescaped; 0 (nothing
 * stored) when a pair lacks its '='. */
int uri_parse_query(const char *query, sys_str_list *names, sys_str_list *values);

#ifdef __cplusplus
}
#endif
#endif
