// SHA-256 and ECDSA P-256 signature checks: CNG (bcrypt.dll) on Windows,
// OpenSSL's libcrypto elsewhere. The byte-format helpers between the two
// (DER key and signature, base64, hex) are portable and shared.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

using Sha256Digest = std::array<std::uint8_t, 32>;

// A running SHA-256. Ok() is false when the system could not set it up; its
// Finish() then gives nothing.
class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    bool Ok() const;
    void Update(const void* data, std::size_t size);
    // The digest of everything passed to Update; the object is spent.
    std::optional<Sha256Digest> Finish();

  private:
    // The platform's end of Finish: false when there is no digest.
    bool FinishInto(Sha256Digest& digest);

    struct Impl;
    std::unique_ptr<Impl> impl_;
};

std::optional<Sha256Digest> Sha256Of(std::string_view bytes);

// Whether signatureDer (an ECDSA signature in DER, as `openssl dgst -sha256
// -sign` writes it) is valid for the SHA-256 of message under publicKeyDer
// (a P-256 SubjectPublicKeyInfo in DER, as `openssl ec -pubout -outform DER`
// writes it). Anything malformed is simply not valid.
bool VerifyEcdsaP256Sha256(const std::vector<std::uint8_t>& publicKeyDer, std::string_view message,
                           const std::vector<std::uint8_t>& signatureDer);

// The uncompressed point X||Y (64 bytes) of a P-256 SubjectPublicKeyInfo;
// nullopt for any other key or encoding.
std::optional<std::array<std::uint8_t, 64>> P256PointOfPublicKey(
    const std::vector<std::uint8_t>& publicKeyDer);

// The DER signature SEQUENCE { INTEGER r, INTEGER s } as r||s, each 32 bytes
// big-endian; nullopt unless it is strict DER with both integers in 1..2^256-1.
std::optional<std::array<std::uint8_t, 64>> RawEcdsaP256Signature(
    const std::vector<std::uint8_t>& signatureDer);

// Standard-alphabet base64 with padding, strict: nullopt on any other
// character, bad padding or a length that is no multiple of four.
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text);

// 64 lowercase hex digits as a digest; nullopt otherwise.
std::optional<Sha256Digest> ParseSha256Hex(std::string_view text);

}  // namespace plat
