// tarvo-shellext-ui: the dialogs of the file-manager extensions, which run
// inside a GTK 4 host and so cannot show GTK 3 windows themselves.
//   title-edit <file name> <title>   prints the confirmed title; exit 0, or 1 when cancelled
//   msgbox ok|yesno <caption> <text> exit 1 (OK), 6 (Yes) or 7 (No)
#include <tarvo_shellext/shellext.h>
#include <tarvo_ui/ui_automation.h>
#include <tarvo_ui/ui_gtk.h>
#include <tarvo_ui/ui_resource.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The title dialog's template and controls; its texts in both languages.
enum : UINT { IDD_TITLE_EDIT = 102, IDC_TITLE = 203, IDC_FILE_NAME = 204, IDC_STATIC = 0xFFFF };

const UI_DIALOG_ITEM title_items[] = {
    {UI_CTL_STATIC, IDC_FILE_NAME, 7, 7, 246, 10, "", 0},
    {UI_CTL_STATIC, IDC_STATIC, 7, 24, 30, 10, nullptr, 0},
    {UI_CTL_EDIT, IDC_TITLE, 40, 22, 213, 13, "", 0},
    {UI_CTL_DEFBUTTON, IDOK, 149, 42, 50, 14, nullptr, 0},
    {UI_CTL_BUTTON, IDCANCEL, 203, 42, 50, 14, nullptr, 0},
};
const UI_DIALOG_TEMPLATE title_template = {IDD_TITLE_EDIT, nullptr, 260, 63, title_items,
                                           sizeof title_items / sizeof title_items[0]};

const UI_RESOURCE_ROW dialog_rows[] = {
    {IDD_TITLE_EDIT, 0, "Media Server Title Edit", "メディアサーバー タイトル編集"},
    {IDD_TITLE_EDIT, IDC_STATIC, "Title :", "タイトル :"},
    {IDD_TITLE_EDIT, IDOK, "OK", "OK"},
    {IDD_TITLE_EDIT, IDCANCEL, "Cancel", "キャンセル"},
};
const UI_RESOURCE_TABLE resources = {nullptr, 0, nullptr, 0,
                                     dialog_rows, sizeof dialog_rows / sizeof dialog_rows[0]};

struct title_state {
  const char *file_name, *title;
  std::string confirmed;
  bool too_long = false;
};

LRESULT title_proc(HWND h, UINT msg, WPARAM w, LPARAM)
{
  auto *st = static_cast<title_state *>(GetWindowUserData(h));
  if (!st) return 0;
  if (msg == WM_INITDIALOG) {
    SetDlgItemText(h, IDC_FILE_NAME, st->file_name);
    SetDlgItemText(h, IDC_TITLE, st->title);
  } else if (msg == WM_COMMAND && UI_LOWORD(w) == IDOK && UI_HIWORD(w) == BN_CLICKED) {
    // The module reads at most SHELLEXT_UI_ANSWER_MAX bytes, the line end
    // included; a longer title could only arrive cut.
    static char buf[SHELLEXT_UI_ANSWER_MAX];
    UINT n = GetDlgItemText(h, IDC_TITLE, buf, sizeof buf);
    st->too_long = n + 1 >= sizeof buf;
    st->confirmed.assign(buf, n);
  }
  return 0;  // OK and Cancel end the dialog with their ids
}

int title_edit(const char *file_name, const char *title)
{
  title_state st{file_name, title, {}};
  if (DialogBoxTemplate(nullptr, &title_template, title_proc, &st) != IDOK) return 1;
  if (st.too_long) return 1;
  std::printf("%s\n", st.confirmed.c_str());
  return 0;
}

int message_box(bool yes_no, const char *caption, const char *text)
{
  int r = MessageBox(nullptr, text, caption, yes_no ? MB_YESNO : MB_OK);
  if (!yes_no) return 1;
  return r == IDYES ? 6 : 7;
}

}  // namespace

int main(int argc, char **argv)
{
  bool title = argc == 4 && !std::strcmp(argv[1], "title-edit");
  bool box = argc == 5 && !std::strcmp(argv[1], "msgbox") && (!std::strcmp(argv[2], "ok") || !std::strcmp(argv[2], "yesno"));
  if (!title && !box) {
    std::fprintf(stderr, "usage: tarvo-shellext-ui title-edit <file name> <title>\n"
                         "       tarvo-shellext-ui msgbox ok|yesno <caption> <text>\n");
    return 2;
  }
  // The toolkit parses no arguments: file names and titles are the user's
  // and may look like its options.
  if (!UiGtkInit(nullptr, nullptr)) {
    std::fprintf(stderr, "tarvo-shellext-ui: no display\n");
    return 2;
  }
  UiSetResources(&resources);
  UiAutomationStart();  // tests only: off unless $TARVO_UI_AUTOMATION names a socket
  int r = title ? title_edit(argv[2], argv[3]) : message_box(!std::strcmp(argv[2], "yesno"), argv[3], argv[4]);
  UiAutomationStop();
  return r;
}
