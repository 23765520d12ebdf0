#include "i18n/Translate.h"

#include "i18n/CatalogueService.h"
#include "platform/Paths.h"

#include <atomic>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace qrv::i18n {

namespace {

// Replaced services are never freed: a lookup on another thread may still be using one.
std::atomic<TCatalogueService*> g_service{nullptr};
std::mutex g_serviceLock;
// Kept reachable (never destroyed) so that the leak checker sees them as in use.
// Out of memory before main ends the program anyway.
// NOLINTNEXTLINE(cert-err58-cpp)
std::vector<TCatalogueService*>* g_retired = new std::vector<TCatalogueService*>;

// The embedded catalogues are read from the running program's own file, not from its path: a
// package upgrade replaces the file at that path while the program runs, and the new file's
// archive lies elsewhere or is another one.
std::string ArchiveFileOfThisProgram() {
    constexpr char kSelf[] = "/proc/self/exe";
    if (::access(kSelf, R_OK) == 0) {
        return kSelf;
    }
    return platform::ExecutablePath(); // no /proc: the path is all there is
}

} // namespace

TCatalogueService& CatalogueService() {
    if (TCatalogueService* service = g_service.load(std::memory_order_acquire)) {
        return *service;
    }
    std::lock_guard guard(g_serviceLock);
    if (g_service.load(std::memory_order_acquire) == nullptr) {
        g_service.store(
            new TCatalogueService({platform::ExecutableDir(), ArchiveFileOfThisProgram(),
                                   EmbeddedArchiveOffset(), StartupLanguageFromEnvironment(),
                                   platform::ProgramDataDir()}),
            std::memory_order_release);
    }
    return *g_service.load(std::memory_order_acquire);
}

void ReplaceCatalogueService(TCatalogueSetup setup) {
    std::lock_guard guard(g_serviceLock);
    auto* service = new TCatalogueService(std::move(setup));
    if (TCatalogueService* old = g_service.load(std::memory_order_acquire)) {
        service->SetNotifier(old->Notifier());
        g_retired->push_back(old);
    }
    g_service.store(service, std::memory_order_release);
}

std::string TranslateText(std::string_view text) {
    return CatalogueService().TranslateText(text);
}

std::string TranslatePlural(std::string_view singular, std::string_view plural, std::int32_t n) {
    return CatalogueService().TranslatePlural(singular, plural, n);
}

void SelectLanguage(std::string_view code) {
    CatalogueService().SelectLanguage(code);
}

std::string CurrentLanguage() {
    return CatalogueService().CurrentLanguage();
}

std::vector<std::string> ListLanguages() {
    return CatalogueService().ListLanguages();
}

void SetLocalizationNotifier(TNotifier notifier) {
    CatalogueService().SetNotifier(std::move(notifier));
}

} // namespace qrv::i18n
