// The desktop finder's window over a scripted network: rows as the worker
// reports them, the 設定 rules, the URL it hands over, and closing during a
// search.
#include "finder/qt/finder_window.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "finder/discovery/search_log.h"
#include "finder/qt/targets_dialog.h"
#include "finder/qt/translations.h"
#include "finder/qt/wake_dialog.h"
#include "tests/unit/fake_network.h"

using namespace std::chrono_literals;

namespace {

FakeDatagram Answer(const std::string& sender, const std::string& name) {
    return {sender,
            "HTTP/1.1 200 OK\r\nSERVER: Linux/5.10, UPnP/1.0, HomeNas/" + name + "/1.0\r\n\r\n"};
}

// Holds the worker at each wait until the test lets that wait pass (at most
// 5 s, so a failing test cannot hang).
class Gate {
  public:
    void Open() {
        std::lock_guard lock(mutex_);
        ++opened_;
        changed_.notify_all();
    }
    void OpenAll() {
        std::lock_guard lock(mutex_);
        opened_ = 1000;
        changed_.notify_all();
    }
    void Pass(int wait) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 5s, [&] { return opened_ > wait; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int opened_ = 0;
};

// Two devices answer in the first two cycles; the third is silent.
SearchBridge::NetworkFactory TwoDevices(Gate* gate) {
    return [gate] {
        auto net = std::make_unique<FakeNetwork>();
        net->unicast = {"198.18.0.1"};
        // The first name in code page 932, as devices send it: "ストレージ一号".
        net->arrivals = {
            {{0, Answer("198.18.1.1", "\x83\x58\x83\x67\x83\x8C\x81\x5B\x83\x57\x88\xEA\x8D\x86")}},
            {{0, Answer("198.18.1.2", "NAS-2")}}};
        net->onWait = [gate](int wait) { gate->Pass(wait); };
        return net;
    };
}

// A search that finds nothing; sends holds what every search of it sent.
struct Silent {
    std::vector<std::string> unicast{"198.18.0.1"};
    std::shared_ptr<std::vector<std::uint32_t>> sends =
        std::make_shared<std::vector<std::uint32_t>>();
    SearchBridge::NetworkFactory Factory() const {
        return [unicast = unicast, sends = sends] {
            auto net = std::make_unique<FakeNetwork>();
            net->unicast = unicast;
            net->onSend = [raw = net.get(), sends] { sends->push_back(raw->sends.back().address); };
            return net;
        };
    }
};

QStringList MenuTexts(QMenu* menu) {
    QStringList texts;
    for (QAction* action : menu->actions()) {
        texts.push_back(action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    return texts;
}

// A screenshot of the widget when the run keeps them.
void Keep(QWidget* widget, const char* name) {
    const QByteArray dir = qgetenv("SL_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        QDir().mkpath(QString::fromUtf8(dir));
        widget->grab().save(QString::fromUtf8(dir) + QLatin1Char('/') + QLatin1String(name));
    }
}

QStringList Row(QTreeWidget* list, int row) {
    return {list->topLevelItem(row)->text(0), list->topLevelItem(row)->text(1)};
}

}  // namespace

class FinderWindowTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir dir_;

  private slots:
    void initTestCase() { SetLogEnabled(false); }

    void RowsAppearAsDevicesAnswer() {
        Gate gate;
        FinderWindow window({}, TwoDevices(&gate));
        window.show();
        QTRY_VERIFY(window.Searching());
        QCOMPARE(window.RefreshButton()->text(), QStringLiteral("検索中..."));
        QVERIFY(!window.RefreshButton()->isEnabled());
        QCOMPARE(window.List()->topLevelItemCount(), 0);

        gate.Open();
        QTRY_COMPARE(window.List()->topLevelItemCount(), 1);
        QCOMPARE(Row(window.List(), 0), QStringList({"ストレージ一号", "198.18.1.1"}));
        QVERIFY(window.Searching());

        gate.Open();
        QTRY_COMPARE(window.List()->topLevelItemCount(), 2);
        QCOMPARE(Row(window.List(), 1), QStringList({"NAS-2", "198.18.1.2"}));

        gate.Open();  // the silent cycle ends the search
        QTRY_VERIFY(!window.Searching());
        QVERIFY(window.RefreshButton()->isEnabled());
        QCOMPARE(window.RefreshButton()->text(), QStringLiteral("更新"));
        // 設定 waits for a selection made after the search.
        QVERIFY(!window.SettingsButton()->isEnabled());
        window.List()->topLevelItem(1)->setSelected(true);
        QVERIFY(window.SettingsButton()->isEnabled());

        // 更新 searches again from an empty list.
        gate.OpenAll();
        QSignalSpy ended(&window, &FinderWindow::searchFinished);
        QTest::mouseClick(window.RefreshButton(), Qt::LeftButton);
        QTRY_COMPARE(ended.count(), 1);
        QCOMPARE(window.List()->topLevelItemCount(), 2);
    }

    void SettingsOpensTheUpperSelectedDevice() {
        Gate gate;
        QList<QUrl> opened;
        FinderWindow window([&opened](const QUrl& url) { opened.append(url); }, TwoDevices(&gate));
        window.show();
        gate.Open();
        QTRY_COMPARE(window.List()->topLevelItemCount(), 1);
        // During the search a selection enables nothing and Ctrl+O opens nothing.
        window.List()->topLevelItem(0)->setSelected(true);
        QVERIFY(!window.SettingsButton()->isEnabled());
        window.OpenFromCommand();
        QVERIFY(opened.isEmpty());

        gate.OpenAll();
        QTRY_VERIFY(!window.Searching());
        // A selection made during the search enables 設定 at its end.
        QVERIFY(window.SettingsButton()->isEnabled());
        QTest::mouseClick(window.SettingsButton(), Qt::LeftButton);
        QCOMPARE(opened, QList<QUrl>({QUrl("http://198.18.1.1/")}));

        // Two rows selected: the upper one opens, by Ctrl+O and by a double-click.
        window.List()->topLevelItem(1)->setSelected(true);
        QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
        QCOMPARE(opened.size(), 2);
        QCOMPARE(opened.last(), QUrl("http://198.18.1.1/"));
        window.List()->clearSelection();
        const QRect second = window.List()->visualItemRect(window.List()->topLevelItem(1));
        QTest::mouseClick(window.List()->viewport(), Qt::LeftButton, {}, second.center());
        QTest::mouseDClick(window.List()->viewport(), Qt::LeftButton, {}, second.center());
        QCOMPARE(opened.size(), 3);
        QCOMPARE(opened.last(), QUrl("http://198.18.1.2/"));
    }

    void ClosingDuringASearchHidesTheWindowAtOnce() {
        // A device answers in every cycle and each wait takes 2 s, as a real
        // cycle with a device answering every 2 s does.
        std::atomic<int> waits{0};
        auto makeNetwork = [&waits] {
            auto net = std::make_unique<FakeNetwork>();
            net->unicast = {"198.18.0.1"};
            for (int i = 0; i < 20; ++i) {
                net->arrivals.push_back({{0, Answer("198.18.1.1", "Busy")}});
            }
            net->onWait = [&waits](int wait) {
                ++waits;
                if (wait > 0) {
                    std::this_thread::sleep_for(2s);
                }
            };
            return net;
        };
        auto window = std::make_unique<FinderWindow>(FinderWindow::UrlOpener{}, makeNetwork);
        window->show();
        QTRY_COMPARE(window->List()->topLevelItemCount(), 1);
        QTRY_COMPARE(waits.load(), 2);  // the worker is inside a wait now

        const auto closing = std::chrono::steady_clock::now();
        window->close();
        QVERIFY(!window->isVisible());
        QVERIFY(std::chrono::steady_clock::now() - closing < 1s);
        // Destroying the window waits for the worker, which stops after that
        // wait without starting another.
        window.reset();
        QCOMPARE(waits.load(), 2);
    }

    // 設定, the two actions on a device only with a selection, a separator,
    // 検索先を指定...; smb://ADDRESS/ to the opener, the address to the clipboard.
    void ContextMenuActionsOnTheSelectedDevice() {
        Gate gate;
        gate.OpenAll();
        QList<QUrl> opened;
        FinderWindow window([&opened](const QUrl& url) { opened.append(url); }, TwoDevices(&gate));
        window.SetTargetsFile(dir_.filePath("menu.ini"));
        window.show();
        QTRY_VERIFY(window.List()->topLevelItemCount() == 2 && !window.Searching());
        QCOMPARE(window.EmptyText(), QString());
        std::unique_ptr<QMenu> menu(window.BuildContextMenu());
        QCOMPARE(MenuTexts(menu.get()),
                 QStringList({"設定", "-", "検索先を指定...", "機器を起動..."}));
        QGuiApplication::clipboard()->clear();
        window.OpenSharedFolder();
        window.CopyAddress();
        QVERIFY(opened.isEmpty());
        QCOMPARE(QGuiApplication::clipboard()->text(), QString());

        window.List()->topLevelItem(1)->setSelected(true);
        menu.reset(window.BuildContextMenu());
        QCOMPARE(MenuTexts(menu.get()), QStringList({"設定", "フォルダーを開く", "アドレスをコピー",
                                                     "-", "検索先を指定...", "機器を起動..."}));
        menu->actions()[1]->trigger();
        QCOMPARE(opened, QList<QUrl>({QUrl("smb://198.18.1.2/")}));
        menu->actions()[2]->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("198.18.1.2"));
        QGuiApplication::clipboard()->clear();
        window.List()->setFocus();
        QTest::keyClick(window.List(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("198.18.1.2"));
    }

    void EmptyListExplainsItself() {
        const QString notFound = QStringLiteral(
            "機器が見つかりませんでした。\n"
            "別のネットワークにある機器は、右クリックメニューの「検索先を指定...」で探せます。");
        const struct {
            std::vector<std::string> unicast;
            QString text;
            const char* shot;
        } cases[] = {
            {{"198.18.0.1"}, notFound, "qt_finder_empty_list.png"},
            {{}, QStringLiteral("ネットワークに接続されていません。"), "qt_finder_offline.png"}};
        for (const auto& c : cases) {
            Silent net;
            net.unicast = c.unicast;
            FinderWindow window({}, net.Factory());
            window.SetTargetsFile(dir_.filePath("empty.ini"));
            QSignalSpy ended(&window, &FinderWindow::searchFinished);
            window.show();
            QTRY_COMPARE(ended.count(), 1);
            QCOMPARE(window.EmptyText(), c.text);
            Keep(&window, c.shot);
            QTest::mouseClick(window.RefreshButton(), Qt::LeftButton);
            QTRY_COMPARE(ended.count(), 2);
            QCOMPARE(window.EmptyText(), c.text);
        }
    }

    // The dialog refuses what is not a target and saves nothing; an added
    // target is kept at once and the search it starts probes it; a new
    // window reads the kept targets.
    void TargetsDialogKeepsTargetsThatEverySearchProbes() {
        Silent net;
        const QString file = dir_.filePath("targets.ini");
        FinderWindow window({}, net.Factory());
        window.SetTargetsFile(file);
        QSignalSpy ended(&window, &FinderWindow::searchFinished);
        window.show();
        QTRY_COMPARE(ended.count(), 1);
        window.ShowTargetsDialog();
        auto* dialog = window.findChild<TargetsDialog*>();
        QVERIFY(dialog != nullptr);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("検索先の指定"));
        for (const char* entry : {"", "10.0.0.0/16", "127.0.0.1", "224.0.0.5", "0.0.0.0", "nas lan",
                                  "smb://10.0.0.1/", "300.1.1.1"}) {
            dialog->Entry()->setText(QString::fromUtf8(entry));
            QTest::mouseClick(dialog->AddButton(), Qt::LeftButton);
            QCOMPARE(
                dialog->Message()->text(),
                QStringLiteral("アドレス、ホスト名、または範囲 (/22〜/32) を入力してください。"));
        }
        QVERIFY(!QFile::exists(file));

        const std::size_t before = net.sends->size();
        dialog->Entry()->setText(QStringLiteral("10.77.1.1"));
        QTest::keyClick(dialog->Entry(), Qt::Key_Return);
        QCOMPARE(dialog->Message()->text(), QString());
        QCOMPARE(dialog->List()->count(), 1);
        QCOMPARE(window.LoadTargets(), QStringList({"10.77.1.1"}));
        // The search it started: the multicast probe, then the target.
        QTRY_COMPARE(ended.count(), 2);
        QCOMPARE(std::vector<std::uint32_t>(net.sends->begin() + before, net.sends->end()),
                 (std::vector<std::uint32_t>{0xEF8FFFFAu, 0x0A4D0101u}));
        dialog->Entry()->setText(QStringLiteral("10.77.2.0/24"));
        QTest::mouseClick(dialog->AddButton(), Qt::LeftButton);
        Keep(dialog, "qt_finder_targets_dialog.png");
        dialog->List()->setCurrentRow(0);
        QTest::mouseClick(dialog->RemoveButton(), Qt::LeftButton);
        QCOMPARE(window.LoadTargets(), QStringList({"10.77.2.0/24"}));

        FinderWindow again({}, net.Factory());
        again.SetTargetsFile(file);
        QCOMPARE(again.LoadTargets(), QStringList({"10.77.2.0/24"}));
    }

    // A search's devices are remembered with the hardware address the
    // neighbour table had; 機器を起動... offers the remembered devices the
    // list does not show, refuses a text that is no MAC with a message naming
    // it, wakes the selected one, and a search follows by itself.
    void WakeDialogWakesARememberedDeviceAndSearchesAgain() {
        qputenv("SL_WAKE_SEARCH_DELAY_MS", "200");
        const QString file = dir_.filePath("wake.ini");
        const devices::MacAddress sleeper{0x02, 0x5E, 0x1B, 0x00, 0x09, 0x09};
        QVERIFY(finder_qt::SaveRemembered(
            file, {{L"198.18.1.50", L"眠る NAS", L"1.0.0", sleeper, 1767225600}}));
        Gate gate;
        gate.OpenAll();
        FinderWindow window({}, TwoDevices(&gate));
        window.SetTargetsFile(file);
        window.SetMacLookup([](std::uint32_t address) -> std::optional<devices::MacAddress> {
            if (address == 0xC6120102) {
                return devices::MacAddress{0x02, 0x5E, 0x1B, 0x00, 0x01, 0x02};
            }
            return std::nullopt;
        });
        std::vector<std::pair<devices::MacAddress, std::optional<std::uint32_t>>> wakes;
        window.SetWaker([&wakes](const devices::MacAddress& mac, std::optional<std::uint32_t> at) {
            wakes.emplace_back(mac, at);
            return true;
        });
        QSignalSpy ended(&window, &FinderWindow::searchFinished);
        window.show();
        QTRY_COMPARE(ended.count(), 1);
        const auto remembered = finder_qt::LoadRemembered(file);
        QCOMPARE(remembered.size(), std::size_t{3});
        QCOMPARE(remembered[2].address, std::wstring(L"198.18.1.2"));
        QVERIFY(remembered[2].mac == (devices::MacAddress{0x02, 0x5E, 0x1B, 0x00, 0x01, 0x02}));
        QVERIFY(!remembered[1].mac.has_value());

        window.ShowWakeDialog();
        auto* dialog = window.findChild<WakeDialog*>();
        QVERIFY(dialog != nullptr);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("機器の起動"));
        QCOMPARE(dialog->List()->topLevelItemCount(), 1);
        QCOMPARE(dialog->List()->topLevelItem(0)->text(0), QStringLiteral("眠る NAS"));
        QCOMPARE(dialog->List()->topLevelItem(0)->text(2), QStringLiteral("02-5E-1B-00-09-09"));
        QCOMPARE(dialog->List()->topLevelItem(0)->text(3).size(), 16);
        dialog->Entry()->setText(QStringLiteral("00-11-22-33-44-5G"));
        QTest::keyClick(dialog->Entry(), Qt::Key_Return);
        QVERIFY(dialog->Message()->text().startsWith(
            QStringLiteral("「00-11-22-33-44-5G」は MAC アドレスではありません")));
        QVERIFY(wakes.empty());
        Keep(dialog, "qt_finder_wake_dialog.png");
        QTest::mouseClick(dialog->WakeButton(), Qt::LeftButton);
        QCOMPARE(wakes.size(), std::size_t{1});
        QVERIFY(wakes[0].first == sleeper);
        QCOMPARE(wakes[0].second, std::optional<std::uint32_t>(0xC6120132));
        QTRY_COMPARE(ended.count(), 2);
        qunsetenv("SL_WAKE_SEARCH_DELAY_MS");
    }

    void EnglishUnlessTheLocaleIsJapanese() {
        const struct {
            const char* locale;
            QString settings;
            QString refresh;
        } cases[] = {{"ja_JP", "設定", "更新"},
                     {"en_US", "Settings", "Refresh"},
                     {"de_DE", "Settings", "Refresh"}};
        for (const auto& c : cases) {
            const std::unique_ptr<QTranslator> translation =
                finder_qt::LoadWindowTranslation(QLocale(c.locale));
            if (translation) {
                QCoreApplication::installTranslator(translation.get());
            }
            FinderWindow window;  // not shown: no search starts
            QCOMPARE(window.SettingsButton()->text(), c.settings);
            QCOMPARE(window.RefreshButton()->text(), c.refresh);
            TargetsDialog dialog({}, {});
            dialog.Entry()->setText(QStringLiteral("nas lan"));
            QTest::mouseClick(dialog.AddButton(), Qt::LeftButton);
            QCOMPARE(
                dialog.Message()->text(),
                c.settings == "設定"
                    ? QStringLiteral(
                          "アドレス、ホスト名、または範囲 (/22〜/32) を入力してください。")
                    : QStringLiteral("Enter an address, a host name or a range (/22 to /32)."));
            QCOMPARE(dialog.windowTitle(), c.settings == "設定" ? QStringLiteral("検索先の指定")
                                                                : QStringLiteral("Search targets"));
            WakeDialog wake({}, {});
            QCOMPARE(wake.windowTitle(), c.settings == "設定" ? QStringLiteral("機器の起動")
                                                              : QStringLiteral("Wake a device"));
            if (translation) {
                QCoreApplication::removeTranslator(translation.get());
            }
        }
    }
};

QTEST_MAIN(FinderWindowTest)
#include "finder_window_test.moc"
