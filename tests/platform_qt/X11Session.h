#pragma once

namespace qrv::test {

// Whether the test main started a private X server (DISPLAY points at it, Qt runs on xcb).
bool X11Available();

} // namespace qrv::test
