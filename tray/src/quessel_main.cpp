// quessel: the tray helper.  One instance per user; the hidden main window
// runs until Exit, SIGTERM or SIGINT.
#include "helper_app.h"
#include "helper_main.h"
#include "quessel_resources.h"

#include <tarvo_tray/tray.h>
#include <tarvo_ui/ui_automation.h>
#include <tarvo_ui/ui_gtk.h>

namespace {

void gtk_message_box(const char *text, const char *caption, int)
{
  MessageBox(nullptr, text, caption, MB_OK);
}

}  // namespace

int main(int argc, char **argv)
{
  quessel_resources_init();
  // Without a display the record tray and the popup's state still run; the
  // dialogs then end as cancelled.
  if (UiGtkInit(&argc, &argv)) helper_message_box = gtk_message_box;
  int code = 0;
  if (!helper_init_instance(&code)) {
    helper_exit_instance();
    quessel_resources_end();
    return code;
  }
  TrayAutomationInit();
  if (!UiAutomationStart()) {
    helper_exit_instance();
    quessel_resources_end();
    return 1;
  }
  UiQuitOnStopSignals();  // every loop ends, also a dialog's or a message box's
  if (HWND main_window = helper_main_create()) helper_main_run(main_window);
  UiAutomationStop();
  helper_exit_instance();
  quessel_resources_end();
  return 0;
}
