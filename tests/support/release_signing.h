// Signed version files for tests, made with the openssl command line as a
// release makes them: "SHA256=" the installer's hash, then "Signature=" the
// base64 of `openssl dgst -sha256 -sign KEY` over every byte before it.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

// The test key pair of the Updater built for tests (bin/signed/ of the
// native or the Windows build): the program and its private key.
struct SignedUpdater {
    std::filesystem::path program;
    std::filesystem::path privateKey;
};
SignedUpdater TestKeyUpdater(bool windows);

// A new P-256 private key (PEM) at path; false when openssl failed.
bool MakeSigningKey(const std::filesystem::path& path);

// 64 lowercase hex digits of the bytes' SHA-256.
std::string Sha256Hex(const std::string& bytes);

// The two lines and the installer's hash, LF-ended, as signed.
std::string VersionLines(const std::string& latest, const std::string& url,
                         const std::string& installerBytes);

// body followed by its "Signature=" line; "" when openssl failed.
std::string Signed(const std::string& body, const std::filesystem::path& privateKey);

}  // namespace testsupport
