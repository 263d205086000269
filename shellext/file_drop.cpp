#include "shellext/file_drop.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "platform/utf.h"

namespace zb {

struct GlobalBlock {
  std::vector<uint8_t> bytes;
  int locks = 0;
};

namespace {

std::atomic<long> gLiveBlocks{0};

// DROPFILES: pFiles (4), pt (8), fNC (4), fWide (4).
constexpr size_t kDropFilesSize = 20;

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The paths of a file-drop block; empty when the block is not one.
std::vector<std::u16string> ParseDrop(HDROP drop) {
  std::vector<std::u16string> out;
  if (!drop || drop->bytes.size() < kDropFilesSize) return out;
  const uint8_t* base = drop->bytes.data();
  size_t size = drop->bytes.size();
  uint32_t offset = GetU32(base);
  bool wide = GetU32(base + 16) != 0;
  if (!wide || offset < kDropFilesSize || offset > size) return out;
  std::u16string cur;
  for (size_t pos = offset; pos + 1 < size; pos += 2) {
    char16_t c = static_cast<char16_t>(base[pos] | base[pos + 1] << 8);
    if (c != 0) {
      cur.push_back(c);
      continue;
    }
    if (cur.empty()) break;  // the second zero ends the list
    out.push_back(std::move(cur));
    cur.clear();
  }
  return out;
}

class FileDropDataObject final : public IDataObject {
 public:
  explicit FileDropDataObject(std::vector<std::string> paths) : m_paths(std::move(paths)) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDataObject) {
      *ppv = static_cast<IDataObject*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return static_cast<ULONG>(++m_refs); }
  ULONG Release() override {
    long n = --m_refs;
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }

  HRESULT QueryGetData(FORMATETC* f) override {
    if (!f) return E_INVALIDARG;
    if (f->cfFormat != CF_HDROP) return DV_E_FORMATETC;
    if (f->ptd != nullptr || f->dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (f->lindex != -1) return DV_E_LINDEX;
    if (!(f->tymed & TYMED_HGLOBAL)) return DV_E_TYMED;
    return S_OK;
  }

  HRESULT GetData(FORMATETC* f, STGMEDIUM* medium) override {
    if (!medium) return E_INVALIDARG;
    medium->tymed = TYMED_NULL;
    medium->hGlobal = nullptr;
    medium->pUnkForRelease = nullptr;
    HRESULT hr = QueryGetData(f);
    if (FAILED(hr)) return hr;
    HDROP block = MakeFileDropBlock(m_paths);
    if (!block) return E_OUTOFMEMORY;
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = block;
    return S_OK;
  }

 private:
  ~FileDropDataObject() = default;
  std::atomic<long> m_refs{1};
  std::vector<std::string> m_paths;
};

}  // namespace

const IID IID_IShellExtInit = {0x000214E8, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IContextMenu = {0x000214E4, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDataObject = {0x0000010E, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

HGLOBAL GlobalAlloc(size_t bytes) {
  auto* b = new (std::nothrow) GlobalBlock;
  if (!b) return nullptr;
  try {
    b->bytes.assign(bytes, 0);
  } catch (const std::bad_alloc&) {
    delete b;
    return nullptr;
  }
  ++gLiveBlocks;
  return b;
}

void* GlobalLock(HGLOBAL block) {
  if (!block) return nullptr;
  ++block->locks;
  return block->bytes.data();
}

bool GlobalUnlock(HGLOBAL block) {
  if (!block || block->locks == 0) return false;
  return --block->locks > 0;
}

size_t GlobalSize(HGLOBAL block) {
  return block ? block->bytes.size() : 0;
}

HGLOBAL GlobalFree(HGLOBAL block) {
  if (block) {
    delete block;
    --gLiveBlocks;
  }
  return nullptr;
}

int GlobalLockCount(HGLOBAL block) {
  return block ? block->locks : 0;
}
long GlobalLiveBlocks() {
  return gLiveBlocks.load();
}

void ReleaseStgMedium(STGMEDIUM* medium) {
  if (!medium) return;
  if (medium->tymed == TYMED_HGLOBAL && !medium->pUnkForRelease) GlobalFree(medium->hGlobal);
  if (medium->pUnkForRelease) medium->pUnkForRelease->Release();
  medium->tymed = TYMED_NULL;
  medium->hGlobal = nullptr;
  medium->pUnkForRelease = nullptr;
}

HDROP MakeFileDropBlock(const std::vector<std::string>& paths) {
  std::u16string list;
  for (const auto& p : paths) {
    std::u16string w = Utf8ToUtf16(p);
    // A path cannot hold a zero unit: it would end the entry early.
    for (char16_t& c : w)
      if (c == 0) c = u'\uFFFD';
    list += w;
    list.push_back(0);
  }
  list.push_back(0);
  if (paths.empty()) list.push_back(0);
  HGLOBAL block = GlobalAlloc(kDropFilesSize + list.size() * 2);
  if (!block) return nullptr;
  uint8_t* base = block->bytes.data();
  PutU32(base, kDropFilesSize);
  PutU32(base + 16, 1);  // fWide
  for (size_t i = 0; i < list.size(); ++i) {
    base[kDropFilesSize + 2 * i] = static_cast<uint8_t>(list[i] & 0xFF);
    base[kDropFilesSize + 2 * i + 1] = static_cast<uint8_t>(list[i] >> 8);
  }
  return block;
}

UINT DragQueryFileW(HDROP drop, UINT index, char16_t* buffer, UINT cch) {
  std::vector<std::u16string> files = ParseDrop(drop);
  if (index == 0xFFFFFFFFu) return static_cast<UINT>(files.size());
  if (index >= files.size()) return 0;
  const std::u16string& f = files[index];
  if (!buffer) return static_cast<UINT>(f.size());
  if (cch == 0) return 0;
  size_t n = std::min<size_t>(f.size(), cch - 1);
  std::memcpy(buffer, f.data(), n * 2);
  buffer[n] = 0;
  return static_cast<UINT>(n);
}

IDataObject* CreateFileDropDataObject(const std::vector<std::string>& paths) {
  return new (std::nothrow) FileDropDataObject(paths);
}

}  // namespace zb
