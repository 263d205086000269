// Device-independent bitmaps and the resources a library carries.
//
// A library's resources are a table of (type, id, bytes) entries; its
// instance handle points at that table. A bitmap resource holds a BMP image
// (a BITMAPINFOHEADER and its pixels, with or without the 14-byte file
// header) of 16, 24 or 32 bits per pixel, uncompressed or with bit-field
// masks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "shellext/shell_extension.h"

namespace zb {

struct ResourceEntry {
  const char* type;  // "BITMAP", "REGISTRY", "TYPELIB" ...
  UINT id;
  const uint8_t* data;
  size_t size;
};

struct ModuleResources {
  const ResourceEntry* entries;
  size_t count;
};
using HINSTANCE = const ModuleResources*;

// The bytes of a resource; empty when the module has none of that type and id.
std::string_view FindResourceBytes(HINSTANCE module, std::string_view type, UINT id);

struct Bitmap {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;  // as stored in the resource
  // 0xRRGGBB per pixel, rows from the top.
  std::vector<uint32_t> pixels;
  uint32_t Pixel(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Decodes a BMP image; null for anything malformed or unsupported.
HBITMAP DecodeBitmap(std::string_view bytes);
// The bitmap resource `id` of `module`; null when missing or malformed.
HBITMAP LoadBitmapW(HINSTANCE module, UINT id);
// Frees a bitmap; false for null.
bool DeleteObject(HBITMAP bitmap);

}  // namespace zb
