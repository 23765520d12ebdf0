#pragma once

#include "i18n/Archive.h"
#include "i18n/MoFile.h"
#include "i18n/PluralRule.h"
#include "i18n/Translate.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qrv::i18n {

// Where a catalogue service looks: the real program uses its own directory, file and image.
struct TCatalogueSetup {
    std::string ExeDir;             // catalogues live in ExeDir + "/locale"
    std::string ArchiveFile;        // the file carrying the appended archive
    std::int64_t ArchiveOffset = 0; // first table entry in ArchiveFile, 0 for none
    std::string StartupLanguage;    // in force until a language is selected
    std::string DataDir;            // catalogues on disk also live in DataDir + "/locale"
};

// One catalogue service: current language, lazily opened catalogue, translation-off flag.
// The free functions of Translate.h use the process-wide one; tests make their own.
class TCatalogueService {
public:
    explicit TCatalogueService(TCatalogueSetup setup);

    std::string TranslateText(std::string_view text);
    std::string TranslatePlural(std::string_view singular, std::string_view plural, std::int32_t n);
    void SelectLanguage(std::string_view code);
    std::string CurrentLanguage() const;
    std::vector<std::string> ListLanguages() const;

    void SetNotifier(TNotifier notifier);
    TNotifier Notifier() const;
    bool TranslationOff() const { return translationOff_.load(std::memory_order_acquire); }

    const std::string& CatalogueDir() const { return catalogueDir_; }
    const TArchive& Archive() const { return archive_; }

private:
    enum class TState { NotOpened, Open, Failed };

    // Under the write lock. Returns the text of a notice to show once the lock is released.
    std::string OpenCatalogue();
    // Where a language's catalogue is: beside the executable (embedded or on disk), else in
    // the data folder; the path beside the executable when neither has it.
    std::string CataloguePath(std::string_view code) const;
    std::vector<std::string> DiskCatalogueDirs() const;
    const TArchiveEntry* ArchiveEntryFor(const std::string& path) const;

    const TCatalogueSetup setup_;
    const std::string catalogueDir_;
    const TArchive archive_;
    const std::string startupLanguage_;

    mutable std::shared_mutex lock_; // guards what follows
    std::string language_;
    TPluralRule rule_ = TPluralRule::OneOther;
    TState state_ = TState::NotOpened;
    std::optional<TMoFile> catalogue_;

    std::atomic<bool> translationOff_{false};

    mutable std::mutex notifierLock_;
    TNotifier notifier_;
};

// The process-wide service, created at first use from this program's own directory, file and
// embedded archive and the start-up language of the environment.
TCatalogueService& CatalogueService();

// Test seam: replaces the process-wide service (the notifier is carried over). No lookup may
// run while it is replaced.
void ReplaceCatalogueService(TCatalogueSetup setup);

// The language in force before one is selected: LANG; when empty, the user locale (LC_ALL,
// then LC_MESSAGES) as "ll_CC" with "no" read as "nb", "C" when it names no language; then
// cut at the first ".".
std::string StartupLanguage(std::string_view lang, std::string_view lcAll,
                            std::string_view lcMessages);
std::string StartupLanguageFromEnvironment();

} // namespace qrv::i18n
