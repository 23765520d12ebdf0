#include "GuiTestSupport.h"

#include "i18n/Translate.h"
#include "platform/Registry.h"
#include "shell/AppConfig.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QThread>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qrv::test {

void TGuiTest::SetUp() {
    std::string pattern = (fs::temp_directory_path() / "qrv-gui-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "config");
    ::setenv("XDG_CONFIG_DIRS", (dir_ / "config").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir_ / "home").c_str(), 1);
    // The defaults put the log beside "the executable": here, the test's own folder.
    shell::SetExecutablePathForTesting((dir_ / "quorvane").string());
    gui::MessageBoxSeam::Reset();
    gui::MessageBoxSeam::SetUnattended(true);

    options_ = {};
    options_.ServerListPath = ListPath().string();
    options_.Pause = [](int) {};
    options_.UpdateCheck = false;
    options_.FatalStop = [this] { fatalStop_ = true; };
}

void TGuiTest::TearDown() {
    Stop();
    i18n::SelectLanguage("en");
    shell::SetExecutablePathForTesting("");
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

void TGuiTest::WriteConfig(const std::vector<TConfigValue>& values) {
    shell::WriteDefaultConfig();
    auto key = platform::TRegistryKey::Create(shell::kConfigKey, true);
    ASSERT_TRUE(key);
    for (const TConfigValue& value : values) {
        if (value.Text) {
            ASSERT_TRUE(key->SetString(value.Name, *value.Text));
        } else if (value.Dword) {
            ASSERT_TRUE(key->SetDword(value.Name, *value.Dword));
        } else {
            ASSERT_TRUE(key->DeleteValue(value.Name));
        }
    }
}

void TGuiTest::WriteList(const std::vector<TServerRow>& rows) {
    engine::TServerList list;
    list.SetFileName(ListPath().string());
    list.CreateEmpty();
    list.SwitchOffJournal();
    for (const TServerRow& row : rows) {
        list.Append();
        list.SetString(engine::TField::Name, row.Name);
        list.SetString(engine::TField::Url, row.Url);
        list.SetBoolean(engine::TField::Active, row.Active);
        if (row.Timeout) {
            list.SetInteger(engine::TField::Timeout, *row.Timeout);
            list.SetBoolean(engine::TField::TimeoutEnabled, true);
        }
        if (row.Response) {
            list.SetString(engine::TField::Response, *row.Response);
            list.SetBoolean(engine::TField::ResponseEnabled, true);
        }
        list.Post();
    }
    list.SaveToFile(ListPath().string());
}

gui::TMainForm& TGuiTest::Start() {
    program_ = std::make_unique<gui::TProgram>(options_);
    return program_->MainForm();
}

void TGuiTest::Stop() {
    program_.reset();
}

void TGuiTest::RunCheck() {
    Form().StartCheckRun();
    ASSERT_TRUE(WaitUntil([this] { return !Form().RunInProgress(); }));
    QApplication::processEvents();
}

bool TGuiTest::WaitUntil(const std::function<bool()>& done, int boundMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > boundMs) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

std::vector<gui::TMessageRecord> TGuiTest::Boxes() {
    return gui::MessageBoxSeam::TakeShown();
}

std::vector<std::string> TGuiTest::ListRows() {
    using engine::TField;
    engine::TServerList& list = Form().setServer;
    std::vector<std::string> rows;
    for (int i = 0; i < list.RecordCount(); ++i) {
        rows.push_back(list.AsStringAt(i, TField::Name) + "|" + list.AsStringAt(i, TField::Status) +
                       "|" + list.AsStringAt(i, TField::Result) + "|" +
                       std::to_string(list.AsIntegerAt(i, TField::LoadTime)) + "|" +
                       (list.AsBooleanAt(i, TField::Active) ? "on" : "off"));
    }
    return rows;
}

QImage TGuiTest::GridImage() {
    Form().show();
    QApplication::processEvents();
    return Form().gridLink->viewport()->grab().toImage();
}

QColor TGuiTest::CellPixel(const QImage& image, int row, int column, int dx, int dy) {
    const QRect cell = Form().gridLink->visualRect(Form().GridModel().index(row, column));
    const qreal scale = image.devicePixelRatio();
    return image.pixelColor(static_cast<int>((cell.left() + dx) * scale),
                            static_cast<int>((cell.top() + dy) * scale));
}

std::string TGuiTest::ReadLog() const {
    std::ifstream in(LogPath(), std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

} // namespace qrv::test
