#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace qrv::shell {

// Creates `LogFileObject` with FileName = path and CreateIfMissing = true (start-up).
void CreateLogFileObject(const std::string& path);

// Appends one line "<timestamp> <LABEL> <text>" when LogEnabled; throws qrv::Error on a file
// failure. One writer at a time across threads.
void WriteLog(std::string_view text, std::string_view category);

// "Clear log": rewrite, close, then log the catalogue text of "Cleared log".
void ClearLog();

// Told when the log cannot be written: once when writing starts to fail, and again only after
// a write has succeeded in between or when the failing path is another one, never once per
// event. Called on the writing thread, outside the log's lock, before the error is thrown on.
using TLogFailureNotifier = std::function<void(const std::string& path, const std::string& error)>;
void SetLogFailureNotifier(TLogFailureNotifier notifier);

// The character set the log is written in, so that a text editor opens it readably: the
// locale's (LC_ALL, LC_CTYPE, LANG). A locale that names none, or only ASCII (C, POSIX), gives
// UTF-8, which loses no character.
std::string LocaleCharset();

// Replaces the character set the log found at its first line (tests); empty: the locale's.
void SetLogCharset(std::string charset);

// UTF-8 text in `charset`; a character the set cannot hold becomes '?'. An unknown set gives
// the text as UTF-8.
std::string ToCharset(std::string_view utf8, const std::string& charset);

} // namespace qrv::shell
