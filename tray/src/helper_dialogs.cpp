// The dialogs as message windows of class "#32770": their texts from the
// resource tables, their controls driven by WM_COMMAND.
#include "helper_dialogs.h"

#include "helper_app.h"
#include "quessel_resources.h"

#include <tarvo_ui/ui_automation.h>
#include <tarvo_ui/ui_popup.h>
#include <tarvo_ui/ui_resource.h>
#include <tarvo_util/sys_str.h>

#include <string>
#include <vector>

namespace {

enum : UINT { ID_ALLOW = 1001, ID_REFUSE = 1002, ID_CHECK = 1005, ID_START = 1010, ID_ASK = 1000, ID_NO_ASK = 1011,
              ID_NOTICE_CHECK = 1022 };

struct dialog_rec {
  explicit dialog_rec(UINT t) : templ(t) {}
  UINT templ;
  HWND hwnd = nullptr;
  std::vector<std::pair<UINT, std::string>> texts;  // control id, text as shown
  query_dialog_rec *query = nullptr;
  settings_dialog_rec *settings = nullptr;
  int notice_check = 0;
  int ok_cancel = 0;
};

std::vector<dialog_rec *> open_dialogs;
bool closing = false;

std::string dialog_text(UINT templ, UINT id)
{
  char buf[2048];
  return LoadDialogText(templ, id, buf, sizeof buf) ? buf : "";
}

std::string formatted(UINT string_id, const char *a1, const char *a2 = "")
{
  char fmt[2048], out[4096];
  if (!LoadString(string_id, fmt, sizeof fmt)) return "";
  sys_str_format_texts(out, sizeof out, fmt, a1, a2);
  return out;
}

// Runs d modally on a window of its own; IDOK or IDCANCEL.
intptr_t run(dialog_rec *d, const char *caption, WNDPROC proc)
{
  d->hwnd = CreateMessageWindow("#32770", caption, proc, d);
  if (!d->hwnd) return IDCANCEL;
  open_dialogs.push_back(d);
  intptr_t r = ModalLoop(d->hwnd);
  std::erase(open_dialogs, d);
  DestroyWindow(d->hwnd);
  return r == IDOK ? IDOK : IDCANCEL;
}

// The security notice and the message box: Yes/OK, No/Cancel, a check box.
LRESULT notice_proc(HWND h, UINT msg, WPARAM w, LPARAM)
{
  auto *d = static_cast<dialog_rec *>(GetWindowUserData(h));
  if (msg != WM_COMMAND || !d) return 0;
  if (w == ID_CHECK) d->notice_check = !d->notice_check;
  if (w == IDOK || (w == IDCANCEL && d->ok_cancel)) EndDialog(h, intptr_t(w));
  return 0;
}

// The query dialog's OK: Allow asks again through the security notice
// unless the notice is switched off.
void query_ok(HWND h, query_dialog_rec *q)
{
  if (q->selection == 0 || ini_read(HELPER_KEY_NO_NOTICE) != 0) {
    EndDialog(h, IDOK);
    return;
  }
  char extra[1024] = "";
  LoadString(QIDS_NOTICE_EXTRA, extra, sizeof extra);
  // Three arguments: the safe formatter fills two, the host line goes last.
  char fmt[2048] = "", first[4096];
  LoadString(QIDS_NOTICE_TEXT, fmt, sizeof fmt);
  std::string f = fmt;
  size_t third = std::string::npos, count = 0;
  for (size_t i = 0; i + 1 < f.size(); ++i) {
    if (f[i] != '%') continue;
    if (f[i + 1] == '%') {
      ++i;
      continue;
    }
    if (f[i + 1] == 's' && ++count == 3) {
      third = i;
      break;
    }
  }
  std::string head = third == std::string::npos ? f : f.substr(0, third);
  sys_str_format_texts(first, sizeof first, head.c_str(), "Media Server Tool", extra);
  std::string text = first;
  if (third != std::string::npos) {
    char rest[4096];
    sys_str_format_texts(rest, sizeof rest, f.substr(third).c_str(), q->host_line.c_str(), "");
    text += rest;
  }
  dialog_rec n(QIDD_NOTICE);
  n.texts = {{1004, text}, {ID_CHECK, dialog_text(QIDD_NOTICE, ID_CHECK)}, {IDOK, dialog_text(QIDD_NOTICE, IDOK)},
             {IDCANCEL, dialog_text(QIDD_NOTICE, IDCANCEL)}};
  n.ok_cancel = 1;
  intptr_t r = run(&n, dialog_text(QIDD_NOTICE, 0).c_str(), notice_proc);
  if (!IsWindow(h) || closing) return;  // the main window closes them all
  if (n.notice_check) ini_write(HELPER_KEY_NO_NOTICE, 1);
  if (r != IDOK) q->selection = 0;
  EndDialog(h, IDOK);
}

LRESULT query_proc(HWND h, UINT msg, WPARAM w, LPARAM)
{
  auto *d = static_cast<dialog_rec *>(GetWindowUserData(h));
  if (msg != WM_COMMAND || !d) return 0;
  query_dialog_rec *q = d->query;
  switch (w) {
  case ID_ALLOW: q->selection = 1; break;
  case ID_REFUSE: q->selection = 0; break;
  case ID_CHECK: q->check = !q->check; break;
  case ID_START:
    q->ended_for_tool = 1;
    EndDialog(h, IDCANCEL);
    break;
  case IDOK: query_ok(h, q); break;
  case IDCANCEL: EndDialog(h, IDCANCEL); break;
  }
  return 0;
}

LRESULT settings_proc(HWND h, UINT msg, WPARAM w, LPARAM)
{
  auto *d = static_cast<dialog_rec *>(GetWindowUserData(h));
  if (msg != WM_COMMAND || !d) return 0;
  settings_dialog_rec *s = d->settings;
  switch (w) {
  case ID_ASK: s->inquiry = 0; break;
  case ID_NO_ASK: s->inquiry = 1; break;
  case ID_NOTICE_CHECK: s->notice_check = !s->notice_check; break;
  case IDOK:
    ini_write(HELPER_KEY_NO_NOTICE, s->notice_check ? 0 : 1);
    EndDialog(h, IDOK);
    break;
  case IDCANCEL: EndDialog(h, IDCANCEL); break;
  }
  return 0;
}

int cmd_dialogs(int, const char *const *, UI_AUTOMATION_EMIT emit, void *ctx, char *, uint32_t)
{
  for (const dialog_rec *d : open_dialogs) {
    char head[64];
    std::snprintf(head, sizeof head, "dialog %u %016jx", d->templ, uintmax_t(uintptr_t(d->hwnd)));
    emit(ctx, head);
    for (const auto &[id, text] : d->texts) emit(ctx, ("text " + std::to_string(id) + " " + text).c_str());
    std::string state;
    if (d->query) state = "state selection=" + std::to_string(d->query->selection) + " check=" + std::to_string(d->query->check);
    if (d->settings)
      state = "state inquiry=" + std::to_string(d->settings->inquiry) + " check=" + std::to_string(d->settings->notice_check);
    if (!state.empty()) emit(ctx, state.c_str());
  }
  return 1;
}

}  // namespace

intptr_t run_query_dialog(HWND, query_dialog_rec *q)
{
  dialog_rec d(QIDD_QUERY);
  d.query = q;
  std::string start = formatted(QIDS_START_TOOL, "Media Server Tool");
  d.texts = {{1007, q->question}, {ID_REFUSE, dialog_text(QIDD_QUERY, ID_REFUSE)},
             {ID_ALLOW, dialog_text(QIDD_QUERY, ID_ALLOW)}, {ID_CHECK, dialog_text(QIDD_QUERY, ID_CHECK)},
             {IDOK, dialog_text(QIDD_QUERY, IDOK)}, {IDCANCEL, dialog_text(QIDD_QUERY, IDCANCEL)},
             {ID_START, start}};
  return run(&d, dialog_text(QIDD_QUERY, 0).c_str(), query_proc);
}

intptr_t run_settings_dialog(HWND, settings_dialog_rec *s)
{
  dialog_rec d(QIDD_SETTINGS);
  d.settings = s;
  s->notice_check = ini_read(HELPER_KEY_NO_NOTICE) == 0;
  for (UINT id : {1013u, UINT(ID_ASK), UINT(ID_NO_ASK), UINT(ID_NOTICE_CHECK), 1u, 2u})
    d.texts.push_back({id, dialog_text(QIDD_SETTINGS, id)});
  return run(&d, HELPER_TITLE, settings_proc);
}

intptr_t run_message_box(HWND, const char *text, const char *caption, int flags)
{
  dialog_rec d(0);
  d.texts = {{0xFFFF, text ? text : ""}};
  d.ok_cancel = flags;
  return run(&d, caption, notice_proc);
}

void end_open_dialogs()
{
  closing = true;
  for (auto it = open_dialogs.rbegin(); it != open_dialogs.rend(); ++it) EndDialog((*it)->hwnd, IDCANCEL);
}

void helper_dialogs_automation_init() { UiAutomationAddCommand("dialogs", cmd_dialogs); }
