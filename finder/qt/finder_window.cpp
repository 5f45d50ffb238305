#include "finder/qt/finder_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "finder/qt/device_text.h"
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
      settings_(new QPushButton(this)) {
    if (!openUrl_) {
        openUrl_ = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    }
    setWindowTitle(kTitle);

    // The list: two columns of the dialog's widths, several rows selectable.
    list_->setColumnCount(2);
    list_->setHeaderLabels({QString::fromWCharArray(finder::kColumnName),
                            QString::fromWCharArray(finder::kColumnAddress)});
    list_->header()->setSectionsMovable(false);
    list_->header()->setStretchLastSection(false);
    list_->setColumnWidth(0, finder::kColumnWidth);
    list_->setColumnWidth(1, finder::kColumnWidth);
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setContextMenuPolicy(Qt::CustomContextMenu);

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
    if (!bridge_->Running()) {
        bridge_->Start();
    }
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
    if (FirstSelectedRow() >= 0) {
        settings_->setEnabled(true);
        settingsEnabled_ = true;
    }
    emit searchFinished();
}

void FinderWindow::OnSelectionChanged() {
    if (finder::EnablesSettingsOnListChange(searching_, settingsEnabled_)) {
        settings_->setEnabled(true);
        settingsEnabled_ = true;
    }
}

void FinderWindow::OnListContextMenu(const QPoint& at) {
    if (searching_) {
        return;
    }
    QMenu menu(this);
    menu.addAction(tr("設定"), this, &FinderWindow::OpenFromCommand);
    menu.exec(list_->viewport()->mapToGlobal(at));
}

void FinderWindow::OpenFromCommand() { OpenDevicePage(finder::PageTrigger::Command); }

void FinderWindow::OpenDevicePage(finder::PageTrigger trigger) {
    const int row = FirstSelectedRow();
    if (!finder::MayOpenDevicePage(trigger, searching_, row >= 0)) {
        return;
    }
    const QString address = list_->topLevelItem(row)->text(1);
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
