// dolphin_ui_probe: reads what a running Dolphin shows through the desktop's
// accessibility bus (AT-SPI), for the Dolphin end-to-end test. Dolphin must
// run with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 in the same D-Bus session.
//
//   dolphin_ui_probe menu <out file> [seconds]
//     writes <out file>.ready once it listens, then waits until an entry of
//     a menu takes the keyboard focus (open the menu, then press Down) and
//     writes one line per entry of that menu (separators left out):
//     "<x> <y>\t<text>", the entry's centre on the screen and its text
//     without mnemonic marks, of the entries that show (those the keyboard
//     moves through).
//   dolphin_ui_probe window <title> <out file> [seconds]
//     waits until Dolphin shows a window titled <title> and writes one line
//     per label, "label\t<text>", and per button, "button <x> <y>\t<text>".
//
// Texts are written with "\n" and "\\" escaped, so one line holds one item.
// The file is written under a temporary name and renamed. Exit status 0 when
// something was found and written, 1 when nothing showed in time, 2 on bad
// arguments.
#include <atspi/atspi.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Escaped(const char* text) {
  std::string out;
  for (const char* p = text ? text : ""; *p; ++p) {
    if (*p == '\\')
      out += "\\\\";
    else if (*p == '\n')
      out += "\\n";
    else
      out += *p;
  }
  return out;
}

std::string Name(AtspiAccessible* acc) {
  gchar* name = atspi_accessible_get_name(acc, nullptr);
  std::string out = name ? name : "";
  g_free(name);
  return out;
}

bool Showing(AtspiAccessible* acc) {
  AtspiStateSet* states = atspi_accessible_get_state_set(acc);
  bool showing = states && atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
  if (states) g_object_unref(states);
  return showing;
}

// "<x> <y>" of the centre of `acc` on the screen; empty when it has no extents.
std::string Centre(AtspiAccessible* acc) {
  AtspiComponent* component = atspi_accessible_get_component_iface(acc);
  if (!component) return {};
  AtspiRect* r = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, nullptr);
  g_object_unref(component);
  if (!r) return {};
  std::string out =
      std::to_string(r->x + r->width / 2) + " " + std::to_string(r->y + r->height / 2);
  g_free(r);
  return out;
}

// Dolphin's top-level accessibles (its windows and popups).
std::vector<AtspiAccessible*> DolphinWindows() {
  std::vector<AtspiAccessible*> out;
  AtspiAccessible* desktop = atspi_get_desktop(0);
  if (!desktop) return out;
  int apps = atspi_accessible_get_child_count(desktop, nullptr);
  for (int i = 0; i < apps; ++i) {
    AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, nullptr);
    if (!app) continue;
    if (Name(app) == "dolphin") {
      int n = atspi_accessible_get_child_count(app, nullptr);
      for (int j = 0; j < n; ++j)
        if (AtspiAccessible* w = atspi_accessible_get_child_at_index(app, j, nullptr))
          out.push_back(w);
    }
    g_object_unref(app);
  }
  g_object_unref(desktop);
  return out;
}

void Release(std::vector<AtspiAccessible*>& list) {
  for (AtspiAccessible* a : list) g_object_unref(a);
  list.clear();
}

// The entries of the menu that holds `item`.
std::string MenuEntries(AtspiAccessible* item) {
  std::string out;
  AtspiAccessible* menu = atspi_accessible_get_parent(item, nullptr);
  if (!menu) return out;
  int n = atspi_accessible_get_child_count(menu, nullptr);
  for (int i = 0; i < n; ++i) {
    AtspiAccessible* entry = atspi_accessible_get_child_at_index(menu, i, nullptr);
    if (!entry) continue;
    if (atspi_accessible_get_role(entry, nullptr) != ATSPI_ROLE_SEPARATOR && Showing(entry))
      out += Centre(entry) + "\t" + Escaped(Name(entry).c_str()) + "\n";
    g_object_unref(entry);
  }
  g_object_unref(menu);
  return out;
}

struct MenuWait {
  std::string entries;
};

// Qt lists no popup among an application's windows: the menu is found
// through the entry that takes the keyboard focus in it.
void OnFocus(AtspiEvent* event, void* data) {
  auto* wait = static_cast<MenuWait*>(data);
  if (!event->source || event->detail1 != 1 || !wait->entries.empty()) return;
  if (atspi_accessible_get_role(event->source, nullptr) != ATSPI_ROLE_MENU_ITEM) return;
  wait->entries = MenuEntries(event->source);
  if (!wait->entries.empty()) atspi_event_quit();
}

gboolean OnTimeout(gpointer) {
  atspi_event_quit();
  return G_SOURCE_REMOVE;
}

void Collect(AtspiAccessible* acc, int depth, std::string* out) {
  AtspiRole role = atspi_accessible_get_role(acc, nullptr);
  if (role == ATSPI_ROLE_LABEL) {
    *out += "label\t" + Escaped(Name(acc).c_str()) + "\n";
  } else if (role == ATSPI_ROLE_PUSH_BUTTON) {
    *out += "button " + Centre(acc) + "\t" + Escaped(Name(acc).c_str()) + "\n";
  }
  if (depth > 8) return;
  int n = atspi_accessible_get_child_count(acc, nullptr);
  for (int i = 0; i < n; ++i) {
    if (AtspiAccessible* child = atspi_accessible_get_child_at_index(acc, i, nullptr)) {
      Collect(child, depth + 1, out);
      g_object_unref(child);
    }
  }
}

bool ReadWindow(const std::string& title, std::string* out) {
  std::vector<AtspiAccessible*> windows = DolphinWindows();
  bool found = false;
  for (AtspiAccessible* w : windows) {
    if (found || Name(w) != title || !Showing(w)) continue;
    Collect(w, 0, out);
    found = !out->empty();
  }
  Release(windows);
  return found;
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::string tmp = path + ".tmp";
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  ok = std::fclose(f) == 0 && ok;
  return ok && std::rename(tmp.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  bool menu = mode == "menu" && (argc == 3 || argc == 4);
  bool window = mode == "window" && (argc == 4 || argc == 5);
  if (!menu && !window) {
    std::fprintf(stderr,
                 "usage: dolphin_ui_probe menu <out> [seconds] | window <title> <out> [seconds]\n");
    return 2;
  }
  std::string out = menu ? argv[2] : argv[3];
  int seconds = std::atoi(menu ? (argc == 4 ? argv[3] : "10") : (argc == 5 ? argv[4] : "10"));
  if (atspi_init() < 0) return 1;
  if (menu) {
    MenuWait wait;
    AtspiEventListener* listener = atspi_event_listener_new(OnFocus, &wait, nullptr);
    atspi_event_listener_register(listener, "object:state-changed:focused", nullptr);
    // Ready: the caller may now open the menu and move into it.
    if (!WriteFile(out + ".ready", "")) return 1;
    g_timeout_add_seconds(seconds, OnTimeout, nullptr);
    atspi_event_main();
    atspi_event_listener_deregister(listener, "object:state-changed:focused", nullptr);
    g_object_unref(listener);
    return !wait.entries.empty() && WriteFile(out, wait.entries) ? 0 : 1;
  }
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < until) {
    std::string text;
    if (ReadWindow(argv[2], &text)) return WriteFile(out, text) ? 0 : 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return 1;
}
