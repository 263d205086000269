// What every web view and web process is set up with: WebKit takes the
// values (it refuses some orders and ranges), and they say what the program
// relies on.
#include <gtest/gtest.h>

#include "app/web_view_settings.h"

namespace zb {
namespace {

TEST(WebViewSettings, PagesGetNeitherTheGpuNorFeaturesTheyDoNotUse) {
  WebKitSettings* s = NewViewSettings();
  EXPECT_EQ(webkit_settings_get_hardware_acceleration_policy(s),
            WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
  EXPECT_FALSE(webkit_settings_get_enable_webgl(s));
  EXPECT_FALSE(webkit_settings_get_enable_webaudio(s));
  EXPECT_FALSE(webkit_settings_get_enable_media_stream(s));
  EXPECT_FALSE(webkit_settings_get_enable_webrtc(s));
  EXPECT_FALSE(webkit_settings_get_enable_mediasource(s));
  EXPECT_FALSE(webkit_settings_get_enable_encrypted_media(s));
  // What the pages do use stays on: script and media elements; no page reads
  // local files by their URLs unless its view allows it.
  EXPECT_TRUE(webkit_settings_get_enable_javascript(s));
  EXPECT_FALSE(webkit_settings_get_allow_file_access_from_file_urls(s));
  EXPECT_FALSE(webkit_settings_get_allow_universal_access_from_file_urls(s));
  EXPECT_TRUE(webkit_settings_get_enable_media(s));
  EXPECT_FALSE(webkit_settings_get_javascript_can_open_windows_automatically(s));
  g_object_unref(s);
}

TEST(WebViewSettings, MemoryPressureReleasesCachesAndNeverEndsAProcess) {
  for (guint limit : {kWebMemoryLimitMB, kNetworkMemoryLimitMB}) {
    WebKitMemoryPressureSettings* m = NewMemoryPressureSettings(limit);
    EXPECT_EQ(webkit_memory_pressure_settings_get_memory_limit(m), limit);
    EXPECT_DOUBLE_EQ(webkit_memory_pressure_settings_get_conservative_threshold(m), 0.5);
    EXPECT_DOUBLE_EQ(webkit_memory_pressure_settings_get_strict_threshold(m), 0.8);
    EXPECT_DOUBLE_EQ(webkit_memory_pressure_settings_get_kill_threshold(m), 0);
    EXPECT_DOUBLE_EQ(webkit_memory_pressure_settings_get_poll_interval(m), 5);
    webkit_memory_pressure_settings_free(m);
  }
}

}  // namespace
}  // namespace zb
