// The menu a handler fills, as the glue reads it.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct shellext_menu_entry {
  uint32_t flags;
  uint32_t id;
  std::string label;
};

struct shellext_menu {
  std::vector<shellext_menu_entry> entries;
};
