#include "engine/RunOutcome.h"

#include "CheckRecorder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qrv::engine;
using qrv::engine::testing::TCheckRecorder;

namespace {

const std::string kOkHint = "Response of all websites OK. There was no problem.";
const std::string kProblemHint = "One or more websites problem. Unable to load or wrong response.";
const std::string kOfflineHint =
    "Unable to load verifying server. Websites monitoring stopped due to offline station.";

std::vector<std::string> AllOk() {
    return {"tray 0", "semaforhint " + kOkHint, "trayhint " + kOkHint, "status Completed",
            "semafor 0"};
}

std::vector<std::string> Problems(const std::string& status) {
    return {
        "warning",          "tray 1",   "semaforhint " + kProblemHint, "trayhint " + kProblemHint,
        "status " + status, "semafor 1"};
}

std::vector<std::string> OfflineQuiet() {
    return {"tray 2", "semaforhint " + kOfflineHint, "status Offline!", "semafor 2"};
}

std::vector<std::string> OfflineWithBalloon() {
    return {"tray 2",
            "semaforhint " + kOfflineHint,
            "trayhint " + kOfflineHint,
            "balloon Offline | Unable to check servers. You are probably offline. | 5 | warning",
            "status Offline!",
            "semafor 2"};
}

TEST(ShowRunOutcome, ShowsEachOutcomeInOrderForEveryBalloonLevel) {
    struct Case {
        int outcome;
        std::int32_t errors;
        std::int32_t level;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {roAllOk, 0, -1, AllOk()},
        {roAllOk, 0, 0, AllOk()},
        {roAllOk, 0, 4, AllOk()},
        {roAllOk, 0, 7, AllOk()}, // an all-OK run never raises a balloon
        {roAllOk, 5, 4, AllOk()}, // the count is only read for problems
        {roProblems, 1, 0, Problems("Completed with 1 error!")},
        {roProblems, 3, 0, Problems("Completed with 3 errors!")},
        {roProblems, 2, 7, Problems("Completed with 2 errors!")},
        {roProblems, 21, 4, Problems("Completed with 21 errors!")},
        {roProblems, 1, -1, Problems("Completed with 1 error!")},
        {roOffline, 0, -1, OfflineQuiet()},
        {roOffline, 0, 0, OfflineQuiet()},
        {roOffline, 0, 1, OfflineQuiet()},
        {roOffline, 0, 2, OfflineQuiet()},
        {roOffline, 0, 3, OfflineQuiet()}, // the tray hint keeps what it had
        {roOffline, 0, 4, OfflineWithBalloon()},
        {roOffline, 0, 7, OfflineWithBalloon()},
        {roOffline, 9, 2147483647, OfflineWithBalloon()},
        {0, 1, 4, {}}, // not an outcome: nothing changes
        {4, 1, 4, {}},
    };
    for (const Case& c : cases) {
        TCheckRecorder view;
        ShowRunOutcome(view, static_cast<TRunOutcome>(c.outcome), c.errors, c.level);
        EXPECT_EQ(view.Events(), c.expected)
            << "outcome " << c.outcome << ", errors " << c.errors << ", level " << c.level;
    }
}

TEST(ShowRunOutcome, WarningButtonIsOnlyEverShownNeverHidden) {
    // A problem run followed by an all-OK run: green again, but the warning stays (the view
    // is never told to hide it).
    TCheckRecorder view;
    ShowRunOutcome(view, roProblems, 1, 0);
    ShowRunOutcome(view, roAllOk, 0, 0);
    ShowRunOutcome(view, roOffline, 0, 4);
    EXPECT_EQ(view.EventsStartingWith("warning"), std::vector<std::string>{"warning"});
    EXPECT_EQ(view.EventsStartingWith("tray "),
              (std::vector<std::string>{"tray 1", "tray 0", "tray 2"}));
}

} // namespace
