// The CD access layer on libcdio: the real drives that libcdio finds, then the
// image files named in $ZIMBREL_CD_IMAGES (colon-separated), eight at most.
//
// A drive is addressed by host adapter 0 (real drive) or 1 (image) and a
// target that is its position among the drives of that kind; the list is
// taken afresh by every GetCDList and GetCDHandle. An image that libcdio
// cannot open behaves as an empty drive: it has a handle, but no table of
// contents. A TOC image finds its data files in its own folder, whatever the
// current folder is.
#include <cdio/cdio.h>
#include <cdio/logging.h>

#include <limits.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "media/cd_access.h"
#include "media/cd_jobs.h"

namespace zb::media {
namespace {

constexpr uint8_t kAdapterDrive = 0;
constexpr uint8_t kAdapterImage = 1;
constexpr size_t kMaxDrives = 8;
constexpr size_t kNameBytes = sizeof(CDDriveEntry::productName) - 1;

struct Drive {
  uint8_t adapter;
  uint8_t target;
  std::string path;
};

// libcdio is not safe to enter from two threads at once: it lists drives
// with getmntent(), whose buffer all threads share, parses CUE sheets with
// strtok(), and logs through one process-wide slot that aborts the program
// when a second thread logs while the first still does. Every call into it
// holds this lock. A slow real drive therefore holds up the other CD users
// (the drive list on the main thread included) while it reads.
std::mutex gCdioLock;
using CdioGuard = std::lock_guard<std::mutex>;

std::vector<std::string> RealDrives() {
  std::vector<std::string> out;
  CdioGuard lock(gCdioLock);
  char** list = cdio_get_devices(DRIVER_DEVICE);
  for (char** d = list; d && *d && out.size() < kMaxDrives; ++d) out.emplace_back(*d);
  if (list) cdio_free_device_list(list);
  return out;
}

std::vector<std::string> Images() {
  std::vector<std::string> out;
  const char* env = std::getenv("ZIMBREL_CD_IMAGES");
  std::string all = env ? env : "";
  size_t pos = 0;
  while (pos <= all.size()) {
    size_t end = all.find(':', pos);
    if (end == std::string::npos) end = all.size();
    if (end > pos) out.push_back(all.substr(pos, end - pos));
    pos = end + 1;
  }
  return out;
}

std::vector<Drive> AllDrives() {
  std::vector<Drive> out;
  std::vector<std::string> real = RealDrives();
  for (size_t i = 0; i < real.size() && out.size() < kMaxDrives; ++i)
    out.push_back({kAdapterDrive, static_cast<uint8_t>(i), real[i]});
  std::vector<std::string> images = Images();
  for (size_t i = 0; i < images.size() && out.size() < kMaxDrives; ++i)
    out.push_back({kAdapterImage, static_cast<uint8_t>(i), images[i]});
  return out;
}

std::string DriveName(const Drive& d) {
  if (d.adapter == kAdapterImage) {
    size_t slash = d.path.rfind('/');
    return slash == std::string::npos ? d.path : d.path.substr(slash + 1);
  }
  std::string name = d.path;
  CdioGuard lock(gCdioLock);
  if (CdIo_t* p = cdio_open(d.path.c_str(), DRIVER_DEVICE)) {
    cdio_hwinfo_t hw{};
    if (cdio_get_hwinfo(p, &hw)) {
      std::string vendor(hw.psz_vendor, strnlen(hw.psz_vendor, sizeof(hw.psz_vendor)));
      std::string model(hw.psz_model, strnlen(hw.psz_model, sizeof(hw.psz_model)));
      auto trim = [](std::string s) {
        size_t e = s.find_last_not_of(' ');
        return e == std::string::npos ? std::string() : s.substr(0, e + 1);
      };
      vendor = trim(vendor);
      model = trim(model);
      if (!vendor.empty() || !model.empty())
        name = vendor.empty() ? model : model.empty() ? vendor : vendor + " " + model;
    }
    cdio_destroy(p);
  }
  return name;
}

void PutBigEndian(uint8_t* out, uint32_t v) {
  out[0] = static_cast<uint8_t>(v >> 24);
  out[1] = static_cast<uint8_t>(v >> 16);
  out[2] = static_cast<uint8_t>(v >> 8);
  out[3] = static_cast<uint8_t>(v);
}

// A TOC image names its data files (FILE, AUDIOFILE, DATAFILE) with paths
// that libcdio takes relative to the current folder, while they belong to
// the image's own folder (a launcher starts the program in the home
// folder). Returns the TOC text with every relative name made absolute
// against `folder`; empty when nothing needs to change, or when the folder
// cannot be written inside a quoted name.
std::string TocWithAbsoluteNames(const std::string& toc, const std::string& folder) {
  if (folder.find_first_of("\"\\\n\r") != std::string::npos) return "";
  std::string out;
  bool changed = false, nameNext = false;
  size_t i = 0;
  while (i < toc.size()) {
    char c = toc[i];
    if (c == '/' && i + 1 < toc.size() && toc[i + 1] == '/') {  // comment
      size_t end = toc.find('\n', i);
      if (end == std::string::npos) end = toc.size();
      out.append(toc, i, end - i);
      i = end;
    } else if (c == '"') {
      size_t end = i + 1;
      while (end < toc.size() && toc[end] != '"') end += toc[end] == '\\' ? 2 : 1;
      end = std::min(end, toc.size());
      std::string name = toc.substr(i + 1, end - i - 1);
      if (nameNext && !name.empty() && name[0] != '/' && name.find('\\') == std::string::npos) {
        out += "\"" + folder + "/" + name + "\"";
        changed = true;
      } else {
        out.append(toc, i, std::min(end + 1, toc.size()) - i);
      }
      nameNext = false;
      i = end + 1;
    } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
      size_t end = i;
      while (end < toc.size() &&
             (std::isalnum(static_cast<unsigned char>(toc[end])) || toc[end] == '_'))
        ++end;
      std::string word = toc.substr(i, end - i);
      nameNext = word == "FILE" || word == "AUDIOFILE" || word == "DATAFILE";
      out += word;
      i = end;
    } else {
      if (!std::isspace(static_cast<unsigned char>(c))) nameNext = false;
      out += c;
      ++i;
    }
  }
  return changed ? out : "";
}

bool EndsWithToc(const std::string& path) {
  return path.size() >= 4 && strcasecmp(path.c_str() + path.size() - 4, ".toc") == 0;
}

// Opens an image; a TOC image whose data files are named relative to its
// folder is opened through a copy that names them absolutely (in a private
// folder, gone once libcdio has read it: it opens the data files then).
CdIo_t* OpenImage(const std::string& path) {
  std::string text;
  if (EndsWithToc(path)) {
    std::ifstream in(path, std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::string absolute = path;
  if (!absolute.empty() && absolute[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) absolute = std::string(cwd) + "/" + absolute;
  }
  size_t slash = absolute.rfind('/');
  std::string rewritten =
      text.empty() || slash == std::string::npos
          ? ""
          : TocWithAbsoluteNames(text, slash == 0 ? "" : absolute.substr(0, slash));
  if (rewritten.empty()) {
    CdioGuard lock(gCdioLock);
    return cdio_open(path.c_str(), DRIVER_UNKNOWN);
  }
  const char* tmpdir = std::getenv("TMPDIR");
  std::string dir = std::string(tmpdir && *tmpdir ? tmpdir : "/tmp") + "/zimbrel-toc-XXXXXX";
  if (!mkdtemp(dir.data())) return nullptr;
  std::string copy = dir + absolute.substr(slash);
  CdIo_t* p = nullptr;
  {
    std::ofstream out(copy, std::ios::binary);
    out << rewritten;
  }
  {
    CdioGuard lock(gCdioLock);
    p = cdio_open(copy.c_str(), DRIVER_UNKNOWN);
  }
  unlink(copy.c_str());
  rmdir(dir.c_str());
  return p;
}

struct Handle {
  CdIo_t* cdio = nullptr;  // null: an image that did not open (no disc)
  bool lba = false;
};

class CdioAccess final : public CdAccess {
 public:
  ~CdioAccess() override {
    for (Handle* h : m_live) Destroy(h);
  }

  int GetCDList(CDDriveList* list) override {
    if (!list) return 0;
    std::vector<Drive> drives = AllDrives();
    list->count = static_cast<uint8_t>(drives.size());
    for (size_t i = 0; i < drives.size(); ++i) {
      CDDriveEntry& e = list->entries[i];
      e.hostAdapter = drives[i].adapter;
      e.target = drives[i].target;
      e.lun = 0;
      std::string name = CdListableName(DriveName(drives[i]));
      std::memset(e.productName, 0, sizeof(e.productName));
      std::memcpy(e.productName, name.data(), name.size());
    }
    return 1;
  }

  CDHandle GetCDHandle(const CDHandleRequest* r) override {
    if (!r || r->lun != 0) return 0;
    std::string path;
    if (r->hostAdapter == kAdapterDrive) {
      std::vector<std::string> real = RealDrives();
      if (r->target >= real.size()) return 0;
      path = real[r->target];
    } else if (r->hostAdapter == kAdapterImage) {
      std::vector<std::string> images = Images();
      if (r->target >= images.size()) return 0;
      path = images[r->target];
    } else {
      return 0;
    }
    auto* h = new Handle;
    if (r->hostAdapter == kAdapterDrive) {
      CdioGuard lock(gCdioLock);
      h->cdio = cdio_open(path.c_str(), DRIVER_DEVICE);
    } else {
      h->cdio = OpenImage(path);
    }
    if (!h->cdio && r->hostAdapter == kAdapterDrive) {  // no access to the drive
      delete h;
      return 0;
    }
    std::lock_guard<std::mutex> lock(m_mu);
    m_live.insert(h);
    return reinterpret_cast<CDHandle>(h);
  }

  int ModifyCDParms(CDHandle hv, int parm, uint32_t value) override {
    Handle* h = Find(hv);
    if (!h || parm != kCdParmLbaAddressing) return 0;
    h->lba = value == 0;
    return 1;
  }

  int ReadTOC(CDHandle hv, CDContents* toc) override {
    Handle* h = Find(hv);
    if (!h || !h->cdio || !toc) return 0;
    CdioGuard lock(gCdioLock);
    track_t first = cdio_get_first_track_num(h->cdio);
    track_t last = cdio_get_last_track_num(h->cdio);
    if (first == CDIO_INVALID_TRACK || last == CDIO_INVALID_TRACK || first < 1 || last < first ||
        last > 99)
      return 0;
    int n = last - first + 1;
    uint8_t control = 0;
    for (int i = 0; i <= n; ++i) {
      bool leadOut = i == n;
      track_t t = static_cast<track_t>(leadOut ? int{CDIO_CDROM_LEADOUT_TRACK} : first + i);
      lsn_t lsn = cdio_get_track_lsn(h->cdio, t);
      if (lsn == CDIO_INVALID_LSN) return 0;
      if (!leadOut) control = Control(h->cdio, t);  // the lead-out keeps the last track's
      CDTrackDescriptor& d = toc->tracks[i];
      d.adrControl = static_cast<uint8_t>(0x10 | control);
      d.trackNumber = leadOut ? 0xAA : t;
      if (h->lba) {
        PutBigEndian(d.address, static_cast<uint32_t>(lsn));
      } else {
        int32_t a = lsn + CDIO_PREGAP_SECTORS;
        d.address[0] = 0;
        d.address[1] = static_cast<uint8_t>(a / (75 * 60));
        d.address[2] = static_cast<uint8_t>(a / 75 % 60);
        d.address[3] = static_cast<uint8_t>(a % 75);
      }
    }
    uint32_t length = 2 + 8 * static_cast<uint32_t>(n + 1);
    toc->dataLength[0] = static_cast<uint8_t>(length >> 8);
    toc->dataLength[1] = static_cast<uint8_t>(length);
    toc->firstTrack = first;
    toc->lastTrack = last;
    return 1;
  }

  int ReadCDAudioLBA(CDHandle hv, CDAudioBuffer* b) override {
    Handle* h = Find(hv);
    if (!h || !h->cdio || !b) return 0;
    uint32_t capacity = std::min(b->capacity, kCdAudioDataBytes);
    if (b->numBlocks == 0 || b->numBlocks > capacity / kCdBlockBytes) return 0;
    driver_return_code_t rc;
    {
      CdioGuard lock(gCdioLock);
      rc = cdio_read_audio_sectors(h->cdio, b->data, b->startBlock, b->numBlocks);
    }
    b->layerStatus = static_cast<uint32_t>(rc);
    if (rc != DRIVER_OP_SUCCESS) return 0;
    b->delivered = b->numBlocks * kCdBlockBytes;
    b->startOffset = 0;
    return 1;
  }

  void CloseCDHandle(CDHandle hv) override {
    Handle* h = reinterpret_cast<Handle*>(hv);
    {
      std::lock_guard<std::mutex> lock(m_mu);
      if (!m_live.erase(h)) return;
    }
    Destroy(h);
  }

 private:
  static uint8_t Control(CdIo_t* p, track_t t) {
    uint8_t c = 0;
    if (cdio_get_track_format(p, t) != TRACK_FORMAT_AUDIO) c |= kCdControlData;
    if (cdio_get_track_copy_permit(p, t) == CDIO_TRACK_FLAG_TRUE) c |= kCdControlCopyPermitted;
    if (cdio_get_track_preemphasis(p, t) == CDIO_TRACK_FLAG_TRUE) c |= kCdControlPreEmphasis;
    if (cdio_get_track_channels(p, t) == 4) c |= kCdControlFourChannels;
    return c;
  }

  static void Destroy(Handle* h) {
    if (h->cdio) {
      CdioGuard lock(gCdioLock);
      cdio_destroy(h->cdio);
    }
    delete h;
  }

  // Handles are checked against the live set, so a stale or made-up value
  // is refused instead of being dereferenced.
  Handle* Find(CDHandle hv) {
    Handle* h = reinterpret_cast<Handle*>(hv);
    std::lock_guard<std::mutex> lock(m_mu);
    return m_live.count(h) ? h : nullptr;
  }

  std::mutex m_mu;
  std::set<Handle*> m_live;
};

void LogToStderr(cdio_log_level_t level, const char* message) {
  if (level >= cdio_loglevel_default) std::fprintf(stderr, "libcdio: %s\n", message);
}

}  // namespace

std::string CdListableName(std::string name) {
  for (size_t p; (p = name.find(":::")) != std::string::npos;) name.erase(p, 3);
  if (name.size() > kNameBytes) {
    size_t cut = kNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  size_t b = name.find_first_not_of(':');
  if (b == std::string::npos) return "";
  size_t e = name.find_last_not_of(':');
  return name.substr(b, e - b + 1);
}

std::shared_ptr<CdAccess> MakeDefaultCdAccess() {
  // libcdio sets up its driver table once; do it before any job thread can.
  // Its messages go to standard error: standard output carries the traces.
  static std::once_flag once;
  std::call_once(once, [] {
    CdioGuard lock(gCdioLock);
    cdio_log_set_handler(LogToStderr);
    cdio_init();
  });
  return std::make_shared<CdioAccess>();
}

}  // namespace zb::media
