// The SOAP client: requests, answers, and the one-call actions with their
// M-POST fallback and single retry.
#include <tarvo_util/http_client.h>
#include <tarvo_util/soap.h>
#include <tarvo_util/util_limits.h>

#include <initializer_list>

#include "soap_internal.h"

namespace {

constexpr uint32_t kReadPiece = 8192;
constexpr uint32_t kTransportFailure = SOAP_ACTION_FAILED;

bool put(sys_socketbuffer_rec *out, const char *s) { return sys_socketbuffer_puts(out, s); }

}  // namespace

bool soap_body_sink::put(const char *data, uint32_t n)
{
  if (n > cap - len) return false;
  if (sa) {
    if (!sys_stralloc_catb(sa, data, n)) return false;
  } else {
    sys_byte_copy(buf + len, n, data);
  }
  len += n;
  return true;
}

bool soap_body_sink::terminate()
{
  if (sa) return sys_stralloc_append(sa, "");
  buf[len] = 0;
  return true;
}

void soap_body_sink::reset()
{
  len = 0;
  if (sa) sa->len = 0;
}

int soap_write_request(http_client *client, bool mpost, const char *service_type, const char *action,
                       char *const *extra_lines, const char *body)
{
  const uri_rec *url = http_client_get_url(client);
  sys_socketbuffer_rec *out = http_client_get_socketbuffer_out(client);
  char len[20];
  uint64_t length = uint64_t(sys_str_len(body)) + soap_xml_begin_len() + soap_xml_end_len();
  len[sys_str_fmt_uint64(len, length)] = 0;
  bool ok = put(out, mpost ? "M-POST " : "POST ") && put(out, url->path) &&
            (!*url->query || (put(out, "?") && put(out, url->query))) && put(out, " HTTP/1.1\r\nHOST: ") &&
            put(out, url->host) && (!*url->port || (put(out, ":") && put(out, url->port))) &&
            put(out, "\r\nUSER-AGENT: DLNADOC/1.50\r\nCONTENT-LENGTH: ") && put(out, len) &&
            put(out, "\r\nCONTENT-TYPE: text/xml; charset=\"utf-8\"\r\n") &&
            put(out, mpost ? "MAN: \"" SOAP_ENVELOPE_NS "\"; ns=01\r\n01-SOAPACTION: \"" : "SOAPACTION: \"") &&
            put(out, service_type) && put(out, "#") && put(out, action) && put(out, "\"\r\nCONNECTION: close\r\n");
  for (char *const *l = extra_lines; ok && l && *l; l++) ok = put(out, *l) && put(out, "\r\n");
  return ok && put(out, "\r\n") && put(out, soap_xml_begin()) && put(out, body) && put(out, soap_xml_end()) &&
         sys_socketbuffer_flush(out);
}

int soap_read_response(http_client *client, int status, soap_body_sink *sink)
{
  if (!http_client_read_response_header(client)) return 0;
  if (status == 100) return 1;
  sink->reset();
  // A length the sink cannot take fails before anything is read.
  if (const char *cl = http_client_header(client, "content-length:")) {
    uint64_t n = 0;
    sys_str_scan_uint64(cl, &n);
    if (n > sink->cap) return 0;
  }
  char piece[kReadPiece];
  for (;;) {
    uint32_t got;
    if (!http_client_read(client, piece, sizeof piece, &got)) return 0;
    if (!got) return 1;
    if (!sink->put(piece, got)) return 0;
  }
}

int soap_read_answer(http_client *client, int *status, soap_body_sink *sink)
{
  for (uint32_t interim = 0; interim <= HTTP_CLIENT_INTERIM_MAX; interim++) {
    int code = 0;
    *status = http_client_status(client, &code) ? code : 0;
    if (!*status || !soap_read_response(client, *status, sink)) return 0;
    if (*status != 100) return 1;
  }
  return 0;
}

bool soap_result(int status, const char *body, sys_str_list *out_names, sys_str_list *out_values, uint32_t *code)
{
  *code = kTransportFailure;
  if (status < 200 || status > 299) return soap_fault_parse(body, code);
  if (out_names && out_values && !soap_parse(body, out_names, out_values)) return false;
  *code = 0;
  return true;
}

namespace {

// Request, answer, and on 405 the same again as M-POST on a new
// connection; the body NUL-terminated in the sink.  *answered tells
// whether the device gave its final status, that is, whether it has acted.
bool exchange(http_client *client, const char *service_type, const char *action, char *const *extra_lines,
              const char *body, soap_body_sink *sink, int *status, bool *answered)
{
  *answered = false;
  for (bool mpost : {false, true}) {
    if (mpost) http_client_disconnect(client);
    if (!http_client_connect(client) ||
        !soap_write_request(client, mpost, service_type, action, extra_lines, body))
      return false;
    *status = 0;
    bool ok = soap_read_answer(client, status, sink);
    *answered = *status && *status != 100 && (mpost || *status != 405);
    if (!ok) return false;
    if (*answered) return sink->terminate();
  }
  return false;
}

// The exchange, run once more on a fresh connection when it failed before
// the device answered (a kept connection it had closed, say), unless it
// timed out or was cancelled.  An action the device answered is never sent
// twice.
bool exchange_with_retry(http_client *client, const char *service_type, const char *action,
                         char *const *extra_lines, const char *body, soap_body_sink *sink, int *status)
{
  bool answered;
  if (exchange(client, service_type, action, extra_lines, body, sink, status, &answered)) return true;
  bool retry = !answered && !http_client_is_connect_timeout(client) && !http_client_is_read_timeout(client) &&
               !http_client_is_write_timeout(client) && !http_client_is_canceled(client);
  // What is left of a failed answer must not be read as the next one.
  http_client_disconnect(client);
  if (!retry) return false;
  if (exchange(client, service_type, action, extra_lines, body, sink, status, &answered)) return true;
  http_client_disconnect(client);
  return false;
}

void clear_lists(sys_str_list *out_names, sys_str_list *out_values)
{
  if (out_names) *out_names = nullptr;
  if (out_values) *out_values = nullptr;
}

}  // namespace

extern "C" {

int soap_client_write_post_request(http_client *client, const char *service_type, const char *action,
                                   char *const *extra_lines, const char *body)
{
  return soap_write_request(client, false, service_type, action, extra_lines, body);
}

int soap_client_write_mpost_request(http_client *client, const char *service_type, const char *action,
                                    char *const *extra_lines, const char *body)
{
  return soap_write_request(client, true, service_type, action, extra_lines, body);
}

int soap_client_read_response(http_client *client, int status, sys_stralloc_rec *sa)
{
  soap_body_sink sink{sa, nullptr, SOAP_BODY_MAX};
  return soap_read_response(client, status, &sink);
}

uint32_t soap_client_action(const char *control_url, const char *service_type, const char *action,
                            char *const *extra_lines, const char *body, sys_str_list *out_names,
                            sys_str_list *out_values)
{
  clear_lists(out_names, out_values);
  http_client client = nullptr;
  if (!http_client_init(&client, control_url)) return kTransportFailure;
  sys_stralloc_rec sa{};
  soap_body_sink sink{&sa, nullptr, SOAP_BODY_MAX};
  int status = 0;
  bool answered;
  uint32_t code = kTransportFailure;
  if (exchange(&client, service_type, action, extra_lines, body, &sink, &status, &answered))
    soap_result(status, sa.buf, out_names, out_values, &code);
  sys_stralloc_free(&sa);
  http_client_free(&client);
  return code;
}

uint32_t soap_client_action2(http_client *client, const char *service_type, const char *action,
                             char *const *extra_lines, const char *body, sys_str_list *out_names,
                             sys_str_list *out_values)
{
  clear_lists(out_names, out_values);
  sys_stralloc_rec sa{};
  soap_body_sink sink{&sa, nullptr, SOAP_BODY_MAX};
  int status = 0;
  uint32_t code = kTransportFailure;
  if (exchange_with_retry(client, service_type, action, extra_lines, body, &sink, &status))
    soap_result(status, sa.buf, out_names, out_values, &code);
  sys_stralloc_free(&sa);
  return code;
}

uint32_t soap_client_action_buf(http_client *client, char *buf, uint32_t size, const char *service_type,
                                const char *action, char *const *extra_lines, const char *body)
{
  if (!size) return kTransportFailure;
  soap_body_sink sink{nullptr, buf, size - 1};
  int status = 0;
  uint32_t code = kTransportFailure;
  if (exchange_with_retry(client, service_type, action, extra_lines, body, &sink, &status))
    soap_result(status, buf, nullptr, nullptr, &code);
  return code;
}

}  // extern "C"
