// CZimbrelDlg: the main window and the program's central state. It runs
// modally for the life of the program; page dialogs run modally above it.
// Every scripting call acts on it, whichever window's page made the call.
#pragma once

#include <string>

#include "app/modal_window.h"
#include "app/web_browser.h"
#include "bridge/core_host.h"

namespace zb {

class CPageDialog;

class CZimbrelDlg : public CoreHost, public CModalWindow {
 public:
  explicit CZimbrelDlg(std::string moduleDir);
  ~CZimbrelDlg() override;

  // Window operations of the scripting members.
  void CloseActiveWindow() override;
  std::string ShowPageDialog(const std::string& title, const std::string& url,
                             const std::string& argument, int left, int top, int width,
                             int height) override;
  void ShowAboutBox() override;
  void ShowContact() override;
  void ShowCompatibility() override;
  void ShowUsage() override;
  void OpenRedirect(const std::string& where) override;
  int32_t MessageBox(const std::string& text, int32_t type) override;
  std::string SelectMediaFile() override;
  void OpenHelpFile();

  // Page dialog state, read by CPageDialog's initialisation.
  int m_frameExtraWidth = 0, m_frameExtraHeight = 0;
  CPageDialog* m_pageDialog = nullptr;
  std::string m_pageUrl, m_pageTitle;
  int m_pageWidth = 0, m_pageHeight = 0, m_pageTop = 0, m_pageLeft = 0;
  const std::string& dialogValue() const { return m_dialogValue; }
  // Page dialog cancel (Esc or the title-bar close): clears the record.
  void ClearPageDialogRecord();

  // The window that boxes opened by page script belong to.
  GtkWindow* InnermostWindow() const;
  static GdkPixbuf* WindowIcon();

 protected:
  void OnInitDialog() override;
  void OnClose() override { EndModal(1); }

 private:
  void ShowPage(const char* file, const char* title, int width, int height);
  CWebBrowser2 m_webView;
};

}  // namespace zb
