#include "finder/qt/device_text.h"

namespace finder_qt {

void UseDeviceNameEncoding() {
    // The core reads answers through plat::FromAnsi, which reads UTF-8 here
    // until the platform layer can read code page 932.
}

}  // namespace finder_qt
