// The private folder that holds the bridge socket: "zimbrel-XXXXXX" (mode
// 0700) in $XDG_RUNTIME_DIR when that is a private folder of this user, else
// in the temporary folder. It holds the socket "bridge" and the file "lock",
// which its program keeps locked (flock) while it runs, so that a later start
// can tell a folder whose program was killed from one in use.
#pragma once

#include <string>
#include <vector>

namespace zb {

// Where bridge folders are made: $XDG_RUNTIME_DIR when it is an absolute
// path to a folder of this user that no one else may enter, else the
// temporary folder.
std::string BridgeFolderParent();
// The temporary folder: $TMPDIR when it is an absolute path, else /tmp.
std::string TemporaryFolder();

// Makes a folder in `parent` and takes its lock; false when it cannot.
bool MakeBridgeFolder(const std::string& parent, std::string* dir, int* lockFd);

// Removes the folder made by MakeBridgeFolder (the socket, the lock file and
// the folder itself) and lets go of the lock.
void RemoveBridgeFolder(const std::string& dir, int lockFd);

// Removes the bridge folders of this user in each parent whose program is
// gone: the lock is free, or (folders of the layout without a lock) the
// folder is older than a minute and no one listens on its socket. A folder
// holding anything but the socket and the lock is left alone. Returns the
// folders removed.
std::vector<std::string> SweepLeftBridgeFolders(const std::vector<std::string>& parents);

}  // namespace zb
