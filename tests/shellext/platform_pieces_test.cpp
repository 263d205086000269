// The platform stand-ins the extension stands on: the file-drop list, the
// recording menu, bitmap resources and the detached program start.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "shellext/bitmap.h"
#include "shellext/detached_process.h"
#include "shellext/dovetril_ids.h"
#include "shellext/dovetril_module.h"
#include "shellext/file_drop.h"
#include "shellext/menu.h"
#include "shellext_test_support.h"

namespace zb {
namespace {

using zb::testing::TempDir;

TEST(FileDropTest, ListsPathsWithCountLengthAndBoundedCopy) {
  HDROP drop = MakeFileDropBlock({"/a/b.mp3", "/c/ü d.ogg"});
  ASSERT_NE(drop, nullptr);
  EXPECT_EQ(DragQueryFileW(drop, 0xFFFFFFFFu, nullptr, 0), 2u);
  EXPECT_EQ(DragQueryFileW(drop, 1, nullptr, 0), 10u);
  char16_t buf[6];
  EXPECT_EQ(DragQueryFileW(drop, 1, buf, 6), 5u);
  EXPECT_EQ(std::u16string(buf), u"/c/ü ");
  char16_t whole[32];
  EXPECT_EQ(DragQueryFileW(drop, 0, whole, 32), 8u);
  EXPECT_EQ(std::u16string(whole), u"/a/b.mp3");
  EXPECT_EQ(DragQueryFileW(drop, 2, whole, 32), 0u);
  GlobalFree(drop);

  // A block that is not a file-drop list reads as empty.
  HGLOBAL junk = GlobalAlloc(8);
  EXPECT_EQ(DragQueryFileW(junk, 0xFFFFFFFFu, nullptr, 0), 0u);
  GlobalFree(junk);
  EXPECT_EQ(DragQueryFileW(nullptr, 0xFFFFFFFFu, nullptr, 0), 0u);
}

TEST(FileDropTest, DataObjectHandsOutFreshMemoryOnlyForTheFileDropFormat) {
  long before = GlobalLiveBlocks();
  IDataObject* data = CreateFileDropDataObject({"/x.mp3"});
  FORMATETC good = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM m1, m2;
  ASSERT_EQ(data->GetData(&good, &m1), S_OK);
  ASSERT_EQ(data->GetData(&good, &m2), S_OK);
  EXPECT_NE(m1.hGlobal, m2.hGlobal);
  EXPECT_EQ(GlobalLiveBlocks(), before + 2);
  ReleaseStgMedium(&m1);
  ReleaseStgMedium(&m2);
  EXPECT_EQ(GlobalLiveBlocks(), before);

  FORMATETC text = good;
  text.cfFormat = 1;
  FORMATETC index = good;
  index.lindex = 0;
  FORMATETC stream = good;
  stream.tymed = 4;
  STGMEDIUM m;
  EXPECT_EQ(data->GetData(&text, &m), DV_E_FORMATETC);
  EXPECT_EQ(data->GetData(&index, &m), DV_E_LINDEX);
  EXPECT_EQ(data->GetData(&stream, &m), DV_E_TYMED);
  EXPECT_EQ(m.tymed, TYMED_NULL);
  EXPECT_EQ(GlobalLiveBlocks(), before);
  data->Release();
}

TEST(MenuTest, InsertsByPositionOrCommandAndSetsBitmapsByPosition) {
  HMENU menu = CreatePopupMenu();
  EXPECT_TRUE(InsertMenuW(menu, 0, MF_BYPOSITION, 10, u"A"));
  EXPECT_TRUE(InsertMenuW(menu, 99, MF_BYPOSITION, 30, u"C"));  // past the end: appended
  EXPECT_TRUE(InsertMenuW(menu, 1, MF_BYPOSITION, 20, u"B"));
  EXPECT_TRUE(InsertMenuW(menu, 30, MF_BYCOMMAND, 25, u"B2"));  // before the item with id 30
  EXPECT_TRUE(InsertMenuW(menu, 2, MF_BYPOSITION | MF_SEPARATOR, 0, u"ignored"));
  ASSERT_EQ(GetMenuItemCount(menu), 5);
  EXPECT_EQ(menu->items[0].text, u"A");
  EXPECT_EQ(menu->items[1].text, u"B");
  EXPECT_EQ(menu->items[2].flags, MF_SEPARATOR);
  EXPECT_EQ(menu->items[2].text, u"");
  EXPECT_EQ(menu->items[3].text, u"B2");
  EXPECT_EQ(menu->items[4].id, 30u);
  Bitmap bmp;
  EXPECT_TRUE(SetMenuItemBitmaps(menu, 1, MF_BYPOSITION, &bmp, nullptr));
  EXPECT_EQ(menu->items[1].uncheckedBitmap, &bmp);
  EXPECT_FALSE(SetMenuItemBitmaps(menu, 5, MF_BYPOSITION, &bmp, nullptr));
  EXPECT_FALSE(InsertMenuW(menu, 0, MF_BYPOSITION | MF_POPUP, 1, u"sub"));
  EXPECT_FALSE(InsertMenuW(nullptr, 0, MF_BYPOSITION, 1, u"X"));
  DestroyMenu(menu);
}

TEST(BitmapTest, MenuBitmapIsAThirteenPixelPhoneOnWhite) {
  HBITMAP bmp = LoadBitmapW(dovetril::ModuleInstance(), dovetril::kMenuBitmapId);
  ASSERT_NE(bmp, nullptr);
  EXPECT_EQ(bmp->width, 13);
  EXPECT_EQ(bmp->height, 13);
  EXPECT_EQ(bmp->bitsPerPixel, 16);
  EXPECT_EQ(bmp->Pixel(0, 0), 0xFFFFFFu);  // white background
  EXPECT_EQ(bmp->Pixel(12, 12), 0xFFFFFFu);
  auto g = [](uint32_t c) { return (c >> 8) & 0xFF; };
  auto r = [](uint32_t c) { return c >> 16; };
  EXPECT_GT(g(bmp->Pixel(6, 3)), r(bmp->Pixel(6, 3)) + 60);  // green screen, upper half
  EXPECT_LT(r(bmp->Pixel(2, 6)), 64u);                       // dark outline
  EXPECT_GT(r(bmp->Pixel(3, 8)), 160u);                      // light body
  EXPECT_LT(r(bmp->Pixel(4, 7)), 100u);                      // a key
  DeleteObject(bmp);
  EXPECT_EQ(LoadBitmapW(dovetril::ModuleInstance(), 202), nullptr);
  EXPECT_EQ(LoadBitmapW(nullptr, 201), nullptr);
}

std::string Bmp(int32_t w, int32_t h, uint16_t bpp, uint32_t compression, size_t pixelBytes) {
  std::string s(40, '\0');
  auto put = [&s](size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
  };
  put(0, 40, 4);
  put(4, static_cast<uint32_t>(w), 4);
  put(8, static_cast<uint32_t>(h), 4);
  put(12, 1, 2);
  put(14, bpp, 2);
  put(16, compression, 4);
  return s + std::string(pixelBytes, '\x7f');
}

TEST(BitmapTest, DecodesTopDownAndBitFieldsAndRefusesMalformedImages) {
  // 2 x 1, 32 bits, top-down: blue then red.
  std::string td = Bmp(2, -1, 32, 0, 0) + std::string("\xff\0\0\0\0\0\xff\0", 8);
  HBITMAP b = DecodeBitmap(td);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Pixel(0, 0), 0x0000FFu);
  EXPECT_EQ(b->Pixel(1, 0), 0xFF0000u);
  DeleteObject(b);
  // 1 x 1, 16 bits 5-6-5 through masks after the header: pure green.
  std::string bf = Bmp(1, 1, 16, 3, 0);
  bf += std::string("\0\xf8\0\0\xe0\x07\0\0\x1f\0\0\0", 12) + std::string("\xe0\x07\0\0", 4);
  b = DecodeBitmap(bf);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->Pixel(0, 0), 0x00FF00u);
  DeleteObject(b);

  EXPECT_EQ(DecodeBitmap(""), nullptr);
  EXPECT_EQ(DecodeBitmap(Bmp(13, 13, 16, 0, 13 * 28 - 1)), nullptr);  // short pixel data
  EXPECT_EQ(DecodeBitmap(Bmp(13, 13, 8, 0, 1000)), nullptr);          // palette images
  EXPECT_EQ(DecodeBitmap(Bmp(13, 13, 16, 1, 1000)), nullptr);         // run-length coded
  EXPECT_EQ(DecodeBitmap(Bmp(0, 13, 16, 0, 1000)), nullptr);
  EXPECT_EQ(DecodeBitmap(Bmp(100000, 1, 16, 0, 1000)), nullptr);
  EXPECT_EQ(DecodeBitmap(Bmp(1, INT32_MIN, 16, 0, 1000)), nullptr);
  std::string lying = "BM" + std::string(8, '\0') + std::string("\xff\xff\xff\x7f", 4) +
                      Bmp(1, 1, 32, 0, 4);  // pixel offset past the end
  EXPECT_EQ(DecodeBitmap(lying), nullptr);
}

TEST(DetachedProcessTest, StartsWithArgvOnlyAndLeavesNoChildOrDescriptor) {
  TempDir dir;
  std::string record = dir / "fds";
  std::string script = dir / "prog";
  std::ofstream(script) << "#!/bin/sh\nls /proc/$$/fd > '" << record
                        << ".tmp'\nprintf '%s|' \"$@\" >> '" << record << ".tmp'\nmv '" << record
                        << ".tmp' '" << record << "'\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  // An inheritable descriptor at a number nothing else uses.
  int fd = open("/dev/null", O_RDONLY);
  ASSERT_EQ(dup2(fd, 57), 57);
  close(fd);
  EXPECT_EQ(StartDetachedProcess({script, "a b", "$HOME", "--x"}), 0);
  close(57);
  // Never our child: nothing to reap, no zombie.
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  for (int i = 0; i < 1000 && !std::filesystem::exists(record); ++i) usleep(10000);
  std::string got = zb::testing::FileBytes(record);
  // The standard three are there, ours is not.
  for (const char* std : {"0\n", "\n1\n", "\n2\n"})
    EXPECT_NE(got.find(std), std::string::npos) << got;
  EXPECT_EQ(got.find("\n57\n"), std::string::npos) << got;
  EXPECT_NE(got.find("a b|$HOME|--x|"), std::string::npos) << got;
}

TEST(DetachedProcessTest, ReportsWhyAProgramDidNotStart) {
  TempDir dir;
  EXPECT_EQ(StartDetachedProcess({dir / "missing"}), ENOENT);
  std::string plain = dir / "plain";
  std::ofstream(plain) << "data";
  EXPECT_EQ(StartDetachedProcess({plain}), EACCES);  // not executable
  EXPECT_EQ(StartDetachedProcess({dir.Path()}), EACCES);
  EXPECT_EQ(StartDetachedProcess({}), EINVAL);
  EXPECT_EQ(StartDetachedProcess({"/bin/true", std::string("a\0b", 3)}), EINVAL);
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

}  // namespace
}  // namespace zb
