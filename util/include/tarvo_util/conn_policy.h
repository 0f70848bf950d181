/* The connection policy that every listener shares (the media port, the
 * device port, the management port): a request header due within a
 * bound, a total and a per-address cap, and at a cap the oldest
 * connection without a whole header giving way.  The owner keeps its
 * connections' threads and guards the calls marked "under the owner's
 * mutex" with one mutex of its own. */
#ifndef TARVO_UTIL_CONN_POLICY_H
#define TARVO_UTIL_CONN_POLICY_H

#include <stdint.h>
#include <tarvo_util/http_server.h>
#include <tarvo_util/sys_alloc.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One connection as the policy sees it; the owner's record holds it. */
typedef struct {
  http_server_conn *conn;       /* its socket and remote address */
  int32_t idle;                 /* no whole request header yet, or kept alive without one; atomic */
  int32_t closing;              /* shut down to make room; under the owner's mutex */
  int32_t leaving;              /* served, only the close is left; under the owner's mutex */
} conn_policy_entry;

typedef struct {
  sys_ptralloc_rec conns;       /* conn_policy_entry pointers, in accept order */
  uint32_t count;               /* listed connections, those on their way out included */
  uint32_t closing;             /* of them, shut down to make room */
  uint32_t max_total;
  uint32_t max_per_address;
} conn_policy_rec;

/* Caps of 0 are not allowed.  1/0. */
int conn_policy_init(conn_policy_rec *p, uint32_t max_total, uint32_t max_per_address);
void conn_policy_free(conn_policy_rec *p);
/* Under the owner's mutex: whether e (its conn filled in) fits, after
 * shutting down the oldest connection without a whole header (of its own
 * address when that address is at its share) to make room; when it fits
 * it is listed, idle.  1/0. */
int conn_policy_admit(conn_policy_rec *p, conn_policy_entry *e);
/* Under the owner's mutex: served, so that its slot is free at once. */
void conn_policy_served(conn_policy_entry *e);
/* Under the owner's mutex: off the list, before its socket is closed. */
void conn_policy_remove(conn_policy_rec *p, conn_policy_entry *e);
/* Under the owner's mutex: shuts down every listed connection. */
void conn_policy_cut(conn_policy_rec *p);
/* 1 while the connection waits for a request or its header, 0 once a
 * whole header is in. */
void conn_policy_idle(conn_policy_entry *e, int on);

/* The request line of a connection's next request, empty lines before it
 * passed over (CONN_EMPTY_LINES_MAX at most).  A connection's first
 * request is due CONN_HEADER_DUE_MS after the call; a later one waits up
 * to keep_wait_ms for its first byte and is due CONN_HEADER_DUE_MS after
 * it.  *due_ms (milliseconds of the steady clock) is when the whole
 * header is due.
 * 0 when the connection ends or times out. */
int conn_request_line(http_server_conn *conn, int first, uint32_t keep_wait_ms, int64_t *due_ms,
                      sys_stralloc_rec *line);
/* Input waits of conn end at due_ms: however slowly a header trickles, it
 * cannot hold the connection beyond it. */
void conn_header_wait(http_server_conn *conn, int64_t due_ms);

#ifdef __cplusplus
}
#endif
#endif
