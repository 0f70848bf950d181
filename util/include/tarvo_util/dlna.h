/* Value formats of UPnP AV and DLNA: comma lists with backslash escapes,
 * dc:date normalisation, the DLNA.ORG_FLAGS value, MIME types of file names,
 * normal play time (npt) and the four fields of a protocolInfo string. */
#ifndef TARVO_UTIL_DLNA_H
#define TARVO_UTIL_DLNA_H

#include <stdint.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>

#ifdef __cplusplus
extern "C" {
#endif

/* protocol:network:content_format:additional_info, four heap strings. */
typedef struct {
  char *protocol;
  char *network;
  char *content_format;
  char *additional_info;
} protocol_info_rec;

/* Caller storage for the DLNA.ORG_FLAGS value and a normalised dc:date. */
#define FLAGS_PARAM_SIZE 33
#define DC_DATE_SIZE 24

/* Appends s with ',' as "\," and '\' as "\\", then one ','. */
int csv_append(sys_stralloc_rec *sa, const char *s);
/* Drops the trailing ','; the new length. */
uint32_t csv_end(sys_stralloc_rec *sa);
/* Joins a NULL-terminated list ("" for an empty or NULL one). */
int csv_concatenate(char *const *list, char **out);
/* Splits at unescaped ','; every field, empty ones too, becomes an entry. */
int csv_split(const char *s, sys_str_list *list);
/* The text after the last ','; the whole string without one; NULL for NULL
 * or "". */
const char *csv_last(const char *s);
/* Cuts s at its last ',' ("" without one); NULL accepted. */
void csv_remove_last(char *s);

/* YYYY-MM-DD[THH:MM:SS[.mmm][Z|+HH:MM|-HH:MM]] into out
 * (DC_DATE_SIZE bytes) as YYYY-MM-DDTHH:MM:SS.mmm in local time. */
int dc_date_normalize(const char *in, char *out);

/* p: FLAGS_PARAM_SIZE bytes.  Bits 0-31 of the primary flags, counted from
 * the least significant. */
void flags_param_init(char *p);
int flags_param_set_primary_flag(char *p, int bit);
int flags_param_get_primary_flag(const char *p, int bit);

/* Static MIME type of the path's extension; "application/octet-stream"
 * when unknown. */
const char *mimetype_from_path_static(const char *path);
/* The first line of <folder>/<extension in lower case>; heap string. */
int mimetype_from_path(const char *folder, const char *path, char **type);
int mimetype_major_equal(const char *type, const char *major);
int mimetype_sub_equal(const char *type, const char *sub);
/* The value of the MIME parameter name: the text after the first place
 * where name (any case) is directly followed by "="; NULL when there is
 * none. */
const char *mime_param_find(const char *mime, const char *name);
/* rate and channels of an audio/L16 MIME type; 1 only when both are there
 * and are decimal numbers above 0. */
int mime_l16_params(const char *mime, uint32_t *rate, uint32_t *channels);

/* sec[.frac] and h:mm:ss[.frac] in milliseconds; the characters consumed,
 * 0 when malformed. */
uint32_t npt_scan_sec(const char *s, int64_t *ms);
uint32_t npt_scan_hhmmss(const char *s, int64_t *ms);

/* 0 (rec untouched) unless s holds exactly three ':'. */
int protocol_info_parse(protocol_info_rec *rec, const char *s);
/* Frees the strings that are set; NULL accepted; fields not cleared. */
void protocol_info_free(protocol_info_rec *rec);

#ifdef __cplusplus
}
#endif
#endif
