// A test skin library: ten small PNG images as RT_RCDATA items 1 to 10.
#include <tarvo_ui/ui_gdi.h>

#define SKIN_STR2(x) #x
#define SKIN_STR(x) SKIN_STR2(x)
#define SKIN_IMAGE(n)                                                                                      \
  asm(".section .rodata\n.globl vellisk_skin" #n "\n.hidden vellisk_skin" #n "\n.globl vellisk_skin" #n    \
      "_end\n.hidden vellisk_skin" #n "_end\nvellisk_skin" #n ":\n.incbin \"" SKIN_STR(VELLISK_DIR) "/skin" #n \
      ".png\"\nvellisk_skin" #n "_end:\n.previous\n");                                                   \
  extern "C" const unsigned char vellisk_skin##n[], vellisk_skin##n##_end[];

SKIN_IMAGE(01)
SKIN_IMAGE(02)
SKIN_IMAGE(03)
SKIN_IMAGE(04)
SKIN_IMAGE(05)
SKIN_IMAGE(06)
SKIN_IMAGE(07)
SKIN_IMAGE(08)
SKIN_IMAGE(09)
SKIN_IMAGE(10)

#define SKIN_ROW(id, n) {RT_RCDATA, id, vellisk_skin##n, uint32_t(vellisk_skin##n##_end - vellisk_skin##n)}

extern "C" __attribute__((visibility("default"))) const UI_RCDATA_TABLE *tarvo_ui_rcdata_table(void)
{
  static const UI_RCDATA_ROW rows[] = {SKIN_ROW(1, 01), SKIN_ROW(2, 02), SKIN_ROW(3, 03), SKIN_ROW(4, 04),
                                       SKIN_ROW(5, 05), SKIN_ROW(6, 06), SKIN_ROW(7, 07), SKIN_ROW(8, 08),
                                       SKIN_ROW(9, 09), SKIN_ROW(10, 10)};
  static const UI_RCDATA_TABLE table = {rows, sizeof rows / sizeof rows[0]};
  return &table;
}
