#include "engine/RunOutcome.h"

#include "engine/TextFormat.h"
#include "i18n/Translate.h"

#include <string>

namespace qrv::engine {

using i18n::TranslateText;

namespace {

// Each balloon kind is shown when the level is greater than its threshold, so a level below 0
// behaves as 0 and one above 4 as 4 without clamping.
constexpr std::int32_t kOfflineBalloonThreshold = 3;
constexpr int kBalloonTimeoutMs = 5;

} // namespace

void ShowRunOutcome(ICheckView& view, TRunOutcome outcome, std::int32_t runErrorCount,
                    std::int32_t balloonLevel) {
    int image = 0;
    switch (outcome) {
    case roProblems: {
        view.ShowWarningButton();
        view.SetTrayImage(1);
        const std::string hint =
            TranslateText("One or more websites problem. Unable to load or wrong response.");
        view.SetSemaforHint(hint);
        view.SetTrayHint(hint);
        const std::string count = i18n::TranslatePlural("Completed with %s error!",
                                                        "Completed with %s errors!", runErrorCount);
        view.SetStatusText(FormatText(count, {std::to_string(runErrorCount)}));
        image = 1;
        break;
    }
    case roAllOk: {
        view.SetTrayImage(0);
        const std::string hint =
            TranslateText("Response of all websites OK. There was no problem.");
        view.SetSemaforHint(hint);
        view.SetTrayHint(hint);
        view.SetStatusText(TranslateText("Completed"));
        image = 0;
        break;
    }
    case roOffline: {
        view.SetTrayImage(2);
        const std::string hint = TranslateText("Unable to load verifying server. Websites "
                                               "monitoring stopped due to offline station.");
        view.SetSemaforHint(hint);
        if (balloonLevel > kOfflineBalloonThreshold) {
            view.SetTrayHint(hint);
            view.ShowBalloon(TranslateText("Offline"),
                             TranslateText("Unable to check servers. You are probably offline."),
                             kBalloonTimeoutMs, TBalloonIcon::Warning);
        }
        view.SetStatusText(TranslateText("Offline!"));
        image = 2;
        break;
    }
    default:
        return;
    }
    view.SetSemaforImage(image);
}

} // namespace qrv::engine
