// The access decision for every connection to the device stack and the
// media HTTP server: local addresses are admitted; other clients by their
// MAC address, as the access files record them.
#include "access_impl.h"

#include <vennard/conf_store.h>
#include <vennard/service.h>
#include <vennard/vennard_limits.h>

#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_log.h>
#include <tarvo_util/sys_socket.h>
#include <tarvo_util/sys_time.h>
#include <tarvo_util/utf8file.h>

namespace acl {

bool client_file_exists(server_rec *s, bool allow, const char *mac, int64_t *mtime)
{
  char *path = nullptr;
  if (!conf_key_item_path(s->data_home, allow ? CONF_KEY_ACCESS_ALLOW : CONF_KEY_ACCESS_DENY, mac, &path)) return false;
  sys_file_stat_rec st;
  bool found = utf8file_stat(path, &st) && !st.is_dir;
  sys_alloc_free(path);
  if (found && mtime) *mtime = st.mtime;
  return found;
}

}  // namespace acl

using namespace acl;

namespace {

// "xx-xx-xx-xx-xx-xx", lower case.
void mac_text(const uint8_t *mac, char *out)
{
  out[sys_mac_fmt(out, mac)] = 0;
  for (char *c = out; *c; c++)
    if (*c == ':') *c = '-';
    else if (*c >= 'A' && *c <= 'F') *c = char(*c - 'A' + 'a');
}

// Writes a client's file; a failure (a full disk) is logged once until a
// write succeeds again, not for every connection.
bool record(server_rec *s, bool allow, const char *mac, const char *ip)
{
  bool ok = conf_access_write(s->data_home, allow, mac, ip) != 0;
  if (flag(s->access.write_failing).exchange(ok ? 0 : 1) == (ok ? 1 : 0))
    sys_log_print(ok ? SYS_LOG_NOTICE : SYS_LOG_ERROR,
                  ok ? "access files: %s written again" : "access files: %s cannot be written; decided without it",
                  mac);
  return ok;
}

// A known client's file gets its current address when it is older than
// the refresh period.  A refresh that fails leaves the decision as the
// file has it: a full disk must not lock known clients out.
void refresh(server_rec *s, bool allow, const char *mac, const char *ip, int64_t mtime)
{
  int64_t now = 0;
  if (sys_time_now(&now) && now - mtime > ACCESS_REFRESH_S) record(s, allow, mac, ip);
}

// Decides a client that is not local.
bool remote_admitted(server_rec *s, const uint8_t *ip)
{
  uint8_t mac[6];
  if (!sys_mac_from_ip_cache4(mac, ip)) return false;
  char mac_s[18], ip_s[16];
  mac_text(mac, mac_s);
  ip_s[sys_ip4_fmt(ip_s, ip)] = 0;
  int64_t mtime = 0;
  bool admit;
  if (client_file_exists(s, false, mac_s, &mtime)) {
    refresh(s, false, mac_s, ip_s, mtime);
    admit = false;
  } else if (client_file_exists(s, true, mac_s, &mtime)) {
    refresh(s, true, mac_s, ip_s, mtime);
    admit = true;
  } else {
    int allow = 0;
    if (!conf_access_default_read(s->data_home, &allow)) return false;
    // A new client is decided by the default even when it cannot be
    // recorded; it is recorded at a later connection.
    if (record(s, allow, mac_s, ip_s)) flag(allow ? s->access.allow_changed : s->access.deny_changed).store(1);
    admit = allow != 0;
  }
  devmgr_event_notify(s);
  return admit;
}

}  // namespace

extern "C" {

int access_control_start(server_rec *s)
{
  if (!sys_mutex_create(&s->access.mutex)) return 0;
  tarvo_device_set_access_control_handler(&s->device, client_access_callback, s);
  return 1;
}

void access_control_stop(server_rec *s)
{
  if (s->access.mutex) sys_mutex_destroy(&s->access.mutex);
}

int client_access_callback(const uint8_t *remote_ip, void *server)
{
  return client_access_check(static_cast<server_rec *>(server), remote_ip);
}

int client_access_check(server_rec *s, const uint8_t *remote_ip)
{
  return is_local_address(remote_ip) || remote_admitted(s, remote_ip);
}

}  // extern "C"
