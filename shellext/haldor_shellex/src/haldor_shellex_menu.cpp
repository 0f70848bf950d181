// libHaldorShellEx.so: publish a folder through the media server, cancel
// its publication (or that of the published folders below it), and start
// the management tool, from a folder's context menu.
#include <dlfcn.h>
#include <haldor_tool_window.h>
#include <shellext_common/server_check.h>
#include <sys/stat.h>
#include <tarvo_shellext/shellext.h>
#include <tarvo_ui/ui_core.h>
#include <tarvo_ui/ui_resource.h>

#include <cstring>
#include <string>

namespace {

enum { offset_publish = 0, offset_cancel = 1, offset_tool = 2 };

const UI_RESOURCE_ROW own_strings[] = {
    {0, 101, "Media Server Publication", "メディアサーバーで公開"},
    {0, 102, "Cancel Media Server Publication", "メディアサーバーの公開を取り消す"},
    {0, 103, "Media Server Tool...", "メディアサーバーツール..."},
    {0, 104, "Are you sure you want to cancel the publication of folder?",
     "フォルダーの公開を取り消してもよろしいですか?"},
    {0, 105, "Cancel Publication", "公開の取り消し"},
    {0, 106, "Canceling the publication of folder has failed.", "フォルダーの公開の取り消しに失敗しました。"},
    {0, 107, "The publication of folder has failed.", "フォルダーの公開に失敗しました。"},
    {0, 108, "Folder publication", "フォルダーの公開"},
};

const shellext_registration registration = {
    "{FC238258-1857-4f13-A419-32A7E1F55885}",
    "HaldorShellExt Class",
    "HaldorShellEx.HaldorShellExt",
    "HaldorShellEx.HaldorShellExt.1",
    "{EC0C9EF6-422C-45CA-9A8E-1554DD609283}",
    "Directory/ShellEx/ContextMenuHandlers/HaldorShlExt",
    "{FC238258-1857-4f13-A419-32A7E1F55885}",
    "Tarvo Media Server ShlExt extension",
};

// The language library "Shell_Resource.so" beside the module, when it
// loads, gives every string; else the module's own.
const UI_RESOURCE_TABLE *language_table()
{
  static const UI_RESOURCE_TABLE *table = [] () -> const UI_RESOURCE_TABLE * {
    char folder[SHELLEXT_PATH_MAX];
    if (!shellext_module_folder(folder, sizeof folder)) return nullptr;
    void *lib = dlopen((std::string(folder) + "/Shell_Resource.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    auto fn = lib ? reinterpret_cast<UI_RESOURCE_OVERRIDE_FN>(dlsym(lib, UI_RESOURCE_OVERRIDE_SYMBOL)) : nullptr;
    return fn ? fn() : nullptr;
  }();
  return table;
}

std::string text(UINT id)
{
  const UI_RESOURCE_TABLE *t = language_table();
  const UI_RESOURCE_ROW *rows = t ? t->strings : own_strings;
  uint32_t n = t ? t->string_count : uint32_t(sizeof own_strings / sizeof *own_strings);
  for (uint32_t i = 0; i < n; ++i)
    if (rows[i].owner == 0 && rows[i].id == id) return UiRowText(&rows[i]);
  return {};
}

struct handler {
  std::string folder;
};

// The published folders and whether the folder is one or lies inside one.
struct share_view {
  bool shared = false, listed = false, shared_below = false;
};

bool read_shares(tarvo_avcpl_handle *client, const std::string &folder, share_view *v)
{
  if (!shellext_server_service_running() || !shellext_server_active()) return false;
  sys_str_list shares = nullptr;
  if (tarvo_avcpl_share_list(client, &shares)) return false;
  int state = 0;
  v->shared = tarvo_avcpl_share_state(client, folder.c_str(), &state) == 0 && state != 0;
  for (sys_str_list s = shares; s && *s; ++s) {
    if (v->shared && folder == *s) v->listed = true;
    if (!v->shared && shellext_path_below(*s, folder.c_str())) v->shared_below = true;
  }
  sys_str_list_free(shares);
  return true;
}

bool hidden(const std::string &folder)
{
  struct stat st;
  std::string name = folder.substr(folder.rfind('/') + 1);
  return stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || (!name.empty() && name[0] == '.');
}

void *create(const char *const *paths, uint32_t count)
{
  if (count != 1 || !*paths[0] || std::strlen(paths[0]) >= SHELLEXT_PATH_MAX) return nullptr;
  return new handler{paths[0]};
}

uint32_t query(void *h, shellext_menu *menu, uint32_t index, uint32_t first, uint32_t, uint32_t flags)
{
  if (flags & SHELLEXT_CMF_DEFAULTONLY) return 0;
  const std::string &folder = static_cast<handler *>(h)->folder;
  tarvo_avcpl_handle client = nullptr;
  if (!shellext_client_open(&client)) return 0;
  shellext_menu_insert(menu, index, SHELLEXT_MF_SEPARATOR, 0, nullptr);
  for (uint32_t i = 0; i < 3; ++i) shellext_menu_insert(menu, index + 1 + i, 0, first + i, text(101 + i).c_str());
  share_view v;
  bool gray_publish = true, gray_cancel = true;
  if (read_shares(&client, folder, &v)) {
    gray_publish = v.listed || v.shared;
    gray_cancel = (v.shared && !v.listed) || (!v.shared && !v.shared_below);
  }
  if (hidden(folder)) gray_publish = gray_cancel = true;
  if (gray_publish) shellext_menu_gray(menu, first + offset_publish);
  if (gray_cancel) shellext_menu_gray(menu, first + offset_cancel);
  tarvo_avcpl_free(&client);
  return 3;
}

int32_t command_string(void *, uint32_t offset, uint32_t type, char *buf, uint32_t size)
{
  if (!(type & (SHELLEXT_GCS_HELPTEXT | SHELLEXT_GCS_UNICODE))) return SHELLEXT_E_INVALIDARG;
  if (offset > offset_tool || !size) return SHELLEXT_E_INVALIDARG;
  std::string t = text(101 + offset);
  size_t n = t.size() < size ? t.size() : size - 1;
  while (n && n < t.size() && (t[n] & 0xC0) == 0x80) --n;  // whole characters only
  std::memcpy(buf, t.data(), n);
  buf[n] = '\0';
  return SHELLEXT_S_OK;
}

// Tells the tool to read its share list again.  The tool runs in a process
// of its own: the core's post reaches its window as a datagram when the
// tool has published it, and does nothing when the tool is gone.
void notify_tool(HWND tool)
{
  if (tool) PostMessage(tool, WM_COMMAND, HALDOR_CMD_SHARES_CHANGED, 0);
}

int32_t publish(tarvo_avcpl_handle *client, const std::string &folder)
{
  if (tarvo_avcpl_share(client, folder.c_str())) {
    shellext_ui_message_box(text(107).c_str(), text(108).c_str(), SHELLEXT_MB_OK);
    return SHELLEXT_E_INVALIDARG;
  }
  return SHELLEXT_S_OK;
}

int32_t cancel(tarvo_avcpl_handle *client, const std::string &folder, bool *asked_no)
{
  if (shellext_ui_message_box(text(104).c_str(), text(105).c_str(), SHELLEXT_MB_YESNO) != SHELLEXT_IDYES) {
    *asked_no = true;
    return SHELLEXT_S_OK;
  }
  int state = 0;
  bool failed = false;
  if (tarvo_avcpl_share_state(client, folder.c_str(), &state) == 0 && state != 0) {
    failed = tarvo_avcpl_unshare(client, folder.c_str()) != 0;
  } else {
    sys_str_list shares = nullptr;
    if (tarvo_avcpl_share_list(client, &shares)) shares = nullptr;  // counts as none
    for (sys_str_list s = shares; s && *s; ++s)
      if (shellext_path_below(*s, folder.c_str()) && tarvo_avcpl_unshare(client, *s)) failed = true;
    sys_str_list_free(shares);
  }
  if (!failed) return SHELLEXT_S_OK;
  shellext_ui_message_box(text(106).c_str(), text(105).c_str(), SHELLEXT_MB_OK);
  return SHELLEXT_E_INVALIDARG;
}

int32_t invoke(void *h, uint32_t offset)
{
  const std::string &folder = static_cast<handler *>(h)->folder;
  tarvo_avcpl_handle client = nullptr;
  if (!shellext_client_open(&client)) return SHELLEXT_E_INVALIDARG;
  HWND tool = haldor_tool_window();
  int32_t r = SHELLEXT_S_OK;
  bool asked_no = false;
  if (offset == offset_publish) {
    r = publish(&client, folder);
  } else if (offset == offset_cancel) {
    r = cancel(&client, folder, &asked_no);
  } else if (offset == offset_tool) {
    char dir[SHELLEXT_PATH_MAX];
    if (shellext_module_folder(dir, sizeof dir)) shellext_start_program((std::string(dir) + "/haldor").c_str());
  } else {
    r = SHELLEXT_E_INVALIDARG;
  }
  if (r == SHELLEXT_S_OK && !asked_no && offset != offset_tool) notify_tool(tool);
  tarvo_avcpl_free(&client);
  return r;
}

void release(void *h) { delete static_cast<handler *>(h); }

const shellext_class haldor_class = {"TarvoHaldorShellExt", 1, create, query, command_string, invoke, release};

}  // namespace

SHELLEXT_DEFINE_MODULE(haldor_class)

SHELLEXT_DEFINE_REGISTRATION(registration)
