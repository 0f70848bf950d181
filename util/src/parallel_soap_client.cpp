// The parallel SOAP client: one action sent to many control URLs at once,
// each over a connection of its own, all waited on together.
#include <tarvo_util/http_client.h>
#include <tarvo_util/soap.h>
#include <tarvo_util/util_limits.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <poll.h>
#include <sys/socket.h>

#include "soap_internal.h"
#include "xml_internal.h"

namespace {

using clock_type = std::chrono::steady_clock;

std::atomic_ref<int32_t> cancel_flag(parallel_soap_client_rec *pc) { return std::atomic_ref<int32_t>(pc->canceled); }

struct job {
  http_client client = nullptr;
  parallel_soap_client_result_rec *result = nullptr;
};

struct session {
  sys_ptralloc_rec jobs{};  // job *, in URL order

  ~session()
  {
    for (uint32_t i = 0; i < jobs.len; i++) {
      job *j = at(i);
      http_client_free(&j->client);
      parallel_soap_client_result_free(j->result);
      sys_alloc_free(j);
    }
    sys_ptralloc_free(&jobs);
  }
  job *at(uint32_t i) const { return static_cast<job *>(jobs.buf[i]); }

  // Hands the results over as a NULL-terminated array.
  bool hand_over(parallel_soap_client_result_rec ***out)
  {
    auto **a = static_cast<parallel_soap_client_result_rec **>(
        sys_alloc_zero((size_t(jobs.len) + 1) * sizeof(parallel_soap_client_result_rec *)));
    if (!a) return false;
    for (uint32_t i = 0; i < jobs.len; i++) {
      a[i] = at(i)->result;
      at(i)->result = nullptr;
    }
    *out = a;
    return true;
  }
};

bool socket_failed(int fd, short revents)
{
  if (revents & (POLLERR | POLLHUP | POLLNVAL)) return true;
  int err = 0;
  socklen_t len = sizeof err;
  return getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0;
}

struct request {
  const char *service_type, *action, *body;
  char *const *extra_lines;
};

// One step of a result whose socket reported something.
void advance(job *j, short revents, const request &rq, int32_t ms_left)
{
  parallel_soap_client_result_rec *r = j->result;
  http_client *c = &j->client;
  auto fail = [r] {
    r->state = PARALLEL_SOAP_FAILED;
    r->error_code = SOAP_ACTION_FAILED;
  };
  switch (r->state) {
  case PARALLEL_SOAP_CONNECTING_POST:
  case PARALLEL_SOAP_CONNECTING_MPOST: {
    bool mpost = r->state == PARALLEL_SOAP_CONNECTING_MPOST;
    if (socket_failed(http_client_get_socket(c), revents) ||
        !soap_write_request(c, mpost, rq.service_type, rq.action, rq.extra_lines, rq.body))
      return fail();
    r->state = mpost ? PARALLEL_SOAP_AWAITING_MPOST : PARALLEL_SOAP_AWAITING_POST;
    return;
  }
  case PARALLEL_SOAP_AWAITING_POST:
  case PARALLEL_SOAP_AWAITING_MPOST: {
    // A stalled answer may hold this call no longer than the time left.
    http_client_set_read_timeout(c, uint32_t(ms_left > 0 ? ms_left : 1));
    sys_stralloc_rec sa{};
    soap_body_sink sink{&sa, nullptr, SOAP_BODY_MAX};
    int status = 0;
    bool ok = soap_read_answer(c, &status, &sink) && sink.terminate();
    if (ok && status == 405 && r->state == PARALLEL_SOAP_AWAITING_POST) {
      http_client_disconnect(c);
      ok = http_client_connect_async(c);
      r->state = PARALLEL_SOAP_CONNECTING_MPOST;
    } else if (ok) {
      ok = soap_result(status, sa.buf, &r->out_names, &r->out_values, &r->error_code);
      r->state = PARALLEL_SOAP_ANSWERED;
    }
    sys_stralloc_free(&sa);
    if (!ok) fail();
    return;
  }
  default: return;
  }
}

bool waiting(int32_t state) { return state >= PARALLEL_SOAP_CONNECTING_POST && state <= PARALLEL_SOAP_AWAITING_MPOST; }

}  // namespace

extern "C" {

void parallel_soap_client_init(parallel_soap_client_rec *pc)
{
  pc->timeout_ms = PARALLEL_SOAP_TIMEOUT_MS;
  cancel_flag(pc).store(0);
}

void parallel_soap_client_set_timeout(parallel_soap_client_rec *pc, int32_t timeout_ms) { pc->timeout_ms = timeout_ms; }

void parallel_soap_client_set_cancel(parallel_soap_client_rec *pc, int32_t canceled) { cancel_flag(pc).store(canceled); }

int parallel_soap_client_is_canceled(parallel_soap_client_rec *pc) { return cancel_flag(pc).load() != 0; }

int parallel_soap_client_action(parallel_soap_client_rec *pc, char *const *control_urls, const char *service_type,
                                const char *action, char *const *extra_lines, const char *body,
                                parallel_soap_client_result_rec ***results)
{
  const request rq{service_type, action, body, extra_lines};
  const auto deadline = clock_type::now() + std::chrono::milliseconds(pc->timeout_ms);
  session s;
  for (char *const *u = control_urls; *u; u++) {
    job *j = xml_zalloc<job>();
    if (!j || !sys_ptralloc_append(&s.jobs, j)) {
      sys_alloc_free(j);
      return 0;
    }
    j->result = xml_zalloc<parallel_soap_client_result_rec>();
    if (!j->result || !sys_str_clone(*u, &j->result->control_url) || !http_client_init(&j->client, *u)) return 0;
    http_client_set_read_timeout(&j->client, uint32_t(pc->timeout_ms));
  }
  for (uint32_t i = 0; i < s.jobs.len; i++) {
    if (!http_client_connect_async(&s.at(i)->client)) return 0;
    s.at(i)->result->state = PARALLEL_SOAP_CONNECTING_POST;
  }
  sys_memalloc_rec fds_mem{};
  sys_uint32alloc_rec which{};
  auto done = [&](bool ok) {
    sys_memalloc_free(&fds_mem);
    sys_uint32alloc_free(&which);
    return ok && s.hand_over(results);
  };
  for (;;) {
    fds_mem.len = 0;
    which.len = 0;
    for (uint32_t i = 0; i < s.jobs.len; i++) {
      int32_t st = s.at(i)->result->state;
      if (!waiting(st)) continue;
      pollfd p{http_client_get_socket(&s.at(i)->client), short(st <= PARALLEL_SOAP_CONNECTING_MPOST ? POLLOUT : POLLIN), 0};
      if (!sys_memalloc_catb(&fds_mem, &p, sizeof p) || !sys_uint32alloc_append(&which, i)) return done(false);
    }
    if (!which.len) break;
    if (parallel_soap_client_is_canceled(pc)) return done(false);
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now()).count();
    if (left <= 0) break;
    auto *fds = reinterpret_cast<pollfd *>(fds_mem.buf);
    int n = poll(fds, which.len, int(left < PARALLEL_SOAP_WAIT_SLICE_MS ? left : PARALLEL_SOAP_WAIT_SLICE_MS));
    if (n < 0 && errno != EINTR) return done(false);
    if (n <= 0) continue;
    for (uint32_t k = 0; k < which.len; k++) {
      if (!fds[k].revents) continue;
      left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now()).count();
      advance(s.at(which.buf[k]), fds[k].revents, rq, int32_t(left));
    }
  }
  return done(true);
}

void parallel_soap_client_result_free(parallel_soap_client_result_rec *result)
{
  if (!result) return;
  sys_alloc_free(result->control_url);
  sys_str_list_free(result->out_names);
  sys_str_list_free(result->out_values);
  sys_alloc_free(result);
}

void parallel_soap_client_result_list_free(parallel_soap_client_result_rec **results)
{
  if (!results) return;
  for (parallel_soap_client_result_rec **r = results; *r; r++) parallel_soap_client_result_free(*r);
  sys_alloc_free(results);
}

}  // extern "C"
