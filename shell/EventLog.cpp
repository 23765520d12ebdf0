#include "shell/EventLog.h"

#include "i18n/Translate.h"
#include "platform/CodePage.h"
#include "platform/Error.h"
#include "shell/AppConfig.h"
#include "shell/LogLine.h"
#include "shell/MmTextFile.h"

#include <memory>
#include <mutex>

namespace qrv::shell {

namespace {

// One writer at a time: the user-interface thread and the check run both log, and a line's
// open, write and close must not interleave with another's. The clock is guarded too.
std::mutex g_logLock;
std::unique_ptr<TMmTextFile> LogFileObject;
TLogClock g_clock; // NOLINT(cert-err58-cpp): an empty std::function, which does not throw

// Under g_logLock.
void AppendLine(std::string_view text, const std::string& label) {
    if (!LogFileObject) {
        return; // start-up has not created the log yet: there is nowhere to write
    }
    const platform::TLocalTime now = g_clock.Now ? g_clock.Now() : platform::LocalNow();
    const platform::TRegionalFormats& formats =
        g_clock.Now ? g_clock.Formats : platform::UserRegionalFormats();
    std::string line = LogTimestamp(now, formats);
    line += ' ';
    line += label;
    line += ' ';
    line += text;

    LogFileObject->Open(TOpenMode::Append);
    try {
        LogFileObject->WriteLine(platform::Utf8ToAnsi(line));
    } catch (const Error&) {
        // Closed again so that later events can still append; the first failure is the one
        // the caller hears about.
        try {
            LogFileObject->Close();
        } catch (const Error&) {
        }
        throw;
    }
    LogFileObject->Close();
}

} // namespace

std::string LogLabel(std::string_view category) {
    if (category == "error") {
        return "ERROR";
    }
    if (category == "ok") {
        return "OK";
    }
    if (category == "system") {
        return "SYSTEM";
    }
    if (category == "exception") {
        return "EXCEPTION";
    }
    return "OTHER";
}

std::string LogTimestamp(const platform::TLocalTime& time,
                         const platform::TRegionalFormats& formats) {
    std::string stamp = platform::FormatDateTime(formats.ShortDate, time, formats.Names);
    if (time.Hour != 0 || time.Minute != 0 || time.Second != 0) {
        stamp += ' ';
        stamp += platform::FormatDateTime(formats.LongTime, time, formats.Names);
    }
    return stamp;
}

void SetLogClock(TLogClock clock) {
    std::lock_guard guard(g_logLock);
    g_clock = std::move(clock);
}

void CreateLogFileObject(const std::string& path) {
    auto file = std::make_unique<TMmTextFile>();
    file->FileName = path;
    file->CreateIfMissing = true;
    std::lock_guard guard(g_logLock);
    LogFileObject = std::move(file);
}

void WriteLog(std::string_view text, std::string_view category) {
    const std::string label = LogLabel(category);
    if (!AppConfig().LogEnabled) {
        return;
    }
    std::lock_guard guard(g_logLock);
    AppendLine(text, label);
}

void ClearLog() {
    const std::string cleared = i18n::TranslateText("Cleared log");
    std::lock_guard guard(g_logLock);
    if (!LogFileObject) {
        return;
    }
    LogFileObject->Open(TOpenMode::Rewrite);
    LogFileObject->Close();
    // Under the same lock, so the file holds this line alone when logging is on.
    if (AppConfig().LogEnabled) {
        AppendLine(cleared, LogLabel("system"));
    }
}

} // namespace qrv::shell
