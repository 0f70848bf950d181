/* The HTTP/1.1 client: one URL at a time over one kept connection, with
 * connect, read and write timeouts, a cancel flag another thread may set,
 * byte ranges, DLNA time seek and play speed, conditional requests, chunked
 * answers and redirects.
 *
 * Callers hold an http_client (a pointer to the record) and pass its
 * address to every call.  Results are 1/0 unless stated. */
#ifndef TARVO_UTIL_HTTP_CLIENT_H
#define TARVO_UTIL_HTTP_CLIENT_H

#include <stdint.h>
#include <tarvo_util/sys_socket.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/uri.h>
#include <tarvo_util/util_limits.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct {
  uri_rec url;                  /* zero-filled while the client has no URL */
  int socket;                   /* -1 when not connected */
  char in_buf[HTTP_CLIENT_BUFFER_SIZE];
  sys_socketbuffer_rec in;
  char out_buf[HTTP_CLIENT_BUFFER_SIZE];
  sys_socketbuffer_rec out;
  sys_str_list headers;         /* of the last answer; NULL when none */
  uint64_t body_left;           /* under Content-Length, or of the current chunk */
  const char *te_value;         /* into headers: Transfer-Encoding, Content-Length */
  const char *cl_value;
  uint32_t connect_timeout_ms;
  uint32_t read_timeout_ms;
  uint32_t write_timeout_ms;
  int32_t connect_timed_out;
  int32_t canceled;             /* accessed atomically */
  int32_t chunk_state;
  int32_t body_mode;            /* how the rest of the body is framed */
  uint32_t chunk_line;          /* bytes of the current chunk extension or trailer */
} http_client_rec;

typedef http_client_rec *http_client;

/* --- life cycle and settings --- */

/* A record with socket -1 and the default timeouts, no URL. */
int http_client_init2(http_client *client);
/* init2 and set_url; when the URL is refused the record is freed. */
int http_client_init(http_client *client, const char *url);
/* Only "http" (any case) with a host, a decimal port 1-65535 or none, and
 * no blank or control byte; on refusal the client has no URL. */
int http_client_set_url(http_client *client, const char *url);
uri_rec *http_client_get_url(http_client *client);
int http_client_get_socket(http_client *client);
sys_socketbuffer_rec *http_client_get_socketbuffer_in(http_client *client);
sys_socketbuffer_rec *http_client_get_socketbuffer_out(http_client *client);
void http_client_set_connect_timeout(http_client *client, uint32_t ms);
/* Also applied at once to the input (output) socket buffer. */
void http_client_set_read_timeout(http_client *client, uint32_t ms);
void http_client_set_write_timeout(http_client *client, uint32_t ms);
int http_client_is_connect_timeout(http_client *client);
int http_client_is_read_timeout(http_client *client);
int http_client_is_write_timeout(http_client *client);
/* May be called from another thread; waits notice it within
 * SYS_SOCKET_WAIT_SLICE_MS. */
void http_client_set_cancel(http_client *client, int flag);
int http_client_is_canceled(http_client *client);
/* Connects unless still connected; tries each address of the host. */
int http_client_connect(http_client *client);
/* Starts a non-blocking connect to the host's first address; the caller
 * waits for the socket to become writable. */
int http_client_connect_async(http_client *client);
int http_client_connected(http_client *client);
/* Closes the socket; the header list stays. */
void http_client_disconnect(http_client *client);
/* Disconnects and frees everything; *client becomes NULL.  NULL tolerated. */
void http_client_free(http_client *client);

/* --- requests: 1 when an answer's status and headers were read and its
 * body is ready; status is the last code read (0 when none).  extra_lines:
 * NULL-terminated complete header lines without CR LF, or NULL. --- */

int http_client_get(http_client *client, char *const *extra_lines, int *status);
int http_client_head(http_client *client, char *const *extra_lines, int *status);
/* "if-modified-since: " date when date is not NULL. */
int http_client_get_if_modified_since(http_client *client, const char *date,
                                      char *const *extra_lines, int *status);
int http_client_head_if_modified_since(http_client *client, const char *date,
                                       char *const *extra_lines, int *status);
/* "range: bytes=offset-[offset+length-1]" (open when length is 0), then
 * "if-range: " if_range when not NULL. */
int http_client_get_range(http_client *client, uint64_t offset, uint64_t length,
                          const char *if_range, char *const *extra_lines, int *status);
int http_client_head_range(http_client *client, uint64_t offset, uint64_t length,
                           const char *if_range, char *const *extra_lines, int *status);
/* "TimeSeekRange.dlna.org: npt=start-[end]" (open when end_ms is 0). */
int http_client_get_time_seek_range(http_client *client, int64_t start_ms, int64_t end_ms,
                                    char *const *extra_lines, int *status);
int http_client_head_time_seek_range(http_client *client, int64_t start_ms, int64_t end_ms,
                                     char *const *extra_lines, int *status);
/* The time-seek line when start_ms is not 0, then
 * "PlaySpeed.dlna.org: speed=num[/den]" when num is not 0. */
int http_client_get_play_speed(http_client *client, int32_t speed_num, uint32_t speed_den,
                               int64_t start_ms, int64_t end_ms, char *const *extra_lines,
                               int *status);
int http_client_head_play_speed(http_client *client, int32_t speed_num, uint32_t speed_den,
                                int64_t start_ms, int64_t end_ms, char *const *extra_lines,
                                int *status);

/* --- answers --- */

/* Body bytes of the last answer; got 0 marks its end. */
int http_client_read(http_client *client, void *buf, uint32_t len, uint32_t *got);
/* The value of the first header that begins with name (ASCII case ignored,
 * the ':' included), valid until the next answer; NULL when absent. */
const char *http_client_header(http_client *client, const char *name);
/* Reads one status line; 1 when its code has digits. */
int http_client_status(http_client *client, int *code);
/* Reads the headers after a status line and sets up the body framing; on
 * failure the headers are freed and the client disconnected. */
int http_client_read_response_header(http_client *client);
/* Connects and writes a POST head with "CONTENT-LENGTH: " length. */
int http_client_post_begin(http_client *client, uint64_t length, char *const *extra_lines);
int http_client_write(http_client *client, const void *data, uint32_t len);
/* Flushes the body and reads the status line. */
int http_client_post_end(http_client *client, int *status);

#ifdef __cplusplus
}
#endif
#endif
