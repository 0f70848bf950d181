// The page controllers' dispatch; see tollamy_dispatch.h.
#include "tollamy_dispatch.h"

#include <cstring>

#include "tollamy_page.h"

namespace {

struct controller_row {
  const char *name;
  const tollamy_action_row *actions;
};

const controller_row controllers[] = {
    {"tollamy_menu", tollamy_actions_menu},
    {"tollamy_message", tollamy_actions_message},
    {"tollamy_page_name", tollamy_actions_name},
    {"tollamy_page_password", tollamy_actions_password},
    {"tollamy_page_view", tollamy_actions_view},
    {"tollamy_page_database", tollamy_actions_database},
    {"tollamy_page_mimetype", tollamy_actions_mimetype},
    {"tollamy_page_backup", tollamy_actions_backup},
    {"tollamy_page_security", tollamy_actions_security},
    {"tollamy_page_share", tollamy_actions_share},
    {"tollamy_page_setting", tollamy_actions_setting},
};

// The row of the action; a table whose first row has no action name takes
// every action.
const tollamy_action_row *find(const tollamy_action_row *rows, const char *action)
{
  for (; rows->handler; rows++)
    if (!rows->action || (action && !std::strcmp(rows->action, action))) return rows;
  return nullptr;
}

}  // namespace

bool tollamy_dispatch(tollamy_request *r)
{
  if (const tollamy_action_row *page = find(tollamy_generic_pages, r->action)) return page->handler(r);
  for (const controller_row &c : controllers) {
    if (!r->controller || std::strcmp(c.name, r->controller)) continue;
    const tollamy_action_row *row = find(c.actions, r->action);
    // An action the controller does not know gets no answer at all.
    return row && row->handler(r);
  }
  return tollamy_menu_page(r);
}
