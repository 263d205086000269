// The resources carried inside the library. Bitmap 201 (res/phone.bmp, 13 x 13,
// 16 bits per pixel) is the menu entry's mobile-phone pictogram:
//
//   ...#######...   # dark outline, L light body,
//   ..#LLLLLLL#..   G green screen, K keys,
//   ..#LGGGGGL#..   . white background
//   ..#LGGGGGL#..
//   ..#LGGGGGL#..
//   ..#LGGGGGL#..
//   ..#LLLLLLL#..
//   ..#LKLKLKL#..
//   ..#LLLLLLL#..
//   ..#LKLKLKL#..
//   ..#LLLLLLL#..
//   ..#LLLLLLL#..
//   ...#######...
#include "shellext/bitmap.h"
#include "shellext/dovetril_ids.h"
#include "shellext/dovetril_module.h"

// DOVETRIL_PHONE_BMP is the file's absolute path, set by the build.
__asm__(
    ".pushsection .rodata.dovetril_res,\"a\",@progbits\n"
    ".balign 4\n"
    ".globl kDovetrilPhoneBmp\n"
    ".hidden kDovetrilPhoneBmp\n"
    "kDovetrilPhoneBmp:\n"
    ".incbin \"" DOVETRIL_PHONE_BMP
    "\"\n"
    ".globl kDovetrilPhoneBmpEnd\n"
    ".hidden kDovetrilPhoneBmpEnd\n"
    "kDovetrilPhoneBmpEnd:\n"
    ".popsection\n");

extern "C" const uint8_t kDovetrilPhoneBmp[] __attribute__((visibility("hidden")));
extern "C" const uint8_t kDovetrilPhoneBmpEnd[] __attribute__((visibility("hidden")));

namespace zb::dovetril {

HINSTANCE ModuleInstance() {
  static const ResourceEntry kEntries[] = {
      {"BITMAP", kMenuBitmapId, kDovetrilPhoneBmp,
       static_cast<size_t>(kDovetrilPhoneBmpEnd - kDovetrilPhoneBmp)},
  };
  static const ModuleResources kResources = {kEntries, sizeof kEntries / sizeof kEntries[0]};
  return &kResources;
}

}  // namespace zb::dovetril
