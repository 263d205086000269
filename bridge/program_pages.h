// Which documents are the program's own pages: files whose real path lies
// inside the pages folder (the module directory's res/) and outside the work
// folder where jobs write their files. A file URL is judged by the file it
// names, not by its text: percent-decoded, then resolved by the file system
// (symbolic links, "." and ".."), so that neither "..%2f" nor a link leads out
// of the folder. Used by the UI process (which views may go where) and by the
// web process extension (which frames get window.external).
#pragma once

#include <string>
#include <string_view>

namespace zb {

// The real path of the file that a local file URL names: "" when the URL is
// not a file URL of this machine (its host empty or "localhost"), holds a
// malformed or NUL escape, or names no existing file. The query and the
// fragment are cut first.
std::string RealPathOfFileUri(std::string_view uri);

class ProgramPages {
 public:
  ProgramPages() = default;
  // Both folders are resolved here; a pages folder that cannot be resolved
  // makes every document foreign.
  ProgramPages(const std::string& pagesDir, const std::string& workDir);

  // True when `uri` is a file URL naming a file inside the pages folder and
  // not inside the work folder.
  bool Contains(std::string_view uri) const;

  // The resolved folders (no trailing '/'; "" when they could not be resolved).
  const std::string& pagesDir() const { return m_pages; }
  const std::string& workDir() const { return m_work; }

 private:
  std::string m_pages, m_work;
};

}  // namespace zb
