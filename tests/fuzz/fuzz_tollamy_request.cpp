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

#include "tollamy_request.h"

namespace {

struct any_xml : xml_walk {
  void on_start(const xml_name_rec *, const xml_name_rec *const *, const char *const *) override {}
  void on_end(const xml_name_rec *) override {}
};

void put(const std::string &path, const std::string &data) { std::ofstream(path, std::ios::binary) << data; }

// Every path below dir but those in session/, with sizes.
void listing(const std::string &dir, std::set<std::string> *out)
{
  DIR *d = opendir(dir.c_str());
  while (dirent *e = d ? readdir(d) : nullptr) {
    std::string n = e->d_name, p = dir + "/" + n;
    if (n == "." || n == ".." || n == "session") continue;
    struct stat st;
    if (stat(p.c_str(), &st) != 0) continue;
    out->insert(p + ":" + std::to_string(st.st_size));
    if (S_ISDIR(st.st_mode)) listing(p, out);
  }
  if (d) closedir(d);
}

struct folder {
  std::string dir;
  tollamy_config config;
  std::set<std::string> before;
  folder()
  {
    char tmpl[] = "/tmp/fuzz_tollamy_XXXXXX";
    dir = mkdtemp(tmpl);
    for (const char *d : {"/parameter", "/text", "/html", "/ms", "/ms/conf", "/config"}) mkdir((dir + d).c_str(), 0700);
    put(dir + "/parameter/parameter.xml",
        "<parameter_list><parameter><id>MS_CONFIG_DIR</id><value>" + dir + "/ms</value></parameter>"
        "<parameter><id>LANG_CONFIG_PATH</id><value>" + dir + "/lang.conf</value></parameter>"
        "<parameter><id>VIEW_CONFIG_PATH</id><value>" + dir + "/view.conf</value></parameter>"
        "<parameter><id>CONFIG_RESOURCE_DIR</id><value>" + dir + "/config</value></parameter>"
        "<parameter><id>HTML_RESOURCE_DIR</id><value>" + dir + "/html</value></parameter>"
        "<parameter><id>FILETYPE_DEFAULT_FILETYPE_FILE</id><value>list.xml</value></parameter></parameter_list>");
    put(dir + "/lang.conf", "LANGUAGE=\"en\"\n");
    put(dir + "/view.conf", "SHOW_SECURITY_DIALOG=\"true\"\n");
    put(dir + "/text/text_en.xml", "<text_list><text><id>COMMON_FAILED</id><value>f&amp;&lt;</value></text>"
                                   "<text><id>COMMON_LOADING_PAGE</id><value>]]&gt;</value></text></text_list>");
    put(dir + "/html/tollamy_menu.html.part", "<p a='[[COMMON_LOADING_PAGE]]'>&</p>");
    put(dir + "/html/tollamy_page_login.html.part", "[[server_name]]");
    put(dir + "/ms/conf/upnp_port", "30000\n");
    put(dir + "/config/list.xml", "<default_filetype_list/>");
    mkdir((dir + "/config/session").c_str(), 0700);
    // The loads read the program's folder; the fuzzer's own paths are
    // relative to where it started.
    char *home = getcwd(nullptr, 0);
    if (!home || chdir(dir.c_str()) != 0 || !tollamy_load_params(&config) || !tollamy_load_settings(&config) ||
        !tollamy_load_texts(&config) || chdir(home) != 0)
      std::abort();
    free(home);
    listing(dir, &before);
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
  if (!r.answer.empty()) {
    const std::string head = "Content-Type: application/xml; charset=UTF-8\n\n";
    if (r.answer.compare(0, head.size(), head) != 0) std::abort();
    any_xml w;
    if (!xml_walk_run(&w, r.answer.data() + head.size(), uint32_t(r.answer.size() - head.size()))) std::abort();
  }
  std::set<std::string> after;
  listing(f.dir, &after);
  if (after != f.before) std::abort();
  return 0;
}
