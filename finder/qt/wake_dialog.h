// The "機器の起動" dialog of the desktop finder, as in the Windows finder:
// the remembered devices the list does not show (name, address, MAC, last
// seen in local time), 起動 for the selected one and an entry for the MAC of
// a device never seen. Also the remembered devices' home in QSettings.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "finder/devices/remembered_devices.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

class WakeDialog final : public QDialog {
    Q_OBJECT

  public:
    // Sends a wake: the MAC and the device's last address, when known.
    using Waker =
        std::function<bool(const devices::MacAddress& mac, std::optional<std::uint32_t> address)>;

    WakeDialog(std::vector<devices::RememberedDevice> offered, Waker waker,
               QWidget* parent = nullptr);

    QTreeWidget* List() const { return list_; }
    QLineEdit* Entry() const { return entry_; }
    QLabel* Message() const { return message_; }
    QPushButton* WakeButton() const { return wake_; }
    QPushButton* WakeTypedButton() const { return wakeTyped_; }

  signals:
    // A wake was sent.
    void woken();

  protected:
    // Enter wakes the typed MAC in the entry, else the selected device.
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void WakeSelected();
    void WakeTyped();
    void Send(const devices::MacAddress& mac, std::optional<std::uint32_t> address);

    std::vector<devices::RememberedDevice> offered_;
    Waker waker_;
    QTreeWidget* list_;
    QLineEdit* entry_;
    QLabel* message_;
    QPushButton* wake_;
    QPushButton* wakeTyped_;
};

namespace finder_qt {

// The remembered devices in the finder's settings file (groups "Device1",
// "Device2", ... as devices.ini has them); none when an entry is damaged.
std::vector<devices::RememberedDevice> LoadRemembered(const QString& settingsFile);
bool SaveRemembered(const QString& settingsFile,
                    const std::vector<devices::RememberedDevice>& list);

}  // namespace finder_qt
