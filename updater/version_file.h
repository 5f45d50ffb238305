// The Updater's pure text rules: the version file, the parts of an HTTP URL,
// the installer's local name and the command-line test. No I/O here, so the
// rules are the same on every platform and can be exercised directly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"

namespace updater {

// The signed version file the Updater acted on, kept byte for byte beside
// the installer it names, so that the finder can check the installer again
// right before it starts it.
inline constexpr wchar_t kKeptVersionFileName[] = L"latestversion.ini";

struct VersionFile {
    std::wstring latestVersion;  // after the first "=" of the first non-empty line
    std::wstring installerURL;   // after the first "=" of the second non-empty line
};

// Reads the first two non-empty LF-separated lines. The first must contain
// "=" and "LatestVersion", the second "=" and "URL" (case-sensitive,
// anywhere in the line); each value is everything after the first "=", with
// one CR at its end dropped (a CR LF line end). nullopt when either value is
// missing or empty.
std::optional<VersionFile> ParseVersionFile(std::wstring_view text);

// The version file's bytes as text: converted from the ANSI code page in
// pieces of 16384 bytes (the size the text download reads), each up to its
// first zero byte.
std::wstring VersionTextFromBytes(std::string_view bytes);

// A signed version file: its last line begins with "Signature=" and holds the
// base64 signature of every byte before that line.
struct SignedParts {
    std::string_view signedBytes;  // everything before the "Signature=" line
    std::string_view signature;    // the base64 text after "Signature=", line end dropped
};

// The parts when the first line that begins with "Signature=" is the last
// line (an LF may end it); nullopt otherwise.
std::optional<SignedParts> SplitSignedVersionFile(std::string_view bytes);

// The value of the one line that begins with "SHA256=" (up to its LF, not
// checked further); nullopt when there is no such line or more than one.
std::optional<std::string_view> FindSha256Value(std::string_view signedBytes);

// A version file whose signature verifies under a release's public key.
struct VerifiedVersionFile {
    VersionFile file;                    // read from the signed bytes only
    plat::Sha256Digest installerSha256;  // the "SHA256=" line
    std::string_view signedBytes;        // everything before the "Signature=" line
};

// The signed parts of bytes when the "Signature=" line holds a valid
// signature of them under publicKey (a P-256 SubjectPublicKeyInfo in DER),
// they hold one well-formed "SHA256=" line and their first two lines are a
// version file; nullopt otherwise.
std::optional<VerifiedVersionFile> VerifySignedVersionFile(
    std::string_view bytes, const std::vector<std::uint8_t>& publicKey);

struct UrlParts {
    std::wstring host;    // up to the first "/" after the scheme, port text and all
    std::wstring object;  // from that "/" to the end, query included
};

// Drops the first 7 characters ("http://" unseen); the host is the rest up to
// its first "/", the object the rest from there. Without a "/", the host is
// empty and the object is the whole rest.
UrlParts SplitHttpUrl(std::wstring_view url);

// The URL's last part as the shell's file-name-of-path finds it: the text
// after the last "/", "\" or ":" that is followed by a character other than
// "/" and "\"; the whole text when there is none.
std::wstring InstallerFileName(std::wstring_view url);

// Whether name can be created inside the folder as a plain file of that
// name: not empty, not "." or "..", no separator, drive or wildcard
// character, no control character, no trailing dot or blank, and no device
// name (CON, NUL, COM0-COM9, LPT0-LPT9, COM and LPT with a superscript 1, 2
// or 3, with any extension), which would swallow the download.
bool IsSafeInstallerName(std::wstring_view name);

// The Windows command-line rule: the program's name ends at the first blank
// or control character outside double quotes; blanks and control characters
// after it are skipped; true when anything remains.
bool HasArgumentsAfterProgramName(std::wstring_view commandLine);

// The Content-Length text as an unsigned decimal number: leading digits only,
// "" or no digits give 0. nullopt when the digits do not fit in 64 bits.
std::optional<std::uint64_t> ParseContentLength(std::string_view text);

}  // namespace updater
