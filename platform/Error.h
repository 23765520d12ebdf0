#pragma once

#include <stdexcept>
#include <string>

namespace qrv {

// Every failure of ours is raised as an error carrying the message text that users and the
// log see; callers catch only what they handle.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace qrv
