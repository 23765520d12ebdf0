#include "shell/EventLog.h"

#include "i18n/Translate.h"
#include "platform/AsciiText.h"
#include "platform/CodePage.h"
#include "platform/Error.h"
#include "shell/AppConfig.h"
#include "shell/LogLine.h"
#include "shell/MmTextFile.h"

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <memory>
#include <mutex>
#include <optional>

namespace qrv::shell {

namespace {

// One writer at a time: the user-interface thread and the check run both log, and a line's
// open, write and close must not interleave with another's. The clock is guarded too.
std::mutex g_logLock;
std::unique_ptr<TMmTextFile> LogFileObject;
TLogClock g_clock;     // NOLINT(cert-err58-cpp): an empty std::function, which does not throw
std::string g_charset; // decided at the first line; empty until then

// Whether the user has been told that the log cannot be written, and for which path.
bool g_failing = false;
std::string g_failedPath;
TLogFailureNotifier g_notifier; // NOLINT(cert-err58-cpp): empty, does not throw

// What iconv_open returns for a failure, as its interface defines it.
const iconv_t kIconvFailed = reinterpret_cast<iconv_t>(-1); // NOLINT(performance-no-int-to-ptr)

bool IsUtf8Name(std::string_view name) {
    return platform::EqualsNoCase(name, "UTF-8") || platform::EqualsNoCase(name, "UTF8");
}

bool IsAsciiName(std::string_view name) {
    return platform::EqualsNoCase(name, "ANSI_X3.4-1968") ||
           platform::EqualsNoCase(name, "ASCII") || platform::EqualsNoCase(name, "US-ASCII");
}

// The codeset part of a locale name ("cs_CZ.ISO-8859-2@euro" -> "ISO-8859-2").
std::string CodesetOfName(std::string_view name) {
    const std::size_t dot = name.find('.');
    if (dot == std::string_view::npos) {
        return {};
    }
    std::string_view codeset = name.substr(dot + 1);
    return std::string(codeset.substr(0, codeset.find('@')));
}

// Under g_logLock. A failure to tell the user about, or none when they already know.
std::optional<std::string> NoteFailure(const std::string& path) {
    if (g_failing && g_failedPath == path) {
        return std::nullopt;
    }
    g_failing = true;
    g_failedPath = path;
    return path;
}

// Outside g_logLock: the notifier may hand the notice to another thread and wait for it.
void Notify(const std::optional<std::string>& path, const std::exception_ptr& error) {
    if (!path) {
        return;
    }
    TLogFailureNotifier notifier;
    {
        std::lock_guard guard(g_logLock);
        notifier = g_notifier;
    }
    if (!notifier) {
        return;
    }
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        try {
            notifier(*path, e.what());
        } catch (...) {
            // Telling the user failed; the caller still hears of the failure itself.
        }
    }
}

// Under g_logLock.
void AppendLine(std::string_view text, const std::string& label) {
    if (!LogFileObject) {
        return; // start-up has not created the log yet: there is nowhere to write
    }
    if (g_charset.empty()) {
        g_charset = LocaleCharset();
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
        LogFileObject->WriteLine(ToCharset(line, g_charset));
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
    g_failing = false;
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
    std::optional<std::string> report;
    std::exception_ptr error;
    {
        std::lock_guard guard(g_logLock);
        try {
            AppendLine(text, label);
        } catch (const Error&) {
            error = std::current_exception();
            report = NoteFailure(LogFileObject->FileName);
        }
    }
    if (error) {
        Notify(report, error);
        std::rethrow_exception(error);
    }
}

void ClearLog() {
    const std::string cleared = i18n::TranslateText("Cleared log");
    std::optional<std::string> report;
    std::exception_ptr error;
    {
        std::lock_guard guard(g_logLock);
        if (!LogFileObject) {
            return;
        }
        try {
            LogFileObject->Open(TOpenMode::Rewrite);
            LogFileObject->Close();
            g_failing = false;
            // Under the same lock, so the file holds this line alone when logging is on.
            if (AppConfig().LogEnabled) {
                AppendLine(cleared, LogLabel("system"));
            }
        } catch (const Error&) {
            error = std::current_exception();
            report = NoteFailure(LogFileObject->FileName);
        }
    }
    if (error) {
        Notify(report, error);
        std::rethrow_exception(error);
    }
}

void SetLogFailureNotifier(TLogFailureNotifier notifier) {
    std::lock_guard guard(g_logLock);
    g_notifier = std::move(notifier);
}

std::string LocaleCharset() {
    std::string charset;
    if (locale_t locale = ::newlocale(LC_CTYPE_MASK, "", nullptr); locale != nullptr) {
        charset = ::nl_langinfo_l(CODESET, locale);
        ::freelocale(locale);
    } else {
        // A locale that is not installed still names its character set.
        for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
            const char* value = std::getenv(variable);
            if (value != nullptr && *value != '\0') {
                charset = CodesetOfName(value);
                break;
            }
        }
    }
    if (charset.empty() || IsAsciiName(charset) || IsUtf8Name(charset)) {
        return "UTF-8";
    }
    return charset;
}

void SetLogCharset(std::string charset) {
    std::lock_guard guard(g_logLock);
    g_charset = std::move(charset);
}

std::string ToCharset(std::string_view utf8, const std::string& charset) {
    std::string text = platform::SanitizeUtf8(utf8);
    if (IsUtf8Name(charset)) {
        return text;
    }
    iconv_t cd = ::iconv_open(charset.c_str(), "UTF-8");
    if (cd == kIconvFailed) {
        return text;
    }
    std::string out;
    out.reserve(text.size());
    char buffer[256];
    char* in = text.data();
    std::size_t inLeft = text.size();
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t done = ::iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (done != static_cast<std::size_t>(-1) || errno == E2BIG) {
            continue;
        }
        // A character the set cannot hold (the text is valid UTF-8): one '?' for it.
        std::size_t pos = static_cast<std::size_t>(in - text.data());
        char32_t skipped = 0;
        if (!platform::NextUtf8(text, pos, skipped)) {
            ++pos;
        }
        out += '?';
        in = text.data() + pos;
        inLeft = text.size() - pos;
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    // Whatever shift sequence the set needs at the end.
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    ::iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
    ::iconv_close(cd);
    return out;
}

} // namespace qrv::shell
