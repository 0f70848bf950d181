// What the web administration's request fuzz targets share: a check that
// an answer is the content-type line and well-formed XML, and a listing of
// the program's folder to see that nothing changed.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <tarvo_util/xml_walk.h>
#include "fuzz_scratch.h"

namespace fuzz_tollamy {

inline void put(const std::string &path, const std::string &data) { std::ofstream(path, std::ios::binary) << data; }

// Every path below dir with its size, but what lies under a folder named
// skip.
inline void listing(const std::string &dir, std::set<std::string> *out, const char *skip = "")
{
  DIR *d = opendir(dir.c_str());
  while (dirent *e = d ? readdir(d) : nullptr) {
    std::string n = e->d_name, p = dir + "/" + n;
    if (n == "." || n == ".." || n == skip) continue;
    struct stat st;
    if (stat(p.c_str(), &st) != 0) continue;
    out->insert(p + ":" + std::to_string(st.st_size));
    if (S_ISDIR(st.st_mode)) listing(p, out, skip);
  }
  if (d) closedir(d);
}

// A new folder with the parameter file, both settings files, and the
// folders the program reads and writes (session/ included).
inline std::string make_folder(const char *prefix)
{
  std::string dir = fuzz_scratch::folder(prefix);
  for (const char *d : {"/parameter", "/text", "/html", "/ms", "/ms/conf", "/config", "/config/session"})
    mkdir((dir + d).c_str(), 0700);
  put(dir + "/parameter/parameter.xml",
      "<parameter_list><parameter><id>MS_CONFIG_DIR</id><value>" + dir + "/ms</value></parameter>"
      "<parameter><id>LANG_CONFIG_PATH</id><value>" + dir + "/lang.conf</value></parameter>"
      "<parameter><id>VIEW_CONFIG_PATH</id><value>" + dir + "/view.conf</value></parameter>"
      "<parameter><id>CONFIG_RESOURCE_DIR</id><value>" + dir + "/config</value></parameter>"
      "<parameter><id>HTML_RESOURCE_DIR</id><value>" + dir + "/html</value></parameter>"
      "<parameter><id>FILETYPE_DEFAULT_FILETYPE_FILE</id><value>list.xml</value></parameter></parameter_list>");
  put(dir + "/lang.conf", "LANGUAGE=\"en\"\n");
  put(dir + "/view.conf", "SHOW_SECURITY_DIALOG=\"true\"\n");
  return dir;
}

struct any_xml : xml_walk {
  void on_start(const xml_name_rec *, const xml_name_rec *const *, const char *const *) override {}
  void on_end(const xml_name_rec *) override {}
};

// Aborts unless the answer is empty or the content-type line and one
// well-formed document.
inline void check_answer(const std::string &answer)
{
  if (answer.empty()) return;
  const std::string head = "Content-Type: application/xml; charset=UTF-8\n\n";
  if (answer.compare(0, head.size(), head) != 0) std::abort();
  any_xml w;
  if (!xml_walk_run(&w, answer.data() + head.size(), uint32_t(answer.size() - head.size()))) std::abort();
}

}  // namespace fuzz_tollamy
