// tollamy: the web administration program, one request per process, run
// by the device stack's CGI runner.  Any start-up failure ends it with
// status 1 and no output.
#include <new>
#include <tarvo_util/sys_file.h>
#include <tarvo_util/sys_socket.h>

#include "tollamy_request.h"

namespace {

bool start(tollamy_config *c)
{
  return platform_init() && tollamy_load_params(c) && tollamy_load_settings(c) && tollamy_load_texts(c);
}

}  // namespace

int main()
{
  tollamy_config config;
  tollamy_request r;
  r.config = &config;
  bool ok = false;
  try {
    if (!start(&config)) return 1;
    ok = tollamy_request_read(&r) && tollamy_request_handle(&r);
  } catch (const std::bad_alloc &) {
    ok = false;
    r.answer.clear();
  }
  config.texts.clear();
  if (!tollamy_settings_write(&config)) ok = false;
  int out;
  if (!r.answer.empty() && sys_file_stdout(&out)) sys_file_allwrite(out, r.answer.data(), uint32_t(r.answer.size()));
  return ok ? 0 : 1;
}
