// The default file-type list file: made once from the server's list.
#include "tollamy_filetype.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <numeric>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/utf8file.h>
#include <tarvo_util/xml.h>
#include <tarvo_util/xml_walk.h>

#include "tollamy_limits.h"

#include "tollamy_server.h"

namespace {

void element(std::string *out, const char *name, const std::string &value)
{
  own::stralloc sa;
  if (!xml_gen_encode_append(&sa.s, value.c_str())) throw std::bad_alloc();
  out->append("\t\t<").append(name).append(">").append(sa.s.buf ? sa.s.buf : "", sa.s.len);
  out->append("</").append(name).append(">\n");
}

// The list file's path; "" without its parameters.
std::string list_path(const tollamy_config *c)
{
  const char *name = tollamy_param_get(c, TOLLAMY_FILETYPE_DEFAULT_FILETYPE_FILE);
  return name ? tollamy_param_path(c, TOLLAMY_CONFIG_RESOURCE_DIR, name) : std::string();
}

struct list_reader : xml_walk {
  std::vector<std::string> *exts, *mimes;
  list_reader(std::vector<std::string> *e, std::vector<std::string> *m) : exts(e), mimes(m) {}

  void on_start(const xml_name_rec *name, const xml_name_rec *const *, const char *const *) override
  {
    if (depth == 1 && !xml_name_is(name, nullptr, "default_filetype_list")) {
      skip();
    } else if (depth == 2 && !xml_name_is(name, nullptr, "filetype")) {
      skip();
    } else if (depth == 3 && !xml_name_is(name, nullptr, "extention") && !xml_name_is(name, nullptr, "mimetype")) {
      skip();
    } else if (depth > 3) {
      fail();
    }
  }
  void on_end(const xml_name_rec *name) override
  {
    if (depth != 3) return;
    if (text.len >= TOLLAMY_FILETYPE_VALUE_MAX) return fail();
    std::string value(text.buf ? text.buf : "", text.len);
    (xml_name_is(name, nullptr, "extention") ? exts : mimes)->push_back(value);
  }
};

}  // namespace

bool tollamy_default_list_parse(const char *xml, uint32_t len, std::vector<std::string> *exts,
                                std::vector<std::string> *mimes)
{
  list_reader r(exts, mimes);
  if (xml_walk_run(&r, xml, len)) return true;
  exts->clear();
  mimes->clear();
  return false;
}

bool tollamy_default_list_read(const tollamy_config *c, std::vector<std::string> *exts,
                               std::vector<std::string> *mimes)
{
  std::string path = list_path(c), xml;
  return !path.empty() && tollamy_read_file(path, TOLLAMY_XML_FILE_MAX, &xml) &&
         tollamy_default_list_parse(xml.data(), uint32_t(xml.size()), exts, mimes);
}

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
  std::string path = list_path(c);
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
