// Placement and fading of the notification popup.
#include "popup_place.h"

void popup_place(int edge, const popup_rect &work, int w, int h, int *x, int *y)
{
  int right = work.x + work.w, bottom = work.y + work.h;
  switch (edge) {
  case PANEL_LEFT:
    *x = work.x;
    *y = bottom - h;
    break;
  case PANEL_TOP:
    *x = right - w;
    *y = work.y;
    break;
  case PANEL_RIGHT:
  case PANEL_BOTTOM:
    *x = right - w;
    *y = bottom - h;
    break;
  default:
    *x = 10;
    *y = 8;
  }
}

int popup_fade_step(int fading_in, int *alpha)
{
  if (fading_in) {
    *alpha += POPUP_FADE_STEP;
    if (*alpha >= 255) {
      *alpha = 255;
      return 1;
    }
    return 0;
  }
  *alpha -= POPUP_FADE_STEP;
  if (*alpha <= 0) {
    *alpha = 0;
    return 1;
  }
  return 0;
}
