#pragma once

#include <QTranslator>

#include <memory>

class QCoreApplication;
class QLocale;

namespace qrv::i18n {

// Passes the toolkit's own texts ("&Yes", "OK", the context menu of a text box) through the
// catalogue lookup first: a text the current catalogue holds is answered from it, every other
// text is left to the next translator.
class TCatalogueTranslator : public QTranslator {
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* sourceText, const char* disambiguation,
                      int n) const override;
};

// The toolkit's own translations for `locale` (qtbase_<language>.qm from Qt's translations
// folder, which Debian ships in qt6-translations-l10n); nullptr when there are none.
std::unique_ptr<QTranslator> LoadToolkitTranslations(const QLocale& locale);

// Installs both on `app`, the catalogue's consulted first, as the described platform draws its
// message boxes in the system's language. The translators live as long as the application.
void InstallToolkitTranslation(QCoreApplication& app);

} // namespace qrv::i18n
