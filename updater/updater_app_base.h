// The base of the Updater's application object: the Windows application
// layer in the program, a bare interface in the native build.
#pragma once

#ifdef _WIN32
#include "platform/win32/app.h"
namespace updater {
using CUpdaterAppBase = win::CApplication;
}
#else
namespace updater {
class CUpdaterAppBase {
  public:
    virtual ~CUpdaterAppBase() = default;
    virtual bool StartInstance() = 0;
};
}  // namespace updater
#endif
