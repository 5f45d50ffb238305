// solberio-finder: the desktop finder for Linux.
//
// Options besides --help and --version, for tests and the benchmark:
//   --trace              print the window's events on standard output, one
//                        tab-separated line each, with wall-clock milliseconds
//                        since the epoch:
//                          window <id>
//                          row    <ms> <index> <address> <name>
//                          end    <ms> <rows> <peak resident KiB>
//   --quit-after-search  end once the first search has ended
#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QIcon>
#include <QTreeWidget>
#include <chrono>
#include <cstdio>

#include "finder/discovery/search_log.h"
#include "finder/qt/finder_window.h"
#include "finder/qt/single_instance.h"
#include "finder/qt/translations.h"
#include "product_version.h"

namespace {

void Trace(const QString& line) {
    const QByteArray bytes = line.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Wall-clock milliseconds since the epoch, to a tenth.
QString Now() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    return QString::number(std::chrono::duration<double, std::milli>(since).count(), 'f', 1);
}

// VmHWM of this process in KiB, or -1.
long PeakResidentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("solberio-finder"));
    QApplication::setApplicationVersion(QStringLiteral(SL_PRODUCT_VERSION_TEXT));
    QApplication::setDesktopFileName(QStringLiteral("solberio-finder"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/solberio-finder.png")));
    finder_qt::InstallTranslations(app, QLocale());

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Finds the storage devices on the local network."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption trace(QStringLiteral("trace"),
                                   QStringLiteral("Print the window's events (for tests)."));
    const QCommandLineOption quitAfter(QStringLiteral("quit-after-search"),
                                       QStringLiteral("End once the first search has ended."));
    parser.addOption(trace);
    parser.addOption(quitAfter);
    parser.process(app);

    SingleInstance instance(SingleInstance::DefaultKey());
    if (!instance.Claim()) {
        return 0;
    }

    // The desktop finder keeps no trace of its searches.
    SetLogEnabled(false);
    FinderWindow window;
    QObject::connect(&instance, &SingleInstance::raiseRequested, &window, &FinderWindow::Raise);
    if (parser.isSet(trace)) {
        QObject::connect(
            &window, &FinderWindow::rowAdded,
            [](int row, const QString& name, const QString& address) {
                Trace(QStringLiteral("row\t%1\t%2\t%3\t%4").arg(Now()).arg(row).arg(address, name));
            });
        QObject::connect(&window, &FinderWindow::searchFinished, [&window] {
            Trace(QStringLiteral("end\t%1\t%2\t%3")
                      .arg(Now())
                      .arg(window.List()->topLevelItemCount())
                      .arg(PeakResidentKiB()));
        });
    }
    if (parser.isSet(quitAfter)) {
        QObject::connect(&window, &FinderWindow::searchFinished, &app, &QApplication::quit,
                         Qt::QueuedConnection);
    }
    window.show();
    if (parser.isSet(trace)) {
        Trace(QStringLiteral("window\t0x%1").arg(window.winId(), 0, 16));
    }
    return app.exec();
}
