// quessel's compiled-in strings, menu and dialog texts in English and
// Japanese, and its version record.
#include "quessel_resources.h"

#include "helper_files.h"

#include <tarvo_platform/path.h>
#include <tarvo_ui/ui_gdi.h>
#include <tarvo_ui/ui_resource.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

TARVO_VERSION_INFO("Tarvo Media Server Helper", "1.0.0");

namespace {

const UI_RESOURCE_ROW strings[] = {
    {0, QIDI_MAIN, "Tarvo Media Server Helper", nullptr},
    {0, QIDI_STOPPED, "Tarvo Media Server Helper", nullptr},
    {0, QIDS_NOTICE_TEXT,
     "This setting enables connecting clients to view the contents of folders that are registered in the Published "
     "Folder List with %s. It is strongly recommended to set \"Do not permit\" when the connecting client is "
     "unknown.%s \n\nAre you sure you want to open the contents for %s?",
     "この設定を行うと、接続するクライアントから %s の公開フォルダリストに登録されたフォルダの内容を見ることができ"
     "ます。接続するクライアントが不明な場合は「許可しない」に設定することを強くお勧めします。%s \n\n%s "
     "に内容を公開しますか?"},
    {0, QIDS_POPUP_MESSAGE, "Click here to allow or refuse connection\nfrom this client.",
     "ここをクリックして、このクライアントからの\n接続を許可または拒否してください。"},
    {0, QIDS_QUESTION, "Do you want to permit connection from %s?", "%s からの接続を許可しますか?"},
    {0, QIDS_HOST_NAMED, "%s(%s)", nullptr},
    {0, QIDS_HOST_BARE, "%s", nullptr},
    {0, QIDS_REBUILD,
     "The database will be rebuilt to maintain consistency with files in the published folders and data registered "
     "in the Media Server database. \nIt may take a while to complete this. Do you want to continue?",
     "公開フォルダのファイルとメディアサーバのデータベースに登録されたデータの整合性を保つため、データベースを再構築"
     "します。\n完了までしばらく時間がかかることがあります。続けますか?"},
    {0, QIDS_START_TOOL, "Start %s", "%s を起動"},
};

const UI_RESOURCE_ROW menus[] = {
    {QIDR_TRAY_MENU, QID_CMD_TOOL, "Start &Media Server Tool", "メディアサーバツールを起動(&M)"},
    {QIDR_TRAY_MENU, 0, nullptr, nullptr},
    {QIDR_TRAY_MENU, QID_CMD_START, "&Start Media Server", "メディアサーバを開始(&S)"},
    {QIDR_TRAY_MENU, QID_CMD_STOP, "Stop M&edia Server", "メディアサーバを停止(&E)"},
    {QIDR_TRAY_MENU, 0, nullptr, nullptr},
    {QIDR_TRAY_MENU, QID_CMD_SETTINGS, "Settin&gs", "設定(&G)"},
    {QIDR_TRAY_MENU, 0, nullptr, nullptr},
    {QIDR_TRAY_MENU, QID_CMD_EXIT, "E&xit", "終了(&X)"},
};

const UI_RESOURCE_ROW dialogs[] = {
    {QIDD_QUERY, 0, "Security", "セキュリティ"},
    {QIDD_QUERY, 1007, "", nullptr},
    {QIDD_QUERY, 1002, "Refuse connection", "接続を拒否する"},
    {QIDD_QUERY, 1001, "Allow connection", "接続を許可する"},
    {QIDD_QUERY, 1005, "Don't show this message again.", "今後このメッセージを表示しない"},
    {QIDD_QUERY, 1, "OK", nullptr},
    {QIDD_QUERY, 2, "Cancel", "キャンセル"},
    {QIDD_QUERY, 1010, "Start ...", "起動 ..."},
    {QIDD_NOTICE, 0, "About Security", "セキュリティについて"},
    {QIDD_NOTICE, 1004, "", nullptr},
    {QIDD_NOTICE, 1005, "Don't show this Dialog Box again.", "今後このダイアログボックスを表示しない"},
    {QIDD_NOTICE, 1, "&Yes", "はい(&Y)"},
    {QIDD_NOTICE, 2, "&No", "いいえ(&N)"},
    {QIDD_POPUP, 1029, "Media Server Helper", nullptr},
    {QIDD_POPUP, 1023, "The host (IP)", nullptr},
    {QIDD_POPUP, 1013, "Click here to allow or refuse connection from this client. ", nullptr},
    {QIDD_SETTINGS, 0, "Tarvo Media Server Helper", nullptr},
    {QIDD_SETTINGS, 1013,
     "Set up inquiry function to allow or not to allow connection when a new client tries to access.",
     "新しいクライアントがアクセスしたときに、接続の許可を問い合わせるかどうかを設定します。"},
    {QIDD_SETTINGS, 1000, "The inquiry is necessary. ", "問い合わせる"},
    {QIDD_SETTINGS, 1011, "The inquiry is unnecessary.", "問い合わせない"},
    {QIDD_SETTINGS, 1022, "Show the security dialog box.", "セキュリティダイアログボックスを表示する"},
    {QIDD_SETTINGS, 1, "OK", nullptr},
    {QIDD_SETTINGS, 2, "Cancel", "キャンセル"},
};

const UI_RESOURCE_TABLE table = {strings, sizeof strings / sizeof strings[0], menus, sizeof menus / sizeof menus[0],
                                 dialogs, sizeof dialogs / sizeof dialogs[0]};

struct image_row {
  unsigned id;
  UINT type;
  const char *file;
};
const image_row images[] = {
    {QIDI_MAIN, QRT_GROUP_ICON, "quessel_118.png"}, {QIDI_STOPPED, QRT_GROUP_ICON, "quessel_162.png"},
    {QIDB_CLOSE, QRT_BITMAP, "quessel_145.png"},     {QIDB_CLIENT, QRT_BITMAP, "quessel_156.png"},
    {QIDB_CLOSE_HOVER, QRT_BITMAP, "quessel_160.png"},
};

// The library's images, written out under their own names into a private
// folder: the panel's host and the popup read images from files.
std::string image_dir;
std::string taken[std::size(images)];

// The optional resource library beside the program: its rows come first, and
// a menu it holds replaces the program's menu of that id whole.
std::vector<UI_RESOURCE_ROW> merged_strings, merged_menus, merged_dialogs;
UI_RESOURCE_TABLE merged;

HMODULE help_resource()
{
  char path[PATH_APPEND_MAX];
  if (!path_program_folder(path, sizeof path) || !path_append(path, sizeof path, "Help_Resource.so")) return nullptr;
  return LoadLibrary(path);  // kept for the program's life
}

bool make_image_dir()
{
  const char *base = std::getenv("XDG_RUNTIME_DIR");
  if (!base || !*base) base = std::getenv("TMPDIR");
  std::string t = std::string(base && *base ? base : "/tmp") + "/quessel-XXXXXX";
  if (!mkdtemp(t.data())) return false;  // mode 0700
  image_dir = t;
  return true;
}

// Only an item that decodes as a PNG stands in for the program's file.
void take_images(HMODULE lib)
{
  for (size_t k = 0; k < std::size(images); ++k) {
    HRSRC r = FindResource(lib, images[k].id, images[k].type);
    const void *data = r ? LoadResource(lib, r) : nullptr;
    DWORD size = r ? SizeofResource(lib, r) : 0;
    if (!data || size > QUESSEL_IMAGE_MAX) continue;
    UI_IMAGE *decoded = UiImageFromMemory(data, size);
    if (!decoded) continue;
    UiImageDelete(decoded);
    if (image_dir.empty() && !make_image_dir()) return;
    std::string path = image_dir + "/" + images[k].file;
    if (write_new_file(path, std::string(static_cast<const char *>(data), size))) taken[k] = path;
  }
}

void merge(std::vector<UI_RESOURCE_ROW> *out, const UI_RESOURCE_ROW *over, uint32_t over_n, const UI_RESOURCE_ROW *own,
           uint32_t own_n, bool whole_owner)
{
  out->assign(over, over + (over ? over_n : 0));
  for (uint32_t i = 0; i < own_n; ++i) {
    bool replaced = false;
    for (uint32_t k = 0; whole_owner && over && k < over_n; ++k) replaced = replaced || over[k].owner == own[i].owner;
    if (!replaced) out->push_back(own[i]);
  }
}

}  // namespace

void quessel_resources_init()
{
  HMODULE lib = help_resource();
  if (lib) take_images(lib);
  auto fn = lib ? reinterpret_cast<UI_RESOURCE_OVERRIDE_FN>(dlsym(lib, UI_RESOURCE_OVERRIDE_SYMBOL)) : nullptr;
  const UI_RESOURCE_TABLE *over = fn ? fn() : nullptr;
  if (!over) {
    UiSetResources(&table);
    return;
  }
  merge(&merged_strings, over->strings, over->string_count, table.strings, table.string_count, false);
  merge(&merged_menus, over->menus, over->menu_count, table.menus, table.menu_count, true);
  merge(&merged_dialogs, over->dialogs, over->dialog_count, table.dialogs, table.dialog_count, false);
  merged = {merged_strings.data(), uint32_t(merged_strings.size()), merged_menus.data(), uint32_t(merged_menus.size()),
            merged_dialogs.data(), uint32_t(merged_dialogs.size())};
  UiSetResources(&merged);
}

std::string quessel_image_path(unsigned id)
{
  for (size_t k = 0; k < std::size(images); ++k) {
    if (images[k].id != id) continue;
    if (!taken[k].empty()) return taken[k];
    char path[PATH_APPEND_MAX];
    if (!path_program_folder(path, sizeof path) || !path_append(path, sizeof path, images[k].file)) return "";
    return path;
  }
  return "";
}

void quessel_resources_end()
{
  if (image_dir.empty()) return;
  for (std::string &p : taken)
    if (!p.empty()) unlink(p.c_str());
  rmdir(image_dir.c_str());
  image_dir.clear();
  for (std::string &p : taken) p.clear();
}
