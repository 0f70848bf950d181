// The default file-type list file: made once from the server's list.
#include "tollamy_filetype.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <numeric>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/utf8file.h>
#include <tarvo_util/xml.h>

#include "tollamy_server.h"

namespace {

void element(std::string *out, const char *name, const std::string &value)
{
  own::stralloc sa;
  if (!xml_gen_encode_append(&sa.s, value.c_str())) throw std::bad_alloc();
  out->append("\t\t<").append(name).append(">").append(sa.s.buf ? sa.s.buf : "", sa.s.len);
  out->append("</").append(name).append(">\n");
}

}  // namespace

std::string tollamy_default_list_text(const std::vector<std::string> &exts, const std::vector<std::string> &mimes)
{
  size_t n = std::min(exts.size(), mimes.size());
  std::vector<size_t> order(n);
  std::iota(order.begin(), order.end(), size_t(0));
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return exts[a] < exts[b]; });
  std::string out =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<!DOCTYPE default_filetype_list SYSTEM \"default_filetype.dtd\">\n\n"
      "<default_filetype_list>\n";
  for (size_t i : order) {
    out.append("\t<filetype>\n");
    element(&out, "extention", exts[i]);
    element(&out, "mimetype", mimes[i]);
    out.append("\t</filetype>\n");
  }
  return out.append("</default_filetype_list>\n");
}

bool tollamy_default_list_ensure(const tollamy_config *c, uint16_t port)
{
  const char *name = tollamy_param_get(c, TOLLAMY_FILETYPE_DEFAULT_FILETYPE_FILE);
  if (!name) return false;
  std::string path = tollamy_param_path(c, TOLLAMY_CONFIG_RESOURCE_DIR, name);
  sys_file_stat_rec st;
  if (path.empty()) return false;
  if (utf8file_stat(path.c_str(), &st)) return true;
  std::vector<std::string> exts, mimes;
  if (!tollamy_server_file_types(port, &exts, &mimes)) return false;
  std::string temp;
  if (!tollamy_write_temp(path, tollamy_default_list_text(exts, mimes), &temp)) return false;
  // A hard link puts the whole file in place only when no other request
  // did so first; the loser's copy is simply dropped.
  bool ok = link(temp.c_str(), path.c_str()) == 0 || errno == EEXIST;
  utf8file_remove(temp.c_str());
  return ok;
}
