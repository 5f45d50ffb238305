// The devices found by one search, keyed by their IPv4 address text.
#pragma once

#include <map>
#include <memory>
#include <string>

struct DeviceInfo {
    std::wstring strName;
    std::wstring strAddress;
    std::wstring strSpare;
    std::wstring strDetail;
};

// One record per address: two answers from one address are one device.
// The table owns its records; ClearDevices releases them.
using DeviceTable = std::map<std::wstring, std::unique_ptr<DeviceInfo>>;

// Adds a record unless the address is already a key; an existing record is
// never changed. Always true.
bool AddDevice(const std::wstring& address, const std::wstring& name, const std::wstring& spare,
               const std::wstring& detail, DeviceTable& table);

// Empties the table and releases every record.
void ClearDevices(DeviceTable& table);
