/* The smallest WebKitGTK program that shows one page: the yardstick for the
 * client's start-up time and memory. Prints the milliseconds from process
 * start to the page's first load-finished, keeps the window title equal to
 * the page's, and stays until killed or until the optional second argument
 * (seconds) runs out. */
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double start_ms;

static double now_ms(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

static void on_load(WebKitWebView *view, WebKitLoadEvent event, gpointer data) {
  (void)view; (void)data;
  if (event == WEBKIT_LOAD_FINISHED) {
    printf("first-load-finished-ms %.1f\n", now_ms() - start_ms);
    fflush(stdout);
  }
}

static void on_title(GObject *view, GParamSpec *spec, gpointer window) {
  (void)spec;
  const char *title = webkit_web_view_get_title(WEBKIT_WEB_VIEW(view));
  if (title) gtk_window_set_title(GTK_WINDOW(window), title);
}

static gboolean quit(gpointer data) { (void)data; gtk_main_quit(); return G_SOURCE_REMOVE; }

int main(int argc, char **argv) {
  start_ms = now_ms();
  gtk_init(&argc, &argv);
  if (argc < 2) { fprintf(stderr, "usage: minimal_webkit URI [SECONDS]\n"); return 2; }
  GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_default_size(GTK_WINDOW(window), 1024, 710);
  WebKitSettings *settings = webkit_settings_new();
  GtkWidget *view = webkit_web_view_new_with_settings(settings);
  g_signal_connect(view, "load-changed", G_CALLBACK(on_load), NULL);
  g_signal_connect(view, "notify::title", G_CALLBACK(on_title), window);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
  gtk_container_add(GTK_CONTAINER(window), view);
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
  gtk_widget_show_all(window);
  if (argc > 2) g_timeout_add_seconds((guint)atoi(argv[2]), quit, NULL);
  gtk_main();
  return 0;
}
