#pragma once

#include <string>
#include <vector>

namespace qrv::platform {

// Where the instance lock may live, in the order tried: $XDG_RUNTIME_DIR/Ostrelle.Quorvane.0.9.lock
// (when XDG_RUNTIME_DIR is set), then /tmp/Ostrelle.Quorvane.0.9-<uid>.lock.
std::vector<std::string> SingleInstanceLockPaths();

// Takes an exclusive lock on the first usable lock file and keeps it until the process ends
// (the descriptor is close-on-exec, so programs we start do not inherit it). Returns false only
// when another process holds the lock. A file that cannot be used (or that belongs to another
// user) sends us on to the next place; only when none can be used does the program run without
// a lock, and it says so on stderr. Calling it again in a process that holds the lock gives
// true.
bool AcquireSingleInstance();

} // namespace qrv::platform
