#include <process.h>

#include "platform/win32/thread.h"

namespace win {

std::unique_ptr<CWorkerThread> CWorkerThread::Start(Entry entry, void* parameter) {
    const uintptr_t handle = _beginthreadex(nullptr, 0, entry, parameter, 0, nullptr);
    if (handle == 0) {
        return nullptr;
    }
    return std::unique_ptr<CWorkerThread>(new CWorkerThread(reinterpret_cast<HANDLE>(handle)));
}

}  // namespace win
