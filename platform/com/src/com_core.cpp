// Per-thread initialisation, the task allocator, libraries loaded by file
// name, and creation by class id over the compiled-in table.
#include <tarvo_com/com.h>
#include <tarvo_util/charset.h>
#include <tarvo_util/sys_alloc.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <string>

namespace {

thread_local int init_count = 0;

// Class ids that CoCreateInstance knows, with the library file of each.
// There is no registry: a class that is not here is not registered.
struct ClassEntry {
  CLSID clsid;
  const char *file;
};
const ClassEntry class_table[] = {
  {{0x5D4F8B7D, 0x9377, 0x45BA, {0x86, 0xA9, 0xB9, 0xB6, 0x2E, 0x12, 0xC2, 0x12}}, "pandrel.ax"},
  {{0x845A578B, 0x836A, 0x41F9, {0xA2, 0x2A, 0xD1, 0xE3, 0x1F, 0x26, 0xB1, 0xED}}, "mirrow.ax"},
  // The resampler's settings page.
  {{0x292F3AD6, 0x5FBB, 0x4405, {0xAE, 0x60, 0x8F, 0xFE, 0x01, 0x14, 0x58, 0x02}}, "mirrow.ax"},
  {{0xEA380AF0, 0xDE2F, 0x4D10, {0xAF, 0x34, 0x58, 0x9F, 0xAB, 0x48, 0x81, 0xAC}}, "quorrin.ax"},
  {{0x0B7AD138, 0xD072, 0x48BC, {0x89, 0x5D, 0xC5, 0x47, 0x79, 0x97, 0x30, 0xE4}}, "saltrey.dll"},
  // The downmix settings page.
  {{0xF6FC83B9, 0x35BC, 0x4EBF, {0x8B, 0x74, 0xF8, 0x38, 0x37, 0x3F, 0xA0, 0x14}}, "saltrey.dll"},
  // The filter graph.
  {{0xE436EBB3, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}}, "tarvo_dshow_graph.dll"},
  // File Source (Async.), the WAVE parser and the ACM wrapper.
  {{0xE436EBB5, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}}, "tarvo_dshow_sys.dll"},
  {{0xD51BD5A1, 0x7548, 0x11CF, {0xA5, 0x20, 0x00, 0x80, 0xC7, 0x7E, 0xF5, 0x8A}}, "tarvo_dshow_sys.dll"},
  {{0x6A08CF80, 0x0E18, 0x11CF, {0xA2, 0x4D, 0x00, 0x20, 0xAF, 0xD7, 0x97, 0x67}}, "tarvo_dshow_sys.dll"},
  // The WM ASF Reader and the DMO wrapper.
  {{0x187463A0, 0x5BB7, 0x11D3, {0xAC, 0xBE, 0x00, 0x80, 0xC7, 0x5E, 0x24, 0x6E}}, "tarvo_dshow_sys.dll"},
  {{0x94297043, 0xBD82, 0x4DFD, {0xB0, 0xDE, 0x81, 0x77, 0x73, 0x9C, 0x6D, 0x20}}, "tarvo_dshow_sys.dll"},
};

bool ends_with_nocase(const std::string &s, const char *suffix)
{
  size_t n = std::char_traits<char>::length(suffix);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; i++)
    if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i]) return false;
  return true;
}

// "x/mirrow.ax" -> "x/libmirrow.so"; names of other kinds stay as they are.
std::string linux_name(const std::string &name)
{
  size_t slash = name.rfind('/');
  std::string dir = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
  std::string base = name.substr(dir.size());
  for (const char *ext : {".ax", ".dll"})
    if (ends_with_nocase(base, ext) && base.size() > std::char_traits<char>::length(ext))
      return dir + "lib" + base.substr(0, base.size() - std::char_traits<char>::length(ext)) + ".so";
  return name;
}

// The folder of the library or program that holds code address `where`.
std::string caller_folder(const void *where)
{
  Dl_info info{};
  std::string file;
  if (dladdr(where, &info) && info.dli_fname) file = info.dli_fname;
  if (file.empty() || file[0] != '/') {
    // The main program is named by its argument zero, which may be
    // relative to a folder that is no longer the current one.
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return {};
    file.assign(exe, size_t(n));
  }
  return file.substr(0, file.rfind('/') + 1);
}

void *load_library(const char *utf8, BOOL autoFree, const void *caller)
{
  std::string name = linux_name(utf8);
  int flags = RTLD_NOW | RTLD_LOCAL | (autoFree ? RTLD_NODELETE : 0);
  if (name.find('/') == std::string::npos) {
    std::string here = caller_folder(caller);
    if (!here.empty())
      if (void *h = dlopen((here + name).c_str(), flags)) return h;
  }
  return dlopen(name.c_str(), flags);
}

void *load_wide(LPCOLESTR name, BOOL autoFree, const void *caller)
{
  if (!name || !name[0]) return nullptr;
  char *utf8 = nullptr;
  if (!utf8_from_wcs2(reinterpret_cast<const sys_wchar *>(name), &utf8)) return nullptr;
  void *h = nullptr;
  try {
    h = load_library(utf8, autoFree, caller);
  } catch (...) {  // out of memory
  }
  sys_alloc_free(utf8);
  return h;
}

HRESULT create_from_library(const char *file, REFCLSID clsid, IUnknown *outer, REFIID riid, void **ppv,
                            const void *caller)
{
  void *lib = nullptr;
  try {
    lib = load_library(file, TRUE, caller);
    // The platform's own classes lie beside this layer, wherever the
    // caller is.
    if (!lib) lib = load_library(file, TRUE, reinterpret_cast<const void *>(&create_from_library));
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  if (!lib) return REGDB_E_CLASSNOTREG;
  auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(lib, "DllGetClassObject"));
  HRESULT hr = E_NOINTERFACE;
  IClassFactory *factory = nullptr;
  if (get) hr = get(clsid, IID_IClassFactory, reinterpret_cast<void **>(&factory));
  if (SUCCEEDED(hr)) {
    hr = factory->CreateInstance(outer, riid, ppv);
    factory->Release();
  }
  dlclose(lib);  // loaded with RTLD_NODELETE: the library stays
  return hr;
}

}  // namespace

extern "C" {

HRESULT CoInitialize(void *reserved)
{
  return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

HRESULT CoInitializeEx(void *, DWORD)
{
  return init_count++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize(void)
{
  if (init_count > 0) init_count--;
}

__attribute__((noinline)) HRESULT CoCreateInstance(REFCLSID clsid, IUnknown *outer, DWORD, REFIID riid, void **ppv)
{
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (init_count == 0) return CO_E_NOTINITIALIZED;
  for (const ClassEntry &e : class_table)
    if (e.clsid == clsid) return create_from_library(e.file, clsid, outer, riid, ppv, __builtin_return_address(0));
  return REGDB_E_CLASSNOTREG;
}

__attribute__((noinline)) HINSTANCE CoLoadLibrary(LPCOLESTR name, BOOL autoFree)
{
  return load_wide(name, autoFree, __builtin_return_address(0));
}

FARPROC GetProcAddress(HMODULE module, const char *name)
{
  if (!module || !name) return nullptr;
  return reinterpret_cast<FARPROC>(dlsym(module, name));
}

BOOL FreeLibrary(HMODULE module)
{
  return module && dlclose(module) == 0;
}

void *CoTaskMemAlloc(size_t size)
{
  return std::malloc(size ? size : 1);
}

void CoTaskMemFree(void *p)
{
  std::free(p);
}

}  // extern "C"
