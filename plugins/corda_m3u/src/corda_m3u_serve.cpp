// The playlist plug-in's entry points: a playlist served as the URLs of
// its entries on this server, and each entry's file under its URL.
#include <corda_common/msf_common.h>
#include <corda_m3u/corda_m3u.h>
#include <corda_m3u/corda_m3u_limits.h>

#include <tarvo_util/sys_owner.h>
#include <tarvo_util/dlna.h>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_socket.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/utf8file.h>

#include <cstring>
#include <string>

namespace {

// A playlist may name any file the server can read; only media files are
// offered and served.  Ogg is the one media container the type table files
// under "application".
bool media_entry(const char *name)
{
  const char *type = mimetype_from_path_static(name);
  return mimetype_major_equal(type, "audio") || mimetype_major_equal(type, "video") ||
         mimetype_major_equal(type, "image") || !std::strcmp(type, "application/ogg");
}

bool time_based(const msf_request_rec &r) { return r.req.time_seek_range || r.req.play_speed; }

std::string base_url(const plugin_http_get_request *q)
{
  char ip[16], port[8];
  std::string url = "http://";
  url.append(ip, sys_ip4_fmt(ip, q->addresses.local_ip));
  url += ':';
  url.append(port, sys_str_fmt_uint32(port, q->addresses.local_port));
  const char *path = q->startline->uri.path;
  return url + (path ? path : "");
}

int serve_playlist(msf_request_rec &r, const plugin_http_get_request *q)
{
  own::str_list names;
  sys_stralloc_rec body{};
  bool ok = corda_m3u_parse(q->path, base_url(q).c_str(), nullptr, &names.l) &&
            sys_stralloc_ready(&body, CORDA_M3U_BODY_RESERVE);
  for (char **n = names.l; ok && *n; n++)
    if (media_entry(*n)) ok = sys_stralloc_cats(&body, *n) && sys_stralloc_cats(&body, "\r\n");
  sys_file_stat_rec st;
  int result = 0;
  if (!ok || !utf8file_stat(q->path, &st)) {
    msf_request_fail(&r, "404 file not found");
  } else if (time_based(r)) {
    msf_request_fail(&r, "400 bad request");
  } else {
    int send_body = 0;
    http_server_range_rec range{0, 0, body.len};
    if (http_server_write_get_response_header_dlna(&r.out, r.http11, r.head, &r.req, MSF_SERVER_NAME, q->mime_type,
                                                   q->content_features, st.mtime, &send_body, &range) &&
        (!send_body || (sys_socketbuffer_put(&r.out, body.buf + range.offset, uint32_t(range.length)) &&
                        sys_socketbuffer_flush(&r.out))))
      result = r.req.keep_alive;
  }
  sys_stralloc_free(&body);
  return result;
}

// The kept entry whose name is the request path from its last "/" on.
const char *entry_path(const plugin_http_get_request *q, const own::str_list &paths, const own::str_list &names)
{
  const char *name = std::strrchr(q->startline->uri.path, '/');
  for (uint32_t i = 0; names.l[i]; i++)
    if (!std::strcmp(names.l[i], name)) return media_entry(name) ? paths.l[i] : nullptr;
  return nullptr;
}

int serve_entry(msf_request_rec &r, const plugin_http_get_request *q)
{
  own::str_list paths, names;
  if (!corda_m3u_parse(q->path, "", &paths.l, &names.l)) return msf_request_fail(&r, "404 file not found");
  const char *file = entry_path(q, paths, names);
  own::file f;
  sys_file_stat_rec st;
  if (!file || !utf8file_open_read(&f.fd, file) || !sys_file_fstat(f.fd, &st) || st.is_dir)
    return msf_request_fail(&r, "404 file not found");
  if (time_based(r) && !r.req.range) return msf_request_fail(&r, "406 not acceptable");
  int send_body = 0;
  http_server_range_rec range{0, 0, st.size};
  if (!http_server_write_get_response_header_dlna(&r.out, r.http11, r.head, &r.req, MSF_SERVER_NAME,
                                                  mimetype_from_path_static(q->startline->uri.path), "*",
                                                  st.mtime, &send_body, &range))
    return 0;
  if (send_body && range.length) {
    int64_t sent = 0;
    if (!sys_file_send(q->socket, f.fd, int64_t(range.offset), int64_t(range.length), &sent) ||
        uint64_t(sent) != range.length)
      return 0;
  }
  return r.req.keep_alive;
}

}  // namespace

extern "C" {

int tarvo_msf_init(void) { return 1; }

void tarvo_msf_free(void) {}

int tarvo_msf_http_get(plugin_http_get_request *request)
{
  msf_request_rec r;
  if (!msf_request_read(&r, request, MSF_READER_PLAYLIST)) return 0;
  const char *path = request->startline->uri.path;
  if (path && path[0] && std::strchr(path + 1, '/')) return serve_entry(r, request);
  return serve_playlist(r, request);
}

}  // extern "C"
