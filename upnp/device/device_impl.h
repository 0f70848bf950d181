// Inside the device library: the context record, the connection record,
// the helpers that the HTTP core, SOAP control, CGI, GENA and SSDP share,
// and the hooks through which start and end reach GENA and SSDP.
#pragma once

#include <atomic>
#include <stdint.h>
#include <string_view>
#include <tarvo_device/device_limits.h>
#include <tarvo_device/tarvo_device.h>
#include <tarvo_util/conn_policy.h>
#include <tarvo_util/http_message.h>
#include <tarvo_util/http_server.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/sys_process.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/sys_thread.h>
#include <tarvo_util/upnp_desc.h>

// Fields that several threads touch without a lock are plain integers
// read and written through these, so that the context stays a zero-filled
// record.
template <class T> inline T device_load(const T &v)
{
  return std::atomic_ref<T>(const_cast<T &>(v)).load(std::memory_order_acquire);
}
template <class T> inline void device_store(T &v, T x)
{
  std::atomic_ref<T>(v).store(x, std::memory_order_release);
}

// The bytes of a static content, shared by the context and every answer
// being sent from them; the last holder frees them.
struct static_content_body {
  uint32_t refs;  // through device_load/device_store and atomic_ref
  uint32_t length;
  char *bytes;
};

struct static_content {
  char *path;       // the exact request path
  char *mime_type;
  static_content_body *body;  // replaced under the static-content mutex
};

// A connection that was refused and waits out its pause on the accept
// thread, closed when due.
struct device_paused {
  int socket;
  int64_t due_ms;  // steady clock
};

struct tarvo_device_ctx {
  tarvo_device_ctx **self;        // the caller's variable
  sys_mutex_handle ip_mutex;      // guards ip_list
  sys_memalloc_rec ip_list;       // 4-byte addresses, sys_ip4_list2 order
  sys_str_list disabled_if;       // may be NULL
  uint16_t http_port;             // after the start: the port bound
  char *document_root;            // may be NULL
  sys_str_list mime_map;          // <extension>:<type>, may be NULL
  sys_ptralloc_rec static_contents;  // static_content*, under static_mutex
  upnp_desc_rec *desc;
  uint32_t max_age;               // seconds, at least DEVICE_MAX_AGE_MIN_S
  char *server_name;
  int64_t content_time;           // atomic; modification time of static contents
  device_service_handler **handlers;  // NULL-terminated private copies
  device_access_handler access_fn;
  void *access_user;
  device_ip_change_handler ip_change_fn;
  void *ip_change_user;
  sys_mutex_handle live_mutex;    // guards ssdp_answer_count, conns (with each listed socket) and paused
  uint32_t ssdp_answer_count;     // running SSDP answer threads
  sys_thread_handle timer_thread;
  sys_mutex_handle sub_mutex;     // guards subscriptions
  sys_ptralloc_rec subscriptions;
  sockalloc_rec ssdp_sockets;
  sys_thread_handle ssdp_thread;
  int address_changed;            // atomic; set by the timer thread
  int listen_socket;              // closed with the context
  sys_thread_handle accept_thread;
  int suspend_control;            // atomic
  int ssdp_disabled;
  int stop;                       // atomic; once set, never cleared

  sys_mutex_handle static_mutex;  // guards static_contents and their bodies
  conn_policy_rec conns;          // the running connection threads, in accept order
  int accept_started;
  int timer_started;
  int stop_fd;                    // readable for good once the end began; -1 before the start
  int wake_fd;                    // wakes the accept thread for a new paused connection
  int address_watch;              // readable when an address changes; -1: the timer looks every DEVICE_ADDRESS_CHECK_S
  int addresses_stale;            // atomic; set from the watch for the timer thread
  uint32_t paused_len;
  device_paused paused[DEVICE_PAUSED_MAX];

  // --- GENA and SSDP keep their own fields below ---
  struct device_gena *gena;       // the event senders and the timer's wake-up; from device_gena_start
  int ssdp_running;               // atomic; the SSDP thread has not ended
  int ssdp_request;               // atomic; socket work the SSDP thread is asked to do
  int ssdp_quiet;                 // atomic; closed by the caller: nothing is announced until it opens
  int ssdp_wake;                  // under ip_mutex: readable when the SSDP thread has work
  int ssdp_wake_open;             // under ip_mutex: ssdp_wake is a descriptor
};

// One accepted connection.  The foundation's record leads, so that a
// device_conn* is an http_server_conn*.
struct device_conn {
  http_server_conn conn;
  sys_process_handle cgi_child;   // under live_mutex: a CGI program to stop at the end
  conn_policy_entry policy;       // its conn is conn
};

inline tarvo_device_ctx *device_conn_ctx(const http_server_conn *conn)
{
  return static_cast<tarvo_device_ctx *>(conn->owner);
}

inline int device_stopping(const tarvo_device_ctx *ctx) { return device_load(ctx->stop) != 0; }

// The caller's context, made zero-filled when *ctx is NULL; NULL when ctx
// is NULL or the context cannot be made.
tarvo_device_ctx *device_ctx_get(tarvo_device_ctx **ctx);

// --- shared by the HTTP core, SOAP control, GENA and CGI (device_http.cpp) ---

// The service whose control URL (event_url 0) or event URL (event_url 1),
// as written in the description, equals path without its leading '/',
// devices and services in description order, and the handler copy whose
// service_id equals that service's serviceId.  Fills info (addresses from
// conn).  0 when either is missing.
int device_service_find(const http_server_conn *conn, const char *path, int event_url,
                        device_request_info *info, const device_service_handler **handler);
// An error answer with a body (none for HEAD); the connection is not kept
// and closes after a pause of DEVICE_FAIL_PAUSE_MS, which the accept
// thread waits out so that it holds neither a thread nor a slot.
void device_fail_answer(http_server_conn *conn, const char *status);
// The header lines after the request line.  0 after a failed read, or
// after "400 Bad Request" for a Host that is not this machine's (DNS
// rebinding).
int device_request_headers(http_server_conn *conn, sys_str_list *lines);
// The root joined with a request path so that no component can begin
// with a dot and no separator repeats; an empty path gives the root.  0
// for a path that does not begin with '/' or on exhaustion.
int device_docroot_join(const char *root, const char *path, uint32_t path_len, char **out);
// The content time (modification time of static contents).
void device_content_time_set(tarvo_device_ctx *ctx, int64_t t);
// The value of a normalised header line after offset, without blanks and
// tabs around it.
std::string_view device_header_value(const char *line, uint32_t offset);
// ASCII case ignored.
bool device_case_equal(std::string_view a, const char *b);
// The value after offset is a decimal that fits, with nothing but blanks
// around it.
bool device_header_decimal(const char *line, uint32_t offset, uint64_t *n);
// A NUL-terminated heap copy of v; 0 on exhaustion.
int device_clone_view(std::string_view v, char **out);

// --- static contents (device_static.cpp) ---

// The first content registered at exactly path: its type (alive as long
// as the context) and a hold on its bytes, which the caller gives back
// with device_static_release.  0 when there is none.
int device_static_find(tarvo_device_ctx *ctx, const char *path, const char **mime_type,
                       static_content_body **body);
void device_static_release(static_content_body *body);
void device_static_free_all(tarvo_device_ctx *ctx);

// The accept thread's body; the argument is the context.
void device_accept_loop(void *ctx);
// Cuts every live connection (socket shut down, CGI program killed) so
// that its thread ends soon.
void device_conns_cut(tarvo_device_ctx *ctx);

// --- SOAP control (device_soap.cpp) and CGI (device_cgi.cpp) ---

void device_soap_serve(http_server_conn *conn, const http_request_startline_rec *start);

// What the header lines of a control request ask for.
// The command of a batch request, from its BATCH-COMMAND header.
enum device_batch_command { DEVICE_BATCH_NONE = 0, DEVICE_BATCH_ACCEPT = 1, DEVICE_BATCH_DELETE = 2 };

struct device_soap_request {
  int keep_alive;
  int chunked;
  int has_length;
  uint64_t length;
  char *service_type;   // from SOAPACTION, NULL without one
  char *action;
  int batch_mode;
  int batch_command;    // a device_batch_command
  uint32_t batch_delay;
  int expect_continue;  // an interim "100 continue" is owed
};
// Checks the header lines (NULL-terminated, normalised) of a control
// request in order and fills rq; NULL when they are acceptable, else the
// status line of the error answer.  rq is to be freed either way.
const char *device_soap_headers(char *const *lines, int http10, device_soap_request *rq);
void device_soap_request_free(device_soap_request *rq);
// The arguments of the action in a request body; empty lists for an
// action without any.  0 when the body is not a SOAP request.
int device_soap_args(const char *xml, sys_str_list *names, sys_str_list *values);
// The length of the script part of path (through ".cgi"), 0 when path
// names no CGI program.
uint32_t device_cgi_split(const char *path);
void device_cgi_serve(device_conn *dc, const http_request_startline_rec *start, uint32_t script_len);
// The header lines of a CGI program's answer, up to the empty line, and
// the status they ask for (pointing into lines or at a constant).
int device_cgi_answer_read(sys_filebuffer_rec *fb, sys_str_list *lines, const char **status);

// --- keeping the system awake (device_awake.cpp): a process-wide count ---

void device_awake_hold(void);
void device_awake_release(void);

// --- hooks into GENA and SSDP ---
// tarvo_device_start makes the mutexes of the context
// before the listener starts; then it calls device_gena_start, and
// device_ssdp_start unless SSDP is disabled.  tarvo_device_end sets the
// stop flag, signals stop_fd (waits of any thread may include it), cuts
// the live connections, calls device_ssdp_stop (unless disabled), joins
// the accept thread, calls device_gena_stop, waits for the live threads
// and calls device_gena_free last, before it frees the mutexes.  A
// failed start calls device_gena_stop when device_gena_start succeeded,
// and device_gena_free always.

// Starts the timer thread and the NOTIFY senders; 1, or 0 with none left
// running.
int device_gena_start(tarvo_device_ctx *ctx);
// Wakes and joins the timer thread and the senders, cutting NOTIFYs in
// flight; the stop flag is set.
void device_gena_stop(tarvo_device_ctx *ctx);
// On the accept thread when it stops: frees every subscription and the
// list, under the subscription mutex.
void device_gena_clear(tarvo_device_ctx *ctx);
// No thread is left: frees the subscriptions with their unsent NOTIFYs,
// the SSDP socket list and whatever GENA and SSDP keep in the context.
// It must accept a context whose GENA and SSDP fields are still zero.
void device_gena_free(tarvo_device_ctx *ctx);
// The address watch fired: the timer thread reads the address list again.
void device_addresses_stale(tarvo_device_ctx *ctx);
// SUBSCRIBE and UNSUBSCRIBE, on a connection thread; the request line is
// read, the path %-decoded, conn->http11 and conn->head set.  Sets
// conn->keep_alive when the connection is to serve another request.
void device_gena_serve(http_server_conn *conn, const http_request_startline_rec *start);
// The byebye set, the SSDP sockets and the SSDP thread; 1, or 0 with
// nothing left running.
int device_ssdp_start(tarvo_device_ctx *ctx);
// The byebye set; joins the SSDP thread.  The stop flag is set.
void device_ssdp_stop(tarvo_device_ctx *ctx);
