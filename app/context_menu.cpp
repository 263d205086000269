#include "app/context_menu.h"

#include "app/app_commands.h"
#include "platform/translation.h"

namespace zb {
namespace {

struct MenuEntry {
  const char* label;  // null: a separator
  int command;
};
constexpr MenuEntry kContextMenu[] = {
    {N_("_Go to Homepage"), kCommandGoToHomepage},
    {nullptr, 0},
    {N_("_Phone Compatibility Test"), kCommandCompatibility},
    {N_("How to use the application"), kCommandUsage},
    {N_("_FAQ and Contact us"), kCommandFaqContact},
    {nullptr, 0},
    {N_("_About Zimbrel"), kCommandAbout},
};

// A chosen command, on its way to the runner.
struct PendingCommand {
  std::function<void(int)> run;
  int command;
};

void OnActivate(GtkMenuItem* item, gpointer runner) {
  const auto& run = *static_cast<const std::function<void(int)>*>(runner);
  if (!run) return;
  auto* pending = new PendingCommand{
      run, GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), "zimbrel-command"))};
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      +[](gpointer p) {
        auto* c = static_cast<PendingCommand*>(p);
        c->run(c->command);
        return G_SOURCE_REMOVE;
      },
      pending, +[](gpointer p) { delete static_cast<PendingCommand*>(p); });
}

}  // namespace

void PopUpContextMenu(GtkWidget* view, GdkEvent* event,
                      const std::function<void(int command)>& runCommand) {
  GtkWidget* menu = gtk_menu_new();
  for (const MenuEntry& e : kContextMenu) {
    GtkWidget* item =
        e.label ? gtk_menu_item_new_with_mnemonic(Tr(e.label)) : gtk_separator_menu_item_new();
    if (e.label) {
      g_object_set_data(G_OBJECT(item), "zimbrel-command", GINT_TO_POINTER(e.command));
      g_signal_connect_data(
          item, "activate", G_CALLBACK(OnActivate), new std::function<void(int)>(runCommand),
          +[](gpointer runner, GClosure*) {
            delete static_cast<std::function<void(int)>*>(runner);
          },
          GConnectFlags(0));
    }
    gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
  }
  gtk_widget_show_all(menu);
  gtk_menu_attach_to_widget(GTK_MENU(menu), view, nullptr);
  // Destroyed once it has gone, after an entry's "activate".
  g_signal_connect(menu, "deactivate", G_CALLBACK(+[](GtkMenuShell* m, gpointer) {
                     g_idle_add(
                         +[](gpointer w) {
                           gtk_widget_destroy(GTK_WIDGET(w));
                           return G_SOURCE_REMOVE;
                         },
                         m);
                   }),
                   nullptr);
  gtk_menu_popup_at_pointer(GTK_MENU(menu), event);
}

}  // namespace zb
