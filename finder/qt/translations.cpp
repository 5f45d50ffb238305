#include "finder/qt/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace finder_qt {

std::unique_ptr<QTranslator> LoadWindowTranslation(const QLocale& locale) {
    if (locale.language() == QLocale::Japanese) {
        return nullptr;
    }
    auto english = std::make_unique<QTranslator>();
    if (!english->load(QStringLiteral(":/i18n/solberio-finder_en.qm"))) {
        return nullptr;
    }
    return english;
}

void InstallTranslations(QCoreApplication& app, const QLocale& locale) {
    // Qt's own texts (the message box's buttons), where the system has them.
    auto* qtTexts = new QTranslator(&app);
    if (qtTexts->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qtTexts);
    }
    if (std::unique_ptr<QTranslator> window = LoadWindowTranslation(locale)) {
        window->setParent(&app);
        QCoreApplication::installTranslator(window.release());
    }
}

}  // namespace finder_qt
