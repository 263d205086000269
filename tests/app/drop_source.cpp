// A window that offers one file for dragging, as a file manager does: the
// end-to-end tests drag from it with xdotool and drop onto the program.
//
//   drop_source X Y URI
//
// The window (200 x 200) is placed at (X, Y) with no window manager, and
// prints "ready" on standard output once it is shown. Dragging from anywhere
// in it offers URI as text/uri-list and as text/plain.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string gUri;

void OnDragDataGet(GtkWidget*, GdkDragContext*, GtkSelectionData* data, guint info, guint,
                   gpointer) {
  if (info == 0) {
    gchar* uris[] = {const_cast<gchar*>(gUri.c_str()), nullptr};
    gtk_selection_data_set_uris(data, uris);
  } else {
    gtk_selection_data_set_text(data, gUri.c_str(), -1);
  }
}

gboolean OnMapped(GtkWidget*, GdkEvent*, gpointer) {
  std::printf("ready\n");
  std::fflush(stdout);
  return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: drop_source X Y URI\n");
    return 2;
  }
  gUri = argv[3];
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "Drop source");
  gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
  gtk_window_set_default_size(GTK_WINDOW(window), 200, 200);
  gtk_window_move(GTK_WINDOW(window), std::atoi(argv[1]), std::atoi(argv[2]));
  GtkWidget* box = gtk_event_box_new();
  gtk_container_add(GTK_CONTAINER(window), box);
  gtk_container_add(GTK_CONTAINER(box), gtk_label_new("song"));
  GtkTargetEntry targets[] = {{const_cast<gchar*>("text/uri-list"), 0, 0},
                              {const_cast<gchar*>("text/plain"), 0, 1}};
  gtk_drag_source_set(box, GDK_BUTTON1_MASK, targets, 2, GDK_ACTION_COPY);
  g_signal_connect(box, "drag-data-get", G_CALLBACK(OnDragDataGet), nullptr);
  g_signal_connect(window, "map-event", G_CALLBACK(OnMapped), nullptr);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
