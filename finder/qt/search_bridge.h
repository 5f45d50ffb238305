// The search worker behind the Qt window: runs the finder's search core on a
// thread of its own and reports through queued signals, so the window never
// waits for the worker and the worker never waits for the window.
#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "finder/discovery/discovery_net.h"
#include "finder/discovery/search_host.h"

class SearchBridge final : public QObject, public SearchHost {
    Q_OBJECT

  public:
    using NetworkFactory = std::function<std::unique_ptr<INetwork>()>;

    // makeNetwork: the network of each search; the system's when empty.
    explicit SearchBridge(NetworkFactory makeNetwork = {}, QObject* parent = nullptr);
    // Stops a running search and waits for its worker.
    ~SearchBridge() override;

    // Starts a search unless one runs. False when one runs.
    bool Start();
    // Asks the worker to stop at its next check; does not wait.
    void RequestStop();
    // Asks the worker to stop and waits for it.
    void StopAndWait();
    bool Running() const { return running_.load(); }
    // The targets of the searches that start from now on.
    void SetTargets(std::vector<std::wstring> targets) { targets_ = std::move(targets); }

  signals:
    void searchStarted();
    // index counts the devices reported before it in this search.
    void deviceFound(const QString& name, const QString& address, int index);
    // The same device with its detail text, for the remembered devices.
    void deviceAnswered(const QString& address, const QString& name, const QString& detail);
    void searchEnded();

  private:
    // SearchHost, called on the worker thread. The device table belongs to
    // the worker while it runs; the window only sees the signals' copies.
    void NotifySearchStart() override;
    void NotifyDeviceFound(const DeviceInfo& device, std::intptr_t index) override;
    void NotifySearchEnd() override;

    void Join();

    NetworkFactory makeNetwork_;
    std::thread worker_;
    std::atomic<bool> running_{false};
    // Copied into the shared targets as a search starts (those are the
    // worker's while it runs).
    std::vector<std::wstring> targets_;
};
