// What the search worker needs of whatever started it: the finder's main
// dialog (which turns the notices into its window messages), the Qt
// window's bridge, slfind, the search driver and the tests. The notices are
// each host's own; the state they share with the worker is kept here.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "finder/discovery/device_table.h"

class SearchHost {
  public:
    virtual ~SearchHost() = default;

    // The search starts: returns once the host has emptied its device table
    // and its list.
    virtual void NotifySearchStart() = 0;
    // A device answered for the first time in this search: its record in the
    // device table, and how many devices were reported before it. Returns
    // once handled; the worker waits.
    virtual void NotifyDeviceFound(const DeviceInfo& device, std::intptr_t index) = 0;
    // The search ended: queued for the host; the worker does not wait.
    virtual void NotifySearchEnd() = 0;

    // The state the worker and its host share, the same for every host.
    std::atomic<std::int32_t>& StopSearchFlag() { return m_bStopSearch; }
    DeviceTable& Devices() { return m_mapDevices; }
    // The targets the next search probes by unicast besides its multicast
    // probe; read once by the worker as it starts.
    const std::vector<std::wstring>& SearchTargets() const { return m_searchTargets; }
    // Told by the worker before its first probe: how many local IPv4
    // addresses (loopback aside) the search found; 0 means the machine is not
    // on a network. 1 until a search has told it.
    void NoteLocalAddresses(std::size_t count) { m_nLocalAddresses.store(count); }
    std::size_t LocalAddresses() const { return m_nLocalAddresses.load(); }

  protected:
    // Set by the host to ask the worker to stop, cleared by the worker as it
    // starts; read afresh at every check.
    std::atomic<std::int32_t> m_bStopSearch{0};
    // Filled by the worker, emptied by the host.
    DeviceTable m_mapDevices;
    // Set by the host while no worker runs.
    std::vector<std::wstring> m_searchTargets;

  private:
    std::atomic<std::size_t> m_nLocalAddresses{1};
};
