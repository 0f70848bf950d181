// Push-like check boxes: a check box drawn as a push button that stays down
// while it is checked.
#include "gtk_internal.h"

#include <tarvo_ui/ui_controls.h>

extern "C" int UiDlgButtonPushLike(HWND dialog, UINT id)
{
  gtk_control *c = gtk_control_of(gtk_rec(dialog), id);
  if (!c || !GTK_IS_CHECK_BUTTON(c->w)) return 0;
  // Without its indicator a check button takes the look of a toggle button;
  // clicks, Space and the checked state stay the check box's.
  gtk_toggle_button_set_mode(GTK_TOGGLE_BUTTON(c->w), FALSE);
  return 1;
}
