// What every web view and web process of the program is set up with.
#pragma once

#include <webkit2/webkit2.h>

#include <string>

namespace zb {

// Memory limits of the memory-pressure handlers (MB): web and network
// processes.
constexpr guint kWebMemoryLimitMB = 200;
constexpr guint kNetworkMemoryLimitMB = 100;

// The settings of every view: no GPU (the pages are small documents), none of
// the features the pages never use (they play audio files in an audio
// element); script and media elements on, file access from file URLs off.
// The caller unrefs.
WebKitSettings* NewViewSettings();

// Memory-pressure settings for a process kind: caches are released above
// half and again above 80 % of the limit, checked every 5 s; the kill
// threshold is 0, so a process is never ended (a web process that ended
// would reload its page and lose its state). The caller frees them.
WebKitMemoryPressureSettings* NewMemoryPressureSettings(guint limitMB);

// The web process extension's initialisation data: the bridge socket, the
// module directory, the user's work folder, the service's address and the
// bridge's secret.
GVariant* WebExtensionData(const std::string& socketPath, const std::string& moduleDir,
                           const std::string& workFolder, const std::string& servicePrefix,
                           const std::string& secret);

}  // namespace zb
