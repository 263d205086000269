// The application object: what start-up creates and every window reaches.
#pragma once

#include <string>

namespace zb {

class CExternalDispatch;
class CZimbrelDlg;
class BridgeServer;

// Command ids of the context menu and the application's command table.
constexpr int ID_GOTO_HOMEPAGE = 32771;
constexpr int ID_FAQ_CONTACT = 32772;
constexpr int ID_APP_ABOUT = 32773;
constexpr int ID_COMPATIBILITY = 32775;
constexpr int ID_USAGE = 32776;
constexpr int ID_HELP = 57670;

struct CZimbrelApp {
  int m_pageDialogOpen = 0;
  CExternalDispatch* m_scriptingObject = nullptr;
  CZimbrelDlg* m_mainWnd = nullptr;  // the main window while it runs
  BridgeServer* m_bridge = nullptr;

  // The application's command table.
  void OnCommand(int id);
  // Runs start-up; returns the process exit code.
  int InitInstance(int argc, char** argv);
};

extern CZimbrelApp theApp;

// The application's name, the caption of its message boxes.
inline const char* AppName() {
  return "Zimbrel";
}

}  // namespace zb
