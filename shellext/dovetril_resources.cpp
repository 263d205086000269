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
    ".globl dovetril_phone_bmp\n"
    ".hidden dovetril_phone_bmp\n"
    "dovetril_phone_bmp:\n"
    ".incbin \"" DOVETRIL_PHONE_BMP
    "\"\n"
    ".globl dovetril_phone_bmp_end\n"
    ".hidden dovetril_phone_bmp_end\n"
    "dovetril_phone_bmp_end:\n"
    ".popsection\n");

extern "C" const uint8_t dovetril_phone_bmp[] __attribute__((visibility("hidden")));
extern "C" const uint8_t dovetril_phone_bmp_end[] __attribute__((visibility("hidden")));

namespace zb::dovetril {

HINSTANCE ModuleInstance() {
  static const ResourceEntry entries[] = {
      {"BITMAP", IDB_MENU_BITMAP, dovetril_phone_bmp,
       static_cast<size_t>(dovetril_phone_bmp_end - dovetril_phone_bmp)},
  };
  static const ModuleResources resources = {entries, sizeof entries / sizeof entries[0]};
  return &resources;
}

}  // namespace zb::dovetril
