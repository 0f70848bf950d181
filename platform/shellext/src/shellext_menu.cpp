// The menu recorder that handlers insert their items into.
#include <tarvo_shellext/shellext.h>

#include "shellext_menu_impl.h"

extern "C" {

int shellext_menu_insert(shellext_menu *menu, uint32_t position, uint32_t flags, uint32_t id, const char *label)
{
  if (!menu || menu->entries.size() >= SHELLEXT_MENU_MAX) return 0;
  if (position > menu->entries.size()) position = uint32_t(menu->entries.size());
  menu->entries.insert(menu->entries.begin() + position, shellext_menu_entry{flags, id, label ? label : ""});
  return 1;
}

void shellext_menu_gray(shellext_menu *menu, uint32_t id)
{
  for (auto &e : menu->entries)
    if (e.id == id && !(e.flags & SHELLEXT_MF_SEPARATOR)) e.flags |= SHELLEXT_MF_GRAYED;
}

}  // extern "C"
