/* HTTP/1.1 message helpers: header lines from a socket buffer, a file
 * buffer or memory; header normalisation and values; request and status
 * lines; RFC 1123 dates.
 *
 * A header list is a sys_str_list of lines normalised to name:value (no
 * blank or tab around the first ':', continuation lines joined).  A header
 * is found by a case-insensitive prefix that includes the colon
 * ("content-length:"); its value starts right after it.
 *
 * Header reading is bounded: a line of more than HTTP_HEADER_LINE_MAX
 * bytes, a block of more than HTTP_HEADER_BLOCK_MAX bytes or
 * HTTP_HEADER_LINES_MAX lines, or a line (a block) that has not arrived
 * within the socket buffer's timeout fails the read. */
#ifndef TARVO_UTIL_HTTP_MESSAGE_H
#define TARVO_UTIL_HTTP_MESSAGE_H

#include <stdint.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_socket.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/uri.h>

#ifdef __cplusplus
extern "C" {
#endif

/* --- lines --- */

/* The next line that ends in CR LF, without it (sa not NUL-terminated);
 * lines ending in a bare LF are dropped.  0 at the end of the stream or on
 * a read failure. */
int http_header_readline(sys_socketbuffer_rec *sb, sys_stralloc_rec *sa);
/* The same over data[*pos..length): the text up to the first CR LF; a LF
 * without CR stays in the line.  *pos moves past the LF; 0 (pos
 * unchanged) when no CR LF follows. */
int http_header_readline2(const char *data, uint32_t length, uint32_t *pos, sys_stralloc_rec *sa);
/* The next line from a file buffer up to LF; a trailing LF and then a
 * trailing CR are removed.  0 at the end of the file. */
int http_header_readlinef(sys_filebuffer_rec *fb, sys_stralloc_rec *sa);
/* Header lines up to the empty line into a new list; 1/0. */
int http_header_read(sys_socketbuffer_rec *sb, sys_str_list *lines);
int http_header_readf(sys_filebuffer_rec *fb, sys_str_list *lines);
/* In place: removes the blanks and tabs around the first ':'; the new
 * length.  Unchanged without ':' or with only blanks before it. */
uint32_t http_header_normalize(char *line, uint32_t length);

/* --- values; offset is where the value starts (the prefix's length) --- */

uint32_t http_header_skipspace(const char *s);
/* 1 when the value (leading blanks skipped) begins with word followed by
 * the end, a blank or a tab. */
int http_header_value_equal(const char *line, uint32_t offset, const char *word);
int http_header_value_case_equal(const char *line, uint32_t offset, const char *word);
/* The value without trailing blanks and tabs (sa not NUL-terminated). */
int http_header_value_get(const char *line, uint32_t offset, sys_stralloc_rec *sa);
/* Decimal; the digits consumed, 0 when none or when the number does not
 * fit. */
uint32_t http_header_value_scan_uint(const char *line, uint32_t offset, uint32_t *n);
uint32_t http_header_value_scan_uint64(const char *line, uint32_t offset, uint64_t *n);
/* GENA TIMEOUT: what follows "Second-" (any case), trailing white space
 * removed; 0 without that prefix. */
int http_header_value_get_timeout(const char *line, uint32_t offset, sys_stralloc_rec *sa);
/* "max-age" [blanks] '=' [blanks] decimal; 1 even without digits. */
int http_header_value_get_cache_control_max_age(const char *line, uint32_t offset, uint32_t *n);
/* npt=start-[end][/duration|*]; times in milliseconds. */
int http_header_value_get_time_seek_range_dlna_request(const char *line, uint32_t offset,
                                                       int64_t *start_ms, int64_t *end_ms,
                                                       int *has_end);
int http_header_value_get_time_seek_range_dlna_response(const char *line, uint32_t offset,
                                                        int64_t *start_ms, int64_t *end_ms,
                                                        int *has_end);

/* --- request checks --- */

/* 1 when a Host value (blank around it allowed) names this machine in a
 * way no web page can borrow: an IPv4 literal, a bracketed IPv6 literal,
 * "localhost", or the machine's own name as gethostname gives it, with or
 * without its domain and the same followed by ".local"; each with or
 * without ":port".  Anything else gives 0, so that a page whose name was
 * made to resolve to this machine (DNS rebinding) cannot drive it. */
int http_host_allowed(const char *value, uint32_t length);

/* 1 when a header list holds no Host line, or exactly one that
 * http_host_allowed accepts. */
int http_header_host_allowed(char *const *lines);

/* 1 when n bytes of a decoded request path hold no control byte (0x00 to
 * 0x1f, 0x7f): a path must never be cut at a decoded NUL. */
int http_path_allowed(const char *path, uint32_t n);

/* --- start lines --- */

typedef struct {
  char *method;
  uri_rec uri;
  char *version;
} http_request_startline_rec;

typedef struct {
  char *version;
  char *code;
  char *reason;
} http_response_startline_rec;

/* Fields split at runs of blanks; the URI goes through uri_parse. */
int http_request_startline_parse(http_request_startline_rec *rec, const sys_stralloc_rec *sa);
/* NULL tolerated. */
void http_request_startline_free(http_request_startline_rec *rec);
/* After the second separator everything is the reason. */
int http_response_startline_parse(http_response_startline_rec *rec, const sys_stralloc_rec *sa);
void http_response_startline_free(http_response_startline_rec *rec);

/* --- dates --- */

/* "Wdy, DD Mon YYYY HH:MM:SS GMT" without NUL; the length (29 for
 * four-digit years); buf NULL only counts. */
uint32_t http_date_fmt(char *buf, const int64_t *t);
/* An RFC 822/1123 date; the characters consumed including trailing white
 * space, 0 on failure. */
uint32_t http_date_scan(const char *s, int64_t *t);

#ifdef __cplusplus
}
#endif
#endif
