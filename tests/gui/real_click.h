// A mouse click that reaches a widget the way a person's does: through the
// X server (its test extension), not as an event made up inside GTK.
#pragma once

#include <X11/extensions/XTest.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

namespace testing_support {

// Clicks the widget at its point (x, y); false when it is not on the screen.
inline bool ClickWidget(GtkWidget* widget, int x, int y) {
  GdkWindow* window = gtk_widget_get_window(widget);
  GdkDisplay* display = gtk_widget_get_display(widget);
  if (window == nullptr || !gtk_widget_get_mapped(widget) || !GDK_IS_X11_DISPLAY(display))
    return false;
  int root_x = 0;
  int root_y = 0;
  gdk_window_get_origin(window, &root_x, &root_y);
  if (!gtk_widget_get_has_window(widget)) {
    GtkAllocation box;
    gtk_widget_get_allocation(widget, &box);
    root_x += box.x;
    root_y += box.y;
  }
  Display* server = gdk_x11_display_get_xdisplay(display);
  XTestFakeMotionEvent(server, -1, root_x + x, root_y + y, CurrentTime);
  XTestFakeButtonEvent(server, 1, True, CurrentTime);
  XTestFakeButtonEvent(server, 1, False, CurrentTime);
  XFlush(server);
  return true;
}

}  // namespace testing_support
