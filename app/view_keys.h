// The keys of every web view: which browser keys never reach a page, and
// whether a key press comes from the user's display or from WebKit handing
// back a key the page did not take.
#pragma once

#include <gtk/gtk.h>

namespace zb {

// True when the key must not reach the page (reload, find, print, zoom,
// history, new windows...; copy and paste pass). `f1` is set when the key is
// F1 (the caller opens the help file, then the key goes on).
bool SwallowBrowserKey(guint keyval, GdkModifierType state, bool* f1);
// True when the event being handled comes from the display (GDK's event
// source), not from WebKit handing back a key the page did not take.
bool KeyPressFromTheDisplay();

}  // namespace zb
