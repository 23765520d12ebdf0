#pragma once

#include <string>

namespace qrv::engine {

// Socket failures read the same on every platform: POSIX errors are reported under the
// Windows sockets numbers of the same condition, with the Windows texts.
inline constexpr int kWsaHostNotFound = 11001;
inline constexpr int kWsaTryAgain = 11002;
inline constexpr int kWsaNoRecovery = 11003;

// The Windows sockets number for a POSIX errno value; values without a counterpart are
// passed through unchanged (their message then has an empty description).
int WsaErrorFromErrno(int posixErrno);

// The Windows sockets number for a getaddrinfo() result; `savedErrno` is used for
// EAI_SYSTEM.
int WsaErrorFromResolver(int resolverError, int savedErrno);

// The description of a Windows sockets number; empty for a number we do not know.
std::string SocketErrorDescription(int wsaError);

// "Socket Error # <n>" CR LF <description>.
std::string SocketErrorMessage(int wsaError);

[[noreturn]] void ThrowSocketError(int wsaError);

} // namespace qrv::engine
