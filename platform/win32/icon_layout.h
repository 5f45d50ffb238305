// Where a dialog draws its icon while minimized. Free of Windows headers so
// that it is tested natively too.
#pragma once

namespace win {

struct IconOrigin {
    int x;
    int y;
};

// Centred in the client area, each half rounded toward zero.
constexpr IconOrigin CentredIconOrigin(int clientWidth, int clientHeight, int iconWidth,
                                       int iconHeight) {
    return {(clientWidth - iconWidth + 1) / 2, (clientHeight - iconHeight + 1) / 2};
}

}  // namespace win
