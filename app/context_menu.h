// The program's context menu of a web view: "Go to Homepage", the phone
// compatibility test, how to use the application, FAQ and contact, "About
// Zimbrel" (app/app_commands.h).
#pragma once

#include <gtk/gtk.h>

#include <functional>

namespace zb {

// Pops the menu up at the pointer of `event` over `view`. A chosen entry's
// command goes to `runCommand` (which the menu keeps a copy of; it may be
// empty) once the menu has gone, as the command may open a modal window.
void PopUpContextMenu(GtkWidget* view, GdkEvent* event,
                      const std::function<void(int command)>& runCommand);

}  // namespace zb
