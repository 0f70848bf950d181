// Service modules: libraries named by the serviceModule attribute of a
// service in the device description, each adding a handler record.
#include <vennard/server.h>
#include <vennard/server_desc.h>

namespace {

template <class Fn> bool entry(sys_dlib_handle *lib, const char *name, Fn *fn)
{
  sys_dlib_fn f = nullptr;
  if (!sys_dlib_name(lib, name, &f) || !f) return false;
  *fn = reinterpret_cast<Fn>(f);
  return true;
}

void module_unload(service_module_rec *m)
{
  if (m->end) m->end();
  sys_dlib_free(&m->library);
  sys_alloc_free(m);
}

// One module: loaded, its handler made and started, kept in the list and
// its handler appended.  On failure nothing of it stays.
bool module_load(server_rec *s, const char *path, sys_ptralloc_rec *handlers)
{
  auto *m = static_cast<service_module_rec *>(sys_alloc_zero(sizeof(service_module_rec)));
  if (!m) return false;
  if (!sys_dlib_load(&m->library, path)) {
    sys_alloc_free(m);
    return false;
  }
  tarvo_sm_handler_init_fn init = nullptr;
  tarvo_sm_start_fn start = nullptr;
  tarvo_sm_end_fn end = nullptr;
  device_service_handler *handler = nullptr;
  bool ok = entry(&m->library, "tarvo_sm_handler_init", &init) && (handler = init(s)) != nullptr &&
            entry(&m->library, "tarvo_sm_start", &start) && start(s) != 0 &&
            entry(&m->library, "tarvo_sm_end", &end);
  m->end = end;
  if (ok && sys_ptralloc_append(&s->modules, m)) {
    if (sys_ptralloc_append(handlers, handler)) return true;
    s->modules.len--;
  }
  module_unload(m);
  return false;
}

}  // namespace

extern "C" {

int service_modules_load(server_rec *s, const server_desc_device_rec *device, sys_ptralloc_rec *handlers)
{
  uint32_t had = handlers->len;
  for (server_desc_service_rec **sv = device->services; sv && *sv; sv++) {
    if (!(*sv)->service_module) continue;
    if (!module_load(s, (*sv)->service_module, handlers)) {
      handlers->len = had;
      service_modules_unload(s);
      return 0;
    }
  }
  return 1;
}

void service_modules_unload(server_rec *s)
{
  for (uint32_t i = s->modules.len; i > 0; i--) module_unload(static_cast<service_module_rec *>(s->modules.buf[i - 1]));
  sys_ptralloc_free(&s->modules);
  s->modules = sys_ptralloc_rec{};
}

}  // extern "C"
