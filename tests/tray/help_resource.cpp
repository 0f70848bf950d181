// A resource library for the tray helper's tests: one string, one dialog
// text, a menu of its own, a PNG for bitmap 156 and, for bitmap 145, bytes
// that are not an image.
#include <tarvo_ui/ui_gdi.h>
#include <tarvo_ui/ui_resource.h>

#define HELP_STR2(x) #x
#define HELP_STR(x) HELP_STR2(x)
asm(".section .rodata\n.globl help_156\n.hidden help_156\n.globl help_156_end\n.hidden help_156_end\nhelp_156:\n"
    ".incbin \"" HELP_STR(HELP_DIR) "/help_156.png\"\nhelp_156_end:\n.previous\n");
extern "C" const unsigned char help_156[], help_156_end[];

namespace {
const UI_RESOURCE_ROW strings[] = {{0, 120, "Replaced message", nullptr}};
const UI_RESOURCE_ROW menus[] = {{129, 32774, "Quit", nullptr}};
const UI_RESOURCE_ROW dialogs[] = {{131, 0, "Replaced caption", nullptr}, {140, 1013, "Replaced placeholder", nullptr}};
const UI_RESOURCE_TABLE table = {strings, 1, menus, 1, dialogs, 2};
const char not_an_image[] = "GIF89a";
}  // namespace

extern "C" __attribute__((visibility("default"))) const UI_RESOURCE_TABLE *tarvo_ui_resource_table(void)
{
  return &table;
}

extern "C" __attribute__((visibility("default"))) const UI_RCDATA_TABLE *tarvo_ui_rcdata_table(void)
{
  static const UI_RCDATA_ROW rows[] = {{2, 156, help_156, uint32_t(help_156_end - help_156)},
                                       {2, 145, not_an_image, sizeof not_an_image}};
  static const UI_RCDATA_TABLE t = {rows, 2};
  return &t;
}
