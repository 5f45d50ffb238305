// The trace of every search, appended to "slwintool.log" in the current
// folder. Nothing reads it back.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

// Held for the whole of one entry, from opening the file to closing it.
extern std::mutex g_csLog;

inline constexpr std::size_t kLogEntryMax = 511;

// printf-style wide format ("%ls" for wide texts); the entry is cut after
// 511 characters and written with one line end. Dropped silently when the
// file cannot be opened.
void WriteLog(const wchar_t* format, ...);

// On unless switched off: a program that keeps no trace (the command-line
// finder) switches it off before its search, and WriteLog then writes nothing.
void SetLogEnabled(bool enabled);

// Where WriteLog appends; "slwintool.log" (relative) unless changed.
void SetLogFilePath(const std::wstring& path);
std::wstring LogFilePath();

// Platform half: opens path for appending, writes entry and a line end,
// closes it. False when the file could not be opened.
bool AppendLogEntry(const std::wstring& path, std::wstring_view entry);
