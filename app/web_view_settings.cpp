#include "app/web_view_settings.h"

namespace zb {

WebKitSettings* NewViewSettings() {
  WebKitSettings* settings = webkit_settings_new();
  webkit_settings_set_hardware_acceleration_policy(settings,
                                                   WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  webkit_settings_set_enable_javascript(settings, TRUE);
  webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
  webkit_settings_set_enable_developer_extras(settings, FALSE);
  // Every file document is an origin of its own: no page reads another local
  // file, or reaches into another page's window, by its file URL.
  webkit_settings_set_allow_file_access_from_file_urls(settings, FALSE);
  webkit_settings_set_allow_universal_access_from_file_urls(settings, FALSE);
  webkit_settings_set_enable_back_forward_navigation_gestures(settings, FALSE);
  webkit_settings_set_enable_caret_browsing(settings, FALSE);
  // What the pages never use (they play audio files in an audio element).
  webkit_settings_set_enable_webgl(settings, FALSE);
  webkit_settings_set_enable_webaudio(settings, FALSE);
  webkit_settings_set_enable_media_stream(settings, FALSE);
  webkit_settings_set_enable_webrtc(settings, FALSE);
  webkit_settings_set_enable_mediasource(settings, FALSE);
  webkit_settings_set_enable_encrypted_media(settings, FALSE);
  webkit_settings_set_enable_page_cache(settings, FALSE);
  // Page console messages on standard output, for developers.
  if (g_getenv("ZIMBREL_PAGE_CONSOLE"))
    webkit_settings_set_enable_write_console_messages_to_stdout(settings, TRUE);
  return settings;
}

WebKitMemoryPressureSettings* NewMemoryPressureSettings(guint limitMB) {
  WebKitMemoryPressureSettings* m = webkit_memory_pressure_settings_new();
  webkit_memory_pressure_settings_set_memory_limit(m, limitMB);
  // The strict threshold first: each must stay above the conservative one.
  webkit_memory_pressure_settings_set_strict_threshold(m, 0.8);
  webkit_memory_pressure_settings_set_conservative_threshold(m, 0.5);
  webkit_memory_pressure_settings_set_kill_threshold(m, 0);
  webkit_memory_pressure_settings_set_poll_interval(m, 5);
  return m;
}

GVariant* WebExtensionData(const std::string& socketPath, const std::string& moduleDir,
                           const std::string& workFolder, const std::string& servicePrefix,
                           const std::string& secret) {
  return g_variant_new("(sssss)", socketPath.c_str(), moduleDir.c_str(), workFolder.c_str(),
                       servicePrefix.c_str(), secret.c_str());
}

}  // namespace zb
