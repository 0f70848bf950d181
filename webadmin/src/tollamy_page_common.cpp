// The page controllers' shared pieces: texts, fills, messages and the
// answer shapes.
#include "tollamy_page.h"

#include <cstring>
#include <new>
#include <tarvo_util/xml.h>

#include "tollamy_limits.h"
#include "tollamy_list.h"

std::vector<std::string> tollamy_args(const tollamy_request *r, const char *name)
{
  std::vector<std::string> out;
  for (size_t i = 0; r->names.l && r->names.l[i]; i++)
    if (!std::strcmp(r->names.l[i], name)) out.push_back(r->values.l[i]);
  return out;
}

const char *tollamy_arg_set(const tollamy_request *r, const char *name)
{
  const char *v = tollamy_arg(r, name);
  return v && *v ? v : nullptr;
}

std::string tollamy_page_text(const tollamy_request *r, const char *key)
{
  const char *t = tollamy_text_get(r->config, key);
  return t ? t : "";
}

std::string tollamy_page_data(const std::string &v)
{
  return xml_gen_is_legal_value(v.c_str()) ? tollamy_html(v) : "";
}

void tollamy_fill_texts(const tollamy_request *r, tollamy_fills *f, std::initializer_list<const char *> keys)
{
  for (const char *k : keys) tollamy_fill_text(r, f, k, k);
}

void tollamy_fill_text(const tollamy_request *r, tollamy_fills *f, const char *key, const char *text_key)
{
  const char *t = tollamy_text_get(r->config, text_key);
  // A key without a text keeps its placeholder.
  f->push_back({std::string("[[") + key + "]]", t != nullptr, t ? t : ""});
}

void tollamy_fill_value(tollamy_fills *f, const char *key, const std::string &value)
{
  f->push_back({std::string("[[") + key + "]]", true, value});
}

bool tollamy_page_fill(const tollamy_request *r, const char *tmpl, const tollamy_fills &f, bool escape,
                       std::string *out)
{
  std::vector<const char *> keys, values;
  for (const auto &i : f) {
    keys.push_back(i.key.c_str());
    values.push_back(i.has ? i.value.c_str() : nullptr);
  }
  keys.push_back(nullptr);
  return tollamy_fill_file(r->config, tmpl, keys.data(), values.data(), escape, out);
}

void tollamy_messages_texts(const tollamy_request *r, tollamy_messages *m,
                            std::initializer_list<std::pair<const char *, const char *>> pairs)
{
  for (const auto &p : pairs) m->emplace_back(p.first, tollamy_page_text(r, p.second));
}

bool tollamy_messages_loading(const tollamy_request *r, tollamy_messages *m, const char *id, const char *tmpl)
{
  tollamy_fills f;
  tollamy_fill_texts(r, &f, {"LIST_LOADING"});
  std::string part;
  if (!tollamy_page_fill(r, tmpl, f, false, &part)) return false;
  m->emplace_back(id, part);
  return true;
}

std::string tollamy_message_list(const tollamy_messages &m)
{
  std::string items;
  for (const auto &p : m) {
    std::string one;
    tollamy_element(&one, "id", p.first.c_str(), nullptr, nullptr, true);
    tollamy_element(&one, "value", p.second.c_str(), nullptr, nullptr, true);
    tollamy_element(&items, "message", one.c_str(), nullptr, nullptr, false);
  }
  std::string out;
  tollamy_element(&out, "message_list", items.c_str(), nullptr, nullptr, false);
  return out;
}

void tollamy_echo(std::string *out, const char *name, const std::string &value)
{
  tollamy_element(out, name, value.c_str(), nullptr, nullptr, true);
}

bool tollamy_answer_result(tollamy_request *r, bool ok, const std::string &text, const std::string &echoes)
{
  std::string body;
  tollamy_echo(&body, "html", text);
  body += echoes;
  tollamy_answer(r, ok ? TOLLAMY_SUCCESS : TOLLAMY_FAILURE, body.c_str());
  return ok;
}

bool tollamy_answer_done(tollamy_request *r, bool ok, const std::string &echoes)
{
  return tollamy_answer_result(r, ok, ok ? "" : tollamy_page_text(r, "COMMON_FAILED"), echoes);
}

bool tollamy_answer_page(tollamy_request *r, bool ok, const std::string &page, const tollamy_messages *m,
                         const std::string &echoes)
{
  if (!ok) return tollamy_answer_done(r, false);
  std::string body;
  // The page is escaped already: it goes in as it is.
  tollamy_element(&body, "html", page.c_str(), nullptr, nullptr, false);
  if (m) body += tollamy_message_list(*m);
  body += echoes;
  tollamy_answer(r, TOLLAMY_SUCCESS, body.c_str());
  return true;
}

bool tollamy_answer_list(tollamy_request *r, bool ok, const char *element, const std::string &items,
                         const std::string &echoes)
{
  std::string body;
  if (ok) tollamy_element(&body, element, items.c_str(), nullptr, nullptr, false);
  else tollamy_echo(&body, "html", tollamy_page_text(r, "COMMON_FAILED"));
  body += echoes;
  tollamy_answer(r, ok ? TOLLAMY_SUCCESS : TOLLAMY_FAILURE, body.c_str());
  return ok;
}

namespace {

// The byte lengths of the chunks of a page: each at most max bytes and
// ending on a UTF-8 character boundary.
std::vector<size_t> chunks(const std::string &page, size_t max)
{
  std::vector<size_t> out;
  for (size_t at = 0; at < page.size();) {
    size_t n = std::min(max, page.size() - at);
    // Back off the continuation bytes of a character that the cut would
    // split; a run of them longer than a character is no character and is
    // cut where it stands.
    if (at + n < page.size()) {
      size_t back = 0;
      while (back < 3 && back < n && (uint8_t(page[at + n - back]) & 0xC0) == 0x80) back++;
      if ((uint8_t(page[at + n - back]) & 0xC0) != 0x80 && back < n) n -= back;
    }
    out.push_back(n);
    at += n;
  }
  return out;
}

}  // namespace

bool tollamy_answer_chunked(tollamy_request *r, bool ok, const std::string &page, const tollamy_messages &m)
{
  if (!ok) return tollamy_answer_done(r, false);
  std::string items;
  size_t at = 0;
  for (size_t n : chunks(page, TOLLAMY_CHUNK_MAX)) {
    tollamy_echo(&items, "list_item", page.substr(at, n));
    at += n;
  }
  std::string body;
  tollamy_element(&body, "html_list", items.c_str(), nullptr, nullptr, false);
  body += tollamy_message_list(m);
  tollamy_answer(r, TOLLAMY_SUCCESS, body.c_str());
  return true;
}
