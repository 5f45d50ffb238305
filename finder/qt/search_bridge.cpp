#include "finder/qt/search_bridge.h"

#include "finder/discovery/interruptible_network.h"
#include "finder/discovery/search_worker.h"
#include "finder/qt/device_text.h"

SearchBridge::SearchBridge(NetworkFactory makeNetwork, QObject* parent)
    : QObject(parent), makeNetwork_(std::move(makeNetwork)) {
    if (!makeNetwork_) {
        // A closed window need not wait for the rest of a receive cycle.
        makeNetwork_ = [this] {
            return std::make_unique<InterruptibleNetwork>(MakeSystemNetwork(), m_bStopSearch);
        };
    }
}

SearchBridge::~SearchBridge() { StopAndWait(); }

bool SearchBridge::Start() {
    if (running_.load()) {
        return false;
    }
    Join();  // the previous worker has left its search already
    m_searchTargets = targets_;
    running_.store(true);
    worker_ = std::thread([this] {
        const std::unique_ptr<INetwork> net = makeNetwork_();
        SearchRequest request;
        request.targets = SearchTargets();
        RunSearch(this, *net, SearchLimitFromEnvironment(), finder_qt::kDeviceNameEncoding,
                  request);
        ClearDevices(m_mapDevices);
    });
    return true;
}

void SearchBridge::RequestStop() { m_bStopSearch.store(1); }

void SearchBridge::StopAndWait() {
    RequestStop();
    Join();
}

void SearchBridge::Join() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

void SearchBridge::NotifySearchStart() {
    ClearDevices(m_mapDevices);
    emit searchStarted();
}

void SearchBridge::NotifyDeviceFound(const DeviceInfo& device, std::intptr_t index) {
    emit deviceFound(finder_qt::ToQString(device.strName), finder_qt::ToQString(device.strAddress),
                     static_cast<int>(index));
    emit deviceAnswered(finder_qt::ToQString(device.strAddress),
                        finder_qt::ToQString(device.strName),
                        finder_qt::ToQString(device.strDetail));
}

void SearchBridge::NotifySearchEnd() {
    // The end notice is queued last: once the window sees it, nothing of this
    // search is left to arrive.
    running_.store(false);
    emit searchEnded();
}
