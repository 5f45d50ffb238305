// What the search worker needs of the window that started it. The finder's
// main dialog implements it with window messages; tests and the search
// driver implement it directly.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "finder/discovery/device_table.h"

// The notices' numbers, as the dialog's window receives them (WM_USER + n).
inline constexpr unsigned kWmUser = 0x0400;
inline constexpr unsigned WM_SEARCH_START = kWmUser + 200;  // sent, worker waits
inline constexpr unsigned WM_DEVICE_FOUND = kWmUser + 300;  // sent, worker waits
inline constexpr unsigned WM_SEARCH_END = kWmUser + 400;    // posted, worker goes on

class ISearchHost {
  public:
    virtual ~ISearchHost() = default;

    // WM_SEARCH_START: returns once the host has emptied its device table and
    // its list.
    virtual void NotifySearchStart() = 0;
    // WM_DEVICE_FOUND: address is valid only during the call; index counts the
    // devices reported before it in this search. Returns once handled.
    virtual void NotifyDeviceFound(const wchar_t* address, std::intptr_t index) = 0;
    // WM_SEARCH_END: queued for the host; does not wait.
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
