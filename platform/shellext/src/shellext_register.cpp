// Registration of a context-menu module: its class, ProgID, handler and
// approval records in the registry stand-in, and its link in the file
// manager's extension folder.
#include <tarvo_platform/registry.h>
#include <tarvo_shellext/shellext.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef SHELLEXT_NAUTILUS_EXTENSION_DIR
#define SHELLEXT_NAUTILUS_EXTENSION_DIR "/usr/lib/x86_64-linux-gnu/nautilus/extensions-4"
#endif

namespace {

const std::string classes = "HKEY_CLASSES_ROOT/";
const char *const approved_key =
    "HKEY_LOCAL_MACHINE/Software/Microsoft/Windows/CurrentVersion/Shell Extensions/Approved";

// REG_SZ values are UTF-8 with their NUL.
bool set_sz(const std::string &key, const char *name, const std::string &text)
{
  return registry_set_value(key.c_str(), name, REGISTRY_SZ, text.c_str(), uint32_t(text.size() + 1)) == REGISTRY_OK;
}

std::string link_path(const char *module)
{
  const char *dir = std::getenv("TARVO_NAUTILUS_EXTENSION_DIR");
  std::string m = module, base = m.substr(m.rfind('/') + 1);
  return std::string(dir && *dir ? dir : SHELLEXT_NAUTILUS_EXTENSION_DIR) + "/" + base;
}

bool write_records(const shellext_registration *r, const std::string &module)
{
  std::string cls = classes + "CLSID/" + r->clsid;
  bool ok = set_sz(cls, nullptr, r->description) && set_sz(cls + "/InprocServer32", nullptr, module) &&
            set_sz(cls + "/InprocServer32", "ThreadingModel", "Apartment") &&
            set_sz(cls + "/ProgID", nullptr, r->progid_version) &&
            set_sz(cls + "/VersionIndependentProgID", nullptr, r->progid) &&
            registry_open_key((cls + "/Programmable").c_str(), 1) == REGISTRY_OK &&
            set_sz(cls + "/TypeLib", nullptr, r->typelib);
  ok = ok && set_sz(classes + r->progid_version, nullptr, r->description) &&
       set_sz(classes + r->progid_version + "/CLSID", nullptr, r->clsid) &&
       set_sz(classes + r->progid, nullptr, r->description) &&
       set_sz(classes + r->progid + "/CLSID", nullptr, r->clsid) &&
       set_sz(classes + r->progid + "/CurVer", nullptr, r->progid_version);
  if (!ok) return false;
  std::string handler = classes + r->handler_key;
  // The handler key is written afresh, so that no value of an older
  // registration stays.
  registry_delete_key(handler.c_str());
  if (r->handler_default) return set_sz(handler, nullptr, r->handler_default);
  return registry_open_key(handler.c_str(), 1) == REGISTRY_OK;
}

void remove_records(const shellext_registration *r)
{
  registry_delete_key((classes + "CLSID/" + r->clsid).c_str());
  registry_delete_key((classes + r->progid_version).c_str());
  registry_delete_key((classes + r->progid).c_str());
  registry_delete_key((classes + r->handler_key).c_str());
}

// The module linked into the extension folder, replacing an older link.
bool make_link(const std::string &module, const std::string &link)
{
  std::string tmp = link + ".new";
  unlink(tmp.c_str());
  if (symlink(module.c_str(), tmp.c_str()) != 0) return false;
  if (rename(tmp.c_str(), link.c_str()) == 0) return true;
  unlink(tmp.c_str());
  return false;
}

}  // namespace

extern "C" {

int32_t shellext_register(const shellext_registration *r)
{
  char module[SHELLEXT_PATH_MAX], folder[SHELLEXT_PATH_MAX];
  if (!shellext_module_path(module, sizeof module) || !shellext_module_folder(folder, sizeof folder))
    return SHELLEXT_E_FAIL;
  std::string real = std::string(folder) + std::strrchr(module, '/');
  if (r->approval && !set_sz(approved_key, r->clsid, r->approval)) return SHELLEXT_E_ACCESSDENIED;
  std::string link = link_path(module);
  bool linked = make_link(real, link);
  if (!linked || !write_records(r, real)) {
    remove_records(r);
    if (linked) unlink(link.c_str());
    if (r->approval) registry_delete_value(approved_key, r->clsid);
    return SHELLEXT_E_ACCESSDENIED;
  }
  return SHELLEXT_S_OK;
}

int32_t shellext_unregister(const shellext_registration *r)
{
  char module[SHELLEXT_PATH_MAX];
  if (!shellext_module_path(module, sizeof module)) return SHELLEXT_E_FAIL;
  if (r->approval) registry_delete_value(approved_key, r->clsid);
  remove_records(r);
  std::string link = link_path(module);
  char target[SHELLEXT_PATH_MAX];
  // Only a link: a file of that name that is not ours stays.
  if (readlink(link.c_str(), target, sizeof target) > 0) unlink(link.c_str());
  return SHELLEXT_S_OK;
}

}  // extern "C"
