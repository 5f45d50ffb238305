#include "finder/qt/finder_window.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "finder/devices/wake.h"
#include "finder/devices/wake_dialog_logic.h"
#include "finder/discovery/discovery.h"
#include "finder/discovery/search_targets.h"
#include "finder/qt/device_text.h"
#include "finder/qt/targets_dialog.h"
#include "platform/version_info.h"
#include "product_version.h"

namespace {

// The window's title, a product name: the same in every language.
const QString kTitle = QStringLiteral("ソルベリオ Windows Tool");

}  // namespace

FinderWindow::FinderWindow(UrlOpener openUrl, SearchBridge::NetworkFactory makeNetwork,
                           QWidget* parent)
    : QWidget(parent),
      openUrl_(std::move(openUrl)),
      bridge_(new SearchBridge(std::move(makeNetwork), this)),
      list_(new QTreeWidget(this)),
      hint_(new QLabel(this)),
      refresh_(new QPushButton(this)),
      settings_(new QPushButton(this)),
      empty_(new QLabel(list_->viewport())) {
    if (!openUrl_) {
        openUrl_ = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    }
    setWindowTitle(kTitle);

    // The list: two columns of the dialog's widths, several rows selectable.
    QStringList titles;
    for (const finder::ListColumn& column : finder::kDeviceColumns) {
        titles.push_back(QString::fromWCharArray(column.title));
    }
    list_->setColumnCount(static_cast<int>(titles.size()));
    list_->setHeaderLabels(titles);
    list_->header()->setSectionsMovable(false);
    list_->header()->setStretchLastSection(false);
    for (int i = 0; i < list_->columnCount(); ++i) {
        list_->setColumnWidth(i, finder::kDeviceColumns[i].width);
    }
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);

    // The empty list's explanation, inside the list's area.
    empty_->setWordWrap(true);
    empty_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    empty_->setTextFormat(Qt::PlainText);
    auto* emptyLayout = new QVBoxLayout(list_->viewport());
    emptyLayout->setContentsMargins(8, 12, 8, 8);
    emptyLayout->addWidget(empty_);
    emptyLayout->addStretch(1);
    empty_->hide();

    hint_->setText(
        tr("対象を選んで設定を押してください。ウェブブラウザが起動して設定を行うことができます"));
    hint_->setWordWrap(true);
    hint_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    hint_->setFixedWidth(236);
    refresh_->setText(tr("更新"));
    settings_->setText(tr("設定"));
    settings_->setEnabled(false);
    refresh_->setMinimumWidth(81);
    settings_->setMinimumWidth(80);

    // The dialog's arrangement: the list above, the hint centred under it,
    // 更新 and 設定 at the bottom.
    auto* hintRow = new QHBoxLayout;
    hintRow->addStretch(1);
    hintRow->addWidget(hint_);
    hintRow->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(6);
    buttons->addWidget(refresh_);
    buttons->addStretch(9);
    buttons->addWidget(settings_);
    buttons->addStretch(7);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 10, 10, 14);
    layout->addWidget(list_, 1);
    layout->addLayout(hintRow);
    layout->addLayout(buttons);
    resize(383, 257);

    // The About item: the window's own context menu, and F1.
    auto* about = new QAction(tr("バージョン情報 ソルベリオ Windows Tool(&A)..."), this);
    about->setShortcut(QKeySequence::HelpContents);
    connect(about, &QAction::triggered, this, &FinderWindow::ShowAbout);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);

    auto* open = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_O), this);
    connect(open, &QShortcut::activated, this, &FinderWindow::OpenFromCommand);
    auto* copy = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_C), list_);
    copy->setContext(Qt::WidgetShortcut);
    connect(copy, &QShortcut::activated, this, &FinderWindow::CopyAddress);

    connect(refresh_, &QPushButton::clicked, this, &FinderWindow::StartSearch);
    connect(settings_, &QPushButton::clicked, this,
            [this] { OpenDevicePage(finder::PageTrigger::SettingsButton); });
    connect(list_, &QTreeWidget::itemDoubleClicked, this,
            [this] { OpenDevicePage(finder::PageTrigger::DoubleClick); });
    connect(list_, &QTreeWidget::itemSelectionChanged, this, &FinderWindow::OnSelectionChanged);
    connect(list_, &QWidget::customContextMenuRequested, this, &FinderWindow::OnListContextMenu);

    // The worker's reports arrive as events of this window's thread.
    connect(bridge_, &SearchBridge::searchStarted, this, &FinderWindow::OnSearchStarted,
            Qt::QueuedConnection);
    connect(bridge_, &SearchBridge::deviceFound, this, &FinderWindow::OnDeviceFound,
            Qt::QueuedConnection);
    connect(bridge_, &SearchBridge::searchEnded, this, &FinderWindow::OnSearchEnded,
            Qt::QueuedConnection);
    connect(bridge_, &SearchBridge::deviceAnswered, this, &FinderWindow::OnDeviceAnswered,
            Qt::QueuedConnection);
    waker_ = [](const devices::MacAddress& mac, std::optional<std::uint32_t> address) {
        const auto net = devices::MakeSystemWakeNetwork();
        return devices::Wake(*net, mac, address, std::nullopt) > 0;
    };
    macLookup_ = &devices::NeighbourMac;
}

FinderWindow::~FinderWindow() { bridge_->StopAndWait(); }

QString FinderWindow::AboutText() {
    const auto version =
        plat::QueryProductVersion(QCoreApplication::applicationFilePath().toStdWString());
    const QString text = version && !version->empty() ? finder_qt::ToQString(*version)
                                                      : QStringLiteral(SL_PRODUCT_VERSION_TEXT);
    return tr("ソルベリオ Windows Tool Version %1").arg(text) +
           QStringLiteral("\nCopyright (C) 2024-2025 Solberio");
}

void FinderWindow::StartSearch() {
    if (!rememberedLoaded_) {
        remembered_ = finder_qt::LoadRemembered(targetsFile_);
        rememberedLoaded_ = true;
    }
    if (!bridge_->Running()) {
        std::vector<std::wstring> targets;
        for (const QString& target : LoadTargets()) {
            targets.push_back(target.toStdWString());
        }
        bridge_->SetTargets(std::move(targets));
        bridge_->Start();
    }
}

namespace {

std::unique_ptr<QSettings> TargetsSettings(const QString& file) {
    if (!file.isEmpty()) {
        return std::make_unique<QSettings>(file, QSettings::IniFormat);
    }
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("solberio"),
                                       QStringLiteral("solberio-finder"));
}

const QString kTargetsKey = QStringLiteral("Search/Targets");

}  // namespace

QStringList FinderWindow::LoadTargets() const {
    // A damaged or missing file is no targets; the list's own rules drop
    // what is not a target.
    const QString value = TargetsSettings(targetsFile_)->value(kTargetsKey).toString();
    QStringList out;
    for (const std::wstring& target : discovery::ParseTargetList(value.toStdWString())) {
        out.push_back(QString::fromStdWString(target));
    }
    return out;
}

bool FinderWindow::SaveTargets(const QStringList& targets) const {
    const auto settings = TargetsSettings(targetsFile_);
    settings->setValue(kTargetsKey, targets.join(QLatin1Char(';')));
    settings->sync();
    return settings->status() == QSettings::NoError;
}

QString FinderWindow::EmptyText() const { return empty_->isHidden() ? QString() : empty_->text(); }

void FinderWindow::SetEmptyText(const QString& text) {
    empty_->setText(text);
    empty_->setHidden(text.isEmpty());
}

void FinderWindow::ShowAbout() {
    QMessageBox box(QMessageBox::NoIcon, tr("バージョン情報 ソルベリオ Windows Tool"), AboutText(),
                    QMessageBox::Ok, this);
    box.setIconPixmap(windowIcon().pixmap(32, 32));
    box.exec();
}

void FinderWindow::Raise() {
    if (isMinimized()) {
        showNormal();
    }
    show();
    raise();
    activateWindow();
}

void FinderWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        StartSearch();
    }
}

void FinderWindow::closeEvent(QCloseEvent* event) {
    // The window goes at once; the worker ends at its next check, and whoever
    // owns the window waits for it when the window is destroyed.
    hide();
    bridge_->RequestStop();
    event->accept();
}

void FinderWindow::OnSearchStarted() {
    list_->clear();
    SetEmptyText(QString());
    refresh_->setText(tr("検索中..."));
    refresh_->setEnabled(false);
    settings_->setEnabled(false);
    settingsEnabled_ = false;
    searching_ = true;
}

void FinderWindow::OnDeviceFound(const QString& name, const QString& address, int index) {
    auto* item = new QTreeWidgetItem({name, address});
    const int row = std::clamp(index, 0, list_->topLevelItemCount());
    list_->insertTopLevelItem(row, item);
    emit rowAdded(row, name, address);
}

void FinderWindow::OnSearchEnded() {
    refresh_->setEnabled(true);
    refresh_->setText(tr("更新"));
    searching_ = false;
    switch (finder::EmptyListState(false, list_->topLevelItemCount(), bridge_->LocalAddresses())) {
        case finder::EmptyList::None:
            SetEmptyText(QString());
            break;
        case finder::EmptyList::NotFound:
            SetEmptyText(tr("機器が見つかりませんでした。") + QLatin1Char('\n') +
                         tr("別のネットワークにある機器は、右クリックメニューの「検索先を指定..."
                            "」で探せます。"));
            break;
        case finder::EmptyList::Offline:
            SetEmptyText(tr("ネットワークに接続されていません。"));
            break;
    }
    if (FirstSelectedRow() >= 0) {
        settings_->setEnabled(true);
        settingsEnabled_ = true;
    }
    if (rememberedChanged_) {
        finder_qt::SaveRemembered(targetsFile_, remembered_);
        rememberedChanged_ = false;
    }
    emit searchFinished();
}

void FinderWindow::OnSelectionChanged() {
    if (finder::EnablesSettingsOnListChange(searching_, settingsEnabled_)) {
        settings_->setEnabled(true);
        settingsEnabled_ = true;
    }
}

QMenu* FinderWindow::BuildContextMenu() {
    auto* menu = new QMenu(this);
    menu->addAction(tr("設定"), this, &FinderWindow::OpenFromCommand);
    // The two actions on a device only with a device selected.
    if (!SelectedAddress().isEmpty()) {
        menu->addAction(tr("フォルダーを開く"), this, &FinderWindow::OpenSharedFolder);
        menu->addAction(tr("アドレスをコピー"), this, &FinderWindow::CopyAddress);
    }
    menu->addSeparator();
    menu->addAction(tr("検索先を指定..."), this, &FinderWindow::ShowTargetsDialog);
    menu->addAction(tr("機器を起動..."), this, &FinderWindow::ShowWakeDialog);
    return menu;
}

void FinderWindow::OnListContextMenu(const QPoint& at) {
    if (searching_) {
        return;
    }
    std::unique_ptr<QMenu> menu(BuildContextMenu());
    menu->exec(list_->viewport()->mapToGlobal(at));
}

QString FinderWindow::SelectedAddress() const {
    const int row = FirstSelectedRow();
    if (row < 0) {
        return {};
    }
    const QString address = list_->topLevelItem(row)->text(1);
    return finder::IsDottedAddress(address.toStdWString()) ? address : QString();
}

void FinderWindow::OpenSharedFolder() {
    const std::wstring url = finder::SharedFolderURL(SelectedAddress().toStdWString());
    if (!url.empty()) {
        openUrl_(QUrl(QString::fromStdWString(url)));
    }
}

void FinderWindow::CopyAddress() {
    const QString address = SelectedAddress();
    if (!address.isEmpty()) {
        QGuiApplication::clipboard()->setText(address);
    }
}

void FinderWindow::ShowTargetsDialog() {
    auto* dialog = new TargetsDialog(
        LoadTargets(), [this](const QStringList& targets) { return SaveTargets(targets); }, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &TargetsDialog::targetAdded, this, &FinderWindow::StartSearch);
    dialog->open();
}

void FinderWindow::OnDeviceAnswered(const QString& address, const QString& name,
                                    const QString& detail) {
    // Right after the answer the neighbour table holds the device's hardware
    // address, unless a router stands between.
    const std::uint32_t number = discovery::ParseIpv4(address.toStdString());
    const auto mac = macLookup_ && number != 0xFFFFFFFFu ? macLookup_(number) : std::nullopt;
    devices::Remember(remembered_, address.toStdWString(), name.toStdWString(),
                      detail.toStdWString(), mac, devices::NowUtc());
    rememberedChanged_ = true;
}

void FinderWindow::ShowWakeDialog() {
    if (!rememberedLoaded_) {
        remembered_ = finder_qt::LoadRemembered(targetsFile_);
        rememberedLoaded_ = true;
    }
    std::vector<std::wstring> listed;
    for (int row = 0; row < list_->topLevelItemCount(); ++row) {
        listed.push_back(list_->topLevelItem(row)->text(1).toStdWString());
    }
    auto* dialog = new WakeDialog(devices::DevicesNotListed(remembered_, listed), waker_, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &WakeDialog::woken, this, [this] {
        QTimer::singleShot(static_cast<int>(devices::WakeSearchDelay().count()), this,
                           &FinderWindow::SearchAfterWake);
    });
    dialog->open();
}

void FinderWindow::SearchAfterWake() {
    // A search still running tries again in a second.
    if (bridge_->Running()) {
        QTimer::singleShot(1000, this, &FinderWindow::SearchAfterWake);
    } else {
        StartSearch();
    }
}

void FinderWindow::OpenFromCommand() { OpenDevicePage(finder::PageTrigger::Command); }

void FinderWindow::OpenDevicePage(finder::PageTrigger trigger) {
    const int row = FirstSelectedRow();
    if (!finder::MayOpenDevicePage(trigger, searching_, row >= 0)) {
        return;
    }
    const QString address = list_->topLevelItem(row)->text(1);
    if (!finder::IsDottedAddress(address.toStdWString())) {
        return;
    }
    openUrl_(QUrl(QString::fromStdWString(finder::DevicePageURL(address.toStdWString()))));
}

int FinderWindow::FirstSelectedRow() const {
    int first = -1;
    for (const QModelIndex& index : list_->selectionModel()->selectedRows()) {
        if (first < 0 || index.row() < first) {
            first = index.row();
        }
    }
    return first;
}
