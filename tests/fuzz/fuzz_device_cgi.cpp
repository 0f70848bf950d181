// links: tarvo_device tarvo_util
// A CGI program's answer: header lines up to the empty line and the
// status they ask for.
#include "../../upnp/device/device_impl.h"

#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  static int fd = memfd_create("cgi-answer", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, 0) || lseek(fd, 0, SEEK_SET) ||
      write(fd, data, size) != ssize_t(size) || lseek(fd, 0, SEEK_SET))
    return 0;
  char buf[DEVICE_CGI_BLOCK];
  sys_filebuffer_rec fb;
  sys_filebuffer_init(&fb, fd, buf, sizeof buf);
  sys_str_list lines = nullptr;
  const char *status = nullptr;
  if (device_cgi_answer_read(&fb, &lines, &status)) {
    if (!status || !*status || !lines) std::abort();
    for (const char *p = status; *p; p++)
      if (*p == '\n') std::abort();
  }
  sys_str_list_free(lines);
  return 0;
}
