// String, menu and dialog tables: the override library's rows first, then
// the program's own, in the locale's language.
#include <tarvo_ui/ui_resource.h>

#include <tarvo_platform/path.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

const UI_RESOURCE_TABLE *program_table = nullptr;

std::string program_name()
{
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  std::string p(buf, size_t(n));
  return p.substr(p.rfind('/') + 1);
}

// Loaded once and kept: its rows are used until the program ends.
const UI_RESOURCE_TABLE *override_table()
{
  static const UI_RESOURCE_TABLE *table = []() -> const UI_RESOURCE_TABLE * {
    char dir[4096];
    std::string name = "lib" + program_name() + "_res.so";
    if (!path_program_folder(dir, sizeof dir) || !path_append(dir, sizeof dir, name.c_str())) return nullptr;
    void *lib = dlopen(dir, RTLD_NOW | RTLD_LOCAL);
    if (!lib) return nullptr;
    auto fn = reinterpret_cast<UI_RESOURCE_OVERRIDE_FN>(dlsym(lib, UI_RESOURCE_OVERRIDE_SYMBOL));
    return fn ? fn() : nullptr;
  }();
  return table;
}

using rows_of = void (*)(const UI_RESOURCE_TABLE *, const UI_RESOURCE_ROW **, uint32_t *);

void strings_of(const UI_RESOURCE_TABLE *t, const UI_RESOURCE_ROW **r, uint32_t *n)
{
  *r = t->strings;
  *n = t->string_count;
}
void menus_of(const UI_RESOURCE_TABLE *t, const UI_RESOURCE_ROW **r, uint32_t *n)
{
  *r = t->menus;
  *n = t->menu_count;
}
void dialogs_of(const UI_RESOURCE_TABLE *t, const UI_RESOURCE_ROW **r, uint32_t *n)
{
  *r = t->dialogs;
  *n = t->dialog_count;
}

const UI_RESOURCE_ROW *find_row(rows_of kind, UINT owner, UINT id)
{
  for (const UI_RESOURCE_TABLE *t : {override_table(), program_table}) {
    if (!t) continue;
    const UI_RESOURCE_ROW *rows;
    uint32_t n;
    kind(t, &rows, &n);
    for (uint32_t i = 0; rows && i < n; ++i)
      if (rows[i].owner == owner && rows[i].id == id) return &rows[i];
  }
  return nullptr;
}

const char *row_text(const UI_RESOURCE_ROW *row, bool japanese) { return japanese && row->ja ? row->ja : row->en; }

uint32_t copy_text(const UI_RESOURCE_ROW *row, char *buf, uint32_t size, bool japanese = UiLanguageIsJapanese())
{
  const char *text = row ? row_text(row, japanese) : nullptr;
  size_t len = text ? std::strlen(text) : 0;
  if (!text || len >= size) return 0;
  std::memcpy(buf, text, len + 1);
  return uint32_t(len);
}

}  // namespace

extern "C" {

void UiSetResources(const UI_RESOURCE_TABLE *table) { program_table = table; }

int UiLanguageIsJapanese(void)
{
  for (const char *var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char *v = std::getenv(var);
    if (v && *v) return std::strncmp(v, "ja", 2) == 0 && (v[2] == '\0' || v[2] == '_' || v[2] == '.' || v[2] == '@');
  }
  return 0;
}

const char *UiRowText(const UI_RESOURCE_ROW *row) { return row_text(row, UiLanguageIsJapanese()); }

uint32_t LoadString(UINT id, char *buf, uint32_t size) { return copy_text(find_row(strings_of, 0, id), buf, size); }

uint32_t UiLoadStringIn(UINT id, int japanese, char *buf, uint32_t size)
{
  return copy_text(find_row(strings_of, 0, id), buf, size, japanese != 0);
}

uint32_t LoadDialogText(UINT dialog, UINT id, char *buf, uint32_t size)
{
  return copy_text(find_row(dialogs_of, dialog, id), buf, size);
}

// A menu comes whole from one table: the override's when it has that menu.
uint32_t LoadMenuItems(UINT menu, UI_RESOURCE_ROW *out, uint32_t max)
{
  for (const UI_RESOURCE_TABLE *t : {override_table(), program_table}) {
    if (!t) continue;
    const UI_RESOURCE_ROW *rows;
    uint32_t n, count = 0;
    menus_of(t, &rows, &n);
    for (uint32_t i = 0; rows && i < n; ++i)
      if (rows[i].owner == menu) {
        if (count < max) out[count] = rows[i];
        ++count;
      }
    if (count) return count;
  }
  return 0;
}
}
