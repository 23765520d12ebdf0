// A small program that carries the shipped catalogues the way the real program does, so that
// tests can run a copy of it far from any "locale" folder.
//
//   qrv_catalogue_probe [--list | --select <code> | <text>]...
//
// --list prints "language <code>" per language; --select selects a language ("" for the
// start-up one); --replace-self <file> renames the file over this program's own path, as a
// package upgrade does while the program runs; any other argument prints "text <translation>".
// A localisation notice prints "notice <caption>: <text>".
#include "i18n/Translate.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv) {
    qrv::i18n::SetLocalizationNotifier([](const std::string& caption, const std::string& text) {
        std::printf("notice %s: %s\n", caption.c_str(), text.c_str());
    });
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--list") {
                for (const auto& code : qrv::i18n::ListLanguages()) {
                    std::printf("language %s\n", code.c_str());
                }
            } else if (arg == "--select" && i + 1 < argc) {
                qrv::i18n::SelectLanguage(argv[++i]);
            } else if (arg == "--replace-self" && i + 1 < argc) {
                if (std::rename(argv[++i], argv[0]) != 0) {
                    std::printf("error cannot replace %s\n", argv[0]);
                    return 1;
                }
            } else {
                std::printf("text %s\n", qrv::i18n::TranslateText(arg).c_str());
            }
        }
    } catch (const std::exception& e) {
        std::printf("error %s\n", e.what());
        return 1;
    }
    return 0;
}
