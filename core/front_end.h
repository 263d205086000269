// FrontEnd: what the application core asks of the program's windows. The
// main window implements it (app/zimbrel_dlg.h); tests give the core one of a
// few lines. Every operation runs on the UI thread, called by the core's
// operation of the same name (core/core_host.h); each may run a nested main
// loop (a dialog, a box, a chooser) before it returns.
#pragma once

#include <cstdint>
#include <string>

namespace zb {

class FrontEnd {
 public:
  virtual ~FrontEnd() = default;

  // Closes the innermost window: a page dialog, or the main window, which
  // ends the program.
  virtual void CloseActiveWindow() = 0;
  // Shows `url` (a page of the program's own; any other opens nothing) in a
  // modal dialog of that title, client size and place, and returns once it
  // has closed. Its page reads `argument` and hands its result back through
  // the core (GetDialogArgument, SetDialogResult).
  virtual void ShowPageDialog(const std::string& title, const std::string& url,
                              const std::string& argument, int32_t left, int32_t top, int32_t width,
                              int32_t height) = 0;
  // The program's own pages in a dialog: About, FAQ and contact, phone
  // compatibility, how to use it.
  virtual void ShowAboutBox() = 0;
  virtual void ShowContact() = 0;
  virtual void ShowCompatibility() = 0;
  virtual void ShowUsage() = 0;
  // Opens the service's page for a place name in the default browser.
  virtual void OpenRedirect(const std::string& where) = 0;
  // A message box of a type (MB_ bits); answers the button chosen (IDOK...).
  virtual int32_t MessageBox(const std::string& text, int32_t type) = 0;
  // The song file the user chooses, or "".
  virtual std::string SelectMediaFile() = 0;
};

}  // namespace zb
