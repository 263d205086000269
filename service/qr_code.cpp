#include "service/qr_code.h"

#include <qrencode.h>

namespace zb::service {

std::string QrSvg(const std::string& text) {
  QRcode* code = QRcode_encodeString8bit(text.c_str(), 0, QR_ECLEVEL_M);
  if (!code) return "";
  constexpr int kQuiet = 4;
  const int width = code->width;
  const int size = width + 2 * kQuiet;
  std::string path;
  // One horizontal run of dark modules per subpath.
  for (int y = 0; y < width; ++y) {
    for (int x = 0; x < width;) {
      if (!(code->data[y * width + x] & 1)) {
        ++x;
        continue;
      }
      int run = 1;
      while (x + run < width && (code->data[y * width + x + run] & 1)) ++run;
      path += "M" + std::to_string(x + kQuiet) + " " + std::to_string(y + kQuiet) + "h" +
              std::to_string(run) + "v1h-" + std::to_string(run) + "z";
      x += run;
    }
  }
  QRcode_free(code);
  const std::string n = std::to_string(size);
  return "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + n + " " + n + "\" width=\"" +
         std::to_string(size * 8) + "\" height=\"" + std::to_string(size * 8) +
         "\" shape-rendering=\"crispEdges\"><rect width=\"" + n + "\" height=\"" + n +
         "\" fill=\"#fff\"/><path fill=\"#000\" d=\"" + path + "\"/></svg>";
}

}  // namespace zb::service
