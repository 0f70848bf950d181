// tarvo-shellext-register <module> [-u]: registers a context-menu module
// (or with -u unregisters it) through its own DllRegisterServer or
// DllUnregisterServer.  Exit 0 when that returned S_OK.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
  bool undo = argc == 3 && !std::strcmp(argv[2], "-u");
  if (argc != 2 && !undo) {
    std::fprintf(stderr, "usage: tarvo-shellext-register <module> [-u]\n");
    return 2;
  }
  void *module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    std::fprintf(stderr, "tarvo-shellext-register: %s\n", dlerror());
    return 1;
  }
  const char *entry = undo ? "DllUnregisterServer" : "DllRegisterServer";
  auto fn = reinterpret_cast<int32_t (*)()>(dlsym(module, entry));
  if (!fn) {
    std::fprintf(stderr, "tarvo-shellext-register: %s has no %s\n", argv[1], entry);
    return 1;
  }
  int32_t hr = fn();
  if (hr != 0) std::fprintf(stderr, "tarvo-shellext-register: %s returned 0x%08x\n", entry, uint32_t(hr));
  return hr == 0 ? 0 : 1;
}
