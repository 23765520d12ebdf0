#include "DialogTestSupport.h"

#include "i18n/CatalogueService.h"
#include "i18n/Translate.h"

#include <sys/stat.h>

namespace qrv::test {

namespace {

std::string PoQuote(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

void BuildCatalogue(const fs::path& root, const std::string& code,
                    const std::vector<std::pair<std::string, std::string>>& pairs) {
    const fs::path po = root / (code + ".po");
    std::string text = "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n\n";
    for (const auto& [english, translated] : pairs) {
        text += "msgid " + PoQuote(english) + "\nmsgstr " + PoQuote(translated) + "\n\n";
    }
    WriteText(po, text);
    const fs::path mo = root / "locale" / code / "LC_MESSAGES" / "default.mo";
    fs::create_directories(mo.parent_path());
    const std::string command = "msgfmt -o '" + mo.string() + "' '" + po.string() + "'";
    if (std::system(command.c_str()) != 0) {
        throw std::runtime_error("msgfmt failed for " + po.string());
    }
}

} // namespace

void UseTestCatalogues(const TTempDir& dir,
                       const std::vector<std::pair<std::string, std::string>>& czech) {
    BuildCatalogue(dir.Path(), "cs", czech);
    BuildCatalogue(dir.Path(), "en", {});
    i18n::ReplaceCatalogueService({dir.Str(), "", 0, "en", ""});
    i18n::SelectLanguage("en");
}

TRecordingOpener::TRecordingOpener() : log_(dir_.Path() / "opened.txt") {
    const fs::path script = dir_.Path() / "opener.sh";
    WriteText(script, "#!/bin/sh\nprintf '%s|%s\\n' \"$#\" \"$1\" >> '" + log_.string() + "'\n");
    ::chmod(script.c_str(), 0700);
    ::setenv("QRV_OPENER", script.c_str(), 1);
}

TRecordingOpener::~TRecordingOpener() {
    ::unsetenv("QRV_OPENER");
}

std::vector<std::string> TRecordingOpener::Lines(std::size_t count) {
    std::vector<std::string> lines;
    WaitFor([&] {
        lines.clear();
        std::istringstream in(ReadText(log_));
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines.size() >= count;
    });
    return lines;
}

} // namespace qrv::test
