#include "app/zimbrel_dlg.h"

#include <signal.h>
#include <sys/types.h>

#include <cmath>

#include "app/app_commands.h"
#include "app/message_box.h"
#include "app/page_dialog.h"
#include "app/process_environment.h"
#include "bridge/bridge_server.h"
#include "core/redirect_url.h"
#include "jobs/job_state.h"
#include "platform/module_dir.h"
#include "platform/stderr_notice.h"
#include "platform/translation.h"
#include "platform/utf.h"

namespace zb {

CZimbrelDlg::CZimbrelDlg(std::string moduleDir)
    : CoreHost(std::move(moduleDir)), m_webView(Callbacks()) {}

ViewCallbacks CZimbrelDlg::Callbacks() {
  return ViewCallbacks{
      [this](int id) { OnCommand(id); }, [this] { OpenHelpFile(); },
      [] { return !CModalWindow::PageDialogRunning(); },  // no menu over a page dialog
  };
}

void CZimbrelDlg::OnCommand(int id) {
  switch (id) {
    case ID_GOTO_HOMEPAGE:
      OpenRedirect("homepage");
      break;
    case ID_COMPATIBILITY:
      ShowCompatibility();
      break;
    case ID_USAGE:
      ShowUsage();
      break;
    case ID_FAQ_CONTACT:
      ShowContact();
      break;
    case ID_APP_ABOUT:
      ShowAboutBox();
      break;
    case ID_HELP:
      OpenHelpFile();
      break;
    default:
      break;
  }
}

CZimbrelDlg::~CZimbrelDlg() {
  if (m_startOverSource) g_source_remove(m_startOverSource);
}

GdkPixbuf* CZimbrelDlg::WindowIcon() {
  // The phone pictogram of the desktop icon, from its PNG (an SVG would load
  // librsvg, about 6 MB, for this one picture); drawn here when the picture
  // cannot be read.
  static GdkPixbuf* icon = [] {
    std::string png = ModuleDirectory() + "/res/images/zimbrel-48.png";
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
  }();
  return icon;
}

void CZimbrelDlg::OnInitDialog() {
  // The start page first: its web process starts while the window is built.
  profile().SetInstallDir(m_moduleDir);
  profile().AffiliateId();
  GtkWidget* view = m_webView.Create(nullptr);
  gtk_widget_set_size_request(view, 760, 520);
  m_webView.Navigate2(m_moduleDir + "/res/selectSong.html");

  // The title-bar menu with "About Zimbrel...".
  GtkWidget* menuButton = gtk_menu_button_new();
  gtk_button_set_image(GTK_BUTTON(menuButton),
                       gtk_image_new_from_icon_name("open-menu-symbolic", GTK_ICON_SIZE_BUTTON));
  gtk_widget_set_tooltip_text(menuButton, Tr("Menu"));
  GtkWidget* menu = gtk_menu_new();
  GtkWidget* about = gtk_menu_item_new_with_mnemonic(Tr("_About Zimbrel..."));
  g_signal_connect_swapped(about, "activate", G_CALLBACK(+[](CZimbrelDlg* d) {
                             g_idle_add(
                                 +[](gpointer p) {
                                   static_cast<CZimbrelDlg*>(p)->ShowAboutBox();
                                   return G_SOURCE_REMOVE;
                                 },
                                 d);
                           }),
                           this);
  gtk_menu_shell_append(GTK_MENU_SHELL(menu), about);
  gtk_widget_show_all(menu);
  gtk_menu_button_set_popup(GTK_MENU_BUTTON(menuButton), menu);
  CreateFrame(menuButton, TitleBarKind::kMainWindow);
  m_webView.SetOwner(GTK_WINDOW(m_window));

  gtk_window_set_icon(GTK_WINDOW(m_window), WindowIcon());

  // Frame extras from GTK's own sizes: the window around its client area is
  // the title bar (client-side decorations, no side borders).
  int headerMin = 0, headerNat = 0;
  gtk_widget_get_preferred_height(m_headerBar, &headerMin, &headerNat);
  m_frameExtraWidth = 0 + 2;
  m_frameExtraHeight = headerNat + 2;

  // Client area 762 x 522 with the web view at (1, 1), 760 x 520.
  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, 762, 522);
  gtk_fixed_put(GTK_FIXED(fixed), view, 1, 1);
  gtk_container_add(GTK_CONTAINER(m_window), fixed);

  // Centred on the work area.
  int outerW = m_frameExtraWidth - 2 + 762, outerH = m_frameExtraHeight - 2 + 522;
  GdkRectangle wa{0, 0, 0, 0};
  if (GdkMonitor* mon = gdk_display_get_primary_monitor(gdk_display_get_default()))
    gdk_monitor_get_workarea(mon, &wa);
  else if (GdkMonitor* m0 = gdk_display_get_monitor(gdk_display_get_default(), 0))
    gdk_monitor_get_workarea(m0, &wa);
  gtk_window_move(GTK_WINDOW(m_window), wa.x + std::max(0, (wa.width - outerW) / 2),
                  wa.y + std::max(0, (wa.height - outerH) / 2));

  gtk_window_set_title(GTK_WINDOW(m_window), Tr("Zimbrel - The Ringtone Creator"));
}

GtkWindow* CZimbrelDlg::InnermostWindow() const {
  CModalWindow* a = CModalWindow::Active();
  return a ? a->window() : GTK_WINDOW(m_window);
}

std::string CZimbrelDlg::ShowPageDialog(const std::string& title, const std::string& url,
                                        const std::string& argument, int left, int top, int width,
                                        int height) {
  auto clampAdd = [](int a, int b) {
    long long r = static_cast<long long>(a) + b;
    return static_cast<int>(std::clamp<long long>(r, INT32_MIN, INT32_MAX));
  };
  PageDialogArgs args;
  args.title = "  " + title;
  args.url = url;
  args.argument = argument;
  args.width = clampAdd(width, m_frameExtraWidth);
  args.height = clampAdd(height, m_frameExtraHeight);
  args.left = clampAdd(left, -(m_frameExtraWidth / 2));
  args.top = clampAdd(top, -(m_frameExtraHeight / 2));
  m_dialogValue = argument;
  // Only a page of ours opens; anything else opens no dialog (the call
  // returns its argument at once).
  args.url = CWebBrowser2::PageAddress(url);
  if (args.url.empty()) {
    Notice("no dialog for " + url.substr(0, 200) + ": not a page of Zimbrel");
    return m_dialogValue;
  }
  auto* dlg = new CPageDialog(std::move(args), InnermostWindow(), Callbacks(),
                              [this] { m_pageDialog = nullptr; });
  m_pageDialog = dlg;
  dlg->DoModal();
  if (m_pageDialog == dlg) m_pageDialog = nullptr;  // never left dangling
  delete dlg;
  return m_dialogValue;
}

void CZimbrelDlg::CloseActiveWindow() {
  // A recorded transcoder is ended first (the id stays recorded; the job
  // clears it under the same lock before it reaps its child, so a reused
  // process id is never signalled).
  m_jobs->TerminateRecordedProcess(SIGKILL);
  CModalWindow* active = CModalWindow::Active();
  if (active == this || !active) {
    EndModal(0);
  } else if (m_pageDialog) {
    m_pageDialog->EndModal(1);
    m_pageDialog = nullptr;
  } else {
    active->EndModal(1);
  }
}

void CZimbrelDlg::Present() {
  if (m_window) gtk_window_present(GTK_WINDOW(m_window));
}

void CZimbrelDlg::StartOver(const std::string& song) {
  Present();
  if (CModalWindow::Ending()) return;
  // A job at work means a ringtone is being made or sent: the user decides.
  if (jobs::RunningJobThreads() > 0) {
    std::string name = Tr("the start page");
    if (!song.empty()) {
      gchar* base = g_path_get_basename(song.c_str());
      // TRANSLATORS: a file's name in quotation marks.
      name = ReplaceFirst(Tr("\"%s\""), "%s", SanitizeUtf8(base));
      g_free(base);
    }
    // TRANSLATORS: %s is "the start page" or a song file's quoted name.
    const std::string text = ReplaceFirst(Tr("Zimbrel is making or sending a ringtone.\n\nStop it "
                                             "and start over with %s? The ringtone made so far "
                                             "stays if you choose No."),
                                          "%s", name);
    const int answer = ShowMessageBox(InnermostWindow(), text, AppName(),
                                      MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    if (answer != IDYES || CModalWindow::Ending()) return;
    m_jobs->Cancel();
    m_jobs->TerminateRecordedProcess(SIGKILL);
  }
  setCommandLineFile(song);
  // Dialogs and boxes above the window close first; the start page loads
  // once their runs have ended.
  CModalWindow::EndRunsAbove(this);
  if (m_startOverSource) return;  // already on its way
  m_startOverSource = g_timeout_add(
      20,
      +[](gpointer self) -> gboolean {
        auto* d = static_cast<CZimbrelDlg*>(self);
        if (CModalWindow::HasRunAbove(d)) return G_SOURCE_CONTINUE;
        d->m_startOverSource = 0;
        if (d->running() && !CModalWindow::Ending())
          d->m_webView.Navigate2(d->m_moduleDir + "/res/selectSong.html");
        return G_SOURCE_REMOVE;
      },
      this);
}

void CZimbrelDlg::ShowPage(const char* file, const char* title, int width, int height) {
  ShowPageDialog(Tr(title), m_moduleDir + file, "", 100, 100, width, height);
}

void CZimbrelDlg::ShowAboutBox() {
  ShowPage("/res/aboutBox.html", N_("About Zimbrel"), 247, 270);
}
void CZimbrelDlg::ShowContact() {
  ShowPage("/res/helpContact.html", N_("Zimbrel - FAQ and Contact us"), 720, 520);
}
void CZimbrelDlg::ShowCompatibility() {
  ShowPage("/res/helpCompatibility.html", N_("Zimbrel - Phone Compatibility Test"), 700, 520);
}
void CZimbrelDlg::ShowUsage() {
  ShowPage("/res/helpUsage.html", N_("Zimbrel - How to use the application"), 700, 520);
}

void CZimbrelDlg::OpenRedirect(const std::string& where) {
  // A page's call opens the browser only on the user's own click or key in
  // that page's view, once per input: never from script alone. The homepage
  // command (the user's choice in a menu) always does.
  if (const uint64_t caller = BridgeServer::CallerPageId(); caller != 0) {
    CWebBrowser2* view = CWebBrowser2::FromPageId(caller);
    if (!view || !view->TakeUserInput()) {
      Notice("a page asked to open the browser without a click or key of the user's");
      return;
    }
  }
  // The desktop's default web browser; nothing is reported when there is none.
  std::optional<std::string> url = BuildRedirectUrl(where);
  if (!url) {
    ShowMessageBox(GTK_WINDOW(m_window),
                   "The ringtone service could not be reached, so its page cannot be opened.",
                   "Zimbrel", MB_OK);
    return;
  }
  OpenInDefaultBrowser(*url);
}

void CZimbrelDlg::OpenHelpFile() {
  std::string path = m_moduleDir + "/help.chm";
  bool ok = false;
  if (g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR)) {
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    GAppLaunchContext* ctx = NewLaunchContext();
    if (uri) ok = g_app_info_launch_default_for_uri(uri, ctx, nullptr);
    g_object_unref(ctx);
    g_free(uri);
  }
  if (!ok)
    ShowMessageBox(GTK_WINDOW(m_window), Tr("Could not find the Help file."), Tr("Error"), MB_OK);
}

int32_t CZimbrelDlg::MessageBox(const std::string& text, int32_t type) {
  return ShowMessageBox(InnermostWindow(), text, AppName(), static_cast<uint32_t>(type));
}

namespace {
// "*.mp3" -> "*.[mM][pP]3": patterns match whatever the case.
std::string CaseFreePattern(const std::string& p) {
  std::string out;
  for (char c : p) {
    if (g_ascii_isalpha(c)) {
      out += '[';
      out += g_ascii_tolower(c);
      out += g_ascii_toupper(c);
      out += ']';
    } else {
      out += c;
    }
  }
  return out;
}
}  // namespace

std::string CZimbrelDlg::SelectMediaFile() {
  if (CModalWindow::Ending()) return "";
  static const char* const kFilters[][2] = {
      {N_("All Supported Audio Files"), "*.mp3;*.wma;*.aac;*.m4a;*.mp4;*.ogg;*.wav"},
      {N_("MPEG Layer-3 Audio Files (mp3)"), "*.mp3"},
      {N_("Windows Media Audio Files (wma)"), "*.wma"},
      {N_("Advanced Audio Coding Files (aac, m4a, mp4)"), "*.aac;*.m4a;*.mp4"},
      {N_("OGG Vorbis Audio Files (ogg)"), "*.ogg"},
      {N_("Windows Waveform Audio Files (wav)"), "*.wav"},
  };
  GtkWidget* chooser =
      gtk_file_chooser_dialog_new(Tr("Select audio file to use on mobile phone as ringtone"),
                                  GTK_WINDOW(m_window), GTK_FILE_CHOOSER_ACTION_OPEN, Tr("_Cancel"),
                                  GTK_RESPONSE_CANCEL, Tr("_Open"), GTK_RESPONSE_ACCEPT, nullptr);
  if (!chooser) return "";
  gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
  gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
  gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
  GtkFileFilter* first = nullptr;
  for (const auto& f : kFilters) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, Tr(f[0]));
    gchar** patterns = g_strsplit(f[1], ";", -1);
    for (gchar** p = patterns; *p; ++p)
      gtk_file_filter_add_pattern(filter, CaseFreePattern(*p).c_str());
    g_strfreev(patterns);
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), filter);
    if (!first) first = filter;
  }
  gtk_file_chooser_set_filter(GTK_FILE_CHOOSER(chooser), first);
  std::string result;
  for (;;) {
    int response;
    {
      CModalWindow::BoxGuard guard(GTK_DIALOG(chooser));
      response = gtk_dialog_run(GTK_DIALOG(chooser));
    }
    if (response != GTK_RESPONSE_ACCEPT) break;
    gchar* path = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
    // Only an existing file is accepted; anything else keeps the dialog open.
    if (path && g_file_test(path, G_FILE_TEST_IS_REGULAR)) {
      result = path;
      g_free(path);
      break;
    }
    g_free(path);
  }
  gtk_widget_destroy(chooser);
  return result;
}

}  // namespace zb
