// Files as the plug-ins look at them.
#include <corda_common/msf_common.h>

#include <tarvo_util/utf8file.h>

#include <sys/stat.h>

extern "C" int msf_regular_file(const char *path, sys_file_stat_rec *st)
{
  struct stat s;
  return path && ::stat(path, &s) == 0 && S_ISREG(s.st_mode) && utf8file_stat(path, st);
}
