// Start and stop of the media server: the configuration and description it
// reads, the order in which its parts start (each undone in reverse when a
// later one fails) and stop, the power events, and the one-time offer of
// the common media folders as shares.
#include <vennard/conf_store.h>
#include <vennard/content_directory.h>
#include <vennard/server.h>
#include <vennard/server_desc.h>
#include <vennard/share_scanner.h>
#include <vennard/vennard_limits.h>

#include <tarvo_platform/special_folder.h>
#include <tarvo_util/sys_alloc.h>
#include <tarvo_util/sys_socket.h>
#include <tarvo_util/sys_str.h>
#include <tarvo_util/utf8file.h>
#include <tarvo_util/xml.h>

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

#include "server_util.h"

namespace {

// How far a start got: a teardown undoes everything up to there.
enum stage {
  STAGE_NONE,
  STAGE_CM,       // ConnectionManager state
  STAGE_CONTENT,  // content database locks and plug-ins (its load follows the device)
  STAGE_ACCESS,   // access control
  STAGE_MODULES,  // service modules
  STAGE_DEVICE,   // tarvo_device_start
  STAGE_SCANNER,  // the scanner's thread
};

// Stops in the order that leaves no thread with a lock destroyed under
// it: the scanner's thread first, the device stack (whose connection
// threads take the scanner's and access control's locks), the content
// database (whose media connections take access control's), and only then
// those locks.
bool teardown(server_rec *s, stage reached)
{
  if (reached >= STAGE_SCANNER) share_scanner_stop(s);
  if (reached >= STAGE_DEVICE) {
    server_device_ready_clear(s);
    tarvo_device_end(&s->device);
  } else if (s->device) {
    // A context the setters made for a start that never came: a start
    // without a description only frees it.
    tarvo_device_start(&s->device, nullptr, 0, nullptr, nullptr, 0, nullptr);
  }
  bool saved = reached < STAGE_CONTENT || content_db_stop(s);
  if (reached >= STAGE_CM) cm_state_stop(s);
  share_locks_close(s);
  if (reached >= STAGE_ACCESS) access_control_stop(s);
  service_modules_unload(s);
  sys_alloc_free(s->description);
  s->description = nullptr;
  sys_alloc_free(s->data_home);
  s->data_home = nullptr;
  return saved;
}

// The description as the device stack serves it: the friendly name and the
// UDN of this server.
bool description_rewrite(server_rec *s, const char *text, const server_desc_device_rec *device)
{
  own::str name;
  if (!conf_value_read(s->data_home, CONF_KEY_FRIENDLY_NAME, &name.s) &&
      !conf_friendly_name_default(device->friendly_name, &name.s))
    return false;
  char element_friendly[] = "friendlyName", element_udn[] = "UDN";
  char *names[] = {element_friendly, element_udn, nullptr};
  char *values[] = {name.s, s->udn, nullptr};
  return xml_translate_value(text, names, values, 1, &s->description) != 0;
}

}  // namespace

extern "C" {

int server_start(server_rec *s, const char *data_home)
{
  platform_init();
  sys_byte_zero(s, offsetof(server_rec, device_ready));
  if (!sys_str_clone(data_home, &s->data_home)) return 0;

  uint16_t port = 0;
  uint32_t max_age = 0;
  int flag = 0;
  own::str root;
  own::str_list disable_if;
  sys_stralloc_rec text{};
  server_desc_rec desc{};
  sys_ptralloc_rec handlers{};
  device_service_handler cds{}, cm{}, devmgr{};
  stage reached = STAGE_NONE;
  bool ok = conf_port_read(data_home, CONF_KEY_UPNP_PORT, &port) &&
            conf_key_path(data_home, CONF_KEY_UPNP_ROOT, &root.s) && conf_udn_read(data_home, s->udn) &&
            conf_max_age_read(data_home, &max_age) && conf_list_read(data_home, CONF_KEY_DISABLE_IF, &disable_if.l) &&
            conf_flag_read(data_home, CONF_KEY_SUSPEND_TRANSPORT, &flag) &&
            conf_description_read(data_home, &text) && sys_stralloc_append(&text, "") &&
            description_read(text.buf, text.len - 1, &desc) &&
            description_rewrite(s, text.buf, desc.devices[0]);
  s->suspend_transport = flag;
  sys_stralloc_free(&text);
  const server_desc_device_rec *device = ok ? desc.devices[0] : nullptr;
  if (ok) {
    cds_handler_init(s, &cds);
    cm_handler_init(s, &cm);
    devmgr_handler_init(s, &devmgr);
    ok = sys_ptralloc_append(&handlers, &cds) && sys_ptralloc_append(&handlers, &cm) &&
         sys_ptralloc_append(&handlers, &devmgr);
  }
  if (ok && (ok = cm_state_start(s))) reached = STAGE_CM;
  // The share actions' locks exist before the device answers, so that a
  // share request arriving before the scanner runs waits for the database
  // rather than being refused.
  if (ok) ok = share_locks_init(s);
  // The database is opened with its lock held and loaded once the device
  // is announced: a player that asks meanwhile waits for the load instead
  // of missing the server for as long as it takes.
  bool loading = false;
  if (ok && (ok = content_db_open(s, data_home))) {
    reached = STAGE_CONTENT;
    loading = true;
  }
  if (ok && (ok = access_control_start(s))) reached = STAGE_ACCESS;
  if (ok && (ok = service_modules_load(s, device, &handlers))) reached = STAGE_MODULES;
  if (ok && disable_if.l && disable_if.l[0]) ok = tarvo_device_set_disable_if(&s->device, disable_if.l);
  if (ok && (ok = conf_flag_read(data_home, CONF_KEY_SUSPEND_ACTION, &flag))) {
    tarvo_device_set_suspend_control(&s->device, flag);
    ok = sys_ptralloc_append(&handlers, nullptr);
  }
  if (ok && (ok = tarvo_device_start(&s->device, nullptr, port, root.s, s->description, max_age,
                                     reinterpret_cast<device_service_handler *const *>(handlers.buf)))) {
    reached = STAGE_DEVICE;
    server_device_ready_set(s);
  }
  if (loading) {
    loading = false;
    if (ok) {
      ok = content_db_open_finish(s, data_home, device->model_name);
    } else {
      // A start that failed before the device: the lock goes with the rest.
      content_db_open_abandon(s);
    }
  }
  if (ok && (ok = share_scanner_start(s))) reached = STAGE_SCANNER;
  sys_ptralloc_free(&handlers);
  description_free(&desc);
  if (!ok) teardown(s, reached);
  return ok;
}

int server_stop(server_rec *s) { return teardown(s, STAGE_SCANNER); }

int server_settled(server_rec *s)
{
  return std::atomic_ref<int32_t>(s->scanner.idle).load() && !content_db_work_pending(s);
}

int default_shares_offer(server_rec *s)
{
  std::vector<std::string> candidates;
  for (int kind : {SPECIAL_FOLDER_MUSIC, SPECIAL_FOLDER_PICTURES, SPECIAL_FOLDER_VIDEO}) {
    char buf[SHARE_PATH_MAX + 1];
    sys_file_stat_rec st;
    if (special_folder_common_media(kind, buf, sizeof buf) && utf8file_stat(buf, &st) && st.is_dir)
      candidates.emplace_back(buf);
  }
  own::str_list done;
  if (!conf_share_done_read(s->data_home, &done.l)) return 0;
  std::erase_if(candidates, [&](const std::string &c) { return done.l[sys_str_list_find(done.l, c.c_str())]; });
  if (candidates.empty()) return 1;
  std::vector<char *> lines;
  for (char **l = done.l; *l; l++) lines.push_back(*l);
  for (size_t i = candidates.size(); i-- > 0;) {
    if (!share_scanner_lock(s)) return 0;
    uint32_t r = content_db_share(s, candidates[i].c_str());
    share_scanner_unlock(s);
    if (r == srv::kTooManyShares) continue;  // offered again at the next start
    if (r && r != srv::kInsideShare) return 0;
    lines.push_back(candidates[i].data());
  }
  lines.push_back(nullptr);
  return conf_share_done_write(s->data_home, lines.data());
}

// Each is done once per change: the worker settles the state again after
// a start, and a suspend repeated would say byebye to nobody.
void server_power_suspend(server_rec *s)
{
  if (!server_device_enter(s)) return;
  if (!s->suspended) tarvo_device_ssdp_suspend(&s->device);
  s->suspended = 1;
  server_device_leave(s);
}

void server_power_resume(server_rec *s)
{
  if (!server_device_enter(s)) return;
  if (s->suspended) tarvo_device_ssdp_resume(&s->device);
  s->suspended = 0;
  server_device_leave(s);
}

}  // extern "C"
