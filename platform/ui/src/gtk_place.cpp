// Where a toplevel window opens: centred on its shown owner, else on the
// work area of its monitor, and never past an edge of that work area.  The
// window manager's frame is counted once it is known (when the window is
// mapped), so the frame as the user sees it is what is centred.
#include "gtk_internal.h"

#include <algorithm>

namespace {

struct area {
  int x, y, w, h;
};

GdkMonitor *monitor_of(GtkWidget *top, GdkWindow *near)
{
  GdkDisplay *d = gtk_widget_get_display(top);
  GdkMonitor *m = near ? gdk_display_get_monitor_at_window(d, near) : gdk_display_get_primary_monitor(d);
  return m ? m : gdk_display_get_monitor(d, 0);
}

// The owner's frame, when the owner is shown: a hidden message window's
// toplevel is no place to centre on.
bool owner_frame(GtkWidget *top, area *out)
{
  GtkWindow *owner = gtk_window_get_transient_for(GTK_WINDOW(top));
  GdkWindow *ow = owner ? gtk_widget_get_window(GTK_WIDGET(owner)) : nullptr;
  if (!ow || !gtk_widget_get_mapped(GTK_WIDGET(owner))) return false;
  GdkRectangle r;
  gdk_window_get_frame_extents(ow, &r);
  *out = {r.x, r.y, r.width, r.height};
  return r.width > 1 && r.height > 1;
}

// The size the window takes, its frame included where the window manager
// has told it (or, drawn by the toolkit itself, without its shadow):
// children not shown yet are counted as they will be.
area frame_size(GtkWidget *top)
{
  GtkWidget *child = gtk_bin_get_child(GTK_BIN(top));
  if (child && !gtk_widget_get_visible(child)) gtk_widget_show_all(child);
  int w = 0, h = 0;
  gtk_widget_get_preferred_width(top, nullptr, &w);
  gtk_widget_get_preferred_height_for_width(top, w, nullptr, &h);
  GdkWindow *gw = gtk_widget_get_window(top);
  if (gw && gtk_widget_get_mapped(top)) {
    GdkRectangle f;
    gdk_window_get_frame_extents(gw, &f);
    int gw_w = gdk_window_get_width(gw), gw_h = gdk_window_get_height(gw);
    // A frame drawn by the toolkit (its header bar) is taken as it is: its
    // preferred size counts room for a shadow that is not drawn without a
    // compositor.  A window manager's grows with what the window will take
    // more than it has now.
    if (gtk_window_get_titlebar(GTK_WINDOW(top)) || f.width < gw_w || f.height < gw_h)
      return {0, 0, f.width, f.height};
    return {0, 0, f.width + std::max(0, w - gw_w), f.height + std::max(0, h - gw_h)};
  }
  return {0, 0, w, h};
}

// The frame's top-left corner: centred on over, then pushed inside work.
void centre_within(const area &over, const area &work, area *f)
{
  f->x = over.x + (over.w - f->w) / 2, f->y = over.y + (over.h - f->h) / 2;
  f->x = std::max(work.x, std::min(f->x, work.x + work.w - f->w));
  f->y = std::max(work.y, std::min(f->y, work.y + work.h - f->h));
}

void place(GtkWidget *top)
{
  area over{}, f{};
  bool owned = owner_frame(top, &over);
  GtkWindow *owner = gtk_window_get_transient_for(GTK_WINDOW(top));
  GdkMonitor *m = monitor_of(top, owned ? gtk_widget_get_window(GTK_WIDGET(owner)) : nullptr);
  if (!m) return;
  GdkRectangle wr;
  gdk_monitor_get_workarea(m, &wr);
  area work{wr.x, wr.y, wr.width, wr.height};
  if (!owned) over = work;
  f = frame_size(top);
  centre_within(over, work, &f);
  gtk_window_set_position(GTK_WINDOW(top), GTK_WIN_POS_NONE);
  // The gravity's reference point is the frame's corner, so the frame's
  // place is given; the client follows it inside.
  gtk_window_set_gravity(GTK_WINDOW(top), GDK_GRAVITY_NORTH_WEST);
  gtk_window_move(GTK_WINDOW(top), f.x, f.y);
}

// Once mapped, and again once the window manager has framed the window
// (its frame's size is known only then, below), placed with the frame
// counted.
gboolean place_idle(gpointer data)
{
  auto *top = static_cast<GtkWidget *>(data);
  if (gtk_widget_get_mapped(top)) place(top);
  g_object_unref(top);
  return G_SOURCE_REMOVE;
}

// After the map is handled: the toolkit's own frame (its shadow left out)
// is measured by then.
gboolean on_map(GtkWidget *top, GdkEvent *, gpointer)
{
  g_idle_add(place_idle, g_object_ref(top));
  return FALSE;
}

// The window manager tells the frame's size in a property of the window.
gboolean on_property(GtkWidget *top, GdkEventProperty *e, gpointer)
{
  if (e->atom == gdk_atom_intern_static_string("_NET_FRAME_EXTENTS") && gtk_widget_get_mapped(top)) place(top);
  return FALSE;
}

}  // namespace

void gtk_dlg_place(gtk_window_rec *rec)
{
  if (!rec || !rec->top || !GTK_IS_WINDOW(rec->top)) return;
  if (!g_object_get_data(G_OBJECT(rec->top), "tarvo-placed")) {
    g_object_set_data(G_OBJECT(rec->top), "tarvo-placed", GINT_TO_POINTER(1));
    g_signal_connect(rec->top, "map-event", G_CALLBACK(on_map), nullptr);
    gtk_widget_add_events(rec->top, GDK_PROPERTY_CHANGE_MASK);
    g_signal_connect(rec->top, "property-notify-event", G_CALLBACK(on_property), nullptr);
  }
  place(rec->top);
}

extern "C" {

int UiWindowPlace(HWND window)
{
  gtk_window_rec *rec = gtk_rec(window);
  if (!rec || !rec->top || !GTK_IS_WINDOW(rec->top)) return 0;
  gtk_dlg_place(rec);
  return 1;
}

}  // extern "C"
