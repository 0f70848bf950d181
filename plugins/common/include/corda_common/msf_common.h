/* What the plug-ins share: the rewrite frame, a streaming copy of one
 * object's DIDL-Lite text with hooks at element start and end; and the
 * request reader and error answer of the plug-ins that serve resources. */
#ifndef CORDA_COMMON_MSF_COMMON_H
#define CORDA_COMMON_MSF_COMMON_H

#include <stdint.h>
#include <corda_common/msf_limits.h>
#include <tarvo_msf.h>
#include <tarvo_util/http_server.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_socket.h>

#ifdef __cplusplus
extern "C" {
#endif

/* --- rewrite frame --- */

typedef struct msf_rewrite_rec msf_rewrite_rec;

/* What a start hook decides for its element. */
enum {
  MSF_TAG_FAIL = -1,   /* the rewrite fails */
  MSF_TAG_DROP = 0,    /* the element goes, with everything inside it */
  MSF_TAG_COPY = 1,    /* the frame writes the start tag as read */
  MSF_TAG_WRITTEN = 2  /* the hook has written the start tag itself */
};

/* Hooks of one plug-in; any may be NULL.  Names arrive as written
 * ("upnp:albumArtURI"); attribute arrays are NULL-terminated. */
typedef struct {
  int (*start)(msf_rewrite_rec *f, const char *name, const char *const *attr_names,
               const char *const *attr_values);
  /* After the start tag of a kept element; 0 fails the rewrite. */
  int (*after_start)(msf_rewrite_rec *f, const char *name);
  /* Before the end tag of a kept element; 0 fails the rewrite. */
  int (*before_end)(msf_rewrite_rec *f, const char *name);
  /* After the end tag of a kept element; 0 fails the rewrite. */
  int (*after_end)(msf_rewrite_rec *f, const char *name);
} msf_rewrite_hooks;

struct msf_rewrite_rec {
  int32_t state;          /* -1 failed, 0 copying, n > 0 dropping until the end tag at depth n */
  uint32_t depth;         /* of the element at hand; the root is 1 */
  sys_stralloc_rec out;   /* the rewritten text so far */
  sys_stralloc_rec scratch;
  const msf_rewrite_hooks *hooks;
  void *user;             /* the plug-in's own fields */
};

/* Copies the document text through the hooks.  Tags are written as "<",
 * the name, each attribute escaped, ">" (so an empty-element tag becomes a
 * start and an end tag); text is written escaped, CDATA sections as their
 * escaped content; the rest (declaration, comments, blanks outside the
 * root) as read.  1 when the text parsed, no hook failed or dropped the
 * root element, and the result with its NUL fits capacity: buffer then
 * holds it.  0 otherwise. */
int msf_rewrite_run(const msf_rewrite_hooks *hooks, void *user, const char *text, char *buffer,
                    uint32_t capacity);
/* "<" name, the attributes, ">": for start hooks that change attributes. */
int msf_rewrite_start_tag(msf_rewrite_rec *f, const char *name, const char *const *attr_names,
                          const char *const *attr_values);

/* --- files --- */

/* 1 when path names a regular file (links followed), with st filled: a
 * FIFO or device beside the media would block or never end a read. */
int msf_regular_file(const char *path, sys_file_stat_rec *st);

/* --- serving --- */

#define MSF_SERVER_NAME "Tarvo Media Server"

/* The two readers: the transcoding plug-ins refuse time seek in several
 * parts and play speed outright; the playlist plug-in keeps both for its
 * serving step to decide. */
enum { MSF_READER_TRANSCODE = 0, MSF_READER_PLAYLIST = 1 };

/* One request being answered.  The header values in req point into the
 * request's header lines (NULL when absent). */
typedef struct {
  int head;                   /* the method is HEAD */
  int http11;                 /* the version is not HTTP/1.0 */
  int play_speed_seen;
  http_server_request_rec req;
  char out_buf[MSF_OUT_BUFFER];
  sys_socketbuffer_rec out;   /* on the request's socket */
} msf_request_rec;

/* The scan behind msf_request_read, without I/O: fills r from the request
 * and gives the status line of its refusal, or NULL when it may be
 * served. */
const char *msf_request_check(msf_request_rec *r, const plugin_http_get_request *request, int variant);
/* Reads what the answer depends on from the request.  1 when it may be
 * served; 0 after an error answer and a pause of
 * MSF_READER_FAIL_PAUSE_MS. */
int msf_request_read(msf_request_rec *r, const plugin_http_get_request *request, int variant);
/* The error answer with this status line ("404 file not found"), a body
 * unless HEAD; 0, the result of a failed tarvo_msf_http_get. */
int msf_request_fail(msf_request_rec *r, const char *status);

#ifdef __cplusplus
}
#endif
#endif
