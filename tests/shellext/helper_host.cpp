// The fake file-manager host.
#include "helper_host.h"

#include <dlfcn.h>

#include <cstdlib>

namespace {

// A type module that only keeps the types registered with it.
struct fake_module {
  GTypeModule parent;
};
struct fake_module_class {
  GTypeModuleClass parent;
};
gboolean module_load(GTypeModule *) { return TRUE; }
void module_unload(GTypeModule *) {}
void fake_module_class_init(gpointer cls, gpointer)
{
  G_TYPE_MODULE_CLASS(cls)->load = module_load;
  G_TYPE_MODULE_CLASS(cls)->unload = module_unload;
}

GType fake_module_type()
{
  static GType t = g_type_register_static_simple(G_TYPE_TYPE_MODULE, "ShellextTestModule",
                                                 sizeof(fake_module_class), fake_module_class_init,
                                                 sizeof(fake_module), nullptr, GTypeFlags(0));
  return t;
}

// A file the host shows: a path (or URI) and whether it is a folder.
struct fake_file {
  GObject parent;
  char *where;
  gboolean directory;
};
struct fake_file_class {
  GObjectClass parent;
};

GFile *file_location(NautilusFileInfo *info)
{
  auto *f = reinterpret_cast<fake_file *>(info);
  return g_str_has_prefix(f->where, "http:") ? g_file_new_for_uri(f->where) : g_file_new_for_path(f->where);
}
gboolean file_is_directory(NautilusFileInfo *info) { return reinterpret_cast<fake_file *>(info)->directory; }
void file_iface_init(gpointer g_iface, gpointer)
{
  auto *iface = static_cast<NautilusFileInfoInterface *>(g_iface);
  iface->get_location = file_location;
  iface->is_directory = file_is_directory;
}
void file_finalize(GObject *o)
{
  g_free(reinterpret_cast<fake_file *>(o)->where);
  G_OBJECT_CLASS(g_type_class_peek_parent(G_OBJECT_GET_CLASS(o)))->finalize(o);
}
void file_class_init(gpointer cls, gpointer) { G_OBJECT_CLASS(cls)->finalize = file_finalize; }

GType fake_file_type()
{
  static GType t = [] {
    GType t = g_type_register_static_simple(G_TYPE_OBJECT, "ShellextTestFile", sizeof(fake_file_class),
                                            file_class_init, sizeof(fake_file), nullptr, GTypeFlags(0));
    GInterfaceInfo iface{file_iface_init, nullptr, nullptr};
    g_type_add_interface_static(t, NAUTILUS_TYPE_FILE_INFO, &iface);
    return t;
  }();
  return t;
}

std::string string_property(GObject *o, const char *name)
{
  char *v = nullptr;
  g_object_get(o, name, &v, nullptr);
  std::string s = v ? v : "(none)";
  g_free(v);
  return s;
}

}  // namespace

namespace shellext_test {

host_module::host_module(const std::string &path)
{
  lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib) return;
  auto init = reinterpret_cast<void (*)(GTypeModule *)>(dlsym(lib, "nautilus_module_initialize"));
  auto list = reinterpret_cast<void (*)(const GType **, int *)>(dlsym(lib, "nautilus_module_list_types"));
  shutdown = reinterpret_cast<void (*)()>(dlsym(lib, "nautilus_module_shutdown"));
  if (!init || !list || !shutdown) std::abort();
  auto *m = G_TYPE_MODULE(g_object_new(fake_module_type(), nullptr));
  g_type_module_use(m);
  init(m);
  const GType *types = nullptr;
  int n = 0;
  list(&types, &n);
  if (n != 1 || !g_type_is_a(types[0], NAUTILUS_TYPE_MENU_PROVIDER)) std::abort();
  provider = G_OBJECT(g_object_new(types[0], nullptr));
}

std::vector<item> host_module::items(const std::vector<std::string> &paths, bool directories)
{
  GList *files = nullptr;
  for (const auto &p : paths) {
    auto *f = reinterpret_cast<fake_file *>(g_object_new(fake_file_type(), nullptr));
    f->where = g_strdup(p.c_str());
    f->directory = directories;
    files = g_list_append(files, f);
  }
  GList *got = nautilus_menu_provider_get_file_items(NAUTILUS_MENU_PROVIDER(provider), files);
  g_list_free_full(files, g_object_unref);
  std::vector<item> out;
  for (GList *l = got; l; l = l->next) {
    GObject *o = G_OBJECT(l->data);
    gboolean sensitive = FALSE;
    g_object_get(o, "sensitive", &sensitive, nullptr);
    out.push_back({string_property(o, "name"), string_property(o, "label"), string_property(o, "tip"),
                   sensitive != FALSE, NAUTILUS_MENU_ITEM(o)});
  }
  g_list_free(got);
  return out;
}

void host_module::activate(const item &i)
{
  nautilus_menu_item_activate(i.object);
  shutdown();
}

void free_items(std::vector<item> &items)
{
  for (auto &i : items) g_object_unref(i.object);
  items.clear();
}

}  // namespace shellext_test
