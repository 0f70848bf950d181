// The HTML lists of the pages; see tollamy_list.h.
#include "tollamy_list.h"

#include "tollamy_limits.h"

#include <new>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/xml.h>

std::string tollamy_html(const char *s)
{
  own::stralloc sa;
  if (!xml_gen_encode_append(&sa.s, s ? s : "")) throw std::bad_alloc();
  return std::string(sa.s.buf ? sa.s.buf : "", sa.s.len);
}

std::string tollamy_row_id(uint32_t index)
{
  char d[4] = {char('0' + index / 100 % 10), char('0' + index / 10 % 10), char('0' + index % 10), 0};
  return d;
}

namespace {

using fill = std::vector<std::pair<const char *, std::string>>;

// A data value for a page: escaped; a value no XML document may hold
// (control bytes, broken UTF-8) would spoil the whole answer and is left
// empty.
std::string data(const std::string &v) { return xml_gen_is_legal_value(v.c_str()) ? tollamy_html(v) : ""; }

std::string text(const tollamy_config *c, const char *key)
{
  const char *t = tollamy_text_get(c, key);
  return t ? t : "";
}

// One list: its three templates read once, its list_item elements.
struct builder {
  const tollamy_config *c;
  std::string start, body, end;
  own::stralloc sa;
  bool ok;

  builder(const tollamy_config *config, const char *prefix) : c(config)
  {
    std::string base = tollamy_param_path(c, TOLLAMY_HTML_RESOURCE_DIR, prefix);
    ok = !base.empty() && tollamy_read_file(base + "_start.html.part", TOLLAMY_TEMPLATE_MAX, &start) &&
         tollamy_read_file(base + "_body.html.part", TOLLAMY_TEMPLATE_MAX, &body) &&
         tollamy_read_file(base + "_end.html.part", TOLLAMY_TEMPLATE_MAX, &end);
  }
  void add(const std::string &tmpl, const fill &f)
  {
    std::vector<const char *> keys, values;
    for (const auto &kv : f) {
      keys.push_back(kv.first);
      values.push_back(kv.second.c_str());
    }
    keys.push_back(nullptr);
    std::string part = tollamy_fill(tmpl, keys.data(), values.data(), false);
    if (!xml_gen_element_append(&sa.s, "list_item", part.c_str())) throw std::bad_alloc();
  }
  bool finish(std::string *out)
  {
    if (!ok) return false;
    out->assign(sa.s.buf ? sa.s.buf : "", sa.s.len);
    return true;
  }
};

}  // namespace

bool tollamy_list_mimetypes(const tollamy_config *c, const std::vector<std::string> &exts,
                            const std::vector<std::string> &mimes, std::string *out)
{
  builder b(c, "tollamy_page_mimetype_mimetype");
  if (!b.ok || exts.size() != mimes.size()) return false;
  b.add(b.start, {{"[[MIMETYPE_ADD]]", text(c, "MIMETYPE_ADD")}, {"[[COMMON_CANCEL]]", text(c, "COMMON_CANCEL")}});
  for (uint32_t i = 0; i < exts.size(); i++) {
    std::string id = tollamy_row_id(i);
    b.add(b.body, {{"[[MIMETYPE]]", data(mimes[i])},
                   {"[[EXTENTION]]", data(exts[i])},
                   {"[[SE_ID]]", "mime_se_" + id},
                   {"[[TR_ID]]", "mime_tr_" + id},
                   {"[[COMMON_APPLY]]", text(c, "COMMON_APPLY")},
                   {"[[COMMON_CANCEL]]", text(c, "COMMON_CANCEL")}});
  }
  b.add(b.end, {});
  return b.finish(out);
}

bool tollamy_list_servers(const tollamy_config *c, uint16_t port, const std::vector<tollamy_backup_server> &servers,
                          std::string *out)
{
  builder b(c, "tollamy_page_backup_server_table");
  if (!b.ok) return false;
  b.add(b.start, {});
  uint32_t row = 0;
  for (const tollamy_backup_server &s : servers) {
    // A server without a container to back up is left out of the table.
    std::vector<tollamy_backup_container> root;
    if (!tollamy_container_list(port, s.udn.c_str(), s.control_url.c_str(), "0", &root) || root.empty()) continue;
    std::string id = tollamy_row_id(row++);
    b.add(b.body, {{"[[udn]]", data(s.udn)},
                   {"[[icon_url]]", data(s.icon_url)},
                   {"[[friendly_name]]", data(s.friendly_name)},
                   {"[[control_url_cd]]", data(s.control_url)},
                   {"[[button_value_create_task]]", text(c, "BACKUP_BUTTON_ADD_TASK")},
                   {"[[loading_task_list]]", text(c, "BACKUP_RETRIEVING_TASK_LIST")},
                   {"[[BACKUP_FAILED_RETRIEVE_TASK_LIST]]", text(c, "BACKUP_FAILED_RETRIEVE_TASK_LIST")},
                   {"[[BACKUP_RERETRIEVE_TASK_LIST]]", text(c, "BACKUP_RERETRIEVE_TASK_LIST")},
                   {"[[BACKUP_NTASK]]", text(c, "BACKUP_NTASK")},
                   {"[[ntask]]", std::to_string(s.ntask)},
                   {"[[TR_ID]]", "bu_s_tr_" + id},
                   {"[[SE_ID]]", "bu_s_se_" + id}});
  }
  b.add(b.end, {});
  return b.finish(out);
}

bool tollamy_list_tasks(const tollamy_config *c, const tollamy_backup_server &server,
                        const std::vector<tollamy_backup_task> &tasks, std::string *out)
{
  static const char *const states[] = {"BACKUP_TASK_STATE_WAITING", "BACKUP_TASK_STATE_STANDBY",
                                       "BACKUP_TASK_STATE_RUNNING", "BACKUP_TASK_STATE_DISABLE",
                                       "BACKUP_TASK_STATE_UNKNOWN"};
  builder b(c, "tollamy_page_backup_task_table");
  if (!b.ok) return false;
  b.add(b.start, {{"[[folder]]", text(c, "BACKUP_TASK_LIST_CONTAINER")},
                  {"[[state]]", text(c, "BACKUP_TASK_LIST_STATE")},
                  {"[[date]]", text(c, "BACKUP_TASK_LIST_LAST_BACKUP_DATE")},
                  {"[[udn]]", data(server.udn)},
                  {"[[control_url_cd]]", data(server.control_url)},
                  {"[[friendly_name]]", data(server.friendly_name)},
                  {"[[icon_url]]", data(server.icon_url)},
                  {"[[BACKUP_BUTTON_ADD_TASK]]", text(c, "BACKUP_BUTTON_ADD_TASK")},
                  {"[[BACKUP_BUTTON_REMOVE_TASK]]", text(c, "BACKUP_BUTTON_REMOVE_TASK")},
                  {"[[COMMON_SELECT_ALL]]", text(c, "COMMON_SELECT_ALL")},
                  {"[[COMMON_UNSELECT_ALL]]", text(c, "COMMON_UNSELECT_ALL")},
                  {"[[COMMON_RELOAD]]", text(c, "COMMON_RELOAD")}});
  for (uint32_t i = 0; i < tasks.size(); i++) {
    const tollamy_backup_task &t = tasks[i];
    std::string date, id = tollamy_row_id(i);
    if (!tollamy_task_date(t.last_backuped.c_str(), &date)) return false;
    uint32_t state = t.state < TOLLAMY_TASK_UNKNOWN ? t.state : TOLLAMY_TASK_UNKNOWN;
    b.add(b.body, {{"[[container_name]]", data(t.title)},
                   {"[[state]]", text(c, states[state])},
                   {"[[time]]", data(date)},
                   {"[[udn]]", data(server.udn)},
                   {"[[control_url_cd]]", data(server.control_url)},
                   {"[[task_id]]", data(t.task_id)},
                   {"[[btn_str]]", text(c, state == TOLLAMY_TASK_DISABLED ? "BACKUP_CHANGE_TASK_STATE_DISABLE"
                                                                          : "BACKUP_CHANGE_TASK_STATE_ENABLE")},
                   {"[[btn_remove_task]]", text(c, "BACKUP_BUTTON_REMOVE_TASK")},
                   {"[[TR_ID]]", "bu_t_tr_" + id},
                   {"[[SE_ID]]", "bu_t_se_" + id}});
  }
  b.add(b.end, {});
  return b.finish(out);
}

bool tollamy_list_clients(const tollamy_config *c, bool allow, const std::vector<std::string> &macs,
                          const std::vector<std::string> &ips, const std::vector<std::string> &hosts, std::string *out)
{
  builder b(c, "tollamy_page_security_client_list");
  if (!b.ok || macs.size() != ips.size() || hosts.size() != ips.size()) return false;
  std::string list = allow ? "sec_a" : "sec_d";
  b.add(b.start, {{"[[TABLE_ID]]", list + "_list_body"}});
  for (uint32_t i = 0; i < macs.size(); i++) {
    std::string id = tollamy_row_id(i);
    b.add(b.body, {{"[[MAC]]", data(macs[i])},
                   {"[[IP]]", data(ips[i])},
                   {"[[HOST]]", data(hosts[i])},
                   {"[[DENY_OR_ALLOW]]", "mac_and_ip"},
                   {"[[MAC_AND_IP]]", data(macs[i] + "," + ips[i])},
                   {"[[LIST]]", list},
                   {"[[TR_NAME]]", list + "_tr"},
                   {"[[TR_ID]]", list + "_tr_" + id},
                   {"[[SE_NAME]]", list + "_se"},
                   {"[[SE_ID]]", list + "_se_" + id},
                   {"[[HOST_ID]]", data(ips[i])}});
  }
  b.add(b.end, {});
  return b.finish(out);
}

bool tollamy_list_shares(const tollamy_config *c, const std::vector<std::string> &paths, std::string *out)
{
  builder b(c, "tollamy_page_share_share_list");
  if (!b.ok) return false;
  b.add(b.start, {});
  for (uint32_t i = 0; i < paths.size(); i++) {
    std::string id = tollamy_row_id(i);
    b.add(b.body, {{"[[PATH]]", data(paths[i])}, {"[[SE_ID]]", "share_se_" + id}, {"[[TR_ID]]", "share_tr_" + id}});
  }
  b.add(b.end, {});
  return b.finish(out);
}
