// tarvo-shellext-ui: the dialogs of the file-manager extensions, which run
// inside a GTK 4 host and so cannot show GTK 3 windows themselves.
//   title-edit <file name> <title>   prints the confirmed title; exit 0, or 1 when cancelled
//   msgbox ok|yesno <caption> <text> exit 1 (OK), 6 (Yes) or 7 (No)
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>

namespace {

int title_edit(const char *file_name, const char *title)
{
  GtkWidget *dialog = gtk_dialog_new_with_buttons("Media Server Title Edit", nullptr, GTK_DIALOG_MODAL, "OK",
                                                  GTK_RESPONSE_OK, "Cancel", GTK_RESPONSE_CANCEL, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  GtkWidget *area = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
  GtkWidget *grid = gtk_grid_new();
  gtk_container_set_border_width(GTK_CONTAINER(grid), 8);
  gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 6);
  GtkWidget *name = gtk_label_new(file_name);
  gtk_widget_set_name(name, "204");
  gtk_label_set_xalign(GTK_LABEL(name), 0);
  GtkWidget *label = gtk_label_new_with_mnemonic("_Title :");
  GtkWidget *entry = gtk_entry_new();
  gtk_widget_set_name(entry, "203");
  gtk_entry_set_text(GTK_ENTRY(entry), title);
  gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
  gtk_widget_set_hexpand(entry, TRUE);
  gtk_label_set_mnemonic_widget(GTK_LABEL(label), entry);
  gtk_grid_attach(GTK_GRID(grid), name, 0, 0, 2, 1);
  gtk_grid_attach(GTK_GRID(grid), label, 0, 1, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), entry, 1, 1, 1, 1);
  gtk_container_add(GTK_CONTAINER(area), grid);
  gtk_widget_show_all(dialog);
  int ok = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_OK;
  if (ok) std::printf("%s\n", gtk_entry_get_text(GTK_ENTRY(entry)));
  gtk_widget_destroy(dialog);
  return ok ? 0 : 1;
}

int message_box(bool yes_no, const char *caption, const char *text)
{
  GtkWidget *box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL,
                                          yes_no ? GTK_MESSAGE_QUESTION : GTK_MESSAGE_WARNING,
                                          yes_no ? GTK_BUTTONS_YES_NO : GTK_BUTTONS_OK, "%s", text);
  gtk_window_set_title(GTK_WINDOW(box), caption);
  int r = gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
  if (!yes_no) return 1;
  return r == GTK_RESPONSE_YES ? 6 : 7;
}

}  // namespace

int main(int argc, char **argv)
{
  bool title = argc == 4 && !std::strcmp(argv[1], "title-edit");
  bool box = argc == 5 && !std::strcmp(argv[1], "msgbox") && (!std::strcmp(argv[2], "ok") || !std::strcmp(argv[2], "yesno"));
  if (!title && !box) {
    std::fprintf(stderr, "usage: tarvo-shellext-ui title-edit <file name> <title>\n"
                         "       tarvo-shellext-ui msgbox ok|yesno <caption> <text>\n");
    return 2;
  }
  if (!gtk_init_check(&argc, &argv)) {
    std::fprintf(stderr, "tarvo-shellext-ui: no display\n");
    return 2;
  }
  if (title) return title_edit(argv[2], argv[3]);
  return message_box(!std::strcmp(argv[2], "yesno"), argv[3], argv[4]);
}
