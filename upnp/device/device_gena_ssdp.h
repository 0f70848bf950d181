// GENA and SSDP inside the device library: the subscription record, the
// event jobs, and the checks of untrusted requests (SUBSCRIBE and
// UNSUBSCRIBE headers, callback URLs, M-SEARCH datagrams) that the tests
// and fuzz targets reach directly.
#pragma once

#include "device_impl.h"

#include <chrono>
#include <tarvo_util/http_client.h>

// Milliseconds of the steady clock, for due times.
inline int64_t device_steady_ms()
{
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// "uuid:" and a UUID.
inline constexpr uint32_t DEVICE_SID_LEN = 41;

// One event body, shared by the NOTIFYs of every subscriber it goes to;
// the last holder frees it.  Under the subscription mutex.
struct device_event_body {
  uint32_t refs;
  uint32_t length;
  char *text;  // NUL-terminated, in the same allocation
};

struct device_subscription {
  const char *service_id;        // the handler copy's string
  char sid[DEVICE_SID_LEN + 1];
  uint8_t peer[4];               // the subscriber's address
  uint32_t seq;                  // of the last event queued for it
  sys_str_list callbacks;
  int64_t expiry;                // seconds since 1970
  // NOTIFYs still to send (device_event_body*) and their SEQs, in
  // order; the initial event leads with SEQ 0.  Nothing goes out before
  // due_ms (steady clock).
  sys_ptralloc_rec outbox;
  sys_uint32alloc_rec outbox_seq;
  int64_t due_ms;
  int busy;     // a sender is delivering the head of the outbox
  int removed;  // out of the list while busy: its sender frees it
};

// Frees the subscription and its outbox; under the subscription mutex.
void device_subscription_free(device_subscription *sub);
// Index of the subscription with exactly that SID; -1 when none.  Under
// the subscription mutex.
int32_t device_subscription_find(const tarvo_device_ctx *ctx, const char *sid);
// The SEQ that follows seq: 1 comes after 4294967295.
uint32_t device_seq_next(uint32_t seq);

// --- event delivery (device_gena_event.cpp); under the subscription mutex ---

// One NOTIFY sender thread; under the subscription mutex.
struct device_gena_sender {
  tarvo_device_ctx *ctx;
  sys_thread_handle thread;
  http_client_rec *client;              // the exchange in flight, cut at the stop
  const device_subscription *serving;   // busy with it
};

// The timer thread and the NOTIFY senders share this; its fields are
// guarded by the subscription mutex (quit is also read without it).
struct device_gena {
  sys_sync_rec timer_wake;  // the timer thread waits on it until its next due time
  sys_sync_rec send_wake;   // idle senders wait on it for a subscription to serve
  int quit;                 // atomic; the threads are to end
  int64_t timer_due_ms;     // when the timer thread looks again (steady clock)
  uint32_t next_pick;       // where the senders' next round starts
  uint32_t senders;         // started
  device_gena_sender sender[DEVICE_GENA_SENDERS];
};

// Takes subscription i out of the list and frees it, or leaves it to the
// sender that is delivering to it.
void device_subscription_drop(tarvo_device_ctx *ctx, uint32_t i);
// A new subscription whose initial event (body copied) waits in its
// outbox until device_gena_release; 0 on exhaustion.
int device_subscription_initial(device_subscription *sub, const char *body);
// The pause before the initial event starts now; the timer thread hands
// the subscription to a sender when it is over.
void device_gena_release(tarvo_device_ctx *ctx, device_subscription *sub);

// --- SUBSCRIBE and UNSUBSCRIBE headers ---

struct device_gena_request {
  int keep_alive;          // HTTP/1.1 and no "connection: close"
  int chunked;
  int has_length;
  uint64_t length;
  char *sid;               // NULL without a SID header
  int has_nt;
  int callbacks_invalid;
  sys_str_list callbacks;  // the URLs sent, paths escaped; NULL when none
};

// Checks the header lines (NULL-terminated, normalised) in order and fills
// rq; NULL when the request may go on, else the status line of the error
// answer.  http10: the version is exactly "HTTP/1.0".  rq is freed by the
// caller either way.
const char *device_gena_headers(char *const *lines, int unsubscribe, int http10,
                                device_gena_request *rq);
void device_gena_request_free(device_gena_request *rq);
// Keeps in rq->callbacks the first DEVICE_GENA_CALLBACKS_MAX URLs that
// may be called: http URLs whose host is the dotted address the request
// came from (remote_ip), so that nobody can point events at a third
// host.  1 when at least one is left.
int device_gena_callbacks_filter(device_gena_request *rq, const uint8_t *remote_ip);

// --- SSDP ---

// Called for one datagram to send: its ST (or NT), and the UDN and the
// text after "::" that make its USN (suffix NULL: the USN is the UDN).
// 0 stops the walk.
typedef int (*device_ssdp_entry_fn)(void *user, const char *target, const char *udn,
                                    const char *suffix);

// The notification set of the description, in order; 0 when fn stopped it.
int device_ssdp_notification_set(const upnp_desc_rec *desc, device_ssdp_entry_fn fn, void *user);
// The answers to a search for target, each with its ST; fn may be NULL.
// The number of answers (those before fn stopped the walk).
uint32_t device_ssdp_search_answers(const upnp_desc_rec *desc, const char *target,
                                    device_ssdp_entry_fn fn, void *user);
// An M-SEARCH datagram of length bytes (read up to a NUL): 1 when it asks
// for a discovery, with the search target (heap, non-empty) and MX.
int device_ssdp_search_parse(const char *data, uint32_t length, char **target, uint32_t *mx);

// Announcements and search answers.
enum { DEVICE_SSDP_ALIVE, DEVICE_SSDP_BYEBYE, DEVICE_SSDP_ANSWER };
// The datagram of one entry into sa (replacing its contents).
int device_ssdp_message(sys_stralloc_rec *sa, int kind, const tarvo_device_ctx *ctx,
                        const char *location, const char *target, const char *udn,
                        const char *suffix);
// "http://<ip>:<port>/" with its NUL; buf holds DEVICE_SSDP_LOCATION_LEN.
inline constexpr uint32_t DEVICE_SSDP_LOCATION_LEN = 32;
void device_ssdp_location(char *buf, const uint8_t *ip, uint16_t port);
// Hands an accepted search (target taken over) to an answer thread of its
// own; 0 (target freed) when stopping, at the limit of concurrent answers
// or when no thread can be started.
int device_ssdp_answer_start(tarvo_device_ctx *ctx, const uint8_t *local_ip,
                             const uint8_t *remote_ip, uint16_t remote_port, char *target,
                             uint32_t mx);
// Wakes the SSDP thread to look at its flags (an address change, a socket
// request, the stop); nothing when it does not run.
void device_ssdp_wake(tarvo_device_ctx *ctx);
// Sleeps ms in short slices; 0 when the stop flag cut it short.
int device_sleep(const tarvo_device_ctx *ctx, uint32_t ms);
