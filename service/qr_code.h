// QR codes as SVG images (libqrencode).
#pragma once

#include <string>

namespace zb::service {

// A standalone SVG image (with its XML namespace, so it also works as a
// data: URL) of a QR code holding exactly `text`, with the usual quiet zone
// of four modules; "" when the text does not fit in a QR code.
std::string QrSvg(const std::string& text);

}  // namespace zb::service
