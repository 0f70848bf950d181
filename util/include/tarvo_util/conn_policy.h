/* The connection policy that every listener shares (the media port, the
 * device port, the management port): a request header due within a
 * bound, a total and a per-address cap, at a cap the oldest connection
 * that is really idle giving way, and beyond the caps a wait for a slot.
 * The owner keeps its connections' threads and guards the calls marked
 * "under the owner's mutex" with one mutex of its own. */
#ifndef TARVO_UTIL_CONN_POLICY_H
#define TARVO_UTIL_CONN_POLICY_H

#include <stdint.h>
#include <tarvo_util/http_server.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_thread.h>

#ifdef __cplusplus
extern "C" {
#endif

/* What a connection is at (conn_policy_entry.idle). */
#define CONN_BUSY 0    /* a byte of a request is in, or its answer is under way */
#define CONN_NEW 1     /* no byte yet: gives way once silent past CONN_SILENT_GRACE_MS */
#define CONN_KEPT 2    /* kept alive for its next request: gives way while no byte waits */
#define CONN_PAUSED 3  /* pausing after a refused request: gives way at any time */

struct conn_policy_rec;

/* One connection as the policy sees it; the owner's record holds it. */
typedef struct {
  http_server_conn *conn;           /* its socket and remote address */
  struct conn_policy_rec *policy;   /* set when admitted; NULL outside any policy */
  int32_t idle;                     /* CONN_BUSY, CONN_NEW, CONN_KEPT or CONN_PAUSED; atomic */
  int32_t closing;                  /* shut down to make room; under the owner's mutex */
  int32_t leaving;                  /* served, only the close is left; under the owner's mutex */
  int32_t waiting;                  /* admitted beyond the caps, waits for a slot; under the owner's mutex */
  int64_t since_ms;                 /* when it had its slot, steady clock; under the owner's mutex */
} conn_policy_entry;

typedef struct conn_policy_rec {
  sys_ptralloc_rec conns;       /* conn_policy_entry pointers, in accept order */
  uint32_t count;               /* listed connections, those on their way out and waiting included */
  uint32_t closing;             /* of them, shut down to make room */
  uint32_t max_total;
  uint32_t max_per_address;
  sys_mutex_handle *mutex;      /* the owner's */
  sys_sync_rec turn;            /* waiting connections look again when a slot may be free */
  int32_t cut;                  /* every connection is being shut down; under the owner's mutex */
} conn_policy_rec;

/* Caps of 0 are not allowed; mutex is the owner's, made before the first
 * connection comes.  1/0. */
int conn_policy_init(conn_policy_rec *p, uint32_t max_total, uint32_t max_per_address, sys_mutex_handle *mutex);
void conn_policy_free(conn_policy_rec *p);
/* Under the owner's mutex: lists e (its conn filled in), new.  It has a
 * slot when it fits, after shutting down the oldest connection that is
 * really idle (of its own address when that address is at its share);
 * else it waits for one in conn_request_line, CONN_WAITING_PER_ADDRESS_MAX
 * of an address at most.  An address's share counts its connections that
 * are new or busy.  0 when it cannot be listed (answer 503). */
int conn_policy_admit(conn_policy_rec *p, conn_policy_entry *e);
/* Under the owner's mutex: served, so that its slot is free at once. */
void conn_policy_served(conn_policy_entry *e);
/* Under the owner's mutex: off the list, before its socket is closed. */
void conn_policy_remove(conn_policy_rec *p, conn_policy_entry *e);
/* Under the owner's mutex: shuts down every listed connection and ends
 * the waits for a slot. */
void conn_policy_cut(conn_policy_rec *p);
/* Pausing after a refused request: it gives way at any time. */
void conn_policy_pause(conn_policy_entry *e);

/* The request line of a connection's next request, empty lines before it
 * passed over (CONN_EMPTY_LINES_MAX at most).  A connection's first
 * request waits for its slot, answering "503 Service Unavailable" when
 * none comes within CONN_TURN_WAIT_MS, and is due CONN_HEADER_DUE_MS after
 * it; a later one waits up to keep_wait_ms for its first byte and is due
 * CONN_HEADER_DUE_MS after it.  *due_ms (milliseconds of the steady clock)
 * is when the whole header is due.  Not under the owner's mutex.
 * 0 when the connection ends or times out. */
int conn_request_line(conn_policy_entry *e, int first, uint32_t keep_wait_ms, int64_t *due_ms,
                      sys_stralloc_rec *line);
/* Input waits of conn end at due_ms: however slowly a header trickles, it
 * cannot hold the connection beyond it. */
void conn_header_wait(http_server_conn *conn, int64_t due_ms);

#ifdef __cplusplus
}
#endif
#endif
