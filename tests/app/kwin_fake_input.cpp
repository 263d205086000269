// zimbrel-fake-input: keys, typing and clicks for KWin through its
// org_kde_kwin_fake_input protocol (KWin offers it to every client when it
// runs with KWIN_WAYLAND_NO_PERMISSION_CHECKS=1). Keys are evdev codes that
// KWin looks up in its own keymap (US here), so the text typed is limited to
// what a US keyboard types.
//
//   zimbrel-fake-input key CHORD...   chords in xdotool's syntax: Return,
//                                     shift+Tab, ctrl+l, alt+n
//   zimbrel-fake-input type TEXT
//   zimbrel-fake-input click X Y      the first button at a point of the
//                                     screen
//
// Exit status 0 once KWin has received every event, 1 on a name it cannot
// send, 2 when there is no fake-input global.
#include <linux/input-event-codes.h>
#include <wayland-client.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "fake-input-client-protocol.h"

namespace {

org_kde_kwin_fake_input* g_input = nullptr;

void OnGlobal(void*, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t version) {
  if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
    g_input = static_cast<org_kde_kwin_fake_input*>(
        wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4));
}
void OnGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistryListener = {OnGlobal, OnGlobalRemove};

struct Key {
  uint32_t code = 0;
  bool shift = false;
};

// A named key or one character as a US keyboard types it.
bool Lookup(const std::string& name, Key* key) {
  static const std::map<std::string, uint32_t> kNamed = {
      {"Return", KEY_ENTER},  {"Escape", KEY_ESC},
      {"Tab", KEY_TAB},       {"BackSpace", KEY_BACKSPACE},
      {"Delete", KEY_DELETE}, {"space", KEY_SPACE},
      {"Up", KEY_UP},         {"Down", KEY_DOWN},
      {"Left", KEY_LEFT},     {"Right", KEY_RIGHT},
      {"Home", KEY_HOME},     {"End", KEY_END},
      {"F1", KEY_F1},         {"F2", KEY_F2},
      {"F3", KEY_F3},         {"F4", KEY_F4},
      {"F5", KEY_F5},         {"F6", KEY_F6},
      {"F7", KEY_F7},         {"F8", KEY_F8},
      {"F9", KEY_F9},         {"F10", KEY_F10},
      {"F11", KEY_F11},       {"F12", KEY_F12},
      {"ctrl", KEY_LEFTCTRL}, {"shift", KEY_LEFTSHIFT},
      {"alt", KEY_LEFTALT},   {"super", KEY_LEFTMETA},
      {"Menu", KEY_COMPOSE},
  };
  if (auto it = kNamed.find(name); it != kNamed.end()) {
    *key = {it->second, false};
    return true;
  }
  if (name.size() != 1) return false;
  static const char kRows[][2][14] = {
      {"1234567890-=", "!@#$%^&*()_+"},
      {"qwertyuiop[]", "QWERTYUIOP{}"},
      {"asdfghjkl;'`", "ASDFGHJKL:\"~"},
      {"zxcvbnm,./\\", "ZXCVBNM<>?|"},
  };
  static const uint32_t kFirst[] = {KEY_1, KEY_Q, KEY_A, KEY_Z};
  const char c = name[0];
  if (c == ' ') {
    *key = {KEY_SPACE, false};
    return true;
  }
  for (int row = 0; row < 4; ++row)
    for (int shift = 0; shift < 2; ++shift)
      if (const char* at = std::strchr(kRows[row][shift], c); at && c) {
        uint32_t offset = static_cast<uint32_t>(at - kRows[row][shift]);
        uint32_t code = kFirst[row] + offset;
        if (row == 3 && offset == 10) code = KEY_BACKSLASH;
        *key = {code, shift == 1};
        return true;
      }
  return false;
}

void Send(wl_display* display, uint32_t code, bool down) {
  org_kde_kwin_fake_input_keyboard_key(
      g_input, code, down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
  wl_display_roundtrip(display);
  std::this_thread::sleep_for(std::chrono::milliseconds(15));
}

// Presses the keys in order and releases them in reverse.
void Chord(wl_display* display, const std::vector<uint32_t>& codes) {
  for (uint32_t c : codes) Send(display, c, true);
  for (auto it = codes.rbegin(); it != codes.rend(); ++it) Send(display, *it, false);
  std::this_thread::sleep_for(std::chrono::milliseconds(45));
}

bool ParseChord(const std::string& chord, std::vector<uint32_t>* codes) {
  std::string rest = chord;
  for (size_t plus; (plus = rest.find('+')) != std::string::npos && plus + 1 < rest.size();) {
    Key mod;
    if (!Lookup(rest.substr(0, plus), &mod)) return false;
    codes->push_back(mod.code);
    rest = rest.substr(plus + 1);
  }
  Key key;
  if (!Lookup(rest, &key)) return false;
  if (key.shift) codes->push_back(KEY_LEFTSHIFT);
  codes->push_back(key.code);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s key CHORD... | type TEXT | click X Y\n", argv[0]);
    return 1;
  }
  const std::string verb = argv[1];
  // Everything is checked before anything is sent.
  std::vector<std::vector<uint32_t>> chords;
  if (verb == "key" || verb == "type") {
    std::vector<std::string> items;
    if (verb == "key")
      items.assign(argv + 2, argv + argc);
    else
      for (const char* c = argv[2]; *c; ++c) items.emplace_back(1, *c);
    for (const std::string& item : items) {
      std::vector<uint32_t> codes;
      if (!ParseChord(item, &codes)) {
        std::fprintf(stderr, "zimbrel-fake-input: no key for \"%s\"\n", item.c_str());
        return 1;
      }
      chords.push_back(codes);
    }
  } else if (verb != "click" || argc != 4) {
    std::fprintf(stderr, "zimbrel-fake-input: unknown request %s\n", verb.c_str());
    return 1;
  }

  wl_display* display = wl_display_connect(nullptr);
  if (!display) {
    std::perror("zimbrel-fake-input: no Wayland display");
    return 2;
  }
  wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &kRegistryListener, nullptr);
  wl_display_roundtrip(display);
  if (!g_input) {
    std::fprintf(stderr, "zimbrel-fake-input: the compositor offers no fake input\n");
    return 2;
  }
  org_kde_kwin_fake_input_authenticate(g_input, "Zimbrel tests", "end-to-end tests");
  wl_display_roundtrip(display);
  if (verb == "click") {
    org_kde_kwin_fake_input_pointer_motion_absolute(g_input, wl_fixed_from_int(std::atoi(argv[2])),
                                                    wl_fixed_from_int(std::atoi(argv[3])));
    wl_display_roundtrip(display);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    org_kde_kwin_fake_input_button(g_input, BTN_LEFT, WL_POINTER_BUTTON_STATE_PRESSED);
    wl_display_roundtrip(display);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    org_kde_kwin_fake_input_button(g_input, BTN_LEFT, WL_POINTER_BUTTON_STATE_RELEASED);
    wl_display_roundtrip(display);
  }
  for (const auto& codes : chords) Chord(display, codes);
  org_kde_kwin_fake_input_destroy(g_input);
  wl_registry_destroy(registry);
  wl_display_roundtrip(display);
  wl_display_disconnect(display);
  return 0;
}
