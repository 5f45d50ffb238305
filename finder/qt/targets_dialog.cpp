#include "finder/qt/targets_dialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

#include "finder/discovery/search_targets.h"

namespace {

std::vector<std::wstring> ToStd(const QStringList& list) {
    std::vector<std::wstring> out;
    for (const QString& text : list) {
        out.push_back(text.toStdWString());
    }
    return out;
}

QStringList ToQt(const std::vector<std::wstring>& list) {
    QStringList out;
    for (const std::wstring& text : list) {
        out.push_back(QString::fromStdWString(text));
    }
    return out;
}

}  // namespace

TargetsDialog::TargetsDialog(QStringList targets, Save save, QWidget* parent)
    : QDialog(parent),
      targets_(std::move(targets)),
      save_(std::move(save)),
      entry_(new QLineEdit(this)),
      list_(new QListWidget(this)),
      message_(new QLabel(this)),
      add_(new QPushButton(tr("追加"), this)),
      remove_(new QPushButton(tr("削除"), this)) {
    setWindowTitle(tr("検索先の指定"));
    auto* close = new QPushButton(tr("閉じる"), this);
    entry_->setMaxLength(static_cast<int>(discovery::kMaxRememberedChars));
    message_->setWordWrap(true);
    // Enter in the entry presses 追加.
    add_->setDefault(true);

    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(tr("アドレス、ホスト名、または範囲 (例: 192.168.20.0/24):"), this),
                      0, 0, 1, 2);
    layout->addWidget(entry_, 1, 0);
    layout->addWidget(add_, 1, 1);
    layout->addWidget(message_, 2, 0, 1, 2);
    layout->addWidget(list_, 3, 0, 2, 1);
    layout->addWidget(remove_, 3, 1, Qt::AlignTop);
    layout->addWidget(close, 4, 1, Qt::AlignBottom);

    connect(add_, &QPushButton::clicked, this, &TargetsDialog::Add);
    connect(remove_, &QPushButton::clicked, this, &TargetsDialog::Remove);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    Refill();
    resize(440, 300);
}

void TargetsDialog::Refill() {
    list_->clear();
    list_->addItems(targets_);
}

void TargetsDialog::Add() {
    std::vector<std::wstring> targets = ToStd(targets_);
    switch (discovery::AddTargetToList(entry_->text().toStdWString(), targets)) {
        case discovery::AddTargetResult::Invalid:
            message_->setText(tr("アドレス、ホスト名、または範囲 (/22〜/32) を入力してください。"));
            return;
        case discovery::AddTargetResult::AlreadyThere:
            message_->setText(tr("この検索先はすでにあります。"));
            return;
        case discovery::AddTargetResult::Full:
            message_->setText(tr("検索先は 32 件、合わせて 1,024 文字までです。"));
            return;
        case discovery::AddTargetResult::Added:
            break;
    }
    if (Commit(ToQt(targets))) {
        entry_->clear();
        emit targetAdded();
    }
}

void TargetsDialog::Remove() {
    const int row = list_->currentRow();
    if (row < 0 || row >= targets_.size()) {
        return;
    }
    QStringList left = targets_;
    left.removeAt(row);
    Commit(left);
}

bool TargetsDialog::Commit(const QStringList& targets) {
    if (save_ && !save_(targets)) {
        message_->setText(tr("検索先を保存できませんでした。"));
        return false;
    }
    targets_ = targets;
    Refill();
    message_->clear();
    return true;
}
