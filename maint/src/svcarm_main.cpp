// svcarm <service name>: the service starts automatically from now on, and
// is started when that could be set.  Installers rely on exit 0 whatever
// the service manager answered; what failed goes to standard error.
#include <tarvo_platform/scm.h>

#include <cstdio>

int main(int argc, char **argv)
{
  if (argc != 2) {
    std::fprintf(stderr, "usage: svcarm <service name>\n");
    return 1;
  }
  const char *name = argv[1];
  if (!scm_service_enable(name, name))
    std::fprintf(stderr, "svcarm: cannot set %s to start automatically: %s\n", name, scm_last_error());
  else if (!scm_service_start(name))
    std::fprintf(stderr, "svcarm: cannot start %s: %s\n", name, scm_last_error());
  return 0;
}
