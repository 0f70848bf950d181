/* Resource tables of the desktop programs: strings, menus and dialogs
 * compiled into each program in English and Japanese (Japanese when the
 * locale's language is "ja"), an optional override library beside the
 * program, and the version record each program carries in its ELF section
 * ".tarvo_version". */
#ifndef TARVO_UI_RESOURCE_H
#define TARVO_UI_RESOURCE_H

#include <stddef.h>
#include <stdint.h>

#include <tarvo_ui/ui_core.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One text of a table.  owner: 0 for strings, the menu or dialog id for
 * their items (id 0 in a dialog is its caption); a menu item without
 * texts is a separator. */
typedef struct {
  UINT owner;
  UINT id;
  const char *en;
  const char *ja;
} UI_RESOURCE_ROW;

typedef struct {
  const UI_RESOURCE_ROW *strings;
  uint32_t string_count;
  const UI_RESOURCE_ROW *menus;
  uint32_t menu_count;
  const UI_RESOURCE_ROW *dialogs;
  uint32_t dialog_count;
} UI_RESOURCE_TABLE;

/* An override library "lib<program>_res.so" in the program's folder exports
 * this function; its rows are looked up before the program's own. */
#define UI_RESOURCE_OVERRIDE_SYMBOL "tarvo_ui_resource_table"
typedef const UI_RESOURCE_TABLE *(*UI_RESOURCE_OVERRIDE_FN)(void);

/* The program's compiled-in table, set once at start. */
void UiSetResources(const UI_RESOURCE_TABLE *table);
/* 1 when the locale's language (LC_ALL, LC_MESSAGES, LANG) is "ja". */
int UiLanguageIsJapanese(void);

/* The text in the language of the locale (English where a row has no
 * Japanese), NUL-terminated in buf: its length, 0 when there is no such
 * row or buf is too small. */
uint32_t LoadString(UINT id, char *buf, uint32_t size);
/* The same in the language given (1 Japanese, 0 English), for a program
 * whose own setting names its language. */
uint32_t UiLoadStringIn(UINT id, int japanese, char *buf, uint32_t size);
/* The menu's items in order: up to max rows into out, the number there are. */
uint32_t LoadMenuItems(UINT menu, UI_RESOURCE_ROW *out, uint32_t max);
/* A dialog's text for the control id (0: its caption), as LoadString. */
uint32_t LoadDialogText(UINT dialog, UINT id, char *buf, uint32_t size);
/* The text of a row in the locale's language. */
const char *UiRowText(const UI_RESOURCE_ROW *row);

/* Puts the version record into the program's ".tarvo_version" section. */
#define TARVO_VERSION_INFO(product_name, product_version)                           \
  extern "C" __attribute__((section(".tarvo_version"), used)) const char              \
      tarvo_version_info[] = "ProductName=" product_name "\0ProductVersion=" product_version

/* The value of key ("ProductName", "ProductVersion") in the
 * ".tarvo_version" section of the 64-bit ELF file at path, NUL-terminated in
 * buf: 1 when found and it fits. */
int UiVersionValue(const char *path, const char *key, char *buf, uint32_t size);
/* The same on an ELF image in memory. */
int UiVersionValueIn(const uint8_t *image, size_t size, const char *key, char *buf, uint32_t buf_size);

#ifdef __cplusplus
}
#endif
#endif
