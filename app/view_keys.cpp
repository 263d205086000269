#include "app/view_keys.h"

namespace zb {

bool SwallowBrowserKey(guint keyval, GdkModifierType state, bool* f1) {
  *f1 = keyval == GDK_KEY_F1;
  const bool ctrl = state & GDK_CONTROL_MASK;
  const bool alt = state & GDK_MOD1_MASK;
  guint k = gdk_keyval_to_lower(keyval);
  if (ctrl && (k == GDK_KEY_c || k == GDK_KEY_v)) return false;  // copy and paste work
  switch (k) {
    case GDK_KEY_F5:
    case GDK_KEY_F3:
    case GDK_KEY_F6:
    case GDK_KEY_F7:
    case GDK_KEY_F11:
    case GDK_KEY_F12:
    case GDK_KEY_Back:
    case GDK_KEY_Forward:
    case GDK_KEY_Refresh:
    case GDK_KEY_Reload:
    case GDK_KEY_Print:
      return true;
    default:
      break;
  }
  if (ctrl) {
    switch (k) {
      case GDK_KEY_o:
      case GDK_KEY_p:
      case GDK_KEY_n:
      case GDK_KEY_r:
      case GDK_KEY_f:
      case GDK_KEY_s:
      case GDK_KEY_u:
      case GDK_KEY_w:
      case GDK_KEY_g:
      case GDK_KEY_t:
      case GDK_KEY_l:
      case GDK_KEY_d:
      case GDK_KEY_h:
      case GDK_KEY_j:
      case GDK_KEY_i:
      case GDK_KEY_plus:
      case GDK_KEY_minus:
      case GDK_KEY_equal:
      case GDK_KEY_0:
      case GDK_KEY_KP_Add:
      case GDK_KEY_KP_Subtract:
      case GDK_KEY_KP_0:
      case GDK_KEY_F4:
        return true;
      default:
        break;
    }
  }
  if (alt && (k == GDK_KEY_Left || k == GDK_KEY_Right || k == GDK_KEY_Home ||
              k == GDK_KEY_KP_Left || k == GDK_KEY_KP_Right))
    return true;
  return false;
}

bool KeyPressFromTheDisplay() {
  // WebKit hands a key that the page did not take back to the view's
  // handlers a second time, from its own message source; a key the user
  // pressed comes from GDK's event source, whatever its time (virtual
  // keyboards and some input methods send 0).
  GSource* source = g_main_current_source();
  const char* name = source ? g_source_get_name(source) : nullptr;
  return name && g_str_has_prefix(name, "GDK ");
}

}  // namespace zb
