// Start and stop of the media server.  The device stack, content database
// and the rest come later; until then a start reads the one key that
// every start needs and keeps the data folder, so that the service shell
// and its management port behave as they will.
#include <vennard/conf_store.h>
#include <vennard/server.h>

#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_socket.h>
#include <tarvo_util/sys_str.h>

extern "C" {

int server_start(server_rec *s, const char *data_home)
{
  platform_init();
  sys_byte_zero(s, sizeof *s);
  uint16_t port;
  if (!sys_str_clone(data_home, &s->data_home)) return 0;
  if (!conf_port_read(data_home, CONF_KEY_UPNP_PORT, &port)) {
    server_stop(s);
    return 0;
  }
  return 1;
}

void server_stop(server_rec *s)
{
  sys_alloc_free(s->data_home);
  s->data_home = nullptr;
}

int default_shares_offer(server_rec *)
{
  return 1;
}

void server_power_suspend(server_rec *s)
{
  s->suspended = 1;
}

void server_power_resume(server_rec *s)
{
  s->suspended = 0;
}

}  // extern "C"
