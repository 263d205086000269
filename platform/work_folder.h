// The user's work folder: where the ringtone in the making, a copied CD track
// and mp3gain's temporary file live while Zimbrel runs.
//
// The pages name their work files "<module dir>/res/tmp/<name>" and play
// them as "tmp/<name>" relative to the start page, as if res/tmp beside the
// program were theirs to write. An installed program's folder belongs to
// root and is shared by every user, so each user gets a folder of their own
// instead, and WorkFolder maps the pages' names into it: the bridge maps the
// paths that reach the job members, the web process extension the addresses
// that the page loads.
#pragma once

#include <string>

namespace zb {

struct WorkFolderChoice {
  std::string path;     // the folder chosen; when none is usable, the first candidate
  bool usable = false;  // the folder exists, is the user's own and private, and can be written
};

// Finds, making it when missing, the user's work folder:
//   $XDG_CACHE_HOME/zimbrel/tmp (~/.cache/zimbrel/tmp when the variable is
//   unset or not an absolute path), else
//   <system temporary folder>/zimbrel-<uid> ($TMPDIR when it is an absolute
//   path, else /tmp).
// A candidate is used when it is a folder (not a link) owned by the user and
// writable; its mode is made 0700 when it is looser. Missing folders of the
// first candidate are made with mode 0700.
WorkFolderChoice ChooseUserWorkFolder();

// Makes `path` again when it went away while the program ran (the user
// cleared the cache) and checks it as above; true when it is usable.
bool PrepareWorkFolder(const std::string& path);

// A work folder of this program's own, for a program that runs beside
// others of the same user (no session bus told it that it is the only one):
// "<user folder>/run-XXXXXX", private, holding a lock file (".lock") locked
// while the program runs. No other program touches it: a start removes only
// the run folders whose lock is free (left by a program that was killed).
class RunWorkFolder {
 public:
  RunWorkFolder() = default;
  ~RunWorkFolder();  // removes the folder and the files in it
  RunWorkFolder(const RunWorkFolder&) = delete;
  RunWorkFolder& operator=(const RunWorkFolder&) = delete;

  // Removes the run folders that killed programs left in `userFolder`, then
  // makes this program's; false when it cannot be made.
  bool Make(const std::string& userFolder);
  const std::string& Path() const { return m_path; }

 private:
  std::string m_path;
  int m_lockFd = -1;
};

// Removes the run folders in `userFolder` whose lock nobody holds, with the
// files in them (no link is followed). A folder without a lock file is left.
void SweepLeftRunFolders(const std::string& userFolder);

class WorkFolder {
 public:
  // Work files stay in <moduleDir>/res/tmp (a module directory of one's own:
  // the tests' copies).
  explicit WorkFolder(const std::string& moduleDir);
  // Work files go to `folder`.
  WorkFolder(const std::string& moduleDir, std::string folder);

  const std::string& Path() const { return m_folder; }

  // "<module dir>/res/tmp/<rest>" becomes "<folder>/<rest>"; every other path
  // (and one whose rest holds a "." or ".." segment) is returned as it is.
  std::string Map(const std::string& pagePath) const;

 private:
  std::string m_pagesTmp;  // "<module dir>/res/tmp/"
  std::string m_folder;
};

}  // namespace zb
