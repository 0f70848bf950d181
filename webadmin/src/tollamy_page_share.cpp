// The share page: the shared folders, unsharing them, and the repair that
// takes chosen folders off the server and puts them back.
#include <algorithm>
#include <tarvo_util/sys_thread.h>

#include "tollamy_limits.h"
#include "tollamy_list.h"
#include "tollamy_page.h"
#include "tollamy_server.h"

namespace {

bool get_share_list(tollamy_request *r)
{
  std::vector<std::string> paths;
  std::string items;
  bool ok = tollamy_server_share_list(r->port, &paths);
  std::sort(paths.begin(), paths.end());
  ok = ok && tollamy_list_shares(r->config, paths, &items);
  return tollamy_answer_list(r, ok, "html_list", items);
}

bool unregister_share_list(tollamy_request *r)
{
  std::vector<std::string> paths = tollamy_args(r, "share_se");
  std::string echoes;
  for (const std::string &p : paths) {
    tollamy_server_unshare(r->port, p.c_str());
    tollamy_echo(&echoes, "share_path", p);
  }
  return tollamy_answer_result(r, true, tollamy_page_text(r, "BACKUP_SUCCEEDED_REMOVE_TASK"), echoes);
}

// Only what was taken off goes back (a path that was never shared is not
// shared now), and a folder that cannot be put back is a failure: the
// user would otherwise lose it without a word.
bool repair_database(tollamy_request *r)
{
  std::vector<std::string> unshared;
  for (const std::string &p : tollamy_args(r, "share_se"))
    if (tollamy_server_unshare(r->port, p.c_str())) unshared.push_back(p);
  if (!unshared.empty()) sys_thread_sleep(TOLLAMY_REPAIR_WAIT_MS);
  bool ok = true;
  for (const std::string &p : unshared) ok = tollamy_server_share(r->port, p.c_str()) && ok;
  return tollamy_answer_result(r, ok, tollamy_page_text(r, ok ? "DATABASE_REPAIRED_MESSAGE" : "COMMON_FAILED"));
}

}  // namespace

const tollamy_action_row tollamy_actions_share[] = {
    {"get_share_list", get_share_list},
    {"unregister_share_list", unregister_share_list},
    {"repair_database", repair_database},
    {nullptr, nullptr},
};
