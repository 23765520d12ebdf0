#include "shell/app/StartUp.h"

#include "engine/TextFormat.h"
#include "i18n/Translate.h"
#include "platform/Paths.h"
#include "shell/AppConfig.h"
#include "shell/EventLog.h"

#include <exception>

namespace qrv::gui {

namespace {

using TListField = engine::TField;

std::string T(std::string_view text) {
    return i18n::TranslateText(text);
}

} // namespace

void StartUp(IStartUpWindow& window) {
    try {
        shell::LoadConfig();
    } catch (const std::exception&) {
        bool written = true;
        try {
            shell::WriteDefaultConfig();
        } catch (const std::exception&) {
            written = false;
        }
        try {
            // There is no log file object yet; a line that cannot go anywhere is dropped.
            shell::WriteLog(T("Default configuration used"), "system");
        } catch (const std::exception&) {
        }
        window.ShowNotice(T("Application notification"), T("Default configuration used"));
        bool loaded = written;
        if (written) {
            try {
                shell::LoadConfig();
            } catch (const std::exception&) {
                loaded = false;
            }
        }
        if (!loaded) {
            window.FatalStop(T("Unabled to write default configuration. Application stopped!"));
        }
    }

    const shell::TAppConfig config = shell::AppConfig();
    i18n::SelectLanguage(config.Language);
    window.SetCheckInterval(config.CheckInterval);
    window.SetHttpsEnabled(config.HttpsEnabled);
    window.ArmCheckTimer();
    window.ShowModePicture();
    shell::CreateLogFileObject(config.LogFile);
    if (config.HotkeyEnabled) {
        window.RegisterHotKey();
    }

    // A save broken off by a kill leaves its temporary file beside the list; only one instance
    // runs, so any such file of this user is a leftover.
    engine::TServerList& setServer = window.ServerList();
    const std::string& listPath = window.ListPath();
    platform::RemoveLeftoverTemporaries(platform::DirectoryOf(listPath));
    setServer.SetFileName(listPath);
    try {
        setServer.Open();
    } catch (const std::exception& openError) {
        const std::string kept = openError.what();
        window.PreserveUnreadableList();
        try {
            setServer.CreateEmpty();
            setServer.SaveToFile(listPath);
            setServer.Open();
        } catch (const std::exception&) {
            window.FatalStop(T("Unabled to create URL list. Application stopped!"));
        }
        window.ShowNotice(T("Application notification"),
                          T("Dataset does not exist. File recreated."));
        try {
            shell::WriteLog(
                engine::FormatText(T("Dataset does not exist. File recreated: %s"), {kept}),
                "system");
        } catch (const std::exception&) {
            // The log has told the user that it cannot be written; the new list still gets its
            // example server, or a user whose log is unusable would start with an empty list.
        }
        setServer.Append();
        setServer.SetString(TListField::Name, "Ostrelle");
        setServer.SetString(TListField::Url, std::string(QRV_VENDOR_URL) + "/");
        setServer.SetInteger(TListField::Timeout, 300);
        setServer.SetBoolean(TListField::Active, true);
        setServer.Post();
    }
    setServer.SwitchOffJournal();

    if (setServer.RecordCount() == 0) {
        window.DisableRecordActions();
    }

    setServer.First();
    while (!setServer.Eof()) {
        setServer.Edit();
        setServer.SetString(TListField::Status, "");
        setServer.SetString(TListField::Result, T("Waiting..."));
        setServer.SetInteger(TListField::LoadTime, -1);
        setServer.Post();
        setServer.Next();
    }

    window.StartUpdateCheck();
}

void ApplySettings(IStartUpWindow& window) {
    window.UnregisterHotKey();
    const shell::TAppConfig config = shell::AppConfig();
    if (config.HotkeyEnabled) {
        window.RegisterHotKey();
    }
    window.SetCheckInterval(config.CheckInterval);
    window.SetHttpsEnabled(config.HttpsEnabled);
    i18n::SelectLanguage(config.Language);
    window.RetranslateWindows();
}

} // namespace qrv::gui
