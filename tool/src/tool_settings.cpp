// The management tool's settings and texts, and the paths built from them.
#include "tool_settings.h"

#include <tarvo_platform/path.h>
#include <tarvo_platform/profile.h>
#include <tarvo_platform/special_folder.h>
#include <tarvo_util/sys_owner.h>
#include <tarvo_util/utf8file.h>

#include <glib.h>
#include <tinyxml.h>

#include <cstdlib>
#include <memory>

namespace {

// The settings file relative to the program folder.
constexpr char kSettingXmlName[] = "./setting.xml";

// The text of an item's child element, which must begin with a text node.
bool child_text(const TiXmlNode *item, const char *name, std::string *out)
{
  const TiXmlElement *e = item->FirstChildElement(name);
  const TiXmlNode *first = e ? e->FirstChild() : nullptr;
  if (!first || !first->ToText()) return false;
  *out = first->Value();
  return true;
}

bool take_item(const TiXmlNode *item, std::map<std::string, std::string> *items)
{
  std::string id, value;
  if (!item->ToElement() || !child_text(item, "id", &id) || !child_text(item, "value", &value)) return false;
  (*items)[id] = value;
  return true;
}

int append(std::string *path, const std::string &more)
{
  char buf[PATH_APPEND_MAX];
  if (path->size() >= sizeof buf) return 0;
  path->copy(buf, path->size());
  buf[path->size()] = '\0';
  if (!path_append(buf, sizeof buf, more.c_str())) return 0;
  *path = buf;
  return 1;
}

}  // namespace

int tool_xml_items_load(const std::string &path, std::map<std::string, std::string> *items)
{
  own::stralloc text;
  if (!file_read_all_max(path.c_str(), &text.s, TOOL_XML_FILE_MAX)) return 0;
  // TinyXML steps over a UTF-8 sequence by its lead byte alone: a cut one at
  // the end would take it past the text.
  if (text.s.len && !g_utf8_validate(text.s.buf, text.s.len, nullptr)) return 0;
  TiXmlDocument doc;
  doc.Parse(std::string(text.s.buf ? text.s.buf : "", text.s.len).c_str());
  const TiXmlElement *root = doc.Error() ? nullptr : doc.RootElement();
  if (!root) return 0;
  const TiXmlNode *first = root->FirstChild();
  if (!first) return 1;
  if (!take_item(first, items)) return 0;
  for (const TiXmlElement *e = first->NextSiblingElement("item"); e; e = e->NextSiblingElement("item"))
    if (!take_item(e, items)) return 0;
  return 1;
}

unsigned tool_port(const std::string &value)
{
  unsigned long port = 0;
  for (char c : value) {
    if (c < '0' || c > '9') break;
    port = port * 10 + unsigned(c - '0');
    if (port > 65535) return 0;
  }
  return unsigned(port);
}

CToolSettings &CToolSettings::Instance()
{
  static std::unique_ptr<CToolSettings> settings;
  if (!settings) {
    settings = std::make_unique<CToolSettings>();
    if (!settings->Load()) std::exit(1);
  }
  return *settings;
}

int CToolSettings::ProgramFolder(std::string *out)
{
  char buf[PATH_APPEND_MAX];
  if (!path_program_folder(buf, sizeof buf)) return 0;
  *out = buf;
  return 1;
}

int CToolSettings::SettingXmlPath(std::string *out) { return ProgramFolder(out) && append(out, kSettingXmlName); }

int CToolSettings::AppDataFolder(std::string *out)
{
  if (m_appdata.empty()) {
    char buf[PATH_APPEND_MAX];
    if (!special_folder_common_appdata(buf, sizeof buf)) return 0;
    std::string f = buf;
    if (!append(&f, Setting("APPLICATION_DATA_PATH"))) return 0;
    m_appdata = f + "/";
  }
  *out = m_appdata;
  return 1;
}

int CToolSettings::IniPath(std::string *out)
{
  return AppDataFolder(out) && append(out, Setting("TOOL_HOME_DIR_PATH") + "/" + Setting("TOOL_INI_FILE_NAME"));
}

int CToolSettings::Language(std::string *out)
{
  std::string ini;
  if (!IniPath(&ini)) return 0;
  char word[TOOL_LANG_MAX];
  if (!profile_get_string("General", "Lang", "", word, sizeof word, ini.c_str())) return 0;
  *out = word;
  return 1;
}

int CToolSettings::ProgramPath(const char *prefix_key, const char *suffix_key, std::string *out)
{
  std::string lang;
  return Language(&lang) && ProgramFolder(out) && append(out, Setting(prefix_key) + lang + Setting(suffix_key));
}

int CToolSettings::TextPath(std::string *out)
{
  return ProgramPath("TEXT_RESOURCE_FILE_PREFIX_PATH", "TEXT_RESOURCE_FILE_SUFFIX_PATH", out);
}

int CToolSettings::PagePath(std::string *out)
{
  return ProgramPath("VIEW_RESOURCE_FILE_PREFIX_PATH", "VIEW_RESOURCE_FILE_SUFFIX_PATH", out);
}

int CToolSettings::Load()
{
  std::string path, lang;
  return SettingXmlPath(&path) && tool_xml_items_load(path, &m_settings) && TextPath(&path) &&
         tool_xml_items_load(path, &m_texts) && Language(&lang);
}
