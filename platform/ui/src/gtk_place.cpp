// Where a toplevel window opens: centred on its shown owner, else on the
// work area of its monitor, and never past an edge of that work area.  The
// window manager's frame is counted once it is known (when the window is
// mapped), so the frame as the user sees it is what is centred; a shown
// window that changes size is centred again.
#include "gtk_internal.h"

#include <gdk/gdkx.h>

#include <algorithm>

namespace {

struct area {
  int x, y, w, h;
  bool operator==(const area &o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
};

// What the last placing of a window asked for, and what is known of its
// frame: the automation tells from it whether the window stands where it
// was sent.
struct placing {
  area asked{};
  bool after_map = false;    // asked with the frame as shown
  bool frame_known = false;  // the window manager has told the frame's size
  bool queued = false;       // a placing waits for the loop
  bool by_caller = false;    // its program places it (a notification)
  bool arrived = false;      // has stood where asked at this size
  int retries = 0;           // placings asked again since it last was resized (or, resizable, at all)
};

// A window manager still framing a window may act on a move too early and
// drop it: the move is asked again, a few times, until the window first
// stands where it was sent.  Once it has, a move is the user's.
constexpr int kPlaceRetries = 3;

placing *placing_of(GtkWidget *top)
{
  return static_cast<placing *>(g_object_get_data(G_OBJECT(top), "tarvo-placing"));
}

area frame_rect(GdkWindow *gw)
{
  GdkRectangle f;
  gdk_window_get_frame_extents(gw, &f);
  return {f.x, f.y, f.width, f.height};
}

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

bool resizable(GtkWidget *top) { return gtk_window_get_resizable(GTK_WINDOW(top)); }

bool shown(GtkWidget *top) { return gtk_widget_get_window(top) && gtk_widget_get_mapped(top); }

// The size the window's own content takes: what it asks for, or, for a
// window the user may resize, the size it has (not shown yet, the one the
// toolkit will ask for) as long as its content fits.
void own_size(GtkWidget *top, int *w, int *h)
{
  if (!resizable(top)) {
    gtk_widget_get_preferred_width(top, nullptr, w);
    gtk_widget_get_preferred_height_for_width(top, *w, nullptr, h);
    return;
  }
  GtkRequisition least;
  gtk_widget_get_preferred_size(top, &least, nullptr);
  if (shown(top)) {
    *w = gdk_window_get_width(gtk_widget_get_window(top)), *h = gdk_window_get_height(gtk_widget_get_window(top));
  } else {
    gtk_window_get_size(GTK_WINDOW(top), w, h);
  }
  *w = std::max(*w, least.width), *h = std::max(*h, least.height);
}

// The size the window takes, its frame included where the window manager
// has told it (or, drawn by the toolkit itself, without its shadow):
// children and a title bar not shown yet are counted as they will be.
area frame_size(GtkWidget *top)
{
  GtkWidget *bar = gtk_window_get_titlebar(GTK_WINDOW(top));
  for (GtkWidget *part : {gtk_bin_get_child(GTK_BIN(top)), bar})
    if (part && !gtk_widget_get_visible(part)) gtk_widget_show_all(part);
  int w = 0, h = 0;
  own_size(top, &w, &h);
  if (!shown(top)) return {0, 0, w, h};
  GdkWindow *gw = gtk_widget_get_window(top);
  area f = frame_rect(gw);
  int gw_w = gdk_window_get_width(gw), gw_h = gdk_window_get_height(gw);
  // A frame drawn by the toolkit (its header bar) is taken as it is: its
  // preferred size counts room for a shadow that is not drawn without a
  // compositor.
  if (bar) return {0, 0, f.w, f.h};
  // A window manager's grows with what the window will take more than it
  // has now; one smaller than the window is still being made (read while
  // the window manager frames the window): the window's own size stands.
  if (f.w < gw_w || f.h < gw_h) return {0, 0, w, h};
  return {0, 0, f.w + std::max(0, w - gw_w), f.h + std::max(0, h - gw_h)};
}

// A window the user may resize (the folder chooser, which takes a size
// of its own from the text size and asks for it again as it goes) is made
// no larger than the work area, its frame counted, as far as its least
// size lets it: its largest size is told to the toolkit and the window
// manager, so that no later request of its own makes it larger.
void fit_within(GtkWidget *top, const area &work, area *f)
{
  if (!resizable(top)) return;
  int w = 0, h = 0;
  own_size(top, &w, &h);
  GtkRequisition least;
  gtk_widget_get_preferred_size(top, &least, nullptr);
  int edge_w = std::max(0, f->w - w), edge_h = std::max(0, f->h - h);  // the frame around it
  GdkGeometry most{};
  most.max_width = std::max(least.width, work.w - edge_w);
  most.max_height = std::max(least.height, work.h - edge_h);
  gtk_window_set_geometry_hints(GTK_WINDOW(top), nullptr, &most, GDK_HINT_MAX_SIZE);
  if (f->w <= work.w && f->h <= work.h) return;
  w = std::min(w, most.max_width), h = std::min(h, most.max_height);
  gtk_window_resize(GTK_WINDOW(top), w, h);
  f->w = w + edge_w, f->h = h + edge_h;
}

// The frame's top-left corner: centred on over, then pushed inside work.
void centre_within(const area &over, const area &work, area *f)
{
  f->x = over.x + (over.w - f->w) / 2, f->y = over.y + (over.h - f->h) / 2;
  f->x = std::max(work.x, std::min(f->x, work.x + work.w - f->w));
  f->y = std::max(work.y, std::min(f->y, work.y + work.h - f->h));
}

// How far inside its frame's corner gtk_window_move puts the point it is
// given.  A window manager's frame is moved by its corner (the gravity's
// reference point).  A window GTK decorates itself (a header bar) is moved
// by the corner inside its decoration's edge, the border it draws without
// a compositor or the shadow with one: shown, where its title bar stands
// in it (read from the toolkit, not from the display, where a window still
// moving would give two reads that do not match); before, the edge is
// what the window needs beyond its content and title bar, half on each
// side.
void move_offset(GtkWidget *top, int *dx, int *dy)
{
  *dx = *dy = 0;
  GtkWidget *bar = gtk_window_get_titlebar(GTK_WINDOW(top)), *child = gtk_bin_get_child(GTK_BIN(top));
  if (!bar || !child) return;
  if (gtk_widget_get_mapped(top) && gtk_widget_get_visible(bar)) {
    GtkAllocation a;
    gtk_widget_get_allocation(bar, &a);
    *dx = std::max(0, a.x), *dy = std::max(0, a.y);
    return;
  }
  int top_w = 0, bar_w = 0, child_w = 0;
  gtk_widget_get_preferred_width(top, nullptr, &top_w);
  gtk_widget_get_preferred_width(bar, nullptr, &bar_w);
  gtk_widget_get_preferred_width(child, nullptr, &child_w);
  *dx = *dy = std::max(0, (top_w - std::max(bar_w, child_w)) / 2);
}

void place(GtkWidget *top)
{
  placing *p = placing_of(top);
  if (p && p->by_caller) return;
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
  fit_within(top, work, &f);
  centre_within(over, work, &f);
  int dx = 0, dy = 0;
  move_offset(top, &dx, &dy);
  gtk_window_set_position(GTK_WINDOW(top), GTK_WIN_POS_NONE);
  // The gravity's reference point is the frame's corner, so the frame's
  // place is given; the client follows it inside.
  gtk_window_set_gravity(GTK_WINDOW(top), GDK_GRAVITY_NORTH_WEST);
  gtk_window_move(GTK_WINDOW(top), f.x + dx, f.y + dy);
  if (!p) return;
  if (f.w != p->asked.w || f.h != p->asked.h) {
    p->arrived = false;
    if (!resizable(top)) p->retries = 0;  // a new size of its content: placed anew
  }
  p->asked = f, p->after_map = gtk_widget_get_mapped(top);
}

gboolean place_idle(gpointer data)
{
  auto *top = static_cast<GtkWidget *>(data);
  placing *p = placing_of(top);
  if (p) p->queued = false;
  if (p && gtk_widget_get_mapped(top)) place(top);
  g_object_unref(top);
  return G_SOURCE_REMOVE;
}

// Placed again from the loop, once the toolkit has taken in what changed
// (its own frame is measured after the map is handled), once for all the
// changes made meanwhile.
void queue_place(GtkWidget *top)
{
  placing *p = placing_of(top);
  if (!p || p->queued || p->by_caller) return;
  p->queued = true;
  g_idle_add(place_idle, g_object_ref(top));
}

gboolean on_map(GtkWidget *top, GdkEvent *, gpointer)
{
  queue_place(top);
  return FALSE;
}

// The window manager tells the frame's size in a property of the window,
// maybe before the window is shown.
gboolean on_property(GtkWidget *top, GdkEventProperty *e, gpointer)
{
  placing *p = placing_of(top);
  if (!p || e->atom != gdk_atom_intern_static_string("_NET_FRAME_EXTENTS")) return FALSE;
  p->frame_known = true;
  if (gtk_widget_get_mapped(top)) queue_place(top);
  return FALSE;
}

// Whether a window manager frames the windows and tells their frames.
bool frames_told(GtkWidget *top)
{
  GdkScreen *s = gtk_widget_get_screen(top);
  return GDK_IS_X11_SCREEN(s) && gdk_x11_screen_supports_net_wm_hint(s, gdk_atom_intern_static_string("_NET_FRAME_EXTENTS"));
}

// A shown window that took another size than it was placed with (its
// content grew, the window manager framed it) is centred at that size; one
// that did not get where it was sent is sent again.  A window the user may
// resize, once it has stood where it was sent, is the user's to size.
gboolean on_configure(GtkWidget *top, GdkEventConfigure *, gpointer)
{
  placing *p = placing_of(top);
  GdkWindow *gw = gtk_widget_get_window(top);
  if (!p || !p->after_map || !gw || !gtk_widget_get_mapped(top)) return FALSE;
  area f = frame_rect(gw);
  if (f == p->asked) p->arrived = true;
  else if (f.w != p->asked.w || f.h != p->asked.h) {
    // One the user may resize is fitted a few times at most: a size it
    // does not take is not asked for again and again.
    if (!resizable(top)) queue_place(top);
    else if (!p->arrived && p->retries < kPlaceRetries) ++p->retries, queue_place(top);
  }
  else if (!p->arrived && (p->frame_known || !frames_told(top)) && p->retries < kPlaceRetries) {
    ++p->retries;
    queue_place(top);
  }
  return FALSE;
}

// The window's placing state, made (and its events followed) the first
// time.
placing *watch(GtkWidget *top)
{
  if (placing *p = placing_of(top)) return p;
  auto *p = new placing;
  g_object_set_data_full(G_OBJECT(top), "tarvo-placing", p, [](gpointer d) { delete static_cast<placing *>(d); });
  g_signal_connect(top, "map-event", G_CALLBACK(on_map), nullptr);
  g_signal_connect(top, "configure-event", G_CALLBACK(on_configure), nullptr);
  gtk_widget_add_events(top, GDK_PROPERTY_CHANGE_MASK | GDK_STRUCTURE_MASK);
  g_signal_connect(top, "property-notify-event", G_CALLBACK(on_property), nullptr);
  return p;
}

}  // namespace

void gtk_dlg_place(gtk_window_rec *rec)
{
  if (!rec || !rec->top || !GTK_IS_WINDOW(rec->top)) return;
  watch(rec->top);
  place(rec->top);
}

int gtk_dlg_placed(GtkWidget *top, const GdkRectangle &frame)
{
  placing *p = GTK_IS_WINDOW(top) ? placing_of(top) : nullptr;
  if (!p || p->by_caller) return -1;
  GdkWindow *gw = gtk_widget_get_window(top);
  if (!gw || !gtk_widget_get_mapped(top) || !p->after_map || p->queued) return 0;
  if (!p->frame_known && frames_told(top)) return 0;
  // A new size asked for and not taken yet is a placing still to come; a
  // window the user may resize is sized once its content fits.
  GtkRequisition least, need;
  gtk_widget_get_preferred_size(top, &least, &need);
  int w = gdk_window_get_width(gw), h = gdk_window_get_height(gw);
  bool sized = resizable(top) ? w >= least.width && h >= least.height : need.width == w && need.height == h;
  // The content is laid out in the size the window got only once the
  // toolkit has allocated it (the loop's next frame after the configure).
  sized = sized && gtk_widget_get_allocated_width(top) == w && gtk_widget_get_allocated_height(top) == h;
  return sized && area{frame.x, frame.y, frame.width, frame.height} == p->asked;
}

extern "C" {

int UiWindowPlace(HWND window)
{
  gtk_window_rec *rec = gtk_rec(window);
  if (!rec || !rec->top || !GTK_IS_WINDOW(rec->top)) return 0;
  gtk_dlg_place(rec);
  return 1;
}

void UiGtkPlacedByCaller(GtkWidget *toplevel)
{
  if (toplevel && GTK_IS_WINDOW(toplevel)) watch(toplevel)->by_caller = true;
}

}  // extern "C"

