// Stand-in for the media HTTP server until it lands: it reads the port and
// builds the base URLs, but does not listen.  The media server's own
// source replaces this file.
#include <vennard/conf_store.h>
#include <vennard/media_http.h>
#include <vennard/server.h>

#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_socket.h>
#include <tarvo_util/sys_str.h>

namespace {

bool base_append(sys_ptralloc_rec *list, const uint8_t *ip, uint16_t port)
{
  char buf[64] = "http://";
  uint32_t n = 7;
  n += sys_ip4_fmt(buf + n, ip);
  buf[n++] = ':';
  n += sys_str_fmt_uint16(buf + n, port);
  buf[n] = 0;
  char *copy = nullptr;
  if (!sys_str_clone(buf, &copy)) return false;
  if (sys_ptralloc_append(list, copy)) return true;
  sys_alloc_free(copy);
  return false;
}

}  // namespace

extern "C" {

int media_http_start(server_rec *s, const char *data_home, const char *)
{
  return conf_port_read(data_home, CONF_KEY_HTTP_PORT, &s->http_port);
}

void media_http_stop(server_rec *) {}

int media_base_urls(server_rec *s, const uint8_t *local_ip, int all_interfaces, sys_str_list *out)
{
  sys_ptralloc_rec list{};
  sys_memalloc_rec ips{};
  bool ok = base_append(&list, local_ip, s->http_port);
  if (ok && all_interfaces && sys_ip4_list(&ips))
    for (uint32_t i = 0; ok && i + 4 <= ips.len; i += 4)
      if (sys_byte_diff(ips.buf + i, 4, local_ip) && sys_byte_diff(ips.buf + i, 4, sys_ip4_loopback()))
        ok = base_append(&list, ips.buf + i, s->http_port);
  sys_memalloc_free(&ips);
  ok = ok && sys_ptralloc_append(&list, nullptr);
  if (!ok) {
    for (uint32_t i = 0; i < list.len; i++) sys_alloc_free(list.buf[i]);
    sys_ptralloc_free(&list);
    return 0;
  }
  *out = reinterpret_cast<char **>(list.buf);
  return 1;
}

}  // extern "C"
