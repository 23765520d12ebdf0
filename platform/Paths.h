#pragma once

#include <string>
#include <sys/types.h>

namespace qrv::platform {

// The vendor and program folder below the per-user data folder, and the desktop entry whose
// presence below ../share/applications marks an installed copy.
inline constexpr char kProgramSubdir[] = "Ostrelle/Quorvane";
inline constexpr char kDesktopEntryId[] = QRV_APP_ID;

// Full path of the running executable (/proc/self/exe resolved).
const std::string& ExecutablePath();

// Directory of the running executable, without a trailing slash.
const std::string& ExecutableDir();

// Directory part of a path (everything before the last '/'), "" when there is none.
std::string DirectoryOf(const std::string& path);

// The user's home: $HOME when absolute, else the password database's entry; "" when neither.
std::string HomeDir();

// $XDG_CONFIG_HOME and $XDG_DATA_HOME when absolute, else ~/.config and ~/.local/share; ""
// without a home. Read at every call.
std::string UserConfigDir();
std::string UserDataDir();

// Creates every missing directory of `dir`, parents first, new ones with `mode` (less the
// umask). Returns false with errno set.
bool CreateDirectories(const std::string& dir, mode_t mode = 0777);

// Writes `data` to `path` through a temporary file in the same folder, flushed and renamed
// over the target, so readers never see a half-written file. A replaced file keeps its
// permissions; a new one gets `newFileMode` less the umask. Throws qrv::Error on failure with
// "<what>: <reason>".
void WriteFileAtomically(const std::string& path, const std::string& data,
                         mode_t newFileMode = 0666);

// Prefix of WriteFileAtomically's temporary files; six random characters follow.
inline constexpr char kTemporaryPrefix[] = ".qrv-tmp-";

// Removes the temporary files that a write broken off (a kill) left in `dir`: only regular
// files of this user with exactly that name pattern. Returns how many were removed.
int RemoveLeftoverTemporaries(const std::string& dir);

// True for a copy installed below a prefix: the executable in "<prefix>/bin" beside
// "<prefix>/share/applications/<kDesktopEntryId>.desktop".
bool IsInstalledCopy(const std::string& exeDir);

// The folder of the files the program keeps beside its executable (list, default log, damaged
// list copies, catalogues on disk): `exeDir` itself for a copy that is not installed and whose
// folder this user may write, otherwise "<UserDataDir>/Ostrelle/Quorvane", created (0700)
// when missing. Nothing is ever written into an installed folder.
std::string ResolveProgramDataDir(const std::string& exeDir);

// ResolveProgramDataDir(ExecutableDir()), resolved once.
const std::string& ProgramDataDir();

// Reads a whole file; returns false (errno set) when it cannot be read. A file larger than
// `maxBytes` fails with EFBIG before it is read, or as soon as reading passes the bound (a file
// that grows meanwhile), so memory never grows with the file.
bool ReadWholeFile(const std::string& path, std::string& out,
                   std::size_t maxBytes = static_cast<std::size_t>(-1));

} // namespace qrv::platform
