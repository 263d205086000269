// Times the Dolphin plugin's actions(), loaded as KIO loads it, with Dovetril
// registered in a temporary registry: for one audio file (the handler is
// created and gives its entry) and for one text file (it declines). The
// first call pays for loading the component; the goal is on the calls after
// it. Each call also deletes the previous call's actions, as in Dolphin.
//
//   dolphin_actions_bench [calls]
//
// Prints "<selection> first <ms> median <ms> p90 <ms>" per selection.
#include <stdlib.h>
#include <unistd.h>

#include <KAbstractFileItemActionPlugin>
#include <KFileItem>
#include <KFileItemListProperties>
#include <KPluginFactory>
#include <KPluginMetaData>
#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/registry_store.h"
#include "settings/registry.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

void Run(int out, KAbstractFileItemActionPlugin* plugin, const char* name, const std::string& path,
         int calls, size_t expected) {
  KFileItemListProperties props(
      KFileItemList{KFileItem(QUrl::fromLocalFile(QString::fromStdString(path)))});
  std::vector<double> times;
  for (int i = 0; i < calls + 1; ++i) {
    auto t0 = Clock::now();
    QList<QAction*> actions = plugin->actions(props, nullptr);
    times.push_back(Ms(Clock::now() - t0));
    if (static_cast<size_t>(actions.size()) != expected) {
      std::fprintf(stderr, "%s: %d actions, expected %zu\n", name, int(actions.size()), expected);
      std::exit(1);
    }
  }
  double first = times.front();
  times.erase(times.begin());
  std::sort(times.begin(), times.end());
  dprintf(out, "%s first %.3f median %.3f p90 %.3f\n", name, first, times[times.size() / 2],
          times[times.size() * 9 / 10]);
}

}  // namespace

int main(int argc, char** argv) {
  int calls = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  std::string tmpl = (std::filesystem::temp_directory_path() / "zbbench-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) return 1;
  std::string dir = tmpl;
  setenv("ZIMBREL_REGISTRY_DIR", (dir + "/reg").c_str(), 1);
  setenv("XDG_RUNTIME_DIR", dir.c_str(), 0);
  std::ofstream(dir + "/song.mp3") << "x";
  std::ofstream(dir + "/notes.txt") << "x";
  {
    using namespace zb::reg;
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE,
                    "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved", 0,
                    nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (key) RegCloseKey(key);
    zb::registry settings("Software\\Zimbrel", zb::reg::Root::kCurrentUser);
    zb::registry::value instDir(settings, "ZBInstDir");
    instDir.set(dir);
  }
  std::string reg = std::string(REGSVR_TOOL) + " " + DOVETRIL_SO + " >/dev/null";
  if (std::system(reg.c_str()) != 0) return 1;

  char arg0[] = "dolphin_actions_bench", platform[] = "-platform", minimal[] = "minimal";
  char* qtArgv[] = {arg0, platform, minimal, nullptr};
  int qtArgc = 3;
  QApplication app(qtArgc, qtArgv);
  QCoreApplication::addLibraryPath(QStringLiteral(DOLPHIN_PLUGIN_ROOT));
  const auto found = KPluginMetaData::findPlugins(
      QStringLiteral("kf5/kfileitemaction"),
      [](const KPluginMetaData& md) { return md.pluginId() == QLatin1String("zimbrel_dolphin"); });
  if (found.isEmpty()) return 1;
  auto result = KPluginFactory::instantiatePlugin<KAbstractFileItemActionPlugin>(found.first());
  if (!result.plugin) return 1;
  // The registry's traces go to /dev/null, the figures to the original
  // standard output.
  std::fflush(stdout);
  int out = dup(1);
  if (!freopen("/dev/null", "w", stdout)) return 1;
  Run(out, result.plugin, "audio", dir + "/song.mp3", calls, 1);
  Run(out, result.plugin, "text", dir + "/notes.txt", calls, 0);
  close(out);
  delete result.plugin;
  std::filesystem::remove_all(dir);
  return 0;
}
