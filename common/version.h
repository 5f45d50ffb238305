// Dotted version strings ("1.0.0.0") and their comparison, shared by the
// finder and the Updater.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// Always exactly four numbers, the leftmost first.
using VersionNumbers = std::array<std::int32_t, 4>;

// Reads the first four dot-separated numbers. Runs of dots count as one
// separator; each number is read as wcstol does in base 10 (leading white
// space, optional sign, digits up to the first other character, clamped to
// the 32-bit range). A missing number is 0, so "1.2" and "" still give four.
VersionNumbers ParseVersion(std::wstring_view text);

// True when, in the leftmost place where the two differ, the candidate holds
// the greater number. Equal versions are never newer than each other.
bool IsNewerVersion(const VersionNumbers& candidate, const VersionNumbers& reference);
