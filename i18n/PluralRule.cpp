#include "i18n/PluralRule.h"

#include "platform/AsciiText.h"

#include <cstdlib>
#include <string>

namespace qrv::i18n {

using platform::AsciiLower;

namespace {

bool TeensExcluded(std::int64_t n) {
    return n % 100 < 10 || n % 100 >= 20;
}

} // namespace

TPluralRule PluralRuleFor(std::string_view code) {
    const std::string lower = AsciiLower(code);
    if (lower == "pt_br") {
        return TPluralRule::ZeroOneOther;
    }
    const std::string lang = lower.substr(0, 2);
    if (lang == "hu" || lang == "ko" || lang == "zh" || lang == "ja" || lang == "tr") {
        return TPluralRule::Single;
    }
    if (lang == "fr" || lang == "fa") {
        return TPluralRule::ZeroOneOther;
    }
    if (lang == "lv") {
        return TPluralRule::Latvian;
    }
    if (lang == "ga") {
        return TPluralRule::Irish;
    }
    if (lang == "lt") {
        return TPluralRule::Lithuanian;
    }
    if (lang == "ru" || lang == "uk" || lang == "hr") {
        return TPluralRule::Slavic;
    }
    if (lang == "cs" || lang == "sk") {
        return TPluralRule::CzechSlovak;
    }
    if (lang == "pl") {
        return TPluralRule::Polish;
    }
    if (lang == "sl") {
        return TPluralRule::Slovenian;
    }
    return TPluralRule::OneOther;
}

int PluralIndex(TPluralRule rule, std::int32_t value) {
    // 64 bits, so that the absolute value of the smallest 32-bit number fits.
    const std::int64_t n = std::llabs(static_cast<long long>(value));
    switch (rule) {
    case TPluralRule::Single:
        return 0;
    case TPluralRule::ZeroOneOther:
        return n <= 1 ? 0 : 1;
    case TPluralRule::Latvian:
        return (n % 10 == 1 && n % 100 != 11) ? 0 : (n != 0 ? 1 : 2);
    case TPluralRule::Irish:
        return n == 1 ? 0 : (n == 2 ? 1 : 2);
    case TPluralRule::Lithuanian:
        if (n % 10 == 1 && n % 100 != 11) {
            return 0;
        }
        return (n % 10 >= 2 && TeensExcluded(n)) ? 1 : 2;
    case TPluralRule::Slavic:
        if (n % 10 == 1 && n % 100 != 11) {
            return 0;
        }
        return (n % 10 >= 2 && n % 10 <= 4 && TeensExcluded(n)) ? 1 : 2;
    case TPluralRule::CzechSlovak:
        return n == 1 ? 0 : ((n >= 2 && n <= 4) ? 1 : 2);
    case TPluralRule::Polish:
        if (n == 1) {
            return 0;
        }
        return (n % 10 >= 2 && n % 10 <= 4 && TeensExcluded(n)) ? 1 : 2;
    case TPluralRule::Slovenian:
        switch (n % 100) {
        case 1:
            return 0;
        case 2:
            return 1;
        case 3:
        case 4:
            return 2;
        default:
            return 3;
        }
    case TPluralRule::OneOther:
        break;
    }
    return n == 1 ? 0 : 1;
}

} // namespace qrv::i18n
