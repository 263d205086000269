// CZimbrelDlg: the main window, the front end of the application core
// (core/front_end.h). It runs modally for the life of the program; page
// dialogs run modally above it. Every scripting call reaches the core,
// whichever window's page made it, and the core asks this window for what
// needs the display. It owns its web view and the page dialog it shows (while
// that runs), and runs the commands of every view.
#pragma once

#include <memory>
#include <string>

#include "app/modal_window.h"
#include "app/web_browser.h"
#include "core/front_end.h"

namespace zb {

class CoreHost;
class WebContext;
struct ProgramEnvironment;

class CZimbrelDlg final : public FrontEnd, public ModalWindow {
 public:
  // `runs`: the program's modal runs; `web`: the context of its views;
  // `environment`: what the program set in its environment, kept from the
  // programs it opens. All three must outlive the window.
  CZimbrelDlg(std::string moduleDir, ModalRuns& runs, WebContext& web,
              const ProgramEnvironment& environment);
  ~CZimbrelDlg() override;

  // The core whose front end this window is: given once, before the window
  // runs; it stays while the window runs.
  void AttachCore(CoreHost& core) { m_core = &core; }

  // The window operations the core asks for.
  void CloseActiveWindow() override;
  void ShowPageDialog(const std::string& title, const std::string& url, const std::string& argument,
                      int32_t left, int32_t top, int32_t width, int32_t height) override;
  void ShowAboutBox() override;
  void ShowContact() override;
  void ShowCompatibility() override;
  void ShowUsage() override;
  void OpenRedirect(const std::string& where) override;
  int32_t MessageBox(const std::string& text, int32_t type) override;
  std::string SelectMediaFile() override;

  void OpenHelpFile();
  // A command of app/app_commands.h (the context menu's entries, F1).
  void OnCommand(int id);
  // Another start of the program handed over its song: the window comes to
  // the front and, once the user agrees when a ringtone is being made or
  // sent, closes what is open above it and starts over with that song (an
  // empty song: the start page as it comes). When the user says no, nothing
  // changes.
  void StartOver(const std::string& song);
  // Brings the window to the front.
  void Present();

  // The window that boxes opened by page script belong to.
  GtkWindow* InnermostWindow() const;

 protected:
  void OnInitDialog() override;
  void OnClose() override { EndModal(1); }

 private:
  // One of the program's own pages in a page dialog, opened through the core
  // (which keeps the dialog value) as a page's call would be.
  void ShowPage(const char* file, const char* title, int width, int height);
  // What every view of the program may ask of it.
  ViewCallbacks Callbacks();

  struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
  };

  const std::string m_moduleDir;
  const ProgramEnvironment& m_environment;
  // The icon of this window and of the page dialogs it opens.
  const std::unique_ptr<GdkPixbuf, Unref> m_icon;
  CoreHost* m_core = nullptr;
  // The frame around a client area (title bar and border), from GTK's sizes
  // once the window exists: a page dialog's size is its page's plus this.
  int m_frameExtraWidth = 0, m_frameExtraHeight = 0;
  CWebBrowser2 m_webView;
  guint m_startOverSource = 0;  // loads the start page once the runs above have ended
};

}  // namespace zb
