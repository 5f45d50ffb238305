// The remembered search targets in "search.ini" beside "profile.ini":
// section "Search", key "Targets", the targets joined by ";".
#pragma once

#include <string>
#include <vector>

namespace finder {

// The targets of the file; none when the file is missing or unreadable.
std::vector<std::wstring> LoadTargets(const std::wstring& file);
// Writes the whole list (an empty list leaves the key empty). False when the
// file could not be written.
bool SaveTargets(const std::wstring& file, const std::vector<std::wstring>& targets);

}  // namespace finder
