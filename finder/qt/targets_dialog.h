// The "検索先の指定" dialog of the desktop finder: an entry for an address,
// host name or range, the remembered targets, 追加, 削除 and 閉じる, as in
// the Windows finder. Every change is handed to the save function at once;
// an entry that is not a valid target is refused with a message and nothing
// is saved.
#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

class TargetsDialog final : public QDialog {
    Q_OBJECT

  public:
    // save: writes the whole list, true when it was written.
    using Save = std::function<bool(const QStringList& targets)>;

    TargetsDialog(QStringList targets, Save save, QWidget* parent = nullptr);

    QLineEdit* Entry() const { return entry_; }
    QListWidget* List() const { return list_; }
    QLabel* Message() const { return message_; }
    QPushButton* AddButton() const { return add_; }
    QPushButton* RemoveButton() const { return remove_; }
    const QStringList& Targets() const { return targets_; }

  signals:
    void targetAdded();

  private:
    void Add();
    void Remove();
    // Saves the list and shows it; says so and keeps the old one when it
    // cannot be saved.
    bool Commit(const QStringList& targets);
    void Refill();

    QStringList targets_;
    Save save_;
    QLineEdit* entry_;
    QListWidget* list_;
    QLabel* message_;
    QPushButton* add_;
    QPushButton* remove_;
};
