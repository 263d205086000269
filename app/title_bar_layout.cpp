#include "app/title_bar_layout.h"

#include <algorithm>
#include <vector>

namespace zb {
namespace {

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t at = s.find(sep, start);
    out.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) break;
    start = at + 1;
  }
  return out;
}

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

std::string Join(const std::vector<std::string>& v) {
  std::string out;
  for (const auto& s : v) out += (out.empty() ? "" : ",") + s;
  return out;
}

}  // namespace

std::string TitleBarLayout(const std::string& desktop, TitleBarKind kind) {
  // GTK reads a layout without a colon as all on the left; only the first
  // colon splits the sides.
  const size_t colon = desktop.find(':');
  std::vector<std::string> sides[2];
  const std::string parts[2] = {desktop.substr(0, colon),
                                colon == std::string::npos ? "" : desktop.substr(colon + 1)};
  bool hasClose = false, hasMinimize = false;
  for (int i = 0; i < 2; ++i) {
    for (const std::string& raw : Split(parts[i], ',')) {
      const std::string name = Trim(raw);
      if (name.empty() || name == "maximize") continue;
      if (name == "minimize" && (kind == TitleBarKind::kPageDialog || hasMinimize)) continue;
      if (name == "close" && hasClose) continue;
      hasClose |= name == "close";
      hasMinimize |= name == "minimize";
      sides[i].push_back(name);
    }
  }
  if (!hasClose) sides[1].push_back("close");
  if (kind == TitleBarKind::kMainWindow && !hasMinimize) {
    for (auto& side : sides) {
      auto close = std::find(side.begin(), side.end(), "close");
      if (close != side.end()) {
        side.insert(close, "minimize");
        break;
      }
    }
  }
  return Join(sides[0]) + ":" + Join(sides[1]);
}

}  // namespace zb
