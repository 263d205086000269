// CPageDialog: a page in a modal dialog with its own web view (and web
// process), placed from the main window's page state and centred on the
// window that opened it.
#pragma once

#include <string>

#include "app/modal_window.h"
#include "app/web_browser.h"

namespace zb {

class CZimbrelDlg;

// The work area of the monitor a window is on.
GdkRectangle OwnerWorkArea(GtkWindow* owner);
// Where a window is on the screen, its decorations included.
GdkRectangle ScreenRect(GtkWindow* w);

class CPageDialog : public CModalWindow {
 public:
  CPageDialog(CZimbrelDlg* main, GtkWindow* owner) : m_main(main), m_owner(owner) {}

 protected:
  void OnInitDialog() override;
  void OnClose() override { Cancel(); }
  bool OnKeyPress(GdkEventKey* ev) override;

 private:
  void Cancel();
  CZimbrelDlg* m_main;
  GtkWindow* m_owner;
  std::string m_page;
  std::string m_value;  // a copy of the dialog value (not used)
  CWebBrowser2 m_webView;
};

}  // namespace zb
