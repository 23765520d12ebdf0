#pragma once

#include <string>

namespace qrv::platform {

// Full path of the running executable (/proc/self/exe resolved).
const std::string& ExecutablePath();

// Directory of the running executable, without a trailing slash.
const std::string& ExecutableDir();

// Directory part of a path (everything before the last '/'), "" when there is none.
std::string DirectoryOf(const std::string& path);

// Creates every missing directory of `dir`, parents first. Returns false with errno set.
bool CreateDirectories(const std::string& dir);

// Writes `data` to `path` through a temporary file in the same folder, flushed and renamed
// over the target, so readers never see a half-written file. Throws qrv::Error on failure
// with "<what>: <reason>".
void WriteFileAtomically(const std::string& path, const std::string& data);

// Reads a whole file; returns false (errno set) when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& out);

} // namespace qrv::platform
