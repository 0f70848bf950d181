// The request reader that every serving plug-in runs first, and the error
// answer.
#include <corda_common/msf_common.h>

#include <tarvo_util/http_message.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/sys_thread.h>

#include <cstring>

namespace {

// What the scan of the header lines found besides the values.
struct scan_notes {
  const char *error = nullptr;
  bool host = false, close = false, multipart = false, seek_multipart = false;
};

// The value of a normalised header line whose name is prefix.
char *value_of(char *line, const char *prefix) { return line + sys_str_len(prefix); }

bool has_comma(const char *s) { return std::strchr(s, ',') != nullptr; }

// The refusals that end the scan at the first line that gives one.
const char *refusal(const char *line)
{
  struct {
    const char *prefix, *status;
  } static const kRefused[] = {
      {"expect:", "417 I do not accept Expect"},
      {"if-match:", "412 I do not accept If-Match"},
      {"if-none-match:", "412 I do not accept If-None-Match"},
      {"if-unmodified-since:", "412 I do not accept If-Unmodified-Since"},
  };
  for (const auto &r : kRefused)
    if (sys_str_case_start(line, r.prefix)) return r.status;
  static const char kFeatures[] = "getcontentFeatures.dlna.org:";
  if (sys_str_case_start(line, kFeatures) && !http_header_value_equal(line, sizeof kFeatures - 1, "1"))
    return "400 bad request";
  return nullptr;
}

void note_line(msf_request_rec *r, char *line, int variant, scan_notes *n)
{
  http_server_request_rec *q = &r->req;
  if (sys_str_case_start(line, "host:")) {
    n->host = true;
  } else if (sys_str_case_start(line, "connection:")) {
    n->close = http_header_value_case_equal(line, 11, "close");
  } else if (sys_str_case_start(line, "if-modified-since:")) {
    q->if_modified_since = value_of(line, "if-modified-since:");
  } else if (sys_str_case_start(line, "if-range:")) {
    q->if_range = value_of(line, "if-range:");
  } else if (sys_str_case_start(line, "range:")) {
    if (q->range) n->multipart = true;
    else q->range = value_of(line, "range:");
    if (has_comma(line)) n->multipart = true;
  } else if (sys_str_case_start(line, "timeseekrange.dlna.org:")) {
    if (q->time_seek_range || has_comma(line)) n->seek_multipart = true;
    // The playlist reader keeps the last one; the other refuses repeats.
    if (variant == MSF_READER_PLAYLIST || !q->time_seek_range) q->time_seek_range = value_of(line, "timeseekrange.dlna.org:");
  } else if (sys_str_case_start(line, "playspeed.dlna.org:")) {
    r->play_speed_seen = 1;
    if (variant == MSF_READER_PLAYLIST) q->play_speed = value_of(line, "playspeed.dlna.org:");
  }
}

// The refusals that need the whole header block.
const char *after_scan(const msf_request_rec *r, int variant, const scan_notes &n)
{
  if (r->http11 && !n.host) return "400 HTTP/1.1 requests must include a host name";
  if (n.multipart) return "400 multipart range not supported";
  if (variant == MSF_READER_TRANSCODE && !r->req.range) {
    if (n.seek_multipart) return "400 multipart range not supported";
    if (r->play_speed_seen) return "406 not acceptable";
  }
  return nullptr;
}

}  // namespace

extern "C" {

const char *msf_request_check(msf_request_rec *r, const plugin_http_get_request *request, int variant)
{
  const http_request_startline_rec *start = request->startline;
  r->head = start->method && !std::strcmp(start->method, "HEAD");
  r->http11 = !start->version || std::strcmp(start->version, "HTTP/1.0") != 0;
  r->play_speed_seen = 0;
  r->req = http_server_request_rec{};
  scan_notes n;
  for (char *const *h = request->headers; h && *h && !n.error; h++) {
    n.error = refusal(*h);
    if (!n.error) note_line(r, *h, variant, &n);
  }
  if (!n.error) n.error = after_scan(r, variant, n);
  r->req.keep_alive = !n.error && r->http11 && !n.close;
  return n.error;
}

int msf_request_read(msf_request_rec *r, const plugin_http_get_request *request, int variant)
{
  sys_socketbuffer_init(&r->out, request->socket, r->out_buf, sizeof r->out_buf, MSF_OUT_TIMEOUT_MS);
  const char *refused = msf_request_check(r, request, variant);
  if (!refused) return 1;
  msf_request_fail(r, refused);
  // A client that keeps sending refused requests is slowed down.
  sys_thread_sleep(MSF_READER_FAIL_PAUSE_MS);
  return 0;
}

int msf_request_fail(msf_request_rec *r, const char *status)
{
  http_server_write_error_response(&r->out, status, MSF_SERVER_NAME, !r->head);
  return 0;
}

}  // extern "C"
