// CPageDialog: a page in a modal dialog with its own web view (and web
// process), made with everything it shows and centred on the window that
// opened it.
#pragma once

#include <functional>
#include <string>

#include "app/modal_window.h"
#include "app/web_browser.h"

namespace zb {

// What a page dialog shows, fixed when it is made.
struct PageDialogArgs {
  std::string title;     // as the title bar shows it
  std::string url;       // the page
  std::string argument;  // what its page reads as the dialog argument
  // The outer size and place the opener asked for, the frame included (the
  // place is overruled: the dialog is centred on its owner).
  int width = 0, height = 0, left = 0, top = 0;
  GdkPixbuf* icon = nullptr;  // the title bar's (the opener's, which outlives the dialog)
};

// The work area of the monitor a window is on.
GdkRectangle OwnerWorkArea(GtkWindow* owner);
// Where a window is on the screen, its decorations included.
GdkRectangle ScreenRect(GtkWindow* w);

class CPageDialog : public ModalWindow {
 public:
  // `owner`: the window the dialog is modal to and centred on. `runs`: the
  // program's modal runs. `web`: the context its web view lives in. `view`:
  // what its web view may ask of the program. `onCancel`: called when the
  // user cancels it (Esc or the title-bar close), before its run ends.
  CPageDialog(PageDialogArgs args, GtkWindow* owner, ModalRuns& runs, WebContext& web,
              ViewCallbacks view, std::function<void()> onCancel)
      : ModalWindow(runs),
        m_args(std::move(args)),
        m_owner(owner),
        m_onCancel(std::move(onCancel)),
        m_webView(web, std::move(view)) {}

 protected:
  void OnInitDialog() override;
  void OnClose() override { Cancel(); }
  bool OnKeyPress(GdkEventKey* ev) override;

 private:
  void Cancel();
  const PageDialogArgs m_args;
  GtkWindow* m_owner;
  std::function<void()> m_onCancel;
  CWebBrowser2 m_webView;
};

}  // namespace zb
