// The resample library's own slider cursors, its resources: 16 x 16
// pictures in the XPM text form ('.' black, 'o' white, blank clear).
#include "mirrow_page.h"

namespace {

// One picture row a line.
// clang-format off
// Over the thumb: a grip that moves along the track.
const char *const slide_hd_h[] = {
    "16 16 3 1", "  c None", ". c #000000", "o c #FFFFFF",
    "                ",
    "                ",
    "                ",
    "      ....      ",
    "   .  .oo.  .   ",
    "  ..  .oo.  ..  ",
    " .o....oo....o. ",
    ".oooooooooooooo.",
    ".oooooooooooooo.",
    " .o....oo....o. ",
    "  ..  .oo.  ..  ",
    "   .  .oo.  .   ",
    "      ....      ",
    "                ",
    "                ",
    "                ",
};
const char *const slide_hd_v[] = {
    "16 16 3 1", "  c None", ". c #000000", "o c #FFFFFF",
    "       ..       ",
    "      .oo.      ",
    "     .oooo.     ",
    "    ...oo...    ",
    "      .oo.      ",
    "      .oo.      ",
    "   ....oo....   ",
    "   .oooooooo.   ",
    "   .oooooooo.   ",
    "   ....oo....   ",
    "      .oo.      ",
    "      .oo.      ",
    "    ...oo...    ",
    "     .oooo.     ",
    "      .oo.      ",
    "       ..       ",
};
// Over the track: an arrow onto it (a click jumps there).
const char *const slide_ar[] = {
    "16 16 3 1", "  c None", ". c #000000", "o c #FFFFFF",
    "      ....      ",
    "      .oo.      ",
    "      .oo.      ",
    "      .oo.      ",
    "      .oo.      ",
    "   ....oo....   ",
    "    .oooooo.    ",
    "     .oooo.     ",
    "      .oo.      ",
    "       ..       ",
    "                ",
    "................",
    ".oooooooooooooo.",
    "................",
    "                ",
    "                ",
};
const char *const slide_av[] = {
    "16 16 3 1", "  c None", ". c #000000", "o c #FFFFFF",
    "           ...  ",
    "           .o.  ",
    "           .o.  ",
    "     .     .o.  ",
    "     ..    .o.  ",
    "     .o.   .o.  ",
    "......oo.  .o.  ",
    ".oooooooo. .o.  ",
    ".oooooooo. .o.  ",
    "......oo.  .o.  ",
    "     .o.   .o.  ",
    "     ..    .o.  ",
    "     .     .o.  ",
    "           .o.  ",
    "           .o.  ",
    "           ...  ",
};
// clang-format on

const UI_CURSOR_RESOURCE rows[] = {
    {"CUR_SLIDE_HD_H", slide_hd_h, 7, 7},
    {"CUR_SLIDE_HD_V", slide_hd_v, 7, 7},
    {"CUR_SLIDE_AR", slide_ar, 7, 9},
    {"CUR_SLIDE_AV", slide_av, 9, 7},
};

}  // namespace

const UI_CURSOR_TABLE mirrow_cursors = {rows, sizeof rows / sizeof rows[0]};
