// The file choosers a test has made the window open.
#pragma once

#include <gtk/gtk.h>

#include <vector>

namespace testing_support {

inline std::vector<GtkWidget*> OpenFileChoosers() {
  std::vector<GtkWidget*> found;
  GList* all = gtk_window_list_toplevels();
  for (GList* at = all; at != nullptr; at = at->next) {
    auto* widget = static_cast<GtkWidget*>(at->data);
    if (GTK_IS_FILE_CHOOSER_DIALOG(widget) && gtk_widget_get_visible(widget)) {
      found.push_back(widget);
    }
  }
  g_list_free(all);
  return found;
}

}  // namespace testing_support
