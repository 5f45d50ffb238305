// A worker thread whose handle its owner keeps for as long as it may wait on
// it: the handle stays valid after the thread has ended, until the owner lets
// the object go.
#pragma once

#include <windows.h>

#include <memory>

#include "platform/win32/handle.h"

namespace win {

class CWorkerThread {
  public:
    using Entry = unsigned(__stdcall*)(void* parameter);

    // Starts entry(parameter) at once, at normal priority with the default
    // stack size; none when the thread could not be started.
    static std::unique_ptr<CWorkerThread> Start(Entry entry, void* parameter);

    HANDLE Handle() const { return m_handle.Get(); }
    bool HasEnded() const { return WaitForSingleObject(m_handle.Get(), 0) == WAIT_OBJECT_0; }

  private:
    explicit CWorkerThread(HANDLE handle) : m_handle(handle) {}
    CHandle m_handle;
};

}  // namespace win
