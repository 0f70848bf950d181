// The file-type page: the table, the register and edit forms, and the
// changes that the server's file-type actions make.
#include <algorithm>
#include <cstring>
#include <numeric>

#include "tollamy_filetype.h"
#include "tollamy_list.h"
#include "tollamy_page.h"
#include "tollamy_server.h"

namespace {

bool get_mimetype_list(tollamy_request *r)
{
  std::vector<std::string> exts, mimes, se, sm;
  bool ok = tollamy_server_file_types(r->port, &exts, &mimes) && exts.size() == mimes.size();
  std::vector<size_t> order(ok ? exts.size() : 0);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return exts[a] < exts[b]; });
  for (size_t i : order) {
    se.push_back(exts[i]);
    sm.push_back(mimes[i]);
  }
  std::string items;
  ok = ok && tollamy_list_mimetypes(r->config, se, sm, &items);
  return tollamy_answer_list(r, ok, "html", items);
}

bool form(tollamy_request *r, bool edit)
{
  const char *mime = tollamy_arg_set(r, "mimetype"), *ext = tollamy_arg_set(r, "extention");
  if (edit && (!mime || !ext)) return tollamy_answer_done(r, false);
  tollamy_fills f;
  tollamy_fill_texts(r, &f, {"MIMETYPE_TITLE_REGISTER", "MIMETYPE_EXTENTION", "MIMETYPE_MIMETYPE", "COMMON_CLEAR"});
  tollamy_fill_text(r, &f, "MIMETYPE_ADD", edit ? "MIMETYPE_EDIT" : "MIMETYPE_ADD");
  tollamy_fill_value(&f, "MIMETYPE", edit ? tollamy_page_data(mime) : "");
  tollamy_fill_value(&f, "EXTENTION", edit ? tollamy_page_data(ext) : "");
  tollamy_fill_value(&f, "EDIT_FLAG", edit ? "1" : "0");
  std::string page;
  bool ok = tollamy_page_fill(r, "tollamy_page_mimetype_page_register.html.part", f, true, &page);
  return tollamy_answer_page(r, ok, page, nullptr);
}

bool page_register(tollamy_request *r) { return form(r, false); }
bool page_edit(tollamy_request *r) { return form(r, true); }

bool extension_valid(const char *ext)
{
  return *ext && !std::strpbrk(ext, "\\/;:*?\"<>|.");
}

bool mimetype_valid(const char *mime)
{
  const char *slash = std::strchr(mime, '/');
  if (!slash || slash == mime) return false;
  std::string type(mime, size_t(slash - mime));
  return !std::strpbrk(type.c_str(), "\\/;:*?\"<>|") && !std::strpbrk(slash + 1, "\\/:*?\"<>|");
}

// The key of the text that refuses the pair, NULL when it may be added.
const char *refusal(tollamy_request *r, const char *ext, const char *mime)
{
  if (!extension_valid(ext)) return "MIMETYPE_FAILED_REGISTER_MIMETYPE_INVALID_EXTENSION";
  if (!mimetype_valid(mime)) return "MIMETYPE_FAILED_REGISTER_MIMETYPE_INVALID_MIMETYPE";
  std::vector<std::string> exts, mimes;
  if (!tollamy_server_file_types(r->port, &exts, &mimes)) return "COMMON_FAILED";
  if (std::find(exts.begin(), exts.end(), ext) != exts.end())
    return "MIMETYPE_FAILED_REGISTER_MIMETYPE_ALREADY_REGISTERED";
  return nullptr;
}

bool do_register(tollamy_request *r)
{
  const char *ext = tollamy_arg(r, "extention"), *mime = tollamy_arg(r, "mimetype");
  const char *no = refusal(r, ext ? ext : "", mime ? mime : "");
  if (!no && !tollamy_server_add_file_type(r->port, ext, mime)) no = "COMMON_FAILED";
  return tollamy_answer_result(r, !no, no ? tollamy_page_text(r, no) : "");
}

bool edit(tollamy_request *r)
{
  const char *prev = tollamy_arg_set(r, "prev_extention");
  const char *ext = tollamy_arg(r, "extention"), *mime = tollamy_arg(r, "mimetype");
  const char *no = prev ? refusal(r, ext ? ext : "", mime ? mime : "") : "COMMON_FAILED";
  if (!no && (!tollamy_server_remove_file_type(r->port, prev) || !tollamy_server_add_file_type(r->port, ext, mime)))
    no = "COMMON_FAILED";
  if (no) return tollamy_answer_result(r, false, tollamy_page_text(r, no));
  std::string body;
  tollamy_echo(&body, "prev_extention", prev);
  tollamy_echo(&body, "extention", ext);
  tollamy_echo(&body, "mimetype", mime);
  body += "<html/>";
  tollamy_answer(r, TOLLAMY_SUCCESS, body.c_str());
  return true;
}

bool unregister(tollamy_request *r)
{
  for (const std::string &ext : tollamy_args(r, "mime_se")) tollamy_server_remove_file_type(r->port, ext.c_str());
  return tollamy_answer_done(r, true);
}

// A default list that reads as empty would take every file type away and
// put none back: it fails before the server is asked anything.
bool reset(tollamy_request *r)
{
  std::vector<std::string> dexts, dmimes, exts, mimes;
  if (!tollamy_default_list_read(r->config, &dexts, &dmimes) || dexts.empty() || dexts.size() != dmimes.size() ||
      !tollamy_server_file_types(r->port, &exts, &mimes))
    return tollamy_answer_done(r, false);
  for (const std::string &e : exts) tollamy_server_remove_file_type(r->port, e.c_str());
  for (size_t i = 0; i < dexts.size(); i++) tollamy_server_add_file_type(r->port, dexts[i].c_str(), dmimes[i].c_str());
  return tollamy_answer_done(r, true);
}

}  // namespace

const tollamy_action_row tollamy_actions_mimetype[] = {
    {"get_mimetype_list", get_mimetype_list},
    {"get_page_register", page_register},
    {"get_page_edit", page_edit},
    {"register", do_register},
    {"edit", edit},
    {"unregister", unregister},
    {"reset", reset},
    {nullptr, nullptr},
};
