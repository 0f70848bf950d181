// The web administration program's configuration: the parameter file, the
// two settings files, the language texts, template fill and file paths.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// Parameter numbers of parameter/parameter.xml.
enum tollamy_param : uint32_t {
  TOLLAMY_MS_CONFIG_DIR = 1,
  TOLLAMY_LANG_CONFIG_PATH,
  TOLLAMY_VIEW_CONFIG_PATH,
  TOLLAMY_SETTING_RESOURCE_DIR,
  TOLLAMY_CONFIG_RESOURCE_DIR,
  TOLLAMY_IMAGE_RESOURCE_DIR,
  TOLLAMY_TEXT_RESOURCE_DIR,
  TOLLAMY_HTML_RESOURCE_DIR,
  TOLLAMY_TEXT_RESOURCE_FILE_PREFIX,
  TOLLAMY_TEXT_RESOURCE_FILE_SUFFIX,
  TOLLAMY_DEFAULT_SERVER_ICON_FILE,
  TOLLAMY_FILETYPE_DEFAULT_FILETYPE_FILE,
  TOLLAMY_DEFAULT_SERVER_NAME,
};

// Setting numbers of the settings files.
enum tollamy_setting : uint32_t { TOLLAMY_LANGUAGE = 1, TOLLAMY_SHOW_SECURITY_DIALOG = 2 };

struct tollamy_entry {
  uint32_t number;
  std::string value;
};

struct tollamy_mark {
  uint32_t path_param;
  std::vector<uint32_t> settings;
};

struct tollamy_config {
  std::vector<tollamy_entry> params;
  std::vector<tollamy_entry> settings;  // at most one entry per setting
  std::vector<tollamy_entry> texts;
  std::vector<tollamy_mark> marks;
};

// Readers of the XML lists over a document in memory; entries are appended.
// false on an XML error or another root.
bool tollamy_parse_params(const char *xml, uint32_t len, std::vector<tollamy_entry> *out);
bool tollamy_parse_texts(const char *xml, uint32_t len, std::vector<tollamy_entry> *out);
// The lines of one settings file; settings already held keep their value.
void tollamy_parse_settings(const char *text, uint32_t len, std::vector<tollamy_entry> *settings);
// The settings file's bytes for the given settings that have a value.
std::string tollamy_settings_text(const tollamy_config *c, const std::vector<uint32_t> &settings);

// Start-up loads: parameter\parameter.xml from the working directory, the
// two settings files, the text file of the current language.
bool tollamy_load_params(tollamy_config *c);
bool tollamy_load_settings(tollamy_config *c);
bool tollamy_load_texts(tollamy_config *c);

const char *tollamy_param_get(const tollamy_config *c, uint32_t number);
const char *tollamy_setting_get(const tollamy_config *c, uint32_t number);
// Replaces a setting's value; false when no settings file defined it.
bool tollamy_setting_set(tollamy_config *c, uint32_t number, const char *value);
// Marks the settings file named by the parameter for writing at exit.
void tollamy_settings_mark(tollamy_config *c, uint32_t path_param, const std::vector<uint32_t> &settings);
// Writes every marked file through a temporary file of its own and a
// rename; false when one of them failed (its old file stays).
bool tollamy_settings_write(const tollamy_config *c);

const char *tollamy_text_get(const tollamy_config *c, const char *key);

// The template's text with placeholders replaced, left to right; values are
// not scanned again.  values[i] NULL leaves keys[i] untouched.  The whole
// result is XML-escaped when escape is set.
std::string tollamy_fill(const std::string &tmpl, const char *const *keys, const char *const *values, bool escape);
// The same on the template file in HTML_RESOURCE_DIR; false when it cannot
// be read.
bool tollamy_fill_file(const tollamy_config *c, const char *name, const char *const *keys,
                       const char *const *values, bool escape, std::string *out);

// folder + "/" + name, the separator added only when missing.
std::string tollamy_path_join(const char *folder, const char *name);
// The folder of the parameter joined with name; "" without the parameter.
std::string tollamy_param_path(const tollamy_config *c, uint32_t param, const char *name);

// Reads a whole file of at most max bytes.
bool tollamy_read_file(const std::string &path, uint64_t max, std::string *out);
// Writes data to a new file of a unique name beside path and returns that
// name; false when it could not be written (nothing is left behind).
bool tollamy_write_temp(const std::string &path, const std::string &data, std::string *temp);
