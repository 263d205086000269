#include "app/message_box.h"

#include <utility>
#include <vector>

#include "app/modal_runs.h"
#include "platform/translation.h"
#include "platform/utf.h"

namespace zb {

int ShowMessageBox(ModalRuns& runs, GtkWindow* owner, const std::string& text,
                   const std::string& caption, uint32_t type) {
  using Button = std::pair<const char*, int>;
  std::vector<Button> buttons;
  switch (type & 0xF) {
    case MB_OKCANCEL:
      buttons = {{Tr("_OK"), IDOK}, {Tr("_Cancel"), IDCANCEL}};
      break;
    case MB_ABORTRETRYIGNORE:
      buttons = {{Tr("_Abort"), IDABORT}, {Tr("_Retry"), IDRETRY}, {Tr("_Ignore"), IDIGNORE}};
      break;
    case MB_YESNOCANCEL:
      buttons = {{Tr("_Yes"), IDYES}, {Tr("_No"), IDNO}, {Tr("_Cancel"), IDCANCEL}};
      break;
    case MB_YESNO:
      buttons = {{Tr("_Yes"), IDYES}, {Tr("_No"), IDNO}};
      break;
    case MB_RETRYCANCEL:
      buttons = {{Tr("_Retry"), IDRETRY}, {Tr("_Cancel"), IDCANCEL}};
      break;
    case MB_CANCELTRYCONTINUE:
      buttons = {
          {Tr("_Cancel"), IDCANCEL}, {Tr("_Try Again"), IDTRYAGAIN}, {Tr("C_ontinue"), IDCONTINUE}};
      break;
    default:
      buttons = {{Tr("_OK"), IDOK}};
      break;
  }
  GtkMessageType icon = GTK_MESSAGE_OTHER;
  switch (type & 0xF0) {
    case MB_ICONHAND:
      icon = GTK_MESSAGE_ERROR;
      break;
    case MB_ICONQUESTION:
      icon = GTK_MESSAGE_QUESTION;
      break;
    case MB_ICONEXCLAMATION:
      icon = GTK_MESSAGE_WARNING;
      break;
    case MB_ICONASTERISK:
      icon = GTK_MESSAGE_INFO;
      break;
    default:
      break;
  }
  size_t def = (type & 0xF00) >> 8;
  if (def >= buttons.size()) def = 0;
  int cancelId = 0;
  for (auto& b : buttons)
    if (b.second == IDCANCEL) cancelId = IDCANCEL;
  if ((type & 0xF) == MB_OK || (type & 0xF) > MB_CANCELTRYCONTINUE) cancelId = IDOK;

  if (runs.Ending()) return 0;  // the program is ending: no box
  std::string safe = SanitizeUtf8(text);
  GtkWidget* box = gtk_message_dialog_new(
      owner, static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), icon,
      GTK_BUTTONS_NONE, "%s", safe.c_str());
  if (!box) return 0;
  const std::string title = SanitizeUtf8(caption);
  gtk_window_set_title(GTK_WINDOW(box), title.c_str());
  // GTK names a box with an icon after its kind ("Question"), one without
  // after its title, whose leading blanks only indent it in the title bar: a
  // screen reader gets the caption alone.
  AtkObject* accessible = gtk_widget_get_accessible(box);
  const char* named = atk_object_get_name(accessible);
  if (named && title == named) {
    gchar* name = g_strstrip(g_strdup(title.c_str()));
    atk_object_set_name(accessible, name);
    g_free(name);
  }
  for (auto& b : buttons) gtk_dialog_add_button(GTK_DIALOG(box), b.first, b.second);
  gtk_dialog_set_default_response(GTK_DIALOG(box), buttons[def].second);
  if (GtkWidget* d = gtk_dialog_get_widget_for_response(GTK_DIALOG(box), buttons[def].second))
    gtk_widget_grab_focus(d);
  if (!cancelId) {
    // No Cancel button: Esc and the title bar cannot close the box.
    g_signal_connect(box, "delete-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) { return TRUE; }), nullptr);
    g_signal_connect(box, "close", G_CALLBACK(+[](GtkDialog* d, gpointer) {
                       g_signal_stop_emission_by_name(d, "close");
                     }),
                     nullptr);
  }
  int result;
  {
    ModalRuns::BoxGuard guard(runs, GTK_DIALOG(box));
    result = gtk_dialog_run(GTK_DIALOG(box));
  }
  gtk_widget_destroy(box);
  if (result == GTK_RESPONSE_DELETE_EVENT) return cancelId;
  return result > 0 ? result : 0;
}

}  // namespace zb
