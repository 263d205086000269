#include "app/zimbrel_dlg.h"

#include <algorithm>
#include <cstdint>

#include "app/app_commands.h"
#include "app/message_box.h"
#include "app/page_dialog.h"
#include "app/process_environment.h"
#include "app/web_context.h"
#include "app/window_icon.h"
#include "bridge/bridge_server.h"
#include "core/core_host.h"
#include "core/redirect_url.h"
#include "platform/stderr_notice.h"
#include "platform/translation.h"
#include "platform/utf.h"

namespace zb {

CZimbrelDlg::CZimbrelDlg(std::string moduleDir, ModalRuns& runs, WebContext& web,
                         const ProgramEnvironment& environment)
    : ModalWindow(runs),
      m_moduleDir(std::move(moduleDir)),
      m_environment(environment),
      m_icon(NewWindowIcon(m_moduleDir)),
      m_webView(web, Callbacks()) {}

ViewCallbacks CZimbrelDlg::Callbacks() {
  return ViewCallbacks{
      [this](int id) { OnCommand(id); }, [this] { OpenHelpFile(); },
      [this] { return !Runs().PageDialogRunning(); },  // no menu over a page dialog
  };
}

void CZimbrelDlg::OnCommand(int id) {
  switch (id) {
    case kCommandGoToHomepage:
      OpenRedirect("homepage");
      break;
    case kCommandCompatibility:
      ShowCompatibility();
      break;
    case kCommandUsage:
      ShowUsage();
      break;
    case kCommandFaqContact:
      ShowContact();
      break;
    case kCommandAbout:
      ShowAboutBox();
      break;
    case kCommandHelp:
      OpenHelpFile();
      break;
    default:
      break;
  }
}

CZimbrelDlg::~CZimbrelDlg() {
  if (m_startOverSource) g_source_remove(m_startOverSource);
}

void CZimbrelDlg::OnInitDialog() {
  // The start page first: its web process starts while the window is built.
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

  gtk_window_set_icon(GTK_WINDOW(m_window), m_icon.get());

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
  ModalWindow* a = Runs().Active();
  return a ? a->Window() : GTK_WINDOW(m_window);
}

void CZimbrelDlg::ShowPageDialog(const std::string& title, const std::string& url,
                                 const std::string& argument, int32_t left, int32_t top,
                                 int32_t width, int32_t height) {
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
  args.icon = m_icon.get();
  // Only a page of ours opens; anything else opens no dialog (the call
  // returns its argument at once).
  args.url = m_webView.Context().PageAddress(url);
  if (args.url.empty()) {
    Notice("no dialog for " + url.substr(0, 200) + ": not a page of Zimbrel");
    return;
  }
  CPageDialog dialog(std::move(args), InnermostWindow(), Runs(), m_webView.Context(), Callbacks(),
                     nullptr);
  dialog.DoModal();
}

void CZimbrelDlg::CloseActiveWindow() {
  // The innermost window is the main one or a page dialog (boxes and the
  // file chooser are runs of their own, not windows).
  ModalWindow* active = Runs().Active();
  if (active == this || !active)
    EndModal(0);
  else
    active->EndModal(1);
}

void CZimbrelDlg::Present() {
  if (m_window) gtk_window_present(GTK_WINDOW(m_window));
}

void CZimbrelDlg::StartOver(const std::string& song) {
  Present();
  if (Runs().Ending()) return;
  // A job at work means a ringtone is being made or sent: the user decides.
  if (!m_core) return;
  if (CoreHost::JobsRunning()) {
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
    const int answer = ShowMessageBox(Runs(), InnermostWindow(), text, AppName(),
                                      MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    if (answer != IDYES || Runs().Ending()) return;
    m_core->CancelRunningJob();
  }
  m_core->SetCommandLineFile(song);
  // Dialogs and boxes above the window close first; the start page loads
  // once their runs have ended.
  Runs().EndRunsAbove(this);
  if (m_startOverSource) return;  // already on its way
  m_startOverSource = g_timeout_add(
      20,
      +[](gpointer self) -> gboolean {
        auto* d = static_cast<CZimbrelDlg*>(self);
        if (d->Runs().HasRunAbove(d)) return G_SOURCE_CONTINUE;
        d->m_startOverSource = 0;
        if (d->Running() && !d->Runs().Ending())
          d->m_webView.Navigate2(d->m_moduleDir + "/res/selectSong.html");
        return G_SOURCE_REMOVE;
      },
      this);
}

void CZimbrelDlg::ShowPage(const char* file, const char* title, int width, int height) {
  if (m_core) m_core->ShowPageDialog(Tr(title), m_moduleDir + file, "", 100, 100, width, height);
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
    CWebBrowser2* view = m_webView.Context().ViewOfPage(caller);
    if (!view || !view->TakeUserInput()) {
      Notice("a page asked to open the browser without a click or key of the user's");
      return;
    }
  }
  // The desktop's default web browser; nothing is reported when there is none.
  std::optional<std::string> url = BuildRedirectUrl(where);
  if (!url) {
    ShowMessageBox(Runs(), GTK_WINDOW(m_window),
                   "The ringtone service could not be reached, so its page cannot be opened.",
                   "Zimbrel", MB_OK);
    return;
  }
  OpenInDefaultBrowser(m_environment, *url);
}

void CZimbrelDlg::OpenHelpFile() {
  std::string path = m_moduleDir + "/help.chm";
  bool ok = false;
  if (g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR)) {
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    GAppLaunchContext* ctx = NewLaunchContext(m_environment);
    if (uri) ok = g_app_info_launch_default_for_uri(uri, ctx, nullptr);
    g_object_unref(ctx);
    g_free(uri);
  }
  if (!ok)
    ShowMessageBox(Runs(), GTK_WINDOW(m_window), Tr("Could not find the Help file."), Tr("Error"),
                   MB_OK);
}

int32_t CZimbrelDlg::MessageBox(const std::string& text, int32_t type) {
  return ShowMessageBox(Runs(), InnermostWindow(), text, AppName(), static_cast<uint32_t>(type));
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
  if (Runs().Ending()) return "";
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
      ModalRuns::BoxGuard guard(Runs(), GTK_DIALOG(chooser));
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
