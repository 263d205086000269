#include "shellext/bitmap.h"

#include <new>

namespace zb {

namespace {

uint32_t U16(const uint8_t* p) {
  return p[0] | p[1] << 8;
}
uint32_t U32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_BITFIELDS = 3;

// Scales the masked field of `v` to 8 bits.
uint32_t Channel(uint32_t v, uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (!(mask & (1u << shift))) ++shift;
  uint32_t max = mask >> shift;
  uint32_t f = (v & mask) >> shift;
  return (f * 255 + max / 2) / max;
}

bool ContiguousMask(uint32_t m) {
  if (m == 0) return true;
  while (!(m & 1)) m >>= 1;
  return (m & (m + 1)) == 0;
}

}  // namespace

std::string_view FindResourceBytes(HINSTANCE module, std::string_view type, UINT id) {
  if (!module) return {};
  for (size_t i = 0; i < module->count; ++i) {
    const ResourceEntry& e = module->entries[i];
    if (e.id == id && type == e.type)
      return std::string_view(reinterpret_cast<const char*>(e.data), e.size);
  }
  return {};
}

HBITMAP DecodeBitmap(std::string_view bytes) {
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  size_t size = bytes.size();
  size_t info = 0;
  size_t pixelOffset = 0;  // from the file header, when there is one
  if (size >= 14 && p[0] == 'B' && p[1] == 'M') {
    info = 14;
    pixelOffset = U32(p + 10);
  }
  if (size < info + 40) return nullptr;
  uint32_t headerSize = U32(p + info);
  if (headerSize < 40 || headerSize > size - info) return nullptr;
  int32_t width = static_cast<int32_t>(U32(p + info + 4));
  int32_t height = static_cast<int32_t>(U32(p + info + 8));
  uint32_t planes = U16(p + info + 12);
  uint32_t bpp = U16(p + info + 14);
  uint32_t compression = U32(p + info + 16);
  if (planes != 1 || width <= 0 || height == 0 || width > 4096 || height > 4096 || height < -4096)
    return nullptr;
  bool topDown = height < 0;
  int h = topDown ? -height : height;
  uint32_t rmask, gmask, bmask;
  size_t after = info + headerSize;
  if (bpp == 16) {
    rmask = 0x7C00, gmask = 0x03E0, bmask = 0x001F;
  } else if (bpp == 24 || bpp == 32) {
    rmask = 0xFF0000, gmask = 0x00FF00, bmask = 0x0000FF;
  } else {
    return nullptr;
  }
  if (compression == BI_BITFIELDS) {
    if (bpp == 24) return nullptr;
    if (headerSize >= 52) {  // masks inside a V2+ header
      rmask = U32(p + info + 40), gmask = U32(p + info + 44), bmask = U32(p + info + 48);
    } else {
      if (size < after + 12) return nullptr;
      rmask = U32(p + after), gmask = U32(p + after + 4), bmask = U32(p + after + 8);
      after += 12;
    }
    if (!ContiguousMask(rmask) || !ContiguousMask(gmask) || !ContiguousMask(bmask)) return nullptr;
  } else if (compression != BI_RGB) {
    return nullptr;
  }
  size_t stride = ((static_cast<size_t>(width) * bpp + 31) / 32) * 4;
  size_t start = pixelOffset ? pixelOffset : after;
  if (start > size || size - start < stride * static_cast<size_t>(h)) return nullptr;
  auto* bmp = new (std::nothrow) Bitmap;
  if (!bmp) return nullptr;
  bmp->width = width;
  bmp->height = h;
  bmp->bitsPerPixel = static_cast<int>(bpp);
  bmp->pixels.resize(static_cast<size_t>(width) * h);
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = p + start + stride * static_cast<size_t>(topDown ? y : h - 1 - y);
    for (int x = 0; x < width; ++x) {
      uint32_t v;
      if (bpp == 16)
        v = U16(row + 2 * x);
      else if (bpp == 24)
        v = row[3 * x] | row[3 * x + 1] << 8 | row[3 * x + 2] << 16;
      else
        v = U32(row + 4 * x);
      bmp->pixels[static_cast<size_t>(y) * width + x] =
          Channel(v, rmask) << 16 | Channel(v, gmask) << 8 | Channel(v, bmask);
    }
  }
  return bmp;
}

HBITMAP LoadBitmapW(HINSTANCE module, UINT id) {
  std::string_view bytes = FindResourceBytes(module, "BITMAP", id);
  return bytes.empty() ? nullptr : DecodeBitmap(bytes);
}

bool DeleteObject(HBITMAP bitmap) {
  if (!bitmap) return false;
  delete bitmap;
  return true;
}

}  // namespace zb
