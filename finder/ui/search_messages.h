// The search notices as the main dialog's window receives them: the worker's
// host calls become these messages (WM_USER + n), so that the dialog handles
// them on its own thread.
#pragma once

inline constexpr unsigned kWmUser = 0x0400;
// Sent; the worker waits while the dialog empties its table and list.
inline constexpr unsigned WM_SEARCH_START = kWmUser + 200;
// Sent with the device's address text (valid during the handler) and its
// running index; the worker waits.
inline constexpr unsigned WM_DEVICE_FOUND = kWmUser + 300;
// Posted; the worker goes on and ends.
inline constexpr unsigned WM_SEARCH_END = kWmUser + 400;
