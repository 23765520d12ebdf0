#pragma once

// The window tests: each builds the five windows over a folder of its own (configuration,
// server list, log), offscreen, with every message box answered by the seam and the check
// run's pauses cut to nothing.

#include "engine/ServerList.h"
#include "shell/app/MainForm.h"
#include "shell/app/Program.h"
#include "shell/app/ServerGrid.h"
#include "shell/window/MessageBox.h"

#include <QImage>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qrv::test {

namespace fs = std::filesystem;

// One server as a test writes it into the list file.
struct TServerRow {
    TServerRow(std::string name, std::string url = "http://127.0.0.1:1/", bool active = true)
        : Name(std::move(name)), Url(std::move(url)), Active(active) {}
    TServerRow(const char* name) : TServerRow(std::string(name)) {}

    std::string Name;
    std::string Url;
    bool Active;
    std::optional<std::int32_t> Timeout;
    std::optional<std::string> Response;
};

// A configuration value to put over the defaults: a text (REG_SZ) or a flag/number (REG_DWORD).
struct TConfigValue {
    std::string Name;
    std::optional<std::string> Text;
    std::optional<std::uint32_t> Dword;
};

class TGuiTest : public ::testing::Test {
public:
    void SetUp() override;
    void TearDown() override;

    // The defaults of a first start, then `values` over them.
    void WriteConfig(const std::vector<TConfigValue>& values = {});
    // A list file holding `rows` (in this order), written by the list itself.
    void WriteList(const std::vector<TServerRow>& rows);
    // Creates the five windows, as the program entry does.
    gui::TMainForm& Start();
    void Stop(); // destroys the windows (the list is saved)

    gui::TMainForm& Form() { return program_->MainForm(); }
    gui::TProgram& Program() { return *program_; }

    // Runs one check to its end, serving the event loop meanwhile (bounded).
    void RunCheck();
    // Turns the event loop until `done` holds (bounded); returns done().
    static bool WaitUntil(const std::function<bool()>& done, int boundMs = 20000);

    // The boxes asked for since the last call.
    static std::vector<gui::TMessageRecord> Boxes();

    // Every posted record as "Name|Status|Result|LoadTime|Active", in Name order.
    std::vector<std::string> ListRows();

    // The grid as it is painted now.
    QImage GridImage();
    // The colour painted at `dx`, `dy` inside a cell.
    QColor CellPixel(const QImage& image, int row, int column, int dx, int dy);

    fs::path Dir() const { return dir_; }
    fs::path ListPath() const { return dir_ / "QRV.xml"; }
    fs::path LogPath() const { return dir_ / "QRV.log"; }
    std::string ReadLog() const;

    gui::TMainFormOptions options_;
    bool fatalStop_ = false;

private:
    fs::path dir_;
    std::unique_ptr<gui::TProgram> program_;
};

} // namespace qrv::test
