// A resource library for the tray helper's tests: one string, one dialog
// text and a menu of its own.
#include <tarvo_ui/ui_resource.h>

namespace {
const UI_RESOURCE_ROW strings[] = {{0, 120, "Replaced message", nullptr}};
const UI_RESOURCE_ROW menus[] = {{129, 32774, "Quit", nullptr}};
const UI_RESOURCE_ROW dialogs[] = {{131, 0, "Replaced caption", nullptr}};
const UI_RESOURCE_TABLE table = {strings, 1, menus, 1, dialogs, 1};
}  // namespace

extern "C" __attribute__((visibility("default"))) const UI_RESOURCE_TABLE *tarvo_ui_resource_table(void)
{
  return &table;
}
