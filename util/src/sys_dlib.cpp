// Dynamic libraries.
#include <tarvo_util/sys_dlib.h>

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

namespace {

std::string program_folder()
{
  char exe[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return {};
  std::string s(exe, size_t(n));
  return s.substr(0, s.rfind('/') + 1);
}

void *load(const char *name)
{
  if (std::strchr(name, '/')) return dlopen(name, RTLD_NOW | RTLD_LOCAL);
  std::string here = program_folder();
  // The program's own folder first, then the loader's search (names
  // without "/").
  const std::string tries[] = {
    here.empty() ? std::string() : here + "lib" + name + ".so",
    here.empty() ? std::string() : here + name + ".so",
    std::string("lib") + name + ".so",
    std::string(name) + ".so",
  };
  for (const std::string &t : tries)
    if (!t.empty())
      if (void *h = dlopen(t.c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
  return nullptr;
}

}  // namespace

extern "C" {

int sys_dlib_load(sys_dlib_handle *lib, const char *path)
{
  if (!path || !path[0]) return 0;
  void *h;
  try {
    h = load(path);
  } catch (...) {  // out of memory
    return 0;
  }
  if (!h) return 0;
  *lib = h;
  return 1;
}

int sys_dlib_name(sys_dlib_handle *lib, const char *name, sys_dlib_fn *fn)
{
  void *p = *lib ? dlsym(*lib, name) : nullptr;
  if (!p) return 0;
  *fn = reinterpret_cast<sys_dlib_fn>(p);
  return 1;
}

int sys_dlib_free(sys_dlib_handle *lib)
{
  if (!*lib || dlclose(*lib) != 0) return 0;
  *lib = nullptr;
  return 1;
}

}  // extern "C"
