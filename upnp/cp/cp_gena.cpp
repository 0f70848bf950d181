// Event subscriptions from the control point's side: SUBSCRIBE, its
// renewal and UNSUBSCRIBE, each on a connection of its own.
#include "cp_impl.h"

#include <tarvo_util/http_client.h>
#include <tarvo_util/uri.h>

namespace {

enum gena_kind { GENA_NEW, GENA_RENEW, GENA_CANCEL };

struct lines {
  sys_stralloc_rec sa{};
  bool ok = true;
  lines &operator<<(const char *s)
  {
    ok = ok && sys_stralloc_cats(&sa, s);
    return *this;
  }
  ~lines() { sys_stralloc_free(&sa); }
};

bool request(http_client *client, gena_kind kind, const char *sid, uint32_t timeout, uint16_t event_port)
{
  const uri_rec *u = http_client_get_url(client);
  uint8_t local[4];
  uint16_t local_port = 0;
  if (!http_client_connect(client) || !sys_socket_local4(http_client_get_socket(client), local, &local_port))
    return false;
  char ip[16], num[16], port[8];
  ip[sys_ip4_fmt(ip, local)] = 0;
  num[sys_str_fmt_uint(num, timeout)] = 0;
  port[sys_str_fmt_uint(port, event_port)] = 0;
  lines l;
  l << (kind == GENA_CANCEL ? "UNSUBSCRIBE " : "SUBSCRIBE ") << u->path;
  if (u->query[0]) l << "?" << u->query;
  l << " HTTP/1.1\r\nHOST: " << u->host;
  if (u->port[0]) l << ":" << u->port;
  l << "\r\n";
  // The callback names the address this very connection leaves from, the
  // one the device can reach.
  if (kind == GENA_NEW) l << "CALLBACK: <http://" << ip << ":" << port << "/>\r\nNT: upnp:event\r\n";
  if (kind != GENA_NEW) l << "SID: " << sid << "\r\n";
  if (kind != GENA_CANCEL) l << "TIMEOUT: Second-" << (timeout ? num : "infinite") << "\r\n";
  l << "CONNECTION: close\r\n\r\n";
  sys_socketbuffer_rec *out = http_client_get_socketbuffer_out(client);
  return l.ok && sys_socketbuffer_put(out, l.sa.buf, l.sa.len) && sys_socketbuffer_flush(out);
}

// "infinite" gives 0, otherwise the seconds after "Second-".
bool granted_timeout(const char *v, uint32_t *timeout)
{
  sys_stralloc_rec sa{};
  bool ok = v && http_header_value_get_timeout(v, 0, &sa) && sys_stralloc_append(&sa, "");
  if (ok) {
    uint32_t n = 0;
    if (!sys_str_case_diff(sa.buf, "infinite")) *timeout = 0;
    else if ((n = sys_str_scan_uint32(sa.buf, timeout)) == 0 || sa.buf[n]) ok = false;
  }
  sys_stralloc_free(&sa);
  return ok;
}

// One exchange; on a 200 answer the SID and TIMEOUT (not for GENA_CANCEL)
// are read.  sid_out NULL when not wanted.
bool exchange(upnp_cp_ctx *c, const char *url, gena_kind kind, const char *sid, uint32_t *timeout,
              char **sid_out, uint32_t bounded_ms = 0)
{
  http_client client = nullptr;
  if (!url || !http_client_init(&client, url)) return false;
  if (bounded_ms) {
    http_client_set_connect_timeout(&client, bounded_ms);
    http_client_set_read_timeout(&client, bounded_ms);
    http_client_set_write_timeout(&client, bounded_ms);
  } else {
    cp_client_hold(c, &client);
  }
  int code = 0;
  bool ok = request(&client, kind, sid, timeout ? *timeout : 0, c->event_port) &&
            http_client_status(&client, &code) && http_client_read_response_header(&client) && code == 200;
  if (ok && kind != GENA_CANCEL) {
    const char *got_sid = http_client_header(&client, "sid:");
    uint32_t t = 0;
    ok = got_sid && got_sid[0] && granted_timeout(http_client_header(&client, "timeout:"), &t) &&
         (kind == GENA_NEW ? sys_str_clone(got_sid, sid_out) : !sys_str_diff(got_sid, sid));
    if (ok) *timeout = t;
  }
  if (!bounded_ms) cp_client_release(c, &client);
  http_client_free(&client);
  return ok;
}

}  // namespace

int cp_unsubscribe_bounded(upnp_cp_ctx *c, const char *event_url, const char *sid, uint32_t ms)
{
  return sid && exchange(c, event_url, GENA_CANCEL, sid, nullptr, nullptr, ms);
}

extern "C" {

int upnp_cp_event_subscribe(upnp_cp_ctx **cp, const char *event_url, uint32_t *timeout, char **sid)
{
  *sid = nullptr;
  return cp && *cp && exchange(*cp, event_url, GENA_NEW, nullptr, timeout, sid);
}

int upnp_cp_event_subscribe_renewal(upnp_cp_ctx **cp, const char *event_url, const char *sid,
                                    uint32_t *timeout)
{
  return cp && *cp && sid && exchange(*cp, event_url, GENA_RENEW, sid, timeout, nullptr);
}

int upnp_cp_event_unsubscribe(upnp_cp_ctx **cp, const char *event_url, const char *sid)
{
  return cp && *cp && sid && exchange(*cp, event_url, GENA_CANCEL, sid, nullptr, nullptr);
}

}  // extern "C"
