// The real display-free core for the fuzzers, with the tests' quiet front end
// (window operations do nothing, a box answers OK), no CD drive and a
// settings store in a folder of its own.
// The fuzzers exercise the conversions and the dispatch; they never start a
// job (that would start tools and connections with random arguments).
#pragma once

#include <cstdlib>
#include <string>

#include "bridge/method_table.h"
#include "core/core_host.h"
#include "media/cd_access.h"
#include "quiet_front_end.h"

namespace zb {

class NoCdDrives : public media::CdAccess {
 public:
  int GetCDList(media::CDDriveList* list) override {
    *list = {};
    return 1;
  }
  media::CDHandle GetCDHandle(const media::CDHandleRequest*) override { return 0; }
  int ModifyCDParms(media::CDHandle, int, uint32_t) override { return 0; }
  int ReadTOC(media::CDHandle, media::CDContents*) override { return 0; }
  int ReadCDAudioLBA(media::CDHandle, media::CDAudioBuffer*) override { return 0; }
  void CloseCDHandle(media::CDHandle) override {}
};

inline std::string FuzzRegistryDir() {
  static std::string dir = [] {
    if (const char* given = std::getenv("ZIMBREL_REGISTRY_DIR"); given && *given)
      return std::string(given);
    char tmpl[] = "/tmp/zimbrel-fuzz-XXXXXX";
    const char* d = mkdtemp(tmpl);
    std::string path = d ? d : "/tmp";
    setenv("ZIMBREL_REGISTRY_DIR", path.c_str(), 1);
    return path;
  }();
  return dir;
}

// The core and its front end.
struct FuzzHost {
  CoreHost core{FuzzRegistryDir(), testing::Quiet(), std::make_shared<NoCdDrives>()};
};

// The DISPID the fuzzers invoke for `id`: a job starter becomes ZBL_IsZBL.
inline int32_t FuzzSafeDispid(int32_t id) {
  if (id < 1 || id > kMemberCount) return id;
  static const std::string_view kStarters[] = {"ZBL_MakeHttpRequest", "ZBL_TranscodeMedia",
                                               "ZBL_UploadFile", "ZBL_GrabAudioDataFromCD",
                                               "ZBL_NormalizeAudio"};
  for (auto name : kStarters)
    if (kMethodTable[id - 1].name == name) return 1;
  return id;
}

// The scripting object as the fuzzers see it: every call goes to `inner`,
// job starters turned into ZBL_IsZBL.
class FuzzDispatch final : public IDispatch {
 public:
  explicit FuzzDispatch(IDispatch* inner) : m_inner(inner) {}
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return m_inner->QueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return m_inner->AddRef(); }
  ULONG Release() override { return m_inner->Release(); }
  HRESULT GetTypeInfoCount(UINT* n) override { return m_inner->GetTypeInfoCount(n); }
  HRESULT GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override {
    return m_inner->GetTypeInfo(i, l, t);
  }
  HRESULT GetIDsOfNames(REFIID riid, OLECHAR** names, UINT n, LCID l, DISPID* ids) override {
    return m_inner->GetIDsOfNames(riid, names, n, l, ids);
  }
  HRESULT Invoke(DISPID id, REFIID riid, LCID l, WORD flags, DISPPARAMS* p, VARIANT* r,
                 EXCEPINFO* e, UINT* a) override {
    return m_inner->Invoke(FuzzSafeDispid(id), riid, l, flags, p, r, e, a);
  }

 private:
  IDispatch* m_inner;
};

}  // namespace zb
