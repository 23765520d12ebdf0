#pragma once

#include <string>

namespace qrv::platform {

// Asks the desktop to open a file or URL with its default application: starts `xdg-open` with
// the text as its one and only argument (an argument vector, never a shell), does not wait for
// it and ignores its result; the child is reaped in the background. An empty text does nothing.
// The environment variable QRV_OPENER, when set and not empty, names another opener program
// (looked up in PATH like xdg-open); the tests use it.
void ShellOpen(const std::string& pathOrUrl);

} // namespace qrv::platform
