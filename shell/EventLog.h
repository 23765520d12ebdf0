#pragma once

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

} // namespace qrv::shell
