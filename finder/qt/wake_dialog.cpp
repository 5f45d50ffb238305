#include "finder/qt/wake_dialog.h"

#include <QDateTime>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTreeWidget>
#include <memory>

#include "finder/devices/wake_dialog_logic.h"

namespace {

QString Q(const std::wstring& text) { return QString::fromStdWString(text); }

std::unique_ptr<QSettings> Settings(const QString& file) {
    if (!file.isEmpty()) {
        return std::make_unique<QSettings>(file, QSettings::IniFormat);
    }
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QStringLiteral("solberio"),
                                       QStringLiteral("solberio-finder"));
}

}  // namespace

WakeDialog::WakeDialog(std::vector<devices::RememberedDevice> offered, Waker waker, QWidget* parent)
    : QDialog(parent),
      offered_(std::move(offered)),
      waker_(std::move(waker)),
      list_(new QTreeWidget(this)),
      entry_(new QLineEdit(this)),
      message_(new QLabel(this)),
      wake_(new QPushButton(tr("起動(&W)"), this)),
      wakeTyped_(new QPushButton(tr("この MAC で起動"), this)) {
    setWindowTitle(tr("機器の起動"));
    auto* close = new QPushButton(tr("閉じる"), this);
    list_->setHeaderLabels({tr("名前"), tr("IP アドレス"), tr("MAC アドレス"), tr("最終確認")});
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    for (const devices::RememberedDevice& device : offered_) {
        const QString seen = QDateTime::fromSecsSinceEpoch(device.lastSeen, Qt::UTC)
                                 .toLocalTime()
                                 .toString(QStringLiteral("yyyy/MM/dd HH:mm"));
        list_->addTopLevelItem(new QTreeWidgetItem(
            {Q(device.name), Q(device.address),
             device.mac ? Q(devices::FormatMacUpper(*device.mac)) : QString(), seen}));
    }
    for (int column = 0; column < 4; ++column) {
        list_->resizeColumnToContents(column);
    }
    if (!offered_.empty()) {
        list_->setCurrentItem(list_->topLevelItem(0));
    }
    entry_->setMaxLength(64);
    entry_->installEventFilter(this);
    message_->setWordWrap(true);
    // Room for a two-line refusal without pushing the buttons.
    message_->setMinimumHeight(message_->fontMetrics().lineSpacing() * 3);
    message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Enter is the dialog's own (keyPressEvent): no button is the default.
    for (QPushButton* button : {wake_, wakeTyped_, close}) {
        button->setAutoDefault(false);
    }
    auto* listLabel = new QLabel(tr("一覧にない、以前に見つかった機器(&L):"), this);
    listLabel->setBuddy(list_);
    auto* entryLabel =
        new QLabel(tr("MAC アドレスを入力して起動(&M) (例: 00-11-22-AA-BB-CC):"), this);
    entryLabel->setBuddy(entry_);

    auto* layout = new QGridLayout(this);
    layout->addWidget(listLabel, 0, 0, 1, 2);
    layout->addWidget(list_, 1, 0, 1, 2);
    layout->addWidget(wake_, 2, 1);
    layout->addWidget(entryLabel, 3, 0, 1, 2);
    layout->addWidget(entry_, 4, 0);
    layout->addWidget(wakeTyped_, 4, 1);
    layout->addWidget(message_, 5, 0, 1, 2);
    layout->addWidget(close, 6, 1);

    connect(wake_, &QPushButton::clicked, this, &WakeDialog::WakeSelected);
    connect(wakeTyped_, &QPushButton::clicked, this, &WakeDialog::WakeTyped);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, &WakeDialog::WakeSelected);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    resize(560, 400);
}

void WakeDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        WakeSelected();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool WakeDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == entry_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            WakeTyped();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void WakeDialog::WakeSelected() {
    const int row =
        list_->currentItem() != nullptr ? list_->indexOfTopLevelItem(list_->currentItem()) : -1;
    if (row < 0 || static_cast<std::size_t>(row) >= offered_.size()) {
        message_->setText(tr("起動する機器を選ぶか、MAC アドレスを入力してください。"));
        return;
    }
    const devices::RememberedDevice& device = offered_[static_cast<std::size_t>(row)];
    if (!device.mac) {
        message_->setText(
            tr("この機器の MAC アドレスは分かりません。下の欄に入力して起動してください。"));
        entry_->setFocus();
        return;
    }
    Send(*device.mac, devices::LastAddressOf(device));
}

void WakeDialog::WakeTyped() {
    const std::wstring text = entry_->text().toStdWString();
    const auto mac = devices::ParseMac(text);
    if (!mac) {
        message_->setText(tr("「%1」は MAC アドレスではありません。12 桁の 16 進数を、2 桁ごとに"
                             "「-」か「:」で区切るか、区切らずに入力してください (例: "
                             "00-11-22-AA-BB-CC)。")
                              .arg(entry_->text().left(40)));
        entry_->setFocus();
        entry_->selectAll();
        return;
    }
    std::optional<std::uint32_t> address;
    const int row =
        list_->currentItem() != nullptr ? list_->indexOfTopLevelItem(list_->currentItem()) : -1;
    if (row >= 0 && static_cast<std::size_t>(row) < offered_.size() &&
        !offered_[static_cast<std::size_t>(row)].mac) {
        address = devices::LastAddressOf(offered_[static_cast<std::size_t>(row)]);
    }
    Send(*mac, address);
}

void WakeDialog::Send(const devices::MacAddress& mac, std::optional<std::uint32_t> address) {
    if (!waker_ || !waker_(mac, address)) {
        message_->setText(
            tr("起動の合図を送れませんでした。ネットワークの接続を確かめてください。"));
        return;
    }
    message_->setText(tr("起動の合図を送りました。しばらくしてから自動で検索します。"));
    emit woken();
}

namespace finder_qt {

std::vector<devices::RememberedDevice> LoadRemembered(const QString& settingsFile) {
    // The rules of devices.ini: an entry without an IPv4 address or a time,
    // or with a MAC that does not parse, makes the whole list count as none.
    const auto settings = Settings(settingsFile);
    std::vector<devices::RememberedDevice> list;
    for (std::size_t i = 1; i <= devices::kMaxRemembered; ++i) {
        const QString group = QStringLiteral("Device%1").arg(i);
        if (!settings->childGroups().contains(group)) {
            break;
        }
        const auto value = [&](const char* key) {
            return settings->value(group + QLatin1Char('/') + QLatin1String(key))
                .toString()
                .toStdWString();
        };
        devices::RememberedDevice device;
        device.address = value("Address");
        device.name = value("Name");
        device.detail = value("Detail");
        const std::wstring mac = value("MAC");
        const auto seen = devices::ParseUtc(value("LastSeen"));
        if (!seen || !devices::LastAddressOf(device)) {
            return {};
        }
        device.lastSeen = *seen;
        if (!mac.empty()) {
            device.mac = devices::ParseMac(mac);
            if (!device.mac) {
                return {};
            }
        }
        list.push_back(std::move(device));
    }
    return list;
}

bool SaveRemembered(const QString& settingsFile,
                    const std::vector<devices::RememberedDevice>& list) {
    const auto settings = Settings(settingsFile);
    for (const QString& group : settings->childGroups()) {
        if (group.startsWith(QLatin1String("Device"))) {
            settings->remove(group);
        }
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
        const devices::RememberedDevice& d = list[i];
        settings->beginGroup(QStringLiteral("Device%1").arg(i + 1));
        settings->setValue(QStringLiteral("Address"), Q(d.address));
        settings->setValue(QStringLiteral("Name"), Q(d.name));
        settings->setValue(QStringLiteral("Detail"), Q(d.detail));
        settings->setValue(QStringLiteral("MAC"),
                           d.mac ? Q(devices::FormatMacUpper(*d.mac)) : QString());
        settings->setValue(QStringLiteral("LastSeen"), Q(devices::FormatUtc(d.lastSeen)));
        settings->endGroup();
    }
    settings->sync();
    return settings->status() == QSettings::NoError;
}

}  // namespace finder_qt
