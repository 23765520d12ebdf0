#include "i18n/CatalogueService.h"

#include "platform/AsciiText.h"

#include "platform/Error.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>

namespace qrv::i18n {

using platform::AsciiLower;

namespace {

constexpr std::string_view kCatalogueFile = "/LC_MESSAGES/default.mo";

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// The path below `base` whose components match `relative`'s without regard to ASCII letter
// case, as file names match on the platform the catalogues come from; "" when there is none.
std::string FindIgnoringCase(std::string base, std::string_view relative) {
    while (!relative.empty()) {
        const std::size_t slash = relative.find('/');
        const std::string_view part = relative.substr(0, slash);
        relative =
            slash == std::string_view::npos ? std::string_view{} : relative.substr(slash + 1);
        if (part.empty()) {
            continue;
        }
        std::string next = base + "/" + std::string(part);
        struct stat st {};
        if (::stat(next.c_str(), &st) != 0) {
            next.clear();
            if (DIR* dir = ::opendir(base.c_str())) {
                const std::string wanted = AsciiLower(part);
                while (const dirent* item = ::readdir(dir)) {
                    if (AsciiLower(item->d_name) == wanted) {
                        next = base + "/" + item->d_name;
                        break;
                    }
                }
                ::closedir(dir);
            }
            if (next.empty()) {
                return {};
            }
        }
        base = std::move(next);
    }
    return FileExists(base) ? base : std::string();
}

bool IsLower(char c) {
    return c >= 'a' && c <= 'z';
}
bool IsUpper(char c) {
    return c >= 'A' && c <= 'Z';
}

// "ll_CC" (or "ll") from a POSIX locale name such as "de_AT.UTF-8@euro".
std::string LocaleCode(std::string_view locale) {
    std::size_t i = 0;
    while (i < locale.size() && IsLower(locale[i])) {
        ++i;
    }
    if (i < 2 || i > 3) {
        return "C";
    }
    std::string code(locale.substr(0, i));
    if (code == "no") {
        code = "nb";
    }
    if (i + 3 <= locale.size() && locale[i] == '_' && IsUpper(locale[i + 1]) &&
        IsUpper(locale[i + 2])) {
        code += locale.substr(i, 3);
        i += 3;
    }
    if (i < locale.size() && locale[i] != '.' && locale[i] != '@') {
        return "C";
    }
    return code;
}

void DefaultNotifier(const std::string& caption, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

// Windows line breaks for the caller, whatever the catalogue holds.
void RestoreCrLf(std::string_view text, std::string& out) {
    if (text.find('\n') == std::string_view::npos) {
        out.assign(text);
        return;
    }
    out.clear();
    out.reserve(text.size() + 8);
    for (const char c : text) {
        if (c == '\n' && (out.empty() || out.back() != '\r')) {
            out.push_back('\r');
        }
        out.push_back(c);
    }
}

} // namespace

TCatalogueService::TCatalogueService(TCatalogueSetup setup)
    : setup_(std::move(setup)), catalogueDir_(setup_.ExeDir + "/locale"),
      archive_(TArchive::ReadFile(setup_.ArchiveFile, setup_.ArchiveOffset)),
      startupLanguage_(setup_.StartupLanguage), notifier_(DefaultNotifier) {
    SelectLanguage({});
}

std::string TCatalogueService::CataloguePath(std::string_view code) const {
    std::string tail = "/";
    tail.append(code).append(kCatalogueFile);
    std::string besideExe = catalogueDir_ + tail;
    if (ArchiveEntryFor(besideExe) || FileExists(besideExe)) {
        return besideExe;
    }
    for (const auto& dir : DiskCatalogueDirs()) {
        if (std::string found = FindIgnoringCase(dir, tail); !found.empty()) {
            return found;
        }
    }
    return besideExe;
}

std::vector<std::string> TCatalogueService::DiskCatalogueDirs() const {
    std::vector<std::string> dirs{catalogueDir_};
    if (!setup_.DataDir.empty() && setup_.DataDir != setup_.ExeDir) {
        dirs.push_back(setup_.DataDir + "/locale");
    }
    return dirs;
}

const TArchiveEntry* TCatalogueService::ArchiveEntryFor(const std::string& path) const {
    std::string_view name = path;
    const std::string prefix = setup_.ExeDir + "/";
    if (name.substr(0, prefix.size()) == prefix) {
        name.remove_prefix(prefix.size());
    }
    return archive_.Find(name);
}

void TCatalogueService::SelectLanguage(std::string_view code) {
    std::unique_lock guard(lock_);
    language_ = code.empty() ? startupLanguage_ : std::string(code);
    rule_ = PluralRuleFor(language_);
    state_ = TState::NotOpened;
    catalogue_.reset();
}

std::string TCatalogueService::CurrentLanguage() const {
    std::shared_lock guard(lock_);
    return language_;
}

std::string TCatalogueService::OpenCatalogue() {
    // A failure below leaves the catalogue failed, so only this lookup reports it.
    state_ = TState::Failed;
    std::string path = CataloguePath(language_);
    if (!ArchiveEntryFor(path) && !FileExists(path) && language_.size() > 2) {
        path = CataloguePath(std::string_view(language_).substr(0, 2));
    }
    std::optional<TMoFile> mo;
    if (const TArchiveEntry* entry = ArchiveEntryFor(path)) {
        std::string bytes;
        if (!ReadArchiveEntry(setup_.ArchiveFile, *entry, bytes)) {
            throw Error("Cannot open file " + path);
        }
        mo = TMoFile::Parse(std::move(bytes), path);
    } else if (FileExists(path)) {
        mo = TMoFile::Load(path);
    } else {
        return {};
    }
    if (!mo->HasUtf8Charset()) {
        translationOff_.store(true, std::memory_order_release);
        return "The translation for the language code " + language_ + " (in " + path +
               ") does not have charset=utf-8 in its Content-Type. Translations are turned off.";
    }
    catalogue_ = std::move(mo);
    state_ = TState::Open;
    return {};
}

std::string TCatalogueService::TranslateText(std::string_view text) {
    if (TranslationOff()) {
        return std::string(text);
    }
    std::string stripped;
    std::string_view key = text;
    if (text.find('\r') != std::string_view::npos) {
        stripped.reserve(text.size());
        std::remove_copy(text.begin(), text.end(), std::back_inserter(stripped), '\r');
        key = stripped;
    }

    std::string result;
    for (;;) {
        {
            std::shared_lock guard(lock_);
            if (state_ != TState::NotOpened) {
                const auto found = state_ == TState::Open ? catalogue_->Lookup(key) : std::nullopt;
                RestoreCrLf(found ? *found : key, result);
                return result;
            }
        }
        std::string notice;
        {
            std::unique_lock guard(lock_);
            if (state_ == TState::NotOpened) {
                notice = OpenCatalogue();
            }
        }
        // Shown outside the lock: the box may run an event loop that translates again.
        if (!notice.empty()) {
            if (const TNotifier notify = Notifier()) {
                notify("Localization problem", notice);
            }
        }
    }
}

std::string TCatalogueService::TranslatePlural(std::string_view singular, std::string_view plural,
                                               std::int32_t n) {
    std::string key(singular);
    key.push_back('\0');
    key.append(plural);
    const std::string result = TranslateText(key);
    TPluralRule rule = TPluralRule::OneOther;
    if (result != key) {
        std::shared_lock guard(lock_);
        rule = rule_;
    }
    int index = PluralIndex(rule, n);
    std::size_t begin = 0;
    for (;;) {
        const std::size_t end = result.find('\0', begin);
        if (index == 0 || end == std::string::npos) {
            return result.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
        }
        begin = end + 1;
        --index;
    }
}

std::vector<std::string> TCatalogueService::ListLanguages() const {
    std::vector<std::string> list;
    const auto add = [&list](std::string code) {
        if (std::find(list.begin(), list.end(), code) == list.end()) {
            list.push_back(std::move(code));
        }
    };

    for (const auto& folder : DiskCatalogueDirs()) {
        DIR* dir = ::opendir(folder.c_str());
        if (dir == nullptr) {
            continue;
        }
        while (const dirent* item = ::readdir(dir)) {
            const std::string name = item->d_name;
            if (name == "." || name == "..") {
                continue;
            }
            std::string path = folder;
            path.append("/").append(name).append(kCatalogueFile);
            if (FileExists(path)) {
                add(AsciiLower(name));
            }
        }
        ::closedir(dir);
    }

    std::vector<const TArchiveEntry*> entries;
    for (const auto& entry : archive_.Entries()) {
        entries.push_back(&entry);
    }
    std::stable_sort(entries.begin(), entries.end(), [](const auto* a, const auto* b) {
        return AsciiLower(a->Name) < AsciiLower(b->Name);
    });
    const std::string prefix = ArchiveNameKey(catalogueDir_ + "/");
    const std::string suffix = ArchiveNameKey(kCatalogueFile);
    for (const auto* entry : entries) {
        const std::string full = ArchiveNameKey(setup_.ExeDir + "/" + entry->Name);
        if (full.size() <= prefix.size() + suffix.size() ||
            full.compare(0, prefix.size(), prefix) != 0 ||
            full.compare(full.size() - suffix.size(), suffix.size(), suffix) != 0) {
            continue;
        }
        std::string code = full.substr(prefix.size(), full.size() - prefix.size() - suffix.size());
        for (std::size_t i = 3; i < code.size(); ++i) {
            if (IsLower(code[i])) {
                code[i] = static_cast<char>(code[i] - 'a' + 'A');
            }
        }
        add(std::move(code));
    }
    return list;
}

void TCatalogueService::SetNotifier(TNotifier notifier) {
    std::lock_guard guard(notifierLock_);
    notifier_ = std::move(notifier);
}

TNotifier TCatalogueService::Notifier() const {
    std::lock_guard guard(notifierLock_);
    return notifier_;
}

std::string StartupLanguage(std::string_view lang, std::string_view lcAll,
                            std::string_view lcMessages) {
    std::string code;
    if (!lang.empty()) {
        code = lang;
    } else {
        code = LocaleCode(!lcAll.empty() ? lcAll : lcMessages);
    }
    const auto dot = code.find('.');
    if (dot != std::string::npos) {
        code.erase(dot);
    }
    return code;
}

std::string StartupLanguageFromEnvironment() {
    const auto env = [](const char* name) -> std::string_view {
        const char* value = std::getenv(name);
        return value ? value : "";
    };
    return StartupLanguage(env("LANG"), env("LC_ALL"), env("LC_MESSAGES"));
}

} // namespace qrv::i18n
