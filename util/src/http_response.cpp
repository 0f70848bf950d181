// Status lines, error answers and the headers of file, range, time-seek
// and DLNA answers.
#include <tarvo_util/dlna.h>
#include <tarvo_util/http_message.h>
#include <tarvo_util/http_server.h>
#include <tarvo_util/sys_time.h>

#include "http_impl.h"

#include <cstring>
#include <string_view>

namespace {

const char kNotModified[] = "304 not modified";

// Writes pieces into a socket buffer; the first failure sticks.
struct out {
  sys_socketbuffer_rec *sb;
  bool ok = true;

  out &s(const char *x)
  {
    ok = ok && sys_socketbuffer_puts(sb, x ? x : "");
    return *this;
  }
  out &b(const char *x, uint32_t n)
  {
    ok = ok && sys_socketbuffer_put(sb, x, n);
    return *this;
  }
  out &u(uint64_t v)
  {
    char t[24];
    return b(t, sys_str_fmt_uint64(t, v));
  }
  // Milliseconds as seconds, with three decimals when they are not whole.
  out &npt(uint32_t ms)
  {
    u(ms / 1000);
    if (ms % 1000) {
      char t[4] = {'.'};
      sys_str_fmt_0uint32(t + 1, ms % 1000, 3);
      b(t, 4);
    }
    return *this;
  }
};

// The inputs of one GET/HEAD answer.
struct answer {
  sys_socketbuffer_rec *sb;
  int head_only;
  const http_server_request_rec *req;
  const char *server_name;
  const char *mime;
  const char *features;
  int64_t mtime;
  bool chunked;      // output of unknown length: no CONTENT-LENGTH
  int http11;
  char date[40];     // the modification time in RFC 1123 form

  const char *value(char *const http_server_request_rec::*f) const { return req ? req->*f : nullptr; }
  bool not_modified() const
  {
    const char *ims = value(&http_server_request_rec::if_modified_since);
    return ims && !std::strcmp(ims, date);
  }
};

void date_text(answer *a)
{
  a->date[http_date_fmt(a->date, &a->mtime)] = 0;
}

// A decimal of any length; numbers beyond 64 bits count as the largest.
uint32_t scan_count(const char *s, uint64_t *v)
{
  uint32_t k = tarvo_impl::scan_dec(s, UINT64_MAX, v);
  if (k) return k;
  while (s[k] >= '0' && s[k] <= '9') k++;
  if (k) *v = UINT64_MAX;
  return k;
}

// Evaluates a Range value against the entity: 200 (whole), 206, 400 or
// 416.  offset and length are set for 200 and 206.
int eval_range(const char *value, const char *if_range, const char *date, http_server_range_rec *r)
{
  r->offset = 0;
  r->length = r->size;
  if (!r->size || (if_range && std::strcmp(if_range, date))) return 200;
  const char *p = value;
  if (!sys_str_case_start(p, "bytes")) return 400;
  p += 5;
  p += http_header_skipspace(p);
  if (*p++ != '=') return 400;
  p += http_header_skipspace(p);
  uint64_t a, e;
  uint32_t k;
  if (*p == '-') {
    p++;
    p += http_header_skipspace(p);
    if (!(k = scan_count(p, &a)) || p[k]) return 400;
    if (!a) return 416;
    a = std::min(a, r->size);
    r->offset = r->size - a;
    r->length = a;
    return 206;
  }
  if (!(k = scan_count(p, &a))) return 400;
  if (a >= r->size) return 416;
  p += k;
  p += http_header_skipspace(p);
  if (*p++ != '-') return 400;
  p += http_header_skipspace(p);
  if (!*p) {
    r->offset = a;
    r->length = r->size - a;
    return 206;
  }
  if (!(k = scan_count(p, &e)) || p[k]) return 400;
  if (e < a) return 416;
  e = std::min(e, r->size - 1);
  r->offset = a;
  r->length = e - a + 1;
  return 206;
}

// The Vary list and contentFeatures.dlna.org of a DLNA answer.
void dlna_headers(out &o, const char *features)
{
  if (!features || !*features) return;
  bool seek = false, speed = false;
  for (std::string_view rest(features); !rest.empty();) {
    size_t semi = std::min(rest.find(';'), rest.size());
    std::string_view param = rest.substr(0, semi);
    rest.remove_prefix(std::min(semi + 1, rest.size()));
    if (param.starts_with("DLNA.ORG_OP=")) seek = seek || (param.size() > 12 && param[12] == '1');
    if (param.starts_with("DLNA.ORG_PS=")) speed = true;
  }
  sys_stralloc_rec vary{};
  o.ok = o.ok && (!seek || csv_append(&vary, "TimeSeekRange.dlna.org")) &&
         (!speed || csv_append(&vary, "PlaySpeed.dlna.org"));
  csv_end(&vary);
  if (vary.len) o.s("Vary: ").b(vary.buf, vary.len).s("\r\n");
  sys_stralloc_free(&vary);
  o.s("contentFeatures.dlna.org: ").s(features).s("\r\n");
}

// Everything after the status-specific lines: LAST-MODIFIED, CONTENT-TYPE,
// the length or the chunked coding, CONNECTION, the DLNA headers, the
// empty line; then the flush.  length NULL writes no CONTENT-LENGTH.
// The end of an answer's header, flushed; body says whether a body is to
// follow it at once.
int finish(out &o, const answer &a, const uint64_t *length, bool body)
{
  int64_t now;
  sys_time_now(&now);
  if (now - a.mtime > HTTP_LAST_MODIFIED_MIN_AGE_S) o.s("LAST-MODIFIED: ").s(a.date).s("\r\n");
  o.s("CONTENT-TYPE: ").s(a.mime).s("\r\n");
  if (a.chunked) {
    if (a.http11) o.s("TRANSFER-ENCODING: chunked\r\n");
  } else if (length) {
    o.s("CONTENT-LENGTH: ").u(*length).s("\r\n");
  }
  if (!a.req || !a.req->keep_alive) o.s("CONNECTION: close\r\n");
  // DLNA clients expect the transfer mode they asked for to be confirmed.
  if (a.req && a.req->transfer_mode) o.s("transferMode.dlna.org: ").s(a.req->transfer_mode).s("\r\n");
  dlna_headers(o, a.features);
  o.s("\r\n");
  // Held back for the first body bytes, so that both leave in one segment;
  // only for a body of known length that follows at once (output still to
  // be made, or none at all, would leave the header waiting).
  if (body && !a.chunked && length && *length) return o.ok && sys_socketbuffer_flush_more(a.sb);
  return o.ok && sys_socketbuffer_flush(a.sb);
}

int file_answer(answer &a, int *send_body, http_server_range_rec *range)
{
  date_text(&a);
  *send_body = 0;
  const char *status = "200 OK";
  bool partial = false, not_modified = false;
  const char *r = a.value(&http_server_request_rec::range);
  if (a.value(&http_server_request_rec::if_modified_since)) {
    range->offset = 0;
    range->length = range->size;
    not_modified = a.not_modified();
    if (not_modified) status = kNotModified;
  } else if (r) {
    switch (eval_range(r, a.value(&http_server_request_rec::if_range), a.date, range)) {
    case 206: status = "206 partial content"; partial = true; break;
    case 416: http_server_write_error_response(a.sb, "416 requested range not satisfiable", a.server_name, !a.head_only); return 0;
    case 400: http_server_write_error_response(a.sb, "400 bad request", a.server_name, !a.head_only); return 0;
    default: break;
    }
  } else {
    range->offset = 0;
    range->length = range->size;
  }
  out o{a.sb};
  o.ok = http_server_write_common_header(a.sb, status, a.server_name);
  if (partial)
    o.s("CONTENT-RANGE: bytes ").u(range->offset).s("-").u(range->offset + range->length - 1).s("/").u(range->size).s("\r\n");
  if (!finish(o, a, &range->length, !a.head_only && !not_modified)) return 0;
  *send_body = !a.head_only && !not_modified;
  return 1;
}

int time_seek_answer(answer &a, int *send_body, const http_server_npt_rec *npt,
                     const http_server_range_rec *range)
{
  date_text(&a);
  *send_body = 0;
  bool not_modified = a.not_modified();
  out o{a.sb};
  o.ok = http_server_write_common_header(a.sb, not_modified ? kNotModified : "200 OK", a.server_name);
  if (!not_modified) {
    o.s("TimeSeekRange.dlna.org: npt=").npt(npt->start_ms).s("-").npt(npt->end_ms).s("/").npt(npt->total_ms);
    // An empty byte range has no first-last form.
    if (range && range->length)
      o.s(" bytes=").u(range->offset).s("-").u(range->offset + range->length - 1).s("/").u(range->size);
    o.s("\r\n");
  }
  if (!finish(o, a, range ? &range->length : nullptr, !a.head_only && !not_modified)) return 0;
  *send_body = !a.head_only && !not_modified;
  return 1;
}

}  // namespace

extern "C" {

int http_server_write_startline(sys_socketbuffer_rec *sb, const char *status)
{
  out o{sb};
  return o.s("HTTP/1.1 ").s(status).s("\r\n").ok;
}

int http_server_write_common_header(sys_socketbuffer_rec *sb, const char *status,
                                    const char *server_name)
{
  int64_t now;
  char date[40];
  sys_time_now(&now);
  out o{sb};
  o.ok = http_server_write_startline(sb, status);
  return o.s("SERVER: ").s(server_name).s("\r\nDATE: ").b(date, http_date_fmt(date, &now)).s("\r\n").ok;
}

int http_server_write_error_response(sys_socketbuffer_rec *sb, const char *status,
                                     const char *server_name, int with_body)
{
  static const char kOpen[] = "<html><body>", kClose[] = "</body></html>\r\n";
  out o{sb};
  o.ok = http_server_write_common_header(sb, status, server_name);
  o.s("CONTENT-LENGTH: ").u(std::strlen(status) + sizeof kOpen - 1 + sizeof kClose - 1).s("\r\n");
  o.s("CONNECTION: close\r\nCONTENT-TYPE: text/html\r\n\r\n");
  if (with_body) o.s(kOpen).s(status).s(kClose);
  return o.ok && sys_socketbuffer_flush(sb);
}

int http_server_write_get_response_header(sys_socketbuffer_rec *sb, int http11, int head_only,
                                          const http_server_request_rec *req,
                                          const char *server_name, const char *mime,
                                          int64_t mtime, int *send_body,
                                          http_server_range_rec *range)
{
  answer a{sb, head_only, req, server_name, mime, nullptr, mtime, false, http11, {}};
  return file_answer(a, send_body, range);
}

int http_server_write_get_response_header_dlna(sys_socketbuffer_rec *sb, int http11,
                                               int head_only,
                                               const http_server_request_rec *req,
                                               const char *server_name, const char *mime,
                                               const char *content_features, int64_t mtime,
                                               int *send_body, http_server_range_rec *range)
{
  answer a{sb, head_only, req, server_name, mime, content_features, mtime, false, http11, {}};
  return file_answer(a, send_body, range);
}

int http_server_write_get_response_header_transcoding(sys_socketbuffer_rec *sb, int http11,
                                                      int head_only,
                                                      const http_server_request_rec *req,
                                                      const char *server_name,
                                                      const char *mime, int64_t mtime,
                                                      int *send_body,
                                                      http_server_range_rec *range)
{
  answer a{sb, head_only, req, server_name, mime, nullptr, mtime, true, http11, {}};
  return file_answer(a, send_body, range);
}

int http_server_write_get_response_header_transcoding_dlna(
    sys_socketbuffer_rec *sb, int http11, int head_only, const http_server_request_rec *req,
    const char *server_name, const char *mime, const char *content_features, int64_t mtime,
    int *send_body, http_server_range_rec *range)
{
  answer a{sb, head_only, req, server_name, mime, content_features, mtime, true, http11, {}};
  return file_answer(a, send_body, range);
}

int http_server_write_get_response_header_time_seek_dlna(
    sys_socketbuffer_rec *sb, int http11, int head_only, const http_server_request_rec *req,
    const char *server_name, const char *mime, const char *content_features, int64_t mtime,
    int *send_body, const http_server_npt_rec *npt, const http_server_range_rec *range)
{
  answer a{sb, head_only, req, server_name, mime, content_features, mtime, false, http11, {}};
  return time_seek_answer(a, send_body, npt, range);
}

int http_server_write_get_response_header_time_seek_transcoding_dlna(
    sys_socketbuffer_rec *sb, int http11, int head_only, const http_server_request_rec *req,
    const char *server_name, const char *mime, const char *content_features, int64_t mtime,
    int *send_body, const http_server_npt_rec *npt, const http_server_range_rec *range)
{
  answer a{sb, head_only, req, server_name, mime, content_features, mtime, true, http11, {}};
  return time_seek_answer(a, send_body, npt, range);
}

}  // extern "C"
