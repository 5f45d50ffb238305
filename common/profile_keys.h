// Names and read limits of the update state that the three programs share.
#pragma once

#include <cstddef>

namespace profile {

inline constexpr wchar_t kProfileFileName[] = L"profile.ini";
inline constexpr wchar_t kUpdateSection[] = L"Update";
inline constexpr wchar_t kUpdateSiteURL[] = L"UpdateSiteURL";
inline constexpr wchar_t kCurrentVersion[] = L"CurrentVersion";
inline constexpr wchar_t kPassedVersion[] = L"PassedVersion";
inline constexpr wchar_t kDownloadedVersion[] = L"DownloadedVersion";

// "url.ini": the site configuration, read by the finder only.
inline constexpr wchar_t kUrlIniFileName[] = L"url.ini";
inline constexpr wchar_t kUrlSection[] = L"URL";

// The value written for "no version".
inline constexpr wchar_t kNoVersion[] = L"0.0.0.0";

// Read capacities in characters, terminator included: a longer value is cut
// to capacity - 1 characters.
inline constexpr std::size_t kVersionCapacity = 32;
inline constexpr std::size_t kUrlCapacity = 260;
inline constexpr std::size_t kUrlIniFirstRunCapacity = 1024;
inline constexpr std::size_t kProductVersionCapacity = 256;

}  // namespace profile
