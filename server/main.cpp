// vennard: the media server, a foreground service process.
#include <vennard/service.h>

#include <tarvo_util/sys_alloc.h>

int main()
{
  char *dir = nullptr, *name = nullptr, *home = nullptr;
  int ok = service_dir(&dir) && service_files_read(dir, &name, &home);
  sys_alloc_free(dir);
  int status = ok ? service_run(name, home) : VENNARD_EXIT_CONFIG;
  sys_alloc_free(name);
  sys_alloc_free(home);
  return status;
}
