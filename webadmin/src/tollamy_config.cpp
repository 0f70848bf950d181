// Parameter, settings and text files, template fill and paths of the web
// administration program.
#include "tollamy_config.h"

#include <sys/random.h>

#include <algorithm>
#include <cstring>
#include <string_view>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/utf8file.h>
#include <tarvo_util/xml.h>
#include <tarvo_util/xml_walk.h>

#include "tollamy_limits.h"
#include "tollamy_text_keys.h"

namespace {

constexpr const char *param_names[] = {
    "MS_CONFIG_DIR",         "LANG_CONFIG_PATH",        "VIEW_CONFIG_PATH",
    "SETTING_RESOURCE_DIR",  "CONFIG_RESOURCE_DIR",     "IMAGE_RESOURCE_DIR",
    "TEXT_RESOURCE_DIR",     "HTML_RESOURCE_DIR",       "TEXT_RESOURCE_FILE_PREFIX",
    "TEXT_RESOURCE_FILE_SUFFIX", "DEFAULT_SERVER_ICON_FILE", "FILETYPE_DEFAULT_FILETYPE_FILE",
    "DEFAULT_SERVER_NAME",
};
constexpr const char *setting_names[] = {"LANGUAGE", "SHOW_SECURITY_DIALOG"};

template <size_t N> uint32_t number_of(const char *const (&names)[N], std::string_view name)
{
  for (size_t i = 0; i < N; i++)
    if (name == names[i]) return uint32_t(i + 1);
  return 0;
}

// A list of <item><id>..</id><value>..</value></item> under one root; an
// entry is kept when its id is a known name and a value was seen.
struct list_reader : xml_walk {
  const char *root, *item;
  uint32_t (*lookup)(std::string_view);
  std::vector<tollamy_entry> *out;
  uint32_t number = 0;
  bool has_value = false;
  std::string value;

  list_reader(const char *r, const char *i, uint32_t (*l)(std::string_view), std::vector<tollamy_entry> *o)
      : root(r), item(i), lookup(l), out(o) {}

  void on_start(const xml_name_rec *name, const xml_name_rec *const *, const char *const *) override
  {
    if (depth == 1) {
      if (!xml_name_is(name, nullptr, root)) fail();
    } else if (depth == 2) {
      if (!xml_name_is(name, nullptr, item)) skip();
      number = 0;
      has_value = false;
    } else if (depth > 3 || (!xml_name_is(name, nullptr, "id") && !xml_name_is(name, nullptr, "value"))) {
      skip();
    }
  }
  void on_end(const xml_name_rec *name) override
  {
    std::string_view t(text.buf ? text.buf : "", text.len);
    if (depth == 3 && xml_name_is(name, nullptr, "id")) number = lookup(t);
    if (depth == 3 && xml_name_is(name, nullptr, "value")) {
      value.assign(t);
      has_value = true;
    }
    if (depth == 2 && number && has_value) out->push_back({number, value});
  }
};

uint32_t param_number(std::string_view name) { return number_of(param_names, name); }
uint32_t text_number(std::string_view name) { return number_of(tollamy_text_keys, name); }

bool parse_list(list_reader *r, const char *xml, uint32_t len)
{
  size_t before = r->out->size();
  if (xml_walk_run(r, xml, len)) return true;
  r->out->resize(before);
  return false;
}

const char *entry_get(const std::vector<tollamy_entry> &list, uint32_t number)
{
  for (const tollamy_entry &e : list)
    if (e.number == number) return e.value.c_str();
  return nullptr;
}

bool load_list(const std::string &path, bool (*parse)(const char *, uint32_t, std::vector<tollamy_entry> *),
               std::vector<tollamy_entry> *out)
{
  std::string xml;
  return tollamy_read_file(path, TOLLAMY_XML_FILE_MAX, &xml) && parse(xml.data(), uint32_t(xml.size()), out);
}

// One settings line with its line feed, when it has one; a key seen
// before keeps its first value.
void settings_line(std::string_view line, std::vector<tollamy_entry> *settings)
{
  if (line.empty() || std::string_view("\t\n\r #").find(line[0]) != std::string_view::npos) return;
  size_t eq = line.find('=');
  if (eq == line.npos || eq + 1 == line.size()) return;
  uint32_t number = number_of(setting_names, line.substr(0, eq));
  std::string_view v = line.substr(eq + 1);
  if (!v.empty() && v.back() == '\n') v.remove_suffix(1);
  if (!v.empty() && v.back() == '\r') v.remove_suffix(1);
  if (!v.empty() && v.back() == '"') v.remove_suffix(1);
  if (!v.empty() && v.front() == '"') v.remove_prefix(1);
  if (number && !entry_get(*settings, number)) settings->push_back({number, std::string(v)});
}

bool random_hex(char *out, size_t n)
{
  unsigned char bytes[8];
  if (n > 2 * sizeof bytes || getrandom(bytes, sizeof bytes, 0) != ssize_t(sizeof bytes)) return false;
  for (size_t i = 0; i < n; i++) out[i] = "0123456789abcdef"[(bytes[i / 2] >> (i % 2 ? 0 : 4)) & 15];
  out[n] = 0;
  return true;
}

}  // namespace

bool tollamy_parse_params(const char *xml, uint32_t len, std::vector<tollamy_entry> *out)
{
  list_reader r("parameter_list", "parameter", param_number, out);
  return parse_list(&r, xml, len);
}

bool tollamy_parse_texts(const char *xml, uint32_t len, std::vector<tollamy_entry> *out)
{
  list_reader r("text_list", "text", text_number, out);
  return parse_list(&r, xml, len);
}

void tollamy_parse_settings(const char *text, uint32_t len, std::vector<tollamy_entry> *settings)
{
  std::string_view t(text, len);
  while (!t.empty()) {
    size_t end = std::min(t.find('\n'), t.size() - 1) + 1;
    settings_line(t.substr(0, end), settings);
    t.remove_prefix(end);
  }
}

std::string tollamy_settings_text(const tollamy_config *c, const std::vector<uint32_t> &settings)
{
  std::string out;
  for (uint32_t s : settings)
    if (const char *v = tollamy_setting_get(c, s))
      out.append(setting_names[s - 1]).append("=\"").append(v).append("\"\n");
  return out;
}

bool tollamy_load_params(tollamy_config *c)
{
  return load_list("parameter/parameter.xml", tollamy_parse_params, &c->params);
}

bool tollamy_load_settings(tollamy_config *c)
{
  for (uint32_t p : {TOLLAMY_LANG_CONFIG_PATH, TOLLAMY_VIEW_CONFIG_PATH}) {
    const char *path = tollamy_param_get(c, p);
    std::string text;
    if (!path || !tollamy_read_file(path, TOLLAMY_SETTINGS_FILE_MAX, &text)) return false;
    tollamy_parse_settings(text.data(), uint32_t(text.size()), &c->settings);
  }
  return true;
}

bool tollamy_load_texts(tollamy_config *c)
{
  c->texts.clear();
  const char *lang = tollamy_setting_get(c, TOLLAMY_LANGUAGE);
  return lang && load_list(std::string("text/text_") + lang + ".xml", tollamy_parse_texts, &c->texts);
}

const char *tollamy_param_get(const tollamy_config *c, uint32_t number) { return entry_get(c->params, number); }
const char *tollamy_setting_get(const tollamy_config *c, uint32_t number) { return entry_get(c->settings, number); }

bool tollamy_setting_set(tollamy_config *c, uint32_t number, const char *value)
{
  for (tollamy_entry &e : c->settings)
    if (e.number == number) {
      e.value = value;
      return true;
    }
  return false;
}

void tollamy_settings_mark(tollamy_config *c, uint32_t path_param, const std::vector<uint32_t> &settings)
{
  for (const tollamy_mark &m : c->marks)
    if (m.path_param == path_param) return;
  c->marks.push_back({path_param, settings});
}

bool tollamy_settings_write(const tollamy_config *c)
{
  bool ok = true;
  for (const tollamy_mark &m : c->marks) {
    const char *path = tollamy_param_get(c, m.path_param);
    std::string temp;
    if (!path || !tollamy_write_temp(path, tollamy_settings_text(c, m.settings), &temp)) {
      ok = false;
      continue;
    }
    if (!utf8file_rename(temp.c_str(), path)) {
      utf8file_remove(temp.c_str());
      ok = false;
    }
  }
  return ok;
}

const char *tollamy_text_get(const tollamy_config *c, const char *key)
{
  uint32_t n = text_number(key);
  return n ? entry_get(c->texts, n) : nullptr;
}

std::string tollamy_fill(const std::string &tmpl, const char *const *keys, const char *const *values, bool escape)
{
  std::string out;
  std::string_view t(tmpl);
  size_t i = 0;
  while (i < t.size()) {
    size_t k = 0;
    for (; keys && keys[k]; k++)
      if (t.substr(i).starts_with(keys[k])) break;
    if (keys && keys[k] && values[k]) {
      out.append(values[k]);
      i += std::strlen(keys[k]);
    } else {
      out.push_back(t[i++]);
    }
  }
  if (!escape) return out;
  own::stralloc sa;
  if (!xml_gen_encode_append(&sa.s, out.c_str())) throw std::bad_alloc();
  return std::string(sa.s.buf ? sa.s.buf : "", sa.s.len);
}

bool tollamy_fill_file(const tollamy_config *c, const char *name, const char *const *keys,
                       const char *const *values, bool escape, std::string *out)
{
  std::string tmpl;
  std::string path = tollamy_param_path(c, TOLLAMY_HTML_RESOURCE_DIR, name);
  if (path.empty() || !tollamy_read_file(path, TOLLAMY_TEMPLATE_MAX, &tmpl)) return false;
  *out = tollamy_fill(tmpl, keys, values, escape);
  return true;
}

std::string tollamy_path_join(const char *folder, const char *name)
{
  std::string p(folder);
  if (p.empty() || p.back() != '/') p.push_back('/');
  return p.append(name);
}

std::string tollamy_param_path(const tollamy_config *c, uint32_t param, const char *name)
{
  const char *folder = tollamy_param_get(c, param);
  return folder ? tollamy_path_join(folder, name) : std::string();
}

bool tollamy_read_file(const std::string &path, uint64_t max, std::string *out)
{
  own::stralloc sa;
  if (!file_read_all_max(path.c_str(), &sa.s, max)) return false;
  out->assign(sa.s.buf ? sa.s.buf : "", sa.s.len);
  return true;
}

bool tollamy_write_temp(const std::string &path, const std::string &data, std::string *temp)
{
  // A name of its own for each writer, so that two requests writing the
  // same file at once never share or truncate each other's temporary file.
  for (int attempt = 0; attempt < TOLLAMY_TEMP_ATTEMPTS; attempt++) {
    char suffix[TOLLAMY_TEMP_SUFFIX + 1];
    if (!random_hex(suffix, TOLLAMY_TEMP_SUFFIX)) return false;
    std::string name = path + ".tmp." + suffix;
    int fd;
    if (!utf8file_open_excl(&fd, name.c_str())) continue;
    bool ok = sys_file_allwrite(fd, data.data(), uint32_t(data.size()));
    ok = sys_file_close(fd) && ok;
    if (ok) *temp = name;
    else utf8file_remove(name.c_str());
    return ok;
  }
  return false;
}
