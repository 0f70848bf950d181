// Inside the control-point library: the engine's context, its jobs, and
// the message checks that the SSDP thread and the event listener run
// (apart from the sockets, so that they can be fuzzed).
#pragma once

#include <atomic>
#include <stdint.h>
#include <tarvo_cp/cp_limits.h>
#include <tarvo_cp/upnp_cp.h>
#include <tarvo_util/http_message.h>
#include <tarvo_util/http_server.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_socket.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/sys_thread.h>

// Fields other threads read without a lock are plain integers reached
// through these, so that the context stays a zero-filled record.
template <class T> inline T cp_load(const T &v)
{
  return std::atomic_ref<T>(const_cast<T &>(v)).load(std::memory_order_acquire);
}
template <class T> inline void cp_store(T &v, T x)
{
  std::atomic_ref<T>(v).store(x, std::memory_order_release);
}

// A job for the worker; free_fn releases arg whether or not it ran.
struct cp_job {
  void (*run)(void *arg);
  void (*free_fn)(void *arg);
  void *arg;
};

struct upnp_cp_ctx {
  upnp_cp_ctx **self;
  upnp_cp_alive_handler alive_fn;
  upnp_cp_search_response_handler search_fn;
  upnp_cp_byebye_handler byebye_fn;
  void *discovery_user;
  upnp_cp_event_handler event_fn;
  upnp_cp_sid_check_handler sid_check_fn;
  void *event_user;
  upnp_cp_ip_handler ip_fn;
  void *ip_user;
  upnp_cp_ip_change_handler ip_change_fn;
  void *ip_change_user;
  sys_str_list disabled_if;        // never set: NULL
  queue_async_rec queue;
  sys_mutex_handle queue_mutex;    // serialises the writers
  sys_thread_handle worker;
  sys_mutex_handle live_mutex;     // guards live_count and live_conns
  uint32_t live_count;
  sys_ptralloc_rec live_conns;     // http_server_conn* being served
  sys_mutex_handle ip_mutex;       // guards ip_list
  sys_memalloc_rec ip_list;        // 4 bytes per address
  char *server_name;
  sys_str_list targets;            // may be NULL
  int search_socket;
  int ssdp_socket;                 // owned by the SSDP thread; -1 when closed
  sys_thread_handle ssdp_thread;
  int reopen;                      // atomic: set by the worker, cleared by the SSDP thread
  int ssdp_request;                // atomic: 1 open, 2 close, asked by the public calls
  uint16_t ssdp_port;
  int event_socket;
  sys_thread_handle event_thread;
  uint16_t event_port;
  int stop;                        // atomic
  int stop_fd;                     // readable once the end began
  int worker_started, ssdp_started, event_started;
  sys_ptralloc_rec clients;        // under live_mutex: http_client* of exchanges in flight
  int cancel_clients;              // under live_mutex: exchanges fail from now on
};

inline bool cp_stopping(const upnp_cp_ctx *c) { return cp_load(c->stop) != 0; }

// Queues a job (waiting up to CP_JOB_WRITE_WAIT_MS for a slot); when the
// engine stops or no slot frees up the job is freed unrun and 0 returned.
int cp_queue(upnp_cp_ctx *c, void (*run)(void *), void (*free_fn)(void *), void *arg);

// --- SSDP (cp_ssdp.cpp) ---

enum cp_ssdp_kind { CP_SSDP_NONE = 0, CP_SSDP_ALIVE, CP_SSDP_BYEBYE, CP_SSDP_RESPONSE };

// What one datagram says; the strings are heap copies, NULL when absent.
struct cp_ssdp_msg {
  int kind;
  uint32_t max_age;
  char *location, *server, *nt, *usn;  // nt holds the ST of a search response
};
void cp_ssdp_msg_free(cp_ssdp_msg *m);
// Checks a NOTIFY datagram (targets NULL: any NT passes) or a search
// response; m->kind stays CP_SSDP_NONE for anything to drop.  source is
// the sender's address: a LOCATION that is not http:// or whose IPv4
// literal host is another address is dropped, so that no host can point
// the control point at a third party.
void cp_ssdp_parse(const char *data, uint32_t length, char *const *targets, const uint8_t source[4],
                   cp_ssdp_msg *m);
void cp_ssdp_thread(void *ctx);

// --- event listener (cp_event.cpp) ---

// A NOTIFY's header lines (normalised, NULL-terminated).
struct cp_event_request {
  int has_host, chunked, has_length, close, has_nt, has_nts;
  uint64_t length;
  char *sid;          // heap copy, NULL without
  int has_seq;
  uint32_t seq;
};
// NULL when acceptable, else the status line of the answer.
const char *cp_event_headers(char *const *lines, int http11, cp_event_request *rq);
// Every request of a connection, kept alive as asked.
void cp_event_conn_serve(http_server_conn *conn);
// One request on a connection whose request line was read.
void cp_event_serve(http_server_conn *conn, const http_request_startline_rec *start);
void cp_event_accept_thread(void *ctx);
// Shuts down every connection being served, so that its thread ends.
void cp_event_cut(upnp_cp_ctx *c);

// --- fetches (cp_fetch.cpp) ---

// The body of a 200 answer to a GET of url, NUL-terminated.  With an
// engine c, the fetch is cut short by cp_cancel_clients.
int cp_fetch(upnp_cp_ctx *c, const char *url, sys_stralloc_rec *body);
int cp_get_desc(upnp_cp_ctx *c, const char *location, upnp_desc_rec **desc);
// Exchanges in flight on c's behalf: listed so that the end can cancel them.
void cp_client_hold(upnp_cp_ctx *c, http_client *client);
void cp_client_release(upnp_cp_ctx *c, http_client *client);
// Cancels every exchange in flight and any that starts later.
void cp_cancel_clients(upnp_cp_ctx *c);
// UNSUBSCRIBE with connect and read timeouts of ms, not cancelled: for the
// end, which must not wait long for a silent device.
int cp_unsubscribe_bounded(upnp_cp_ctx *c, const char *event_url, const char *sid, uint32_t ms);
