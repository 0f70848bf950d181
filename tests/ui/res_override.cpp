// The override library of the resource test: one string and one menu of its own.
#include <tarvo_ui/ui_resource.h>

namespace {
const UI_RESOURCE_ROW strings[] = {{0, 7, "Overridden", "上書き"}};
const UI_RESOURCE_ROW menus[] = {{5, 1, "Only", nullptr}};
const UI_RESOURCE_TABLE table = {strings, 1, menus, 1, nullptr, 0};
}  // namespace

extern "C" __attribute__((visibility("default"))) const UI_RESOURCE_TABLE *tarvo_ui_resource_table(void)
{
  return &table;
}
