// vennard: the media server, a foreground service process.
#include <vennard/service.h>
#include <vennard/vennard_limits.h>

#include <malloc.h>

#include <tarvo_util/sys_alloc.h>

int main()
{
  // A fixed threshold: left to itself the allocator raises it after each
  // large answer, which then stays in the heap of the thread that made it.
  mallopt(M_MMAP_THRESHOLD, SERVER_MMAP_THRESHOLD);
  // The heap that a thread grew for an answer is trimmed back once its free
  // top passes this, not after every answer: fewer system calls between
  // answers, and memory still given back.
  mallopt(M_TRIM_THRESHOLD, SERVER_TRIM_THRESHOLD);
  char *dir = nullptr, *name = nullptr, *home = nullptr;
  int ok = service_dir(&dir) && service_files_read(dir, &name, &home);
  sys_alloc_free(dir);
  int status = ok ? service_run(name, home) : VENNARD_EXIT_CONFIG;
  sys_alloc_free(name);
  sys_alloc_free(home);
  return status;
}
