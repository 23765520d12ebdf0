#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qrv::i18n {

// The process-wide catalogue service (domain "default"). Texts are UTF-8.
// TranslateText/TranslatePlural are safe from any thread; SelectLanguage is for the
// user-interface thread. A damaged catalogue makes the lookup that opens it throw qrv::Error.
std::string TranslateText(std::string_view text);
std::string TranslatePlural(std::string_view singular, std::string_view plural, std::int32_t n);
void SelectLanguage(std::string_view code);
std::string CurrentLanguage();
std::vector<std::string> ListLanguages();

// Shows the "Localization problem" box; the window layer installs a message box, until then
// the text goes to standard error.
using TNotifier = std::function<void(const std::string& caption, const std::string& text)>;
void SetLocalizationNotifier(TNotifier notifier);

} // namespace qrv::i18n
