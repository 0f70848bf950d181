// links: tollamy_core tarvo_util
// One web administration request in process, in a prepared folder, from
// arbitrary query text, remote address and browser headers: every answer
// is the content-type line and a well-formed XML document, and nothing but
// the session folder changes.  The login file is absent, so a login never
// waits for a wrong password.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <tarvo_util/xml_walk.h>

#include "fuzz_tollamy.h"
#include "tollamy_request.h"

namespace {

using fuzz_tollamy::listing;
using fuzz_tollamy::put;

struct folder {
  std::string dir;
  tollamy_config config;
  std::set<std::string> before;
  folder()
  {
    dir = fuzz_tollamy::make_folder("fuzz_tollamy_");
    put(dir + "/text/text_en.xml", "<text_list><text><id>COMMON_FAILED</id><value>f&amp;&lt;</value></text>"
                                   "<text><id>COMMON_LOADING_PAGE</id><value>]]&gt;</value></text></text_list>");
    put(dir + "/html/tollamy_menu.html.part", "<p a='[[COMMON_LOADING_PAGE]]'>&</p>");
    put(dir + "/html/tollamy_page_login.html.part", "[[server_name]]");
    // A port where nothing listens: the controllers the free pass reaches
    // must not talk to a server that happens to run on this machine.
    put(dir + "/ms/conf/upnp_port", "1\n");
    put(dir + "/config/list.xml", "<default_filetype_list/>");
    mkdir((dir + "/config/session").c_str(), 0700);
    // The loads read the program's folder; the fuzzer's own paths are
    // relative to where it started.
    char *home = getcwd(nullptr, 0);
    if (!home || chdir(dir.c_str()) != 0 || !tollamy_load_params(&config) || !tollamy_load_settings(&config) ||
        !tollamy_load_texts(&config) || chdir(home) != 0)
      std::abort();
    free(home);
    listing(dir, &before, "session");
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
  static folder f;
  if (size < 1 || size > 4096) return 0;
  std::string query(reinterpret_cast<const char *>(data + 1), size - 1);
  if (query.find('\0') != query.npos) return 0;
  clearenv();
  setenv("REQUEST_METHOD", "GET", 1);
  setenv("QUERY_STRING", query.c_str(), 1);
  setenv("REMOTE_ADDR", data[0] & 1 ? "127.0.0.1" : "192.0.2.7", 1);
  if (data[0] & 2) setenv("HTTP_SEC_FETCH_SITE", "cross-site", 1);
  if (data[0] & 4) setenv("HTTP_HOST", data[0] & 8 ? "evil.example" : "127.0.0.1:30000", 1);
  if (data[0] & 16) setenv("HTTP_ORIGIN", "http://127.0.0.1:30000", 1);
  tollamy_config config = f.config;
  tollamy_request r;
  r.config = &config;
  if (tollamy_request_read(&r)) tollamy_request_handle(&r);
  fuzz_tollamy::check_answer(r.answer);
  std::set<std::string> after;
  listing(f.dir, &after, "session");
  if (after != f.before) std::abort();
  return 0;
}
