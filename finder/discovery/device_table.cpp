#include "finder/discovery/device_table.h"

bool AddDevice(const std::wstring& address, const std::wstring& name, const std::wstring& spare,
               const std::wstring& detail, DeviceTable& table) {
    if (table.find(address) != table.end()) {
        return true;
    }
    auto record = std::make_unique<DeviceInfo>();
    record->strName = name;
    record->strAddress = address;
    record->strSpare = spare;
    record->strDetail = detail;
    table.emplace(record->strAddress, std::move(record));
    return true;
}

void ClearDevices(DeviceTable& table) { table.clear(); }
