/* The server half of HTTP shared by the device stack, the control point's
 * event listener and the media server: reading GET/HEAD request headers,
 * status lines, error answers, the headers of file, range, time-seek and
 * DLNA answers, and request bodies.  File bodies go out with
 * sys_socket_sendfile. */
#ifndef TARVO_UTIL_HTTP_SERVER_H
#define TARVO_UTIL_HTTP_SERVER_H

#include <stdint.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_socket.h>
#include <tarvo_util/util_limits.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The addresses of one connection, packed without gaps (12 bytes); it
 * leads device_request_info and is handed to plug-ins. */
typedef struct {
  uint8_t local_ip[4];
  uint16_t local_port;
  uint8_t remote_ip[4];
  uint16_t remote_port;
} connection_addresses;

/* One accepted connection.  The listener's owner (the device stack, the
 * media server, the event listener) allocates and fills it; the calls
 * below read server_name, http11, head and the two buffers. */
typedef struct {
  void *owner;
  const char *server_name;      /* the SERVER header */
  int http11;                   /* the request is not HTTP/1.0 */
  int head;                     /* the method is HEAD */
  int keep_alive;
  int socket;
  connection_addresses addr;
  char in_buf[HTTP_SERVER_CONN_BUFFER_SIZE];
  sys_socketbuffer_rec in;
  char out_buf[HTTP_SERVER_CONN_BUFFER_SIZE];
  sys_socketbuffer_rec out;
  /* Set by the owner that waits out the pause after a failed request
   * itself, without holding the connection's thread: the reads below then
   * set fail_paused instead of sleeping. */
  int defer_fail_pause;
  int fail_paused;
} http_server_conn;

/* A GET/HEAD request: zero-filled by the caller before the read, released
 * with http_server_get_request_free.  The strings are the raw header
 * values, NULL when the header is absent. */
typedef struct {
  int32_t keep_alive;           /* HTTP/1.1 without "connection: close" */
  char *if_modified_since;
  char *range;
  char *if_range;
  char *time_seek_range;
  char *play_speed;
  void *reserved;               /* zeroed by the caller, freed by the free call */
  /* "Streaming", "Interactive" or "Background" when transferMode.dlna.org
   * names one (any case); the answer headers repeat it.  Static, not freed. */
  const char *transfer_mode;
} http_server_request_rec;

/* size is the entity's size (input); offset and length the bytes to send. */
typedef struct {
  uint64_t offset;
  uint64_t length;
  uint64_t size;
} http_server_range_rec;

/* A time-seek answer's times in milliseconds. */
typedef struct {
  uint32_t start_ms;
  uint32_t end_ms;
  uint32_t total_ms;
} http_server_npt_rec;

/* The request line of the next request on a kept connection, blank lines
 * skipped: each wait lasts timeout_ms, and after attempts waits in a row
 * without a line, after a wait that ends within a line, at the end of the
 * stream, or once *stop_flag is set (read atomically), it gives up with 0. */
int http_server_read_request_line(http_server_conn *conn, uint32_t timeout_ms, uint32_t attempts,
                                  const int *stop_flag, sys_stralloc_rec *line);

/* Reads and checks the header lines after the request line, discards any
 * body and fills req.  stop_flag is read atomically between lines.  A Host
 * that http_host_allowed refuses, or a second Host, is "400 Bad Request".
 * 0 after an error answer, the stop flag or a read failure, each after a
 * pause of HTTP_SERVER_FAIL_PAUSE_MS (or with fail_paused set, see
 * defer_fail_pause). */
int http_server_read_get_request(http_server_conn *conn, void *reserved, const int *stop_flag,
                                 http_server_request_rec *req);
/* NULL tolerated; the record itself is the caller's. */
void http_server_get_request_free(http_server_request_rec *req);

/* "HTTP/1.1 " status CR LF. */
int http_server_write_startline(sys_socketbuffer_rec *sb, const char *status);
/* The start line, "SERVER: " and "DATE: ". */
int http_server_write_common_header(sys_socketbuffer_rec *sb, const char *status,
                                    const char *server_name);
/* A complete answer with "CONNECTION: close" and a short HTML body (only
 * written when with_body is 1), flushed. */
int http_server_write_error_response(sys_socketbuffer_rec *sb, const char *status,
                                     const char *server_name, int with_body);

/* The headers of a GET/HEAD answer for an entity of range->size bytes
 * modified at mtime: 200, 206 (Range, If-Range), 304 (If-Modified-Since),
 * or an error answer 416/400 written here (then 0).  send_body is 0 for
 * HEAD and 304.  Flushed; before a body of known length the system is told
 * that more follows, so the body must be sent at once. */
int http_server_write_get_response_header(sys_socketbuffer_rec *sb, int http11, int head_only,
                                          const http_server_request_rec *req,
                                          const char *server_name, const char *mime,
                                          int64_t mtime, int *send_body,
                                          http_server_range_rec *range);
/* The same plus Vary and contentFeatures.dlna.org. */
int http_server_write_get_response_header_dlna(sys_socketbuffer_rec *sb, int http11,
                                               int head_only,
                                               const http_server_request_rec *req,
                                               const char *server_name, const char *mime,
                                               const char *content_features, int64_t mtime,
                                               int *send_body, http_server_range_rec *range);
/* Output of unknown length: no CONTENT-LENGTH; chunked on HTTP/1.1. */
int http_server_write_get_response_header_transcoding(sys_socketbuffer_rec *sb, int http11,
                                                      int head_only,
                                                      const http_server_request_rec *req,
                                                      const char *server_name,
                                                      const char *mime, int64_t mtime,
                                                      int *send_body,
                                                      http_server_range_rec *range);
int http_server_write_get_response_header_transcoding_dlna(
    sys_socketbuffer_rec *sb, int http11, int head_only, const http_server_request_rec *req,
    const char *server_name, const char *mime, const char *content_features, int64_t mtime,
    int *send_body, http_server_range_rec *range);
/* The answer to a TimeSeekRange.dlna.org request; range (computed by the
 * caller) gives the bytes part and the CONTENT-LENGTH. */
int http_server_write_get_response_header_time_seek_dlna(
    sys_socketbuffer_rec *sb, int http11, int head_only, const http_server_request_rec *req,
    const char *server_name, const char *mime, const char *content_features, int64_t mtime,
    int *send_body, const http_server_npt_rec *npt, const http_server_range_rec *range);
/* The same for output of unknown length; range may be NULL. */
int http_server_write_get_response_header_time_seek_transcoding_dlna(
    sys_socketbuffer_rec *sb, int http11, int head_only, const http_server_request_rec *req,
    const char *server_name, const char *mime, const char *content_features, int64_t mtime,
    int *send_body, const http_server_npt_rec *npt, const http_server_range_rec *range);

/* Exactly size body bytes from the input buffer, appended to sa (NULL
 * discards); 0 at the end of the stream. */
int http_server_read(http_server_conn *conn, uint64_t size, sys_stralloc_rec *sa);
/* A chunked body up to and including its trailer, appended to sa (NULL
 * discards). */
int http_server_read_chunked(http_server_conn *conn, sys_stralloc_rec *sa);
/* The same refusing more than max body bytes: 0 with *too_large set (too_large
 * may be NULL). */
int http_server_read_chunked_max(http_server_conn *conn, uint64_t max, sys_stralloc_rec *sa,
                                 int *too_large);
/* A chunk-size line that must be 0, then the trailer. */
int http_server_read_chunked_0(sys_socketbuffer_rec *sb);

#ifdef __cplusplus
}
#endif
#endif
