// The desktop finder's window: the Windows dialog's list, hint, 更新 and 設定
// over the same search core. The search starts when the window is shown;
// rows appear as devices answer.
#pragma once

#include <QUrl>
#include <QWidget>
#include <functional>

#include "finder/devices/remembered_devices.h"
#include "finder/qt/search_bridge.h"
#include "finder/qt/wake_dialog.h"
#include "finder/ui/dialog_logic.h"

class QLabel;
class QMenu;
class QPushButton;
class QTreeWidget;

class FinderWindow final : public QWidget {
    Q_OBJECT

  public:
    using UrlOpener = std::function<void(const QUrl&)>;

    // openUrl: how a device page is opened (the desktop's URL handler when
    // empty); makeNetwork: the network of each search (the system's when empty).
    explicit FinderWindow(UrlOpener openUrl = {}, SearchBridge::NetworkFactory makeNetwork = {},
                          QWidget* parent = nullptr);
    ~FinderWindow() override;

    bool Searching() const { return searching_; }
    // The About box's text.
    static QString AboutText();

    // For tests and the benchmark: the parts a user works with.
    QTreeWidget* List() const { return list_; }
    QPushButton* RefreshButton() const { return refresh_; }
    QPushButton* SettingsButton() const { return settings_; }
    // What the empty list shows inside its area; empty while rows are listed
    // or a search runs.
    QString EmptyText() const;
    // The list's context menu as it would open now (the caller owns it).
    QMenu* BuildContextMenu();

    // Where the targets are kept: an INI file for QSettings, by default
    // solberio/solberio-finder.ini under the user's configuration folder.
    // Set before the window is shown.
    void SetTargetsFile(const QString& path) { targetsFile_ = path; }
    QStringList LoadTargets() const;
    bool SaveTargets(const QStringList& targets) const;
    // The remembered devices live in the same file. Test seams: how a wake
    // is sent and how a device's hardware address is looked up.
    using MacLookup = std::function<std::optional<devices::MacAddress>(std::uint32_t address)>;
    void SetWaker(WakeDialog::Waker waker) { waker_ = std::move(waker); }
    void SetMacLookup(MacLookup lookup) { macLookup_ = std::move(lookup); }

  public slots:
    void StartSearch();
    void ShowAbout();
    // Brings the window to the front (a second start of the program).
    void Raise();
    // The context menu's and Ctrl+O's 設定.
    void OpenFromCommand();
    // The context menu's actions on the selected device: smb://ADDRESS/ to
    // the URL opener, and the address on the clipboard (also Ctrl+C).
    void OpenSharedFolder();
    void CopyAddress();
    // 検索先を指定...: opens the targets dialog (window-modal, not waited for).
    void ShowTargetsDialog();
    // 機器を起動...: the wake dialog (window-modal, not waited for); after a
    // wake a search follows by itself.
    void ShowWakeDialog();

  signals:
    void rowAdded(int row, const QString& name, const QString& address);
    void searchFinished();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void OnSearchStarted();
    void OnDeviceFound(const QString& name, const QString& address, int index);
    void OnSearchEnded();
    void OnDeviceAnswered(const QString& address, const QString& name, const QString& detail);
    void SearchAfterWake();
    void OnSelectionChanged();
    void OnListContextMenu(const QPoint& at);
    void OpenDevicePage(finder::PageTrigger trigger);
    int FirstSelectedRow() const;
    // The selected row's address when it is a dotted address, else empty.
    QString SelectedAddress() const;
    void SetEmptyText(const QString& text);

    UrlOpener openUrl_;
    SearchBridge* bridge_;
    QTreeWidget* list_;
    QLabel* hint_;
    QPushButton* refresh_;
    QPushButton* settings_;
    QLabel* empty_;
    QString targetsFile_;
    bool searching_ = false;
    bool settingsEnabled_ = false;
    bool shownOnce_ = false;
    WakeDialog::Waker waker_;
    MacLookup macLookup_;
    std::vector<devices::RememberedDevice> remembered_;
    bool rememberedLoaded_ = false;
    bool rememberedChanged_ = false;
};
