// The fake file-manager host: loads a context-menu module as Nautilus
// does, hands it file-info objects and reads back its menu items.
#pragma once

#include <nautilus-extension.h>

#include <string>
#include <vector>

namespace shellext_test {

struct item {
  std::string name, label, tip;
  bool sensitive;
  NautilusMenuItem *object;
};

struct host_module {
  void *lib = nullptr;
  GObject *provider = nullptr;
  void (*shutdown)() = nullptr;
  explicit host_module(const std::string &path);
  // The items for the selection; a path beginning "http:" is not local.
  std::vector<item> items(const std::vector<std::string> &paths, bool directories);
  // Activates the item and waits for its worker.
  void activate(const item &i);
};

void free_items(std::vector<item> &items);

}  // namespace shellext_test
