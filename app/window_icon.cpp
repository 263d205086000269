#include "app/window_icon.h"

#include <cairo.h>
#include <gdk/gdk.h>

#include <cmath>

namespace zb {

GdkPixbuf* NewWindowIcon(const std::string& moduleDir) {
  // From its PNG (an SVG would load librsvg, about 6 MB, for this one
  // picture); drawn here when the picture cannot be read.
  const std::string png = moduleDir + "/res/images/zimbrel-48.png";
  if (GdkPixbuf* pb = gdk_pixbuf_new_from_file(png.c_str(), nullptr)) return pb;
  const int s = 64;
  cairo_surface_t* surf = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, s, s);
  cairo_t* cr = cairo_create(surf);
  auto rounded = [&](double x, double y, double w, double h, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
    cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
    cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
  };
  rounded(16, 4, 32, 56, 7);
  cairo_set_source_rgb(cr, 0.16, 0.33, 0.62);
  cairo_fill(cr);
  rounded(20, 12, 24, 34, 2);
  cairo_set_source_rgb(cr, 0.93, 0.96, 1.0);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 0.95, 0.55, 0.15);
  cairo_arc(cr, 28, 38, 4, 0, 2 * M_PI);
  cairo_fill(cr);
  cairo_rectangle(cr, 31, 20, 2.5, 18);
  cairo_fill(cr);
  cairo_move_to(cr, 33, 20);
  cairo_line_to(cr, 38, 23);
  cairo_line_to(cr, 38, 26);
  cairo_line_to(cr, 33, 23.5);
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 0.93, 0.96, 1.0);
  cairo_arc(cr, 32, 53, 3, 0, 2 * M_PI);
  cairo_fill(cr);
  cairo_destroy(cr);
  GdkPixbuf* pb = gdk_pixbuf_get_from_surface(surf, 0, 0, s, s);
  cairo_surface_destroy(surf);
  return pb;
}

}  // namespace zb
