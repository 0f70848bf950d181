/* The media HTTP server: the listener on http_port that streams the
 * resources of the content database, and the base URLs that the writers
 * put in front of resource paths. */
#ifndef VENNARD_MEDIA_HTTP_H
#define VENNARD_MEDIA_HTTP_H

#include <stdint.h>
#include <tarvo_util/conn_policy.h>
#include <tarvo_util/dlna.h> /* mime_param_find, mime_l16_params */
#include <tarvo_util/http_server.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/sys_thread.h>

#ifdef __cplusplus
extern "C" {
#endif

struct server_rec;

/* The accepted connections of one listener (the media server, the
 * management port), each served on a thread of its own, under util's
 * connection policy. */
typedef struct {
  sys_mutex_handle mutex;       /* guards policy and each listed connection's socket */
  conn_policy_rec policy;
  uint32_t refuse_timeout_ms;   /* the longest wait to write a 503 */
  const char *server_name;      /* the SERVER header of a 503 */
} conn_set_rec;

/* One connection of a conn_set_rec; the serving code sees only http. */
typedef struct {
  http_server_conn http;        /* first member */
  conn_set_rec *set;
  conn_policy_entry policy;     /* its conn is http */
} conn_slot;

/* Creates the mutex; caps of 0 are not allowed.  1/0. */
int conn_set_init(conn_set_rec *set, uint32_t max_total, uint32_t max_per_address,
                  uint32_t refuse_timeout_ms, const char *server_name);
/* Waits for a connection on listen_socket or for wake: 1 when the
 * listener is ready, -1 when wake is, 0 when the wait failed. */
int conn_set_wait(int listen_socket, int wake);
/* Lists the connection, new, and starts run(slot) on a detached thread;
 * at the caps the oldest really idle connection is shut down to make
 * room, and when none is, the thread waits for a slot (conn_request_line).
 * When it cannot even wait, the connection is answered "503 Service
 * Unavailable" and closed here.  1 when the thread runs (it must end with
 * conn_set_leave). */
int conn_set_admit(conn_set_rec *set, conn_slot *slot, void (*run)(void *));
/* The end of a connection thread: closes the socket, leaves the list and
 * frees the slot. */
void conn_set_leave(conn_slot *slot);
/* Shuts down every listed connection and waits until all have left; then
 * frees the set. */
void conn_set_close(conn_set_rec *set);
/* The policy's record of the connection of a slot. */
conn_policy_entry *conn_slot_policy(http_server_conn *conn);
/* The pause of HTTP_SERVER_FAIL_PAUSE_MS after a refused request, spent
 * idle: a client that needs the slot, or the stop, ends it at once. */
void conn_slot_fail_pause(http_server_conn *conn);

/* The media server's members of the server record. */
typedef struct media_http_rec {
  char *server_name;            /* the SERVER header (heap) */
  int listen_socket;
  int wake;                     /* readable once the stop has begun */
  sys_thread_handle accept_thread;
  int32_t accept_running;       /* 1 from start to stop */
  conn_set_rec conns;
} media_http_rec;

/* Reads http_port, keeps server_name for the SERVER header and starts
 * listening; 1/0 (everything undone). */
int media_http_start(struct server_rec *s, const char *data_home, const char *server_name);
/* Ends the accept thread and every connection, and waits for them. */
void media_http_stop(struct server_rec *s);
/* "http://" address ":" http_port: the one for local_ip first, then, with
 * all_interfaces, one for every other address of the host except
 * 127.0.0.1.  NULL-terminated heap list. */
int media_base_urls(struct server_rec *s, const uint8_t *local_ip, int all_interfaces, sys_str_list *list);

/* Serves the requests of one accepted connection while it keeps alive
 * (the body of a connection thread); the socket stays open. */
void media_http_serve(struct server_rec *s, http_server_conn *conn);

/* --- values of a resource --- */

/* A res@duration value h:mm:ss[.fff] in milliseconds; 0 when it does not
 * read as one or does not fit 32 bits. */
int media_duration_parse(const char *text, uint32_t *ms);

/* What a time-seek request may announce.  The caller's requested times
 * are checked against the duration (start before it, end after the start,
 * an end beyond it cut to it, no end meaning the duration):
 * MEDIA_SEEK_OK, else MEDIA_SEEK_BAD_RANGE (answer 416). */
#define MEDIA_SEEK_OK 0
#define MEDIA_SEEK_BAD_RANGE 416
uint32_t media_seek_times(int64_t start_ms, int64_t end_ms, int has_end, uint32_t total_ms,
                          http_server_npt_rec *npt);
/* The byte range of an L16 resource for npt (checked as above): offsets
 * from bitrate (bytes per second), the start down and the end up to whole
 * sample frames of channels x 2 bytes, the end never beyond range->size
 * (the file size); MEDIA_SEEK_BAD_RANGE when the start lies at or beyond
 * it. */
uint32_t media_l16_range(uint32_t bitrate, uint32_t channels, const http_server_npt_rec *npt,
                         http_server_range_rec *range);

#ifdef __cplusplus
}
#endif
#endif
