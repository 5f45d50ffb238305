// The base of the finder's application object: the Windows application
// layer in the program, a bare interface in the native build, where the
// start-up logic runs against a test shell.
#pragma once

#ifdef _WIN32
#include "platform/win32/app.h"
using CTobrelAppBase = win::CApplication;
#else
class CTobrelAppBase {
  public:
    virtual ~CTobrelAppBase() = default;
    virtual bool StartInstance() = 0;
};
#endif
