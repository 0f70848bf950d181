// The Nautilus side of a context-menu handler: a menu provider type whose
// items come from the handler's menu, and activation on a worker thread so
// that the file manager stays responsive while the server is asked.
#include <nautilus-extension.h>
#include <tarvo_shellext/shellext.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "shellext_menu_impl.h"

namespace {

struct provider {
  GObject parent;
};
struct provider_class {
  GObjectClass parent;
};

const shellext_class *handler_class;
GType provider_type;

// Activations still running; the module waits for them before it goes.
std::mutex running_lock;
std::condition_variable running_done;
int running;

struct activation {
  std::vector<std::string> paths;
  uint32_t offset;
};

std::vector<const char *> c_paths(const std::vector<std::string> &paths)
{
  std::vector<const char *> out;
  for (const auto &p : paths) out.push_back(p.c_str());
  return out;
}

void run_activation(activation a)
{
  auto paths = c_paths(a.paths);
  if (void *h = handler_class->create(paths.data(), uint32_t(paths.size()))) {
    handler_class->invoke(h, a.offset);
    handler_class->release(h);
  }
  std::lock_guard<std::mutex> g(running_lock);
  if (--running == 0) running_done.notify_all();
}

void on_activate(NautilusMenuItem *item, gpointer)
{
  auto *a = static_cast<activation *>(g_object_get_data(G_OBJECT(item), "tarvo-activation"));
  if (!a) return;
  {
    std::lock_guard<std::mutex> g(running_lock);
    ++running;
  }
  try {
    std::thread(run_activation, *a).detach();
  } catch (const std::exception &) {
    // No thread to be had: the item does nothing, the host stays up.
    std::lock_guard<std::mutex> g(running_lock);
    if (--running == 0) running_done.notify_all();
  }
}

// The selection as local paths; false for a file that has none.
bool local_paths(GList *files, std::vector<std::string> *out)
{
  for (GList *l = files; l; l = l->next) {
    auto *info = NAUTILUS_FILE_INFO(l->data);
    if (bool(nautilus_file_info_is_directory(info)) != bool(handler_class->folders)) return false;
    GFile *location = nautilus_file_info_get_location(info);
    char *path = location ? g_file_get_path(location) : nullptr;
    if (location) g_object_unref(location);
    if (!path) return false;
    out->push_back(path);
    g_free(path);
  }
  return !out->empty();
}

NautilusMenuItem *make_item(void *h, const shellext_menu_entry &e, const std::vector<std::string> &paths)
{
  uint32_t offset = e.id;  // queried with the first id 0
  std::string name = std::string(handler_class->type_name) + "::" + std::to_string(offset);
  char tip[1024] = "";
  if (handler_class->command_string(h, offset, SHELLEXT_GCS_HELPTEXT | SHELLEXT_GCS_UNICODE, tip, sizeof tip) !=
      SHELLEXT_S_OK)
    tip[0] = '\0';
  NautilusMenuItem *item = nautilus_menu_item_new(name.c_str(), e.label.c_str(), tip[0] ? tip : nullptr, nullptr);
  g_object_set(item, "sensitive", (e.flags & SHELLEXT_MF_GRAYED) ? FALSE : TRUE, nullptr);
  g_object_set_data_full(G_OBJECT(item), "tarvo-activation", new activation{paths, offset},
                         [](gpointer p) { delete static_cast<activation *>(p); });
  g_signal_connect(item, "activate", G_CALLBACK(on_activate), nullptr);
  return item;
}

GList *get_file_items(NautilusMenuProvider *, GList *files)
{
  std::vector<std::string> paths;
  if (!local_paths(files, &paths)) return nullptr;
  auto cp = c_paths(paths);
  void *h = handler_class->create(cp.data(), uint32_t(cp.size()));
  if (!h) return nullptr;
  shellext_menu menu;
  GList *items = nullptr;
  if (handler_class->query(h, &menu, 0, 0, SHELLEXT_MENU_MAX - 1, 0))
    for (const auto &e : menu.entries)
      if (!(e.flags & SHELLEXT_MF_SEPARATOR)) items = g_list_append(items, make_item(h, e, paths));
  handler_class->release(h);
  return items;
}

void provider_iface_init(gpointer g_iface, gpointer)
{
  auto *iface = static_cast<NautilusMenuProviderInterface *>(g_iface);
  iface->get_file_items = get_file_items;
  iface->get_background_items = nullptr;
}

}  // namespace

extern "C" {

void shellext_module_initialize(GTypeModule *module, const shellext_class *cls)
{
  handler_class = cls;
  GTypeInfo info{};
  info.class_size = sizeof(provider_class);
  info.instance_size = sizeof(provider);
  provider_type = g_type_module_register_type(module, G_TYPE_OBJECT, cls->type_name, &info, GTypeFlags(0));
  GInterfaceInfo iface{provider_iface_init, nullptr, nullptr};
  g_type_module_add_interface(module, provider_type, NAUTILUS_TYPE_MENU_PROVIDER, &iface);
}

void shellext_module_list_types(const unsigned long **types, int *count)
{
  *types = &provider_type;
  *count = 1;
}

void shellext_module_shutdown(void)
{
  std::unique_lock<std::mutex> g(running_lock);
  running_done.wait(g, [] { return running == 0; });
}

}  // extern "C"
