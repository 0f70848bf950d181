/* File-manager context-menu extensions: the handler interface a module
 * implements, the menu it fills, the dialogs it asks for and its
 * registration.  The glue turns a handler into a Nautilus 43 menu provider;
 * modules link no toolkit: dialogs and message boxes run in the helper
 * program tarvo-shellext-ui ($TARVO_SHELLEXT_UI when set). */
#ifndef TARVO_SHELLEXT_SHELLEXT_H
#define TARVO_SHELLEXT_SHELLEXT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Results in the system's HRESULT form. */
#define SHELLEXT_S_OK 0
#define SHELLEXT_E_FAIL ((int32_t)0x80004005u)
#define SHELLEXT_E_ACCESSDENIED ((int32_t)0x80070005u)
#define SHELLEXT_E_INVALIDARG ((int32_t)0x80070057u)

/* Menu item flags, query flags and command-string types. */
#define SHELLEXT_MF_GRAYED 0x1u
#define SHELLEXT_MF_SEPARATOR 0x800u
#define SHELLEXT_CMF_DEFAULTONLY 0x1u
#define SHELLEXT_GCS_HELPTEXT 0x1u
#define SHELLEXT_GCS_UNICODE 0x4u
/* Message-box buttons and answers. */
#define SHELLEXT_MB_OK 0x0u
#define SHELLEXT_MB_YESNO 0x4u
#define SHELLEXT_IDOK 1
#define SHELLEXT_IDYES 6
#define SHELLEXT_IDNO 7

/* Longest path a handler keeps (the system's limit). */
#define SHELLEXT_PATH_MAX 4096u
/* Most items one menu holds. */
#define SHELLEXT_MENU_MAX 16u
/* Bytes read from the helper program's answer. */
#define SHELLEXT_UI_ANSWER_MAX 65536u

/* The menu a handler fills, by position as the system's menus are. */
typedef struct shellext_menu shellext_menu;
/* Inserts before the item at position (at the end when past it); 0 when
 * the menu is full. */
int shellext_menu_insert(shellext_menu *menu, uint32_t position, uint32_t flags, uint32_t id, const char *label);
/* Grays the item with that command id. */
void shellext_menu_gray(shellext_menu *menu, uint32_t id);

/* One context-menu handler kind.  create gets the selection as local
 * paths and gives the handler (NULL: it refuses the selection). */
typedef struct shellext_class {
  const char *type_name; /* the menu provider's type name */
  int folders;           /* 1: offered for folders, 0: for files */
  void *(*create)(const char *const *paths, uint32_t count);
  /* The number of command ids used, 0 when nothing was inserted. */
  uint32_t (*query)(void *handler, shellext_menu *menu, uint32_t index, uint32_t first, uint32_t last,
                    uint32_t flags);
  /* Help text of the item at offset into buf (size bytes with the NUL). */
  int32_t (*command_string)(void *handler, uint32_t offset, uint32_t type, char *buf, uint32_t size);
  int32_t (*invoke)(void *handler, uint32_t offset);
  void (*release)(void *handler);
} shellext_class;

struct _GTypeModule;
void shellext_module_initialize(struct _GTypeModule *module, const shellext_class *cls);
void shellext_module_list_types(const unsigned long **types, int *count);
/* Waits for the activations still running. */
void shellext_module_shutdown(void);

#define SHELLEXT_EXPORT __attribute__((visibility("default")))
/* The three entry points the file manager looks up. */
#define SHELLEXT_DEFINE_MODULE(cls)                                                                            \
  extern "C" SHELLEXT_EXPORT void nautilus_module_initialize(struct _GTypeModule *m)                           \
  {                                                                                                            \
    shellext_module_initialize(m, &(cls));                                                                     \
  }                                                                                                            \
  extern "C" SHELLEXT_EXPORT void nautilus_module_list_types(const unsigned long **t, int *n)                  \
  {                                                                                                            \
    shellext_module_list_types(t, n);                                                                          \
  }                                                                                                            \
  extern "C" SHELLEXT_EXPORT void nautilus_module_shutdown(void) { shellext_module_shutdown(); }

/* --- the helper program --- */

/* Runs the title dialog for the file named file_name with title: 1 with the
 * text the user confirmed in *new_title (sys_alloc_free), 0 when cancelled
 * or when the helper cannot run. */
int shellext_ui_title_edit(const char *file_name, const char *title, char **new_title);
/* SHELLEXT_IDOK, _IDYES or _IDNO; 0 when the helper cannot run. */
int shellext_ui_message_box(const char *text, const char *caption, uint32_t type);

/* --- the module's place --- */

/* The folder of the module holding this code, links resolved. */
int shellext_module_folder(char *buf, uint32_t size);
/* The module's path as loaded (links kept). */
int shellext_module_path(char *buf, uint32_t size);
/* Starts program without arguments, not waiting for it: 1 when it started. */
int shellext_start_program(const char *program);

/* --- registration --- */

typedef struct shellext_registration {
  const char *clsid;       /* "{...}" */
  const char *description; /* of the class and its ProgIDs */
  const char *progid;      /* version-independent */
  const char *progid_version;
  const char *typelib;
  const char *handler_key; /* below HKEY_CLASSES_ROOT */
  const char *handler_default; /* default value of the handler key, or NULL */
  const char *approval;    /* REG_SZ under the Approved key named by clsid, or NULL */
} shellext_registration;

/* Writes the records and links the module into the file manager's
 * extension folder ($TARVO_NAUTILUS_EXTENSION_DIR, else the folder the
 * file manager was built with).  SHELLEXT_E_ACCESSDENIED, with nothing
 * registered, when any of it cannot be written. */
int32_t shellext_register(const shellext_registration *reg);
/* Removes the class and ProgID keys, the handler key, the approval value
 * and the link; keys shared with others stay. */
int32_t shellext_unregister(const shellext_registration *reg);

/* The module's registration entry points. */
#define SHELLEXT_DEFINE_REGISTRATION(reg)                                                                      \
  extern "C" SHELLEXT_EXPORT int32_t DllRegisterServer(void) { return shellext_register(&(reg)); }            \
  extern "C" SHELLEXT_EXPORT int32_t DllUnregisterServer(void) { return shellext_unregister(&(reg)); }

#ifdef __cplusplus
}
#endif
#endif
