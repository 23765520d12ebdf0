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

// The running instance's door for a second start: a Unix socket beside the lock file (".sock"
// for ".lock"), reachable by this user only. A second start knocks; the running instance shows
// its window, which would otherwise be lost for good where no tray brings it back.
//
// Opens the socket (non-blocking, close-on-exec) in the instance that holds the lock; -1 where
// it cannot. A socket file left by an instance that ended is replaced.
int ListenForSecondStarts();
// Closes the door and removes its socket file (at the end of the instance).
void CloseSecondStartDoor(int fd);
// Takes every waiting knock from `fd`; true when one came from a process of this user.
bool AcceptSecondStarts(int fd);
// From a second start (AcquireSingleInstance gave false): knocks; false when nobody answered.
bool KnockOnRunningInstance();

} // namespace qrv::platform
