// The dialogs on the desktop layer's GTK templates: the query dialog with
// its security notice, the settings dialog, and the message boxes.
#include "helper_dialogs.h"

#include "helper_app.h"
#include "quessel_resources.h"

#include <tarvo_ui/ui_gtk.h>
#include <tarvo_ui/ui_resource.h>
#include <tarvo_util/sys_str.h>

#include <string>
#include <vector>

namespace {

enum : UINT { ID_ALLOW = 1001, ID_REFUSE = 1002, ID_CHECK = 1005, ID_START = 1010, ID_ASK = 1000, ID_NO_ASK = 1011,
              ID_NOTICE_CHECK = 1022, ID_QUESTION = 1007, ID_WARN_ICON = 1003, ID_WARN_TEXT = 1004,
              ID_SETTINGS_TEXT = 1013 };

const UI_DIALOG_ITEM query_items[] = {
    {UI_CTL_STATIC, ID_QUESTION, 7, 7, 226, 20, nullptr, 0},
    {UI_CTL_RADIO, ID_REFUSE, 14, 32, 200, 10, nullptr, UI_CTLF_GROUP},
    {UI_CTL_RADIO, ID_ALLOW, 14, 45, 200, 10, nullptr, 0},
    {UI_CTL_CHECK, ID_CHECK, 7, 62, 226, 10, nullptr, 0},
    {UI_CTL_BUTTON, ID_START, 7, 80, 100, 14, nullptr, 0},
    {UI_CTL_DEFBUTTON, IDOK, 129, 80, 50, 14, nullptr, 0},
    {UI_CTL_BUTTON, IDCANCEL, 183, 80, 50, 14, nullptr, 0},
};
const UI_DIALOG_TEMPLATE query_template = {QIDD_QUERY, nullptr, 240, 101, query_items,
                                           sizeof query_items / sizeof query_items[0]};

const UI_DIALOG_ITEM notice_items[] = {
    {UI_CTL_ICON, ID_WARN_ICON, 7, 7, 20, 20, "dialog-warning", 0},
    {UI_CTL_STATIC, ID_WARN_TEXT, 34, 7, 240, 72, nullptr, 0},
    {UI_CTL_CHECK, ID_CHECK, 34, 84, 200, 10, nullptr, UI_CTLF_HIDDEN | UI_CTLF_DISABLED},
    {UI_CTL_DEFBUTTON, IDOK, 170, 100, 50, 14, nullptr, 0},
    {UI_CTL_BUTTON, IDCANCEL, 224, 100, 50, 14, nullptr, 0},
};
const UI_DIALOG_TEMPLATE notice_template = {QIDD_NOTICE, nullptr, 281, 121, notice_items,
                                            sizeof notice_items / sizeof notice_items[0]};

const UI_DIALOG_ITEM settings_items[] = {
    {UI_CTL_STATIC, ID_SETTINGS_TEXT, 7, 7, 226, 20, nullptr, 0},
    {UI_CTL_RADIO, ID_ASK, 14, 32, 200, 10, nullptr, UI_CTLF_GROUP},
    {UI_CTL_RADIO, ID_NO_ASK, 14, 45, 200, 10, nullptr, 0},
    {UI_CTL_CHECK, ID_NOTICE_CHECK, 7, 62, 226, 10, nullptr, UI_CTLF_HIDDEN | UI_CTLF_DISABLED},
    {UI_CTL_DEFBUTTON, IDOK, 129, 80, 50, 14, nullptr, 0},
    {UI_CTL_BUTTON, IDCANCEL, 183, 80, 50, 14, nullptr, 0},
};
const UI_DIALOG_TEMPLATE settings_template = {QIDD_SETTINGS, HELPER_TITLE, 240, 101, settings_items,
                                              sizeof settings_items / sizeof settings_items[0]};

std::vector<HWND> open_dialogs;
bool closing = false;
query_dialog_rec *cur_query = nullptr;
settings_dialog_rec *cur_settings = nullptr;
std::string notice_text;
int notice_check = 0;

std::string loaded(UINT id)
{
  char buf[4096];
  return LoadString(id, buf, sizeof buf) ? buf : "";
}

// String 119 has three places: the safe formatter fills the first two, the
// host line goes into the third.
std::string notice_message(const std::string &host_line)
{
  std::string f = loaded(QIDS_NOTICE_TEXT), extra = loaded(QIDS_NOTICE_EXTRA);
  size_t third = std::string::npos, count = 0;
  for (size_t i = 0; i + 1 < f.size(); ++i) {
    if (f[i] != '%') continue;
    if (f[i + 1] == 's' && ++count == 3) {
      third = i;
      break;
    }
    ++i;  // "%s" or "%%": past its second byte
  }
  char head[4096], tail[4096] = "";
  sys_str_format_texts(head, sizeof head, f.substr(0, third).c_str(), "Media Server Tool", extra.c_str());
  if (third != std::string::npos)
    sys_str_format_texts(tail, sizeof tail, f.substr(third).c_str(), host_line.c_str(), "");
  return std::string(head) + tail;
}

intptr_t run(HWND owner, const UI_DIALOG_TEMPLATE *t, WNDPROC proc)
{
  intptr_t r = DialogBoxTemplate(owner, t, proc, nullptr);
  return r == IDOK ? IDOK : IDCANCEL;
}

// Common to every dialog: kept in the open list while it runs.
bool dialog_common(HWND h, UINT msg)
{
  if (msg == WM_INITDIALOG) open_dialogs.push_back(h);
  if (msg == WM_DESTROY) std::erase(open_dialogs, h);
  return msg == WM_COMMAND;
}

LRESULT notice_proc(HWND h, UINT msg, WPARAM w, LPARAM)
{
  if (msg == WM_INITDIALOG) {
    ShowDlgItem(h, ID_CHECK, 1);
    EnableDlgItem(h, ID_CHECK, 1);
    SetDlgItemText(h, ID_WARN_TEXT, notice_text.c_str());
  }
  if (!dialog_common(h, msg) || UI_HIWORD(w) != BN_CLICKED) return 0;
  UINT id = UI_LOWORD(w);
  if (id != IDOK && id != IDCANCEL) return 0;
  notice_check = IsDlgButtonChecked(h, ID_CHECK);
  EndDialog(h, id);
  return 1;
}

// OK: Allow asks again through the security notice unless it is switched off.
void query_ok(HWND h, query_dialog_rec *q)
{
  q->selection = IsDlgButtonChecked(h, ID_ALLOW);
  q->check = IsDlgButtonChecked(h, ID_CHECK);
  if (q->selection == 0 || ini_read(HELPER_KEY_NO_NOTICE) != 0) {
    EndDialog(h, IDOK);
    return;
  }
  notice_text = notice_message(q->host_line);
  notice_check = 0;
  intptr_t r = run(h, &notice_template, notice_proc);
  if (closing || !IsWindow(h)) return;  // the main window closes them all
  if (notice_check) ini_write(HELPER_KEY_NO_NOTICE, 1);
  if (r != IDOK) q->selection = 0;
  EndDialog(h, IDOK);
}

LRESULT query_proc(HWND h, UINT msg, WPARAM w, LPARAM)
{
  query_dialog_rec *q = cur_query;
  if (msg == WM_INITDIALOG && q) {
    char fmt[1024], start[2048];
    if (LoadString(QIDS_START_TOOL, fmt, sizeof fmt)) {
      sys_str_format_texts(start, sizeof start, fmt, "Media Server Tool", "");
      SetDlgItemText(h, ID_START, start);
    }
    SetDlgItemText(h, ID_QUESTION, q->question.c_str());
    CheckRadioButton(h, ID_ALLOW, ID_REFUSE, q->selection ? ID_ALLOW : ID_REFUSE);
    CheckDlgButton(h, ID_CHECK, q->check);
    UiWindowPresent(h);
  }
  if (!dialog_common(h, msg) || !q || UI_HIWORD(w) != BN_CLICKED) return 0;
  switch (UI_LOWORD(w)) {
  case ID_START:
    q->check = IsDlgButtonChecked(h, ID_CHECK);
    q->ended_for_tool = 1;
    EndDialog(h, IDCANCEL);
    return 1;
  case IDOK: query_ok(h, q); return 1;
  }
  return 0;
}

LRESULT settings_proc(HWND h, UINT msg, WPARAM w, LPARAM)
{
  settings_dialog_rec *s = cur_settings;
  if (msg == WM_INITDIALOG && s) {
    ShowDlgItem(h, ID_NOTICE_CHECK, 1);
    EnableDlgItem(h, ID_NOTICE_CHECK, 1);
    CheckDlgButton(h, ID_NOTICE_CHECK, s->notice_check);
    CheckRadioButton(h, ID_ASK, ID_NO_ASK, s->inquiry ? ID_NO_ASK : ID_ASK);
  }
  if (!dialog_common(h, msg) || !s || UI_HIWORD(w) != BN_CLICKED || UI_LOWORD(w) != IDOK) return 0;
  s->inquiry = IsDlgButtonChecked(h, ID_NO_ASK);
  s->notice_check = IsDlgButtonChecked(h, ID_NOTICE_CHECK);
  ini_write(HELPER_KEY_NO_NOTICE, s->notice_check ? 0 : 1);
  EndDialog(h, IDOK);
  return 1;
}

}  // namespace

intptr_t run_query_dialog(HWND owner, query_dialog_rec *q)
{
  cur_query = q;
  intptr_t r = run(owner, &query_template, query_proc);
  cur_query = nullptr;
  return r;
}

intptr_t run_settings_dialog(HWND owner, settings_dialog_rec *s)
{
  s->notice_check = ini_read(HELPER_KEY_NO_NOTICE) == 0;
  cur_settings = s;
  intptr_t r = run(owner, &settings_template, settings_proc);
  cur_settings = nullptr;
  return r;
}

intptr_t run_message_box(HWND owner, const char *text, const char *caption, int flags)
{
  return MessageBox(owner, text, caption, flags ? MB_OKCANCEL : MB_OK) == IDOK ? IDOK : IDCANCEL;
}

void end_open_dialogs()
{
  closing = true;
  for (auto it = open_dialogs.rbegin(); it != open_dialogs.rend(); ++it) EndDialog(*it, IDCANCEL);
}
