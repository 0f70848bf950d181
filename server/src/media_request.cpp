// One request on a media connection: the request line, the resource it
// names (looked up under the content-database lock), and the answer from a
// plug-in or from the file, with byte ranges and time seek.
#include "object_view.h"

#include <vennard/content_db.h>
#include <vennard/media_http.h>
#include <vennard/mpeg_ps.h>
#include <vennard/plugin.h>
#include <vennard/conf_store.h>
#include <vennard/server.h>
#include <vennard/service.h>
#include <vennard/vennard_limits.h>

#include <tarvo_device/tarvo_device.h>
#include <tarvo_util/conn_policy.h>
#include <tarvo_util/dlna.h>
#include <tarvo_util/http_message.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/sys_socket.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/uri.h>
#include <tarvo_util/utf8file.h>

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <string>
#include <string_view>

namespace {

enum resource_kind { kNothing = 0, kFile = 1, kPlugin = 2 };

// What the request's path names.
struct resolution {
  int kind = kNothing;
  std::string mime, features, path;
  uint32_t duration_ms = 0, bitrate = 0;
  sys_stralloc_rec didl{};
  plugin_record *plugin = nullptr;
  ~resolution() { sys_stralloc_free(&didl); }
};

bool stopping(server_rec *s)
{
  return std::atomic_ref<int32_t>(s->content.stopping).load() != 0;
}

// The header is whole: what follows gets the long waits.
void header_done(http_server_conn *conn)
{
  sys_socketbuffer_set_timeout(&conn->in, MEDIA_HTTP_IN_TIMEOUT_MS);
}

void error_answer(http_server_conn *conn, const char *status)
{
  conn->keep_alive = 0;
  http_server_write_error_response(&conn->out, status, conn->server_name, !conn->head);
}

// The first URI property whose stored path is the request's path or
// leads it up to a "/".
const didl_property *resource_find(const didl_object *o, std::string_view path)
{
  for (uint32_t i = 0; i < o->properties.len; i++) {
    const auto *p = static_cast<const didl_property *>(o->properties.buf[i]);
    avcp_didl_name_pair pair{p->element, nullptr};
    if (didl_value_type(&pair) != AVCP_DIDL_TYPE_URI || !p->text || !*p->text) continue;
    std::string_view stored(p->text);
    if (path.starts_with(stored) && (path.size() == stored.size() || path[stored.size()] == '/')) return p;
  }
  return nullptr;
}

bool fill_from(server_rec *s, const didl_property *p, resolution *r)
{
  const char *file = didl_attribute_get(&p->attributes, DIDL_NAME(AT_TARVO_FILENAME));
  if (!file) return false;
  r->path = file;
  media_duration_parse(didl_attribute_get(&p->attributes, DIDL_NAME(AT_DURATION)), &r->duration_ms);
  const char *bitrate = didl_attribute_get(&p->attributes, DIDL_NAME(AT_BITRATE));
  uint64_t rate = 0;
  if (bitrate && sys_str_scan_uint64(bitrate, &rate) && rate <= UINT32_MAX) r->bitrate = uint32_t(rate);
  if (const char *pi = didl_attribute_get(&p->attributes, DIDL_NAME(AT_PROTOCOL_INFO))) {
    protocol_info_rec rec{};
    if (!protocol_info_parse(&rec, pi)) return false;
    r->mime = rec.content_format;
    r->features = rec.additional_info;
    protocol_info_free(&rec);
    return true;
  }
  char *mime = nullptr;
  if (!conf_mimetype(s->data_home, file, &mime)) return false;
  r->mime = mime;
  sys_alloc_free(mime);
  return true;
}

// The object as a plug-in's client sees it: a whole document with the
// URLs of the connection's interface and the private attributes.
bool plugin_didl(server_rec *s, http_server_conn *conn, const didl_object *o, sys_stralloc_rec *out)
{
  own::str_list prefixes;
  return media_base_urls(s, conn->addr.local_ip, 0, &prefixes.l) && didl_xml_begin(out, 1) &&
         didl_write_for_client(out, o, prefixes.l, nullptr, 1, &conn->addr, &s->content.plugins) &&
         didl_xml_end(out) && sys_stralloc_append(out, "");
}

void resolve(server_rec *s, http_server_conn *conn, const char *path, resolution *r)
{
  if (!content_db_lock(s)) return;
  std::string_view rest = std::string_view(path).substr(1);
  std::string id(rest.substr(0, rest.find('-')));
  const didl_object *o = content_db_get(s, id.c_str());
  const didl_property *p = nullptr;
  // Ids are handed out in sequence: hidden objects must not be reachable
  // by counting.
  if (o && didl_property_first(o, DIDL_NAME(EL_UPNP_CLASS)) &&
      (is_local_address(conn->addr.remote_ip) || !object_private(s, o)))
    p = resource_find(o, path);
  // A resource that no plug-in can answer stays unfound rather than be the
  // file's bytes under another type.
  if (p && !plugin_resource_served(&s->content.plugins, o, p)) p = nullptr;
  if (p) {
    const char *filter = didl_attribute_get(&p->attributes, DIDL_NAME(AT_TARVO_FILTER));
    plugin_record *plugin = filter ? plugin_find(&s->content.plugins, filter) : nullptr;
    if (plugin && plugin->http_get) {
      r->plugin = plugin;
      if (fill_from(s, p, r) && plugin_didl(s, conn, o, &r->didl)) r->kind = kPlugin;
    } else if (fill_from(s, p, r)) {
      r->kind = kFile;
    }
  }
  content_db_unlock(s);
}

// --- a plug-in's resource ---

// A body, however announced, is refused: only an empty one passes.
bool body_refused(http_server_conn *conn, char *const *headers)
{
  bool chunked = false;
  for (char *const *h = headers; *h; h++) {
    if (sys_str_case_start(*h, "content-length:") && !http_header_value_equal(*h, 15, "0")) return true;
    if (sys_str_case_start(*h, "transfer-encoding:")) {
      if (!http_header_value_case_equal(*h, 18, "chunked")) return true;
      chunked = true;
    }
  }
  return chunked && !http_server_read_chunked_0(&conn->in);
}

void serve_plugin(http_server_conn *conn, const http_request_startline_rec *start, resolution *r,
                  int64_t due_ms)
{
  own::str_list headers;
  conn_header_wait(conn, due_ms);
  if (!http_header_read(&conn->in, &headers.l)) return;
  header_done(conn);
  // A page whose name resolves to this machine (DNS rebinding) is refused.
  if (!http_header_host_allowed(headers.l)) {
    error_answer(conn, "400 Bad Request");
    return;
  }
  if (body_refused(conn, headers.l)) {
    error_answer(conn, "501 I do not accept messages");
    return;
  }
  // The plug-in gets a descriptor of its own: whether it closes it or keeps
  // it, the connection's descriptor stays the server's to close.
  int dup = fcntl(conn->socket, F_DUPFD_CLOEXEC, 0);
  if (dup < 0) return;
  plugin_http_get_request req{start,
                              headers.l,
                              conn->addr,
                              dup,
                              r->mime.c_str(),
                              r->features.c_str(),
                              r->duration_ms,
                              r->path.c_str(),
                              r->didl.buf};
  int keep = r->plugin->http_get(&req);
  if (req.socket == dup) {
    sys_socket_close(dup);
    conn->keep_alive = keep != 0;
  } else {
    conn->keep_alive = 0;
  }
}

// --- a file ---

// "DLNA.ORG_OP=" among the ';'-separated parameters, with time seek
// allowed (its first digit 1).
bool op_time_seek(std::string_view features)
{
  while (!features.empty()) {
    std::string_view param = features.substr(0, features.find(';'));
    if (param.starts_with("DLNA.ORG_OP=")) return param.size() > 12 && param[12] == '1';
    features.remove_prefix(param.size() < features.size() ? param.size() + 1 : param.size());
  }
  return false;
}

bool send_part(http_server_conn *conn, int fd, uint64_t offset, uint64_t length)
{
  int64_t sent = 0;
  // A file that ends early breaks the promised length: the connection
  // must close.
  return sys_file_send(conn->socket, fd, int64_t(offset), int64_t(length), &sent) && uint64_t(sent) == length;
}

// The body; a corked header goes out with the first body bytes, and the
// rest streams uncorked.
bool send_range(http_server_conn *conn, int fd, const http_server_range_rec &range, bool *corked)
{
  if (!range.length) return true;
  uint64_t first = *corked ? std::min<uint64_t>(range.length, MEDIA_HTTP_CORK_BYTES) : 0;
  if (first && !send_part(conn, fd, range.offset, first)) return false;
  if (*corked) *corked = !sys_socket_cork(conn->socket, 0);
  return first == range.length || send_part(conn, fd, range.offset + first, range.length - first);
}

enum class answer { normal, mpeg, l16, refused };

answer choose(const http_server_request_rec &req, const resolution &r)
{
  if (!req.play_speed && (req.range || !req.time_seek_range)) return answer::normal;
  if (req.play_speed) return req.range ? answer::normal : answer::refused;
  if (!op_time_seek(r.features)) return answer::refused;
  const char *mime = r.mime.c_str();
  if (mimetype_major_equal(mime, "video") && mimetype_sub_equal(mime, "mpeg")) return answer::mpeg;
  if (mimetype_major_equal(mime, "audio") && mimetype_sub_equal(mime, "L16")) return answer::l16;
  return answer::refused;
}

// The byte range of a time-seek answer; 0 when the request ends (after an
// error answer, or without one when the range cannot be computed).
bool seek_range(http_server_conn *conn, const http_server_request_rec &req, const resolution &r, answer a,
                int fd, const sys_file_stat_rec &st, http_server_npt_rec *npt, http_server_range_rec *range)
{
  uint32_t rate = 0, channels = 0;
  if (a == answer::l16 && !mime_l16_params(r.mime.c_str(), &rate, &channels)) return false;
  int64_t start = 0, end = 0;
  int has_end = 0;
  if (!http_header_value_get_time_seek_range_dlna_request(req.time_seek_range, 0, &start, &end, &has_end)) {
    error_answer(conn, "400 bad request");
    return false;
  }
  *range = {0, 0, st.size};
  uint32_t code = media_seek_times(start, end, has_end, r.duration_ms, npt);
  if (code == MEDIA_SEEK_OK) {
    if (a == answer::mpeg) return mpeg_ps_time_seek(range, npt, r.bitrate, fd, &st) != 0;
    code = media_l16_range(r.bitrate, channels, npt, range);
  }
  if (code != MEDIA_SEEK_OK) {
    error_answer(conn, "416 requested range not satisfiable");
    return false;
  }
  return true;
}

void serve_file(server_rec *s, http_server_conn *conn, const resolution &r, int64_t due_ms)
{
  http_server_request_rec req{};
  // The pause after a refused request must not hold a slot that another
  // client needs.
  conn->defer_fail_pause = 1;
  conn_header_wait(conn, due_ms);
  if (!http_server_read_get_request(conn, nullptr, &s->content.stopping, &req)) {
    http_server_get_request_free(&req);
    if (conn->fail_paused) conn_slot_fail_pause(conn);
    conn->keep_alive = 0;
    return;
  }
  header_done(conn);
  conn->keep_alive = req.keep_alive;
  own::file file;
  sys_file_stat_rec st{};
  if (r.kind == kNothing || !utf8file_open_read(&file.fd, r.path.c_str()) || !sys_file_fstat(file.fd, &st) ||
      st.is_dir) {
    error_answer(conn, "404 file not found");
    http_server_get_request_free(&req);
    return;
  }
  answer a = choose(req, r);
  http_server_range_rec range{0, 0, st.size};
  http_server_npt_rec npt{};
  int send_body = 0;
  bool ok = false;
  // The header waits in the socket for the first body bytes, so that they
  // share segments; a failure only costs that.
  bool corked = a != answer::refused && sys_socket_cork(conn->socket, 1);
  if (a == answer::refused) {
    error_answer(conn, "406 not acceptable");
  } else if (a == answer::normal) {
    ok = http_server_write_get_response_header_dlna(&conn->out, conn->http11, conn->head, &req,
                                                    conn->server_name, r.mime.c_str(), r.features.c_str(),
                                                    st.mtime, &send_body, &range);
  } else if (seek_range(conn, req, r, a, file.fd, st, &npt, &range)) {
    ok = http_server_write_get_response_header_time_seek_dlna(
        &conn->out, conn->http11, conn->head, &req, conn->server_name, r.mime.c_str(), r.features.c_str(),
        st.mtime, &send_body, &npt, &range);
  }
  if (!ok || (send_body && !send_range(conn, file.fd, range, &corked))) conn->keep_alive = 0;
  if (corked) sys_socket_cork(conn->socket, 0);
  http_server_get_request_free(&req);
}

// --- the request line ---

void serve_one(server_rec *s, http_server_conn *conn, bool first)
{
  sys_stralloc_rec line{};
  http_request_startline_rec start{};
  conn->head = 0;
  int64_t due_ms = 0;
  bool got = conn_request_line(conn_slot_policy(conn), first, MEDIA_HTTP_IN_TIMEOUT_MS, &due_ms, &line);
  if (!got) {
    sys_stralloc_free(&line);
    return;
  }
  if (!http_request_startline_parse(&start, &line)) {
    error_answer(conn, "400 bad request");
  } else if (sys_str_start(start.version, "HTTP/")) {
    uint32_t decoded = 0;
    uri_unescape_n(start.uri.path, &decoded);
    std::string_view method(start.method), path(start.uri.path);
    conn->http11 = sys_str_diff(start.version, "HTTP/1.0") != 0;
    conn->head = method == "HEAD";
    // A decoded NUL would cut the path: "/<id>-<n>.mp3%00.png" must not
    // reach the MP3.
    if (!http_path_allowed(start.uri.path, decoded)) {
      error_answer(conn, "400 Bad Request");
    } else if (path.empty() || path.find("/.") != path.npos) {
      error_answer(conn, "404 file does not exist");
    } else if (method != "GET" && !conn->head) {
      error_answer(conn, "501 method not implemented");
    } else {
      resolution r;
      resolve(s, conn, start.uri.path, &r);
      if (r.kind == kPlugin)
        serve_plugin(conn, &start, &r, due_ms);
      else
        serve_file(s, conn, r, due_ms);
    }
  }
  http_request_startline_free(&start);
  sys_stralloc_free(&line);
}

}  // namespace

extern "C" void media_http_serve(server_rec *s, http_server_conn *conn)
{
  // Held for the whole connection, as the device port holds it: a player's
  // requests one after another would each take and let go the login
  // manager's lock, a bus connection and a call apiece.
  bool awake = std::atomic_ref<int32_t>(s->suspend_transport).load() != 0;
  if (awake) tarvo_device_awake_hold();
  for (bool first = true; first || (conn->keep_alive && !stopping(s)); first = false) {
    conn->keep_alive = 0;
    serve_one(s, conn, first);
  }
  if (awake) tarvo_device_awake_release();
}
