#pragma once

#include <cstdint>
#include <string_view>

namespace qrv::i18n {

enum class TPluralRule {
    OneOther,     // en, de and every language not listed: 0 for 1, else 1
    Single,       // hu, ko, zh, ja, tr
    ZeroOneOther, // fr, fa, pt_BR: 0 for 0 and 1, else 1
    Latvian,
    Irish,
    Lithuanian,
    Slavic, // ru, uk, hr
    CzechSlovak,
    Polish,
    Slovenian,
};

// Rule for a language code: its first two letters in lower case decide ("pt_br" as a whole).
TPluralRule PluralRuleFor(std::string_view code);

// Index of the form for n; n is taken as its absolute value.
int PluralIndex(TPluralRule rule, std::int32_t n);

} // namespace qrv::i18n
