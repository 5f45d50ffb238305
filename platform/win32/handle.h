// Owners for the Win32 handles the programs hold, one alias each of the
// platform layer's single owner.
#pragma once

#include <windows.h>

#include "platform/unique_handle.h"

namespace win {

// A kernel object whose "none" is null (threads, events, mutexes).
using CHandle = plat::UniqueHandle<HANDLE, CloseHandle>;
using CMenuHandle = plat::UniqueHandle<HMENU, DestroyMenu>;
using CIconHandle = plat::UniqueHandle<HICON, DestroyIcon>;

}  // namespace win
