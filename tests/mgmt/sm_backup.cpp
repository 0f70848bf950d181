// A test service module that serves X_ContentBackup with its tasks kept in
// memory: the server loads it through its service-module loader, and the
// local-server client's backup calls are tried against it.
#include <tarvo_device/tarvo_device.h>
#include <tarvo_util/soap.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/tarvo_vendor.h>
#include <tarvo_util/xml.h>

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

struct task {
  std::string udn, container;
};

std::mutex m;
std::map<std::string, task> tasks;
unsigned next_id = 1;

using out_values = std::vector<std::pair<const char *, std::string>>;

uint32_t respond(const device_request_info *info, const char *action, const out_values &out, char **response)
{
  own::stralloc sa;
  bool ok = soap_xml_response_begin(&sa.s, info->service_type, action);
  for (const auto &v : out) ok = ok && xml_gen_element_append(&sa.s, v.first, v.second.c_str());
  if (!ok || !soap_xml_response_end(&sa.s, action) || !sys_stralloc_append(&sa.s, "")) return 501;
  *response = sa.s.buf;
  sa.s = sys_stralloc_rec{};
  return 0;
}

std::string arg(char **names, char **values, const char *name)
{
  for (uint32_t i = 0; names[i]; i++)
    if (std::string(names[i]) == name) return values[i];
  return {};
}

// The ids of the tasks of one UDN (all when udn is NULL), comma-separated.
out_values ids(const std::string *udn, const char *list, const char *count)
{
  std::string text;
  unsigned n = 0;
  for (const auto &t : tasks)
    if (!udn || t.second.udn == *udn) {
      text += (n++ ? "," : "") + t.first;
    }
  return {{list, text}, {count, std::to_string(n)}};
}

uint32_t action(const device_request_info *info, const char *name, char **names, char **values, void *,
                char **response)
{
  std::lock_guard<std::mutex> l(m);
  std::string a = name, id = arg(names, values, "TaskID"), udn = arg(names, values, "UDN");
  auto found = tasks.find(id);
  if (a == "GetDescriptionURIs")
    return respond(info, name, {{"DescriptionURIs", "http://192.0.2.1/a.xml,http://192.0.2.2/b.xml"},
                                {"NumberOfDescriptionURIs", "2"}},
                   response);
  if (a == "CreateTask") {
    if (udn.empty()) return 402;
    id = "task-" + std::to_string(next_id++);
    tasks[id] = {udn, arg(names, values, "ContainerID")};
    return respond(info, name, {{"TaskID", id}}, response);
  }
  if (a == "GetAllTaskIDs") return respond(info, name, ids(nullptr, "TaskIDs", "NumberOfTaskIDs"), response);
  if (a == "GetTaskIDs") return respond(info, name, ids(&udn, "TaskIDs", "NumberOfTaskIDs"), response);
  if (found == tasks.end()) return a == "RemoveTask" || a == "GetTaskInfo" ? 402 : 401;
  if (a == "RemoveTask") {
    tasks.erase(found);
    return respond(info, name, {}, response);
  }
  if (a == "GetTaskInfo")
    return respond(info, name,
                   {{"UDN", found->second.udn},
                    {"ContainerID", found->second.container},
                    {"LastBackuped", ""},
                    {"State", "idle"}},
                   response);
  return 401;
}

uint32_t query(const device_request_info *, const char *, void *, char **) { return 404; }
int subscribe(const device_request_info *, void *, char **) { return 0; }

device_service_handler handler{TARVO_VENDOR_BACKUP_ID, action, query, subscribe, nullptr, nullptr, nullptr, nullptr};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) device_service_handler *tarvo_sm_handler_init(void *) { return &handler; }
__attribute__((visibility("default"))) int tarvo_sm_start(void *) { return 1; }
__attribute__((visibility("default"))) void tarvo_sm_end(void)
{
  std::lock_guard<std::mutex> l(m);
  tasks.clear();
}
}
