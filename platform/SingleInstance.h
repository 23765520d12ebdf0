#pragma once

#include <string>

namespace qrv::platform {

// Where the instance lock lives: $XDG_RUNTIME_DIR/Ostrelle.Quorvane.0.9.lock, or
// /tmp/Ostrelle.Quorvane.0.9-<uid>.lock when XDG_RUNTIME_DIR is unset or empty.
std::string SingleInstanceLockPath();

// Takes an exclusive lock on the lock file and keeps it until the process ends (the descriptor
// is close-on-exec, so programs we start do not inherit it). Returns false only when another
// process holds the lock; a lock file that cannot be used at all (or that belongs to another
// user) does not stop the program. Calling it again in a process that holds the lock gives true.
bool AcquireSingleInstance();

} // namespace qrv::platform
