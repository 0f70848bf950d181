// The backup page: servers of the local server's description list, their
// tasks and containers, and the task changes.
#include <string>

#include "tollamy_list.h"
#include "tollamy_page.h"
#include "tollamy_server.h"

namespace {

bool get_server_list(tollamy_request *r)
{
  std::vector<tollamy_backup_server> servers;
  std::string items;
  bool ok = tollamy_backup_server_list(r->config, r->port, &servers) &&
            tollamy_list_servers(r->config, r->port, servers, &items);
  return tollamy_answer_list(r, ok, "html_list", items);
}

bool get_task_list(tollamy_request *r)
{
  tollamy_backup_server s;
  const char *udn = tollamy_arg_set(r, "udn"), *url = tollamy_arg_set(r, "control_url_cd");
  const char *name = tollamy_arg_set(r, "friendly_name"), *icon = tollamy_arg_set(r, "icon_url");
  std::vector<tollamy_backup_task> tasks;
  uint32_t ntask = 0;
  std::string items, echoes;
  bool ok = udn && url && name && icon;
  if (ok) {
    s.udn = udn;
    s.control_url = url;
    s.friendly_name = name;
    s.icon_url = icon;
    ok = tollamy_task_list(r->port, udn, url, &tasks, &ntask) && tollamy_list_tasks(r->config, s, tasks, &items);
  }
  tollamy_echo(&echoes, "udn", s.udn);
  tollamy_echo(&echoes, "control_url_cd", s.control_url);
  tollamy_echo(&echoes, "friendly_name", s.friendly_name);
  tollamy_echo(&echoes, "icon_url", s.icon_url);
  tollamy_echo(&echoes, "ntask", std::to_string(ntask));
  return tollamy_answer_list(r, ok, "html_list", items, echoes);
}

bool browse_container(tollamy_request *r)
{
  const char *udn = tollamy_arg_set(r, "udn"), *url = tollamy_arg_set(r, "control_url_cd");
  const char *id = tollamy_arg_set(r, "container_id_for_browse");
  std::vector<tollamy_backup_container> list;
  bool ok = udn && url && id && tollamy_container_list(r->port, udn, url, id, &list);
  std::string echoes;
  tollamy_echo(&echoes, "udn", udn ? udn : "");
  tollamy_echo(&echoes, "control_url_cd", url ? url : "");
  tollamy_echo(&echoes, "container_id", id ? id : "");
  return tollamy_answer_list(r, ok, "container_list", ok ? tollamy_container_elements(list) : "", echoes);
}

bool register_task(tollamy_request *r)
{
  const char *udn = tollamy_arg_set(r, "udn"), *id = tollamy_arg_set(r, "container_id");
  bool ok = udn && id && tollamy_server_create_task(r->port, udn, id);
  std::string echoes;
  tollamy_echo(&echoes, "udn", udn ? udn : "");
  tollamy_echo(&echoes, "container_id", id ? id : "");
  return tollamy_answer_result(
      r, ok, tollamy_page_text(r, ok ? "BACKUP_SUCCEEDED_CREATE_TASK" : "BACKUP_FAILED_CREATE_TASK"), echoes);
}

bool unregister_task(tollamy_request *r)
{
  const char *udn = tollamy_arg_set(r, "udn"), *url = tollamy_arg_set(r, "control_url_cd");
  const char *name = tollamy_arg_set(r, "friendly_name"), *icon = tollamy_arg_set(r, "icon_url");
  std::vector<std::string> ids = tollamy_args(r, "bu_t_se");
  bool ok = udn && url && name && icon;
  // The first task that cannot be removed stops the rest.
  for (size_t i = 0; ok && i < ids.size(); i++) ok = tollamy_server_remove_task(r->port, ids[i].c_str());
  std::string echoes;
  for (const std::string &id : ids) tollamy_echo(&echoes, "task_id", id);
  tollamy_echo(&echoes, "udn", udn ? udn : "");
  tollamy_echo(&echoes, "control_url_cd", url ? url : "");
  tollamy_echo(&echoes, "icon_url", icon ? icon : "");
  tollamy_echo(&echoes, "friendly_name", name ? name : "");
  return tollamy_answer_result(
      r, ok, tollamy_page_text(r, ok ? "BACKUP_SUCCEEDED_REMOVE_TASK" : "BACKUP_FAILED_REMOVE_TASK"), echoes);
}

}  // namespace

const tollamy_action_row tollamy_actions_backup[] = {
    {"get_server_list", get_server_list}, {"get_task_list", get_task_list},
    {"browse_container", browse_container}, {"register_task", register_task},
    {"unregister_task", unregister_task}, {nullptr, nullptr},
};
