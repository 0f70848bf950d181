// A test service module.  Variants by compile definition: SM_GOOD (every
// entry point, a handler), SM_NOSTART (start says 0), SM_NOEND (no
// tarvo_sm_end).  Each call is logged as "<call> <variant>" to
// $TARVO_TEST_SM_LOG when set.
#include <vennard/server_desc.h>

#include <cstdio>
#include <cstdlib>

#if defined(SM_GOOD)
#define SM_NAME "good"
#elif defined(SM_NOSTART)
#define SM_NAME "nostart"
#else
#define SM_NAME "noend"
#endif

namespace {

void note(const char *call)
{
  const char *path = std::getenv("TARVO_TEST_SM_LOG");
  if (!path) return;
  if (FILE *f = std::fopen(path, "a")) {
    std::fprintf(f, "%s %s\n", call, SM_NAME);
    std::fclose(f);
  }
}

uint32_t action(const device_request_info *, const char *, char **, char **, void *, char **) { return 401; }
uint32_t query(const device_request_info *, const char *, void *, char **) { return 404; }
int subscribe(const device_request_info *, void *, char **) { return 0; }

device_service_handler handler{"urn:tarvo-org:serviceId:X_Test", action, query, subscribe,
                               nullptr, nullptr, nullptr, nullptr};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) device_service_handler *tarvo_sm_handler_init(server_rec *s)
{
  note("init");
  handler.user = s;
  return &handler;
}

__attribute__((visibility("default"))) int tarvo_sm_start(server_rec *)
{
  note("start");
#ifdef SM_NOSTART
  return 0;
#else
  return 1;
#endif
}

#ifndef SM_NOEND
__attribute__((visibility("default"))) void tarvo_sm_end(void) { note("end"); }
#endif
}
