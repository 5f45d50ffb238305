// The window speaks Japanese, the language of its source texts, and English
// for every other locale.
#pragma once

#include <QLocale>
#include <QTranslator>
#include <memory>

class QCoreApplication;

namespace finder_qt {

// The window's English texts when locale is not Japanese, else null.
std::unique_ptr<QTranslator> LoadWindowTranslation(const QLocale& locale);

// Installs the window's and Qt's own translations for locale into app, which
// keeps them.
void InstallTranslations(QCoreApplication& app, const QLocale& locale);

}  // namespace finder_qt
