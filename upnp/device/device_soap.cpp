// Control requests: a POST to a service's control URL is handed to the
// service's handler record as an action, a state-variable query, or a
// command of the batch extension, and answered with a SOAP envelope or an
// empty answer.
#include "device_impl.h"

#include <algorithm>
#include <string_view>
#include <tarvo_util/dlna.h>
#include <tarvo_util/soap.h>
#include <tarvo_util/xml.h>

namespace {

// The arguments of a call, by name and value.
struct action_args {
  own::str_list names, values;
};

// "\"" service type "#" action "\"", both non-empty.
bool soapaction_parse(const char *line, uint32_t offset, device_soap_request *rq)
{
  std::string_view v = device_header_value(line, offset);
  if (v.size() < 2 || v.front() != '"' || v.back() != '"') return false;
  v = v.substr(1, v.size() - 2);
  size_t hash = v.find('#');
  if (hash == v.npos || hash == 0 || hash + 1 == v.size() || v.find('"') != v.npos) return false;
  sys_alloc_free(rq->service_type);
  sys_alloc_free(rq->action);
  rq->service_type = rq->action = nullptr;
  // Both are freed with the request, also when the second copy fails.
  return device_clone_view(v.substr(0, hash), &rq->service_type) &&
         device_clone_view(v.substr(hash + 1), &rq->action);
}

// What a header handler sees: the line, where its value starts, and the
// request it fills in.
struct header_in {
  const char *line;
  uint32_t at;
  int http10;
  device_soap_request *rq;
  bool *close, *host;
  std::string_view value() const { return device_header_value(line, at); }
};

// Each handler returns NULL, or the status of the error answer.
using header_fn = const char *(*)(const header_in &);

const char *on_content_range(const header_in &) { return "501 I do not accept Content-Range"; }

const char *on_host(const header_in &h)
{
  *h.host = true;
  return nullptr;
}

const char *on_connection(const header_in &h)
{
  if (http_header_value_case_equal(h.line, h.at, "close")) *h.close = true;
  return nullptr;
}

const char *on_expect(const header_in &h)
{
  if (!device_case_equal(h.value(), "100-continue")) return "417 unsupported Expect";
  h.rq->expect_continue = !h.http10;
  return nullptr;
}

const char *on_content_type(const header_in &h)
{
  const char *v = h.line + h.at;
  v += http_header_skipspace(v);
  if (!mimetype_major_equal(v, "text") || !mimetype_sub_equal(v, "xml")) return "415 unsupported Content-Type";
  return nullptr;
}

const char *on_transfer_encoding(const header_in &h)
{
  if (!device_case_equal(h.value(), "chunked")) return "505 I do not accept Transfer-Encoding";
  h.rq->chunked = 1;
  return nullptr;
}

const char *on_content_length(const header_in &h)
{
  if (!device_header_decimal(h.line, h.at, &h.rq->length)) return "412 invalid Content-Length";
  h.rq->has_length = 1;
  return nullptr;
}

const char *on_soapaction(const header_in &h)
{
  return soapaction_parse(h.line, h.at, h.rq) ? nullptr : "412 invalid SOAPAction";
}

const char *on_batch_mode(const header_in &h)
{
  if (device_case_equal(h.value(), "true")) h.rq->batch_mode = 1;
  else if (!device_case_equal(h.value(), "false")) return "400 Invalid BATCH-MODE";
  return nullptr;
}

const char *on_batch_command(const header_in &h)
{
  if (device_case_equal(h.value(), "AcceptBatch")) h.rq->batch_command = DEVICE_BATCH_ACCEPT;
  else if (device_case_equal(h.value(), "DeleteBatch")) h.rq->batch_command = DEVICE_BATCH_DELETE;
  else return "400 Invalid BATCH-COMMAND";
  return nullptr;
}

const char *on_batch_delay(const header_in &h)
{
  uint64_t d = 0;
  if (!device_header_decimal(h.line, h.at, &d) || d > UINT32_MAX) return "412 Invalid BATCH_DELAY";
  h.rq->batch_delay = uint32_t(d);
  return nullptr;
}

struct header_entry {
  const char *name;  // with its colon, matched without case
  header_fn fn;
};

constexpr header_entry kHeaders[] = {
    {"content-range:", on_content_range},   {"host:", on_host},
    {"connection:", on_connection},         {"expect:", on_expect},
    {"content-type:", on_content_type},     {"transfer-encoding:", on_transfer_encoding},
    {"content-length:", on_content_length}, {"soapaction:", on_soapaction},
    {"batch-mode:", on_batch_mode},         {"batch-command:", on_batch_command},
    {"batch_delay:", on_batch_delay},
};

// One header line; NULL, or the status of the error answer.
const char *header_check(const char *line, int http10, device_soap_request *rq, bool *close, bool *host)
{
  for (const header_entry &e : kHeaders)
    if (sys_str_case_start(line, e.name)) return e.fn(header_in{line, sys_str_len(e.name), http10, rq, close, host});
  return nullptr;
}

// A chunked body of at most DEVICE_SOAP_BODY_MAX bytes, appended to sa.
int read_chunked(http_server_conn *conn, sys_stralloc_rec *sa, bool *too_large)
{
  own::stralloc line;
  for (;;) {
    uint64_t size = 0;
    if (!http_header_readline(&conn->in, &line.s) || !line.s.len || line.s.len > DEVICE_CHUNK_LINE_MAX ||
        !sys_stralloc_append(&line.s, "") || !sys_str_scan_xint64(line.s.buf, &size))
      return 0;
    if (!size) {
      sys_str_list trailer = nullptr;
      int ok = http_header_read(&conn->in, &trailer);
      sys_str_list_free(trailer);
      return ok;
    }
    if (size > DEVICE_SOAP_BODY_MAX - sa->len) {
      *too_large = true;
      return 0;
    }
    if (!http_server_read(conn, size, sa) || !http_header_readline(&conn->in, &line.s) || line.s.len) return 0;
  }
}

// The header of an answer; the connection stays open for another request
// only when keep is set.
int answer_head(http_server_conn *conn, const char *status, bool keep, uint64_t length)
{
  char num[24];
  num[sys_str_fmt_uint64(num, length)] = '\0';
  sys_socketbuffer_rec *sb = &conn->out;
  return http_server_write_common_header(sb, status, conn->server_name) &&
         (keep || sys_socketbuffer_puts(sb, "CONNECTION: close\r\n")) &&
         sys_socketbuffer_puts(sb, "EXT:\r\n") &&
         sys_socketbuffer_puts(sb, "CONTENT-TYPE: text/xml;charset=\"utf-8\"\r\n") &&
         sys_socketbuffer_puts(sb, "CONTENT-LENGTH: ") && sys_socketbuffer_puts(sb, num) &&
         sys_socketbuffer_puts(sb, "\r\n\r\n");
}

void empty_answer(http_server_conn *conn, const char *status, bool keep)
{
  if (answer_head(conn, status, keep, 0) && sys_socketbuffer_flush(&conn->out))
    conn->keep_alive = keep;
}

void soap_answer(http_server_conn *conn, uint32_t code, const sys_stralloc_rec *body, bool keep)
{
  sys_socketbuffer_rec *sb = &conn->out;
  uint64_t length = uint64_t(soap_xml_begin_len()) + body->len + soap_xml_end_len();
  if (answer_head(conn, code ? "500 Internal Server Error" : "200 OK", keep, length) &&
      sys_socketbuffer_put(sb, soap_xml_begin(), soap_xml_begin_len()) &&
      sys_socketbuffer_put(sb, body->buf, body->len) &&
      sys_socketbuffer_put(sb, soap_xml_end(), soap_xml_end_len()) && sys_socketbuffer_flush(sb))
    conn->keep_alive = keep;
}

// The response element of QueryStateVariable, or the handler's code.
uint32_t query(const device_request_info *info, const device_service_handler *h, const action_args &args,
               sys_stralloc_rec *out)
{
  const char *var = nullptr;
  for (uint32_t i = 0; args.names.l[i] && args.values.l[i]; i++)
    if (!sys_str_diff(args.names.l[i], "varName")) var = args.values.l[i];
  if (!var) return 402;
  if (!h->query) return 401;
  char *value = nullptr;
  uint32_t code = h->query(info, var, h->user, &value);
  if (!code && !(soap_xml_response_begin(out, SOAP_CONTROL_NS, "QueryStateVariable") &&
                 xml_gen_element_append(out, "return", value) &&
                 soap_xml_response_end(out, "QueryStateVariable")))
    code = 501;
  sys_alloc_free(value);
  return code;
}

uint32_t action(const device_request_info *info, const device_service_handler *h, const char *name,
                const action_args &args, sys_stralloc_rec *out)
{
  if (!h->action) return 401;
  char *body = nullptr;
  uint32_t code = h->action(info, name, args.names.l, args.values.l, h->user, &body);
  // Success without the response element is no answer either.
  if (!code && !body) code = 501;
  if (!code && !out->buf) {
    // The handler's text becomes the answer as it is: a large Result is
    // not copied once more.
    out->len = sys_str_len(body);
    out->a = out->len + 1;
    out->buf = body;
    body = nullptr;
  } else if (!code && !sys_stralloc_cats(out, body)) {
    code = 501;
  }
  sys_alloc_free(body);
  return code;
}

// The request after its headers: body, dispatch, answer.
void serve_request(http_server_conn *conn, const device_request_info *info,
                   const device_service_handler *h, const device_soap_request *rq)
{
  bool keep = rq->keep_alive;
  if (rq->expect_continue &&
      !(http_server_write_common_header(&conn->out, "100 continue", conn->server_name) &&
        sys_socketbuffer_putsflush(&conn->out, "CONTENT-LENGTH: 0\r\n\r\n")))
    return;
  own::stralloc body;
  bool too_large = false;
  // A body that cannot be read or parsed is answered, so that the client
  // does not take it for a network failure and send it again.
  if (!(rq->chunked ? read_chunked(conn, &body.s, &too_large) : http_server_read(conn, rq->length, &body.s))) {
    device_fail_answer(conn, too_large ? "413 request entity too large" : "400 Bad Request");
    return;
  }
  if (!sys_stralloc_append(&body.s, "")) return;
  if (rq->batch_command) {
    empty_answer(conn, rq->batch_mode ? "202 Accepted" : "200 OK", keep);
    if (rq->batch_command == DEVICE_BATCH_ACCEPT && h->accept_batch)
      h->accept_batch(info, rq->batch_delay, h->user);
    else if (rq->batch_command == DEVICE_BATCH_DELETE && h->delete_batch)
      h->delete_batch(info, h->user);
    return;
  }
  action_args args;
  own::stralloc out;
  uint32_t code;
  auto parsed = [&] {
    if (device_soap_args(body.s.buf, &args.names.l, &args.values.l)) return true;
    device_fail_answer(conn, "400 Bad Request");
    return false;
  };
  if (!sys_str_diff(rq->service_type, SOAP_CONTROL_NS) &&
      !sys_str_diff(rq->action, "QueryStateVariable")) {
    if (!parsed()) return;
    code = query(info, h, args, &out.s);
  } else if (!info->service_type || !upnp_urn_version_le(rq->service_type, info->service_type)) {
    http_server_write_error_response(&conn->out, "401 invalid action", conn->server_name, 1);
    return;
  } else if (rq->batch_mode) {
    if (!parsed()) return;
    code = h->batch ? h->batch(info, rq->action, args.names.l, args.values.l, h->user) : 501;
    empty_answer(conn, code ? "500 Internal Server Error" : "202 Accepted", keep);
    return;
  } else {
    if (!parsed()) return;
    code = action(info, h, rq->action, args, &out.s);
  }
  if (code) {
    out.s.len = 0;
    if (!soap_xml_fault(&out.s, SOAP_CONTROL_NS, code, "error")) return;
  }
  soap_answer(conn, code, &out.s, keep);
}

}  // namespace

const char *device_soap_headers(char *const *lines, int http10, device_soap_request *rq)
{
  *rq = device_soap_request{};
  bool close = false, host = false;
  for (char *const *l = lines; l && *l; l++)
    if (const char *status = header_check(*l, http10, rq, &close, &host)) return status;
  if (!host && !http10) return "400 HTTP/1.1 requests must include a host name";
  if (!rq->has_length && !rq->chunked) return "411 I need Content-Length";
  if (!rq->batch_command && !rq->action) return "412 I need SOAPAction";
  if (!rq->chunked && rq->length > DEVICE_SOAP_BODY_MAX) return "413 request entity too large";
  rq->keep_alive = !close && !http10;
  return nullptr;
}

void device_soap_request_free(device_soap_request *rq)
{
  sys_alloc_free(rq->service_type);
  sys_alloc_free(rq->action);
  rq->service_type = rq->action = nullptr;
}

int device_soap_args(const char *xml, sys_str_list *names, sys_str_list *values)
{
  *names = *values = nullptr;
  if (!soap_parse(xml, names, values)) return 0;
  if (*names && *values) return 1;
  sys_str_list_free(*names);
  sys_str_list_free(*values);
  *names = static_cast<sys_str_list>(sys_alloc_zero(sizeof(char *)));
  *values = static_cast<sys_str_list>(sys_alloc_zero(sizeof(char *)));
  if (*names && *values) return 1;
  sys_str_list_free(*names);
  sys_str_list_free(*values);
  *names = *values = nullptr;
  return 0;
}

void device_soap_serve(http_server_conn *conn, const http_request_startline_rec *start)
{
  device_request_info info{};
  const device_service_handler *h = nullptr;
  if (!device_service_find(conn, start->uri.path, 0, &info, &h)) {
    http_server_write_error_response(&conn->out, "404 not found", conn->server_name, 1);
    return;
  }
  sys_str_list lines = nullptr;
  if (!device_request_headers(conn, &lines)) return;
  device_soap_request rq;
  const char *status = device_soap_headers(lines, !conn->http11, &rq);
  sys_str_list_free(lines);
  if (status)
    device_fail_answer(conn, status);
  else
    serve_request(conn, &info, h, &rq);
  device_soap_request_free(&rq);
}
