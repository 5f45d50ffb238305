// What the search worker needs of whatever started it: the finder's main
// dialog (which turns the notices into its window messages), the Qt
// window's bridge, slfind, the search driver and the tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "finder/discovery/device_table.h"

class ISearchHost {
  public:
    virtual ~ISearchHost() = default;

    // The search starts: returns once the host has emptied its device table
    // and its list.
    virtual void NotifySearchStart() = 0;
    // A device answered for the first time in this search: its record in the
    // device table, and how many devices were reported before it. Returns
    // once handled; the worker waits.
    virtual void NotifyDeviceFound(const DeviceInfo& device, std::intptr_t index) = 0;
    // The search ended: queued for the host; the worker does not wait.
    virtual void NotifySearchEnd() = 0;

    // m_bStopSearch: set by the host to ask the worker to stop, cleared by the
    // worker as it starts; read afresh at every check.
    virtual std::atomic<std::int32_t>& StopSearchFlag() = 0;
    // m_mapDevices: filled by the worker, emptied by the host.
    virtual DeviceTable& Devices() = 0;

    // The search targets the next search probes by unicast besides its
    // multicast probe; read once by the worker as it starts. None unless the
    // host has some.
    virtual std::vector<std::wstring> SearchTargets() { return {}; }

    // How many local IPv4 addresses (loopback aside) the search found, told
    // before its first probe; 0 means the machine is not on a network.
    virtual void NoteLocalAddresses(std::size_t count) { (void)count; }
};
