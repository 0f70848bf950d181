// The management tool's settings: setting.xml beside the program, the
// language word of the ini file in the common application-data folder, and
// the language text file, with the paths composed from them.
#pragma once

#include <map>
#include <string>

// Largest setting.xml or text file read.
constexpr size_t TOOL_XML_FILE_MAX = 1024 * 1024;
// Largest language word read from the ini file.
constexpr size_t TOOL_LANG_MAX = 1024;

// The items of a setting.xml or text file into *items (later keys win).
// 0 for a missing, unreadable, oversized or malformed file and at the
// first item without an "id" and a "value" text; a root without children
// is a file with no items.
int tool_xml_items_load(const std::string &path, std::map<std::string, std::string> *items);

// A port value: its leading digits; 0 when there are none or above 65535.
unsigned tool_port(const std::string &value);

class CToolSettings {
 public:
  // The process's settings, loaded on first use; a load failure ends the
  // process with exit code 1.
  static CToolSettings &Instance();

  // A value, or "" (and the key is then present with an empty value).
  std::string Setting(const std::string &key) { return m_settings[key]; }
  std::string Text(const std::string &key) { return m_texts[key]; }

  // The paths; each is 0 when a part of it cannot be had.
  static int ProgramFolder(std::string *out);
  static int SettingXmlPath(std::string *out);
  int AppDataFolder(std::string *out);
  int IniPath(std::string *out);
  int Language(std::string *out);
  int TextPath(std::string *out);
  int PagePath(std::string *out);

  // Loads both files: 0 on any failure (Instance then exits).
  int Load();

 private:
  int ProgramPath(const char *prefix_key, const char *suffix_key, std::string *out);
  std::map<std::string, std::string> m_settings, m_texts;
  std::string m_appdata;  // computed once
};
