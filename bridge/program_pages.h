// Which documents are the program's own pages, and what its address scheme
// serves.
//
// Every page of the program, and every file a page loads, comes through one
// address scheme of the program's own ("zimbrel://app/<absolute path>"),
// answered in the UI process by one reader (ProgramPages::Open): files inside
// the module directory's res/ folder (judged by their real path: symbolic
// links, "." and ".." are resolved, so neither "..%2f" nor a link leads out),
// and, for the pages' work files "res/tmp/<name>", only the audio files
// directly in the work folder. No view reads file URLs. A document is ours
// because that reader served its bytes: the web process extension gives
// window.external by the address alone (ProgramPages::Contains), since no
// other reader answers the scheme.
//
// The path of an address is the file's path, so a page finds its folder (and
// names its work files "<module dir>/res/tmp/<name>") from location.pathname.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zb {

// The scheme and the origin of every address of ours.
inline constexpr char kPageScheme[] = "zimbrel";
inline constexpr char kPageOrigin[] = "zimbrel://app";

// The real path of the file that a local file URL names: "" when the URL is
// not a file URL of this machine (its host empty or "localhost"), holds a
// malformed or NUL escape, or names no existing file. The query and the
// fragment are cut first.
std::string RealPathOfFileUri(std::string_view uri);

// The path an address of ours names, percent-decoded, without its query and
// fragment; "" when `uri` is not one of ours, is malformed, holds a NUL, or
// has a "." or ".." segment (plain or escaped).
std::string PathOfPageAddress(std::string_view uri);
// The address of ours for an absolute path.
std::string PageAddress(std::string_view path);

class ProgramPages {
 public:
  ProgramPages() = default;
  // `moduleDir` as the program names it (the pages' work file names start
  // with it); the work folder the pages' res/tmp/ names map into.
  ProgramPages(const std::string& moduleDir, const std::string& workDir);

  // True when `uri` is an address of ours for a file in res/ (not a work
  // file): the extension's test for window.external and the views' for
  // where they may go. It reads nothing: what such an address shows, Open
  // served.
  bool Contains(std::string_view uri) const;

  // The address of ours for a page a window is asked to show: a file path
  // (absolute, or relative to the working folder), a file URL or an address
  // of ours, naming a regular file inside res/ outside the work folder. ""
  // when it names anything else.
  std::string AddressFor(const std::string& pageOrUri) const;

  // What Open hands the scheme's handler.
  struct Opened {
    int fd = -1;       // read-only, close-on-exec; -1 when refused
    std::string mime;  // by the file's extension
    std::string path;  // the file opened
  };
  // Opens the file an address of ours names: a regular file whose real path
  // lies in res/ (outside the work folder and res/tmp/), or, for
  // "res/tmp/<name>", an audio file <name> directly in the work folder (no
  // link followed). Anything else is refused. The caller closes the fd.
  Opened Open(std::string_view uri) const;

  // The resolved folders (no trailing '/'; "" when they could not be resolved).
  const std::string& PagesDir() const { return m_pages; }
  const std::string& WorkDir() const { return m_work; }

 private:
  std::string m_module;  // as given
  std::string m_pages, m_work;
};

// The MIME type the scheme gives a file, by its extension.
std::string MimeTypeOf(std::string_view path);

// The bytes a Range header asks of a file of `size` bytes: one range
// ("bytes=first-last", "bytes=first-", "bytes=-suffix"), clipped to the file.
// False when the header is not one satisfiable byte range.
bool ParseByteRange(std::string_view header, uint64_t size, uint64_t* first, uint64_t* last);

}  // namespace zb
