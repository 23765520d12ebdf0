#include "i18n/qt/ToolkitTranslation.h"

#include "i18n/Translate.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QString>

#include <cstring>
#include <string>

namespace qrv::i18n {

QString TCatalogueTranslator::translate(const char* /*context*/, const char* sourceText,
                                        const char* /*disambiguation*/, int /*n*/) const {
    if (sourceText == nullptr || *sourceText == '\0') {
        return {};
    }
    const std::string translated = TranslateText(sourceText);
    if (translated == sourceText) {
        return {}; // not ours: the next translator answers
    }
    return QString::fromStdString(translated);
}

std::unique_ptr<QTranslator> LoadToolkitTranslations(const QLocale& locale) {
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        return nullptr;
    }
    return translator;
}

void InstallToolkitTranslation(QCoreApplication& app) {
    // Installed later means asked first.
    if (auto toolkit = LoadToolkitTranslations(QLocale::system())) {
        toolkit->setParent(&app);
        QCoreApplication::installTranslator(toolkit.release());
    }
    auto* ours = new TCatalogueTranslator(&app);
    QCoreApplication::installTranslator(ours);
}

} // namespace qrv::i18n
