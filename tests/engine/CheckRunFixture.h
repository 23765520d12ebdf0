#pragma once

// Real check runs against the loopback test server: a real server list and HTTP client, the
// recording window stand-in, and injected log, pause and tick sources that note themselves in
// the same record of effects, so that a test can compare the whole order.

#include "CheckRecorder.h"
#include "TestHttpServer.h"
#include "engine/CheckRun.h"
#include "engine/ServerList.h"
#include "engine/http/HttpClient.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace qrv::engine::testing {

using TEvents = std::vector<std::string>;

inline void Append(TEvents& events, const TEvents& more) {
    events.insert(events.end(), more.begin(), more.end());
}

// A server record as a test sets it up.
struct TServerSetup {
    std::string Name;
    std::string Url;
    bool Active = true;
    bool TimeoutEnabled = false;
    std::int32_t Timeout = 0;
    bool ResponseEnabled = false;
    std::string Response{};
    std::int32_t LoadTime = -1;
};

// What a run left in a record.
struct TRecordState {
    std::string Status;
    std::string Result;
    std::int32_t LoadTime = 0;
    bool operator==(const TRecordState&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const TRecordState& r) {
    return out << "{" << r.Status << ", " << r.Result << ", " << r.LoadTime << "}";
}

// The effects that open every run.
inline TEvents RunStart(bool verify) {
    TEvents e = {
        "action Add 0",        "action Edit 0",        "action Delete 0", "action Activate 0",
        "action Deactivate 0", "action ActivateAll 0", "grid 0",          "log system Checking..."};
    if (verify) {
        Append(e, {"status Verifying connection...", "fetch /verify"});
    }
    return e;
}

// The closing steps of every run, broken off or not.
inline TEvents RunClose(bool hasRecords) {
    const char* on = hasRecords ? " 1" : " 0";
    return {"grid 1",
            "timer 1",
            "action Add 1",
            std::string("action Edit") + on,
            std::string("action Delete") + on,
            std::string("action Activate") + on,
            std::string("action Deactivate") + on,
            "action ActivateAll 1"};
}

inline const std::string kOkHint = "Response of all websites OK. There was no problem.";
inline const std::string kProblemHint =
    "One or more websites problem. Unable to load or wrong response.";
inline const std::string kOfflineHint =
    "Unable to load verifying server. Websites monitoring stopped due to offline station.";

inline TEvents OutcomeAllOk() {
    return {"tray 0", "semaforhint " + kOkHint, "trayhint " + kOkHint, "status Completed",
            "semafor 0"};
}

inline TEvents OutcomeProblems(const std::string& countText) {
    return {"warning",
            "tray 1",
            "semaforhint " + kProblemHint,
            "trayhint " + kProblemHint,
            "status " + countText,
            "semafor 1"};
}

// One set-up for a run: a list, a client, a loopback server with a verify page, and the
// recorder. Tests make one per case.
class TCheckBench {
public:
    using TUiMode = TCheckRecorder::TUiMode;

    explicit TCheckBench(TUiMode mode = TUiMode::OwnThread) : view(mode) {
        view.OnUi([this] {
            list.CreateEmpty();
            list.SwitchOffJournal();
        });
        config.VerifyEnabled = true;
        config.VerifyURL = server.Url("/verify");
        config.BalloonLevel = 0;
        Page("/verify", 200, "online");
    }

    ~TCheckBench() {
        EXPECT_EQ(view.ForeignCalls(), 0) << "the server list was touched off the UI thread";
        EXPECT_EQ(view.Unserved(), 0);
    }

    TCheckBench(const TCheckBench&) = delete;
    TCheckBench& operator=(const TCheckBench&) = delete;

    // A route that notes "fetch <path>" in the record of effects, then answers.
    void Page(const std::string& path, int code, std::string body, test::THeaderList headers = {}) {
        server.Route(path, [this, path, code, body = std::move(body), headers = std::move(headers)](
                               const test::TRecordedRequest&, test::TTestConnection& connection) {
            view.Add("fetch " + path);
            connection.Send(test::Response(code, body, headers));
        });
    }

    void AddServers(const std::vector<TServerSetup>& servers) {
        view.OnUi([&] {
            for (const TServerSetup& s : servers) {
                list.Append();
                list.SetString(TField::Name, s.Name);
                list.SetString(TField::Status, "");
                list.SetString(TField::Result, "Waiting...");
                list.SetString(TField::Url, s.Url);
                list.SetBoolean(TField::Active, s.Active);
                list.SetInteger(TField::LoadTime, s.LoadTime);
                list.SetInteger(TField::Timeout, s.Timeout);
                list.SetBoolean(TField::TimeoutEnabled, s.TimeoutEnabled);
                list.SetString(TField::Response, s.Response);
                list.SetBoolean(TField::ResponseEnabled, s.ResponseEnabled);
                list.Post();
            }
        });
    }

    // From now on every post and move of the list is noted (and checked to be on the UI thread).
    void Watch() {
        view.OnUi([this] {
            list.OnAfterPost = [this] {
                view.CheckUiThread();
                view.Add("post " + list.AsString(TField::Name) + " " +
                         list.AsString(TField::Status) + " | " + list.AsString(TField::Result) +
                         " | " + std::to_string(list.AsInteger(TField::LoadTime)));
            };
            list.OnAfterScroll = [this] { view.CheckUiThread(); };
        });
        view.Clear();
    }

    TRecordState Record(const std::string& name) {
        TRecordState state{"(missing)", "", 0};
        view.OnUi([&] {
            for (int i = 0; i < list.RecordCount(); ++i) {
                if (list.AsStringAt(i, TField::Name) == name) {
                    state = {list.AsStringAt(i, TField::Status), list.AsStringAt(i, TField::Result),
                             list.AsIntegerAt(i, TField::LoadTime)};
                }
            }
        });
        return state;
    }

    TServerList::TState ListState() {
        TServerList::TState state{};
        view.OnUi([&] { state = list.State(); });
        return state;
    }

    void SetConfig(const std::function<void(TRunConfig&)>& change) {
        std::lock_guard lock(configMutex);
        change(config);
    }

    // Every tick is 7 ms after the one before, unless a test scripts them.
    std::uint32_t NextTick() {
        std::lock_guard lock(tickMutex);
        if (!scriptedTicks.empty()) {
            const std::uint32_t t = scriptedTicks.front();
            scriptedTicks.pop_front();
            return t;
        }
        tick += 7;
        return tick;
    }

    TCheckContext Context() {
        return TCheckContext{
            view,
            list,
            http,
            errors,
            [this] {
                std::lock_guard lock(configMutex);
                return config;
            },
            [this](std::string_view text, std::string_view category) {
                if (logHook) {
                    logHook(text, category);
                }
                view.Add("log " + std::string(category) + " " + std::string(text));
            },
            [this](int ms) {
                view.Add("pause " + std::to_string(ms));
                if (pauseHook) {
                    pauseHook();
                }
            },
            [this] { return NextTick(); },
        };
    }

    // One whole run, from start to its end.
    void RunOnce() {
        TQRVCheck check(Context());
        check.Start();
        check.WaitFor();
        EXPECT_TRUE(check.Finished());
    }

    TCheckRecorder view;
    TServerList list;
    TIdHTTP http;
    test::TTestHttpServer server;
    std::atomic<std::int32_t> errors{0};
    std::mutex configMutex;
    TRunConfig config;
    std::function<void(std::string_view, std::string_view)> logHook; // may throw
    std::function<void()> pauseHook;
    std::mutex tickMutex;
    std::uint32_t tick = 1000;
    std::deque<std::uint32_t> scriptedTicks;
};

} // namespace qrv::engine::testing
