// The dialogs of quessel behind a few calls: the query dialog (131) with its
// security notice (133), the settings dialog (141) and the message box, all
// modal windows of class "#32770" titled with their captions.
#pragma once

#include <tarvo_ui/ui_core.h>

#include <string>

struct query_dialog_rec {
  std::string question;   // static 1007
  std::string host_line;  // for the security notice
  int selection = 0;      // 0 Refuse (1002), 1 Allow (1001)
  int check = 0;          // 1005
  int ended_for_tool = 0; // "Start ..." (1010)
};

struct settings_dialog_rec {
  int inquiry = 0;       // 0 (1000) ask, 1 (1011) do not ask
  int notice_check = 0;  // 1022
};

// IDOK or IDCANCEL.
intptr_t run_query_dialog(HWND parent, query_dialog_rec *d);
intptr_t run_settings_dialog(HWND parent, settings_dialog_rec *d);
// flags: 1 OK and Cancel; 0 OK only.  IDOK or IDCANCEL.
intptr_t run_message_box(HWND parent, const char *text, const char *caption, int flags);
// Ends the open dialogs (innermost first) with IDCANCEL.
void end_open_dialogs();
