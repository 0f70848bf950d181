// The popup's placement at the panel's corner of the work area and its
// fade steps: pure rules, tested without a display.
#pragma once

// Panel edges, as the work area's position against the monitor tells them.
enum : int { PANEL_LEFT = 0, PANEL_TOP = 1, PANEL_RIGHT = 2, PANEL_BOTTOM = 3, PANEL_NONE = -1 };

constexpr int POPUP_FADE_STEP = 20;
constexpr unsigned POPUP_FADE_MS = 20;
// Corner ellipses of the round rectangle, and the close button's margin.
constexpr int POPUP_CORNER = 12;
constexpr int POPUP_CLOSE_MARGIN = 8;

struct popup_rect {
  int x, y, w, h;
};

// Where a w x h popup goes for the panel edge and work area.
void popup_place(int edge, const popup_rect &work, int w, int h, int *x, int *y);

// One fade step on alpha (0-255) in the direction (1 in, 0 out).  1 when
// the fade has ended (alpha at 255 in, at 0 out).
int popup_fade_step(int fading_in, int *alpha);
