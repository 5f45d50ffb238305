// CNG (bcrypt.dll): SHA-256 and ECDSA P-256 verification. CNG takes the
// public key as a BCRYPT_ECCKEY_BLOB and the signature as raw r||s.
// windows.h must come before bcrypt.h.
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <cstring>

#include "platform/crypto.h"

namespace plat {

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

class Algorithm {
  public:
    explicit Algorithm(const wchar_t* id) {
        if (!Succeeded(BCryptOpenAlgorithmProvider(&handle_, id, nullptr, 0))) {
            handle_ = nullptr;
        }
    }
    ~Algorithm() {
        if (handle_ != nullptr) {
            BCryptCloseAlgorithmProvider(handle_, 0);
        }
    }
    Algorithm(const Algorithm&) = delete;
    Algorithm& operator=(const Algorithm&) = delete;
    BCRYPT_ALG_HANDLE Get() const { return handle_; }

  private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class KeyHandle {
  public:
    KeyHandle() = default;
    ~KeyHandle() {
        if (handle_ != nullptr) {
            BCryptDestroyKey(handle_);
        }
    }
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    BCRYPT_KEY_HANDLE* Out() { return &handle_; }
    BCRYPT_KEY_HANDLE Get() const { return handle_; }

  private:
    BCRYPT_KEY_HANDLE handle_ = nullptr;
};

}  // namespace

struct Sha256::Impl {
    Algorithm algorithm{BCRYPT_SHA256_ALGORITHM};
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = false;
    ~Impl() {
        if (hash != nullptr) {
            BCryptDestroyHash(hash);
        }
    }
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
    impl_->ok = impl_->algorithm.Get() != nullptr &&
                Succeeded(BCryptCreateHash(impl_->algorithm.Get(), &impl_->hash, nullptr, 0,
                                           nullptr, 0, 0));
}

Sha256::~Sha256() = default;

bool Sha256::Ok() const { return impl_->ok; }

void Sha256::Update(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (impl_->ok && size > 0) {
        const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        impl_->ok = Succeeded(BCryptHashData(impl_->hash, const_cast<PUCHAR>(bytes), piece, 0));
        bytes += piece;
        size -= piece;
    }
}

std::optional<Sha256Digest> Sha256::Finish() {
    Sha256Digest digest{};
    const bool ok =
        impl_->ok && Succeeded(BCryptFinishHash(impl_->hash, digest.data(), digest.size(), 0));
    impl_->ok = false;
    if (!ok) {
        return std::nullopt;
    }
    return digest;
}

bool VerifyEcdsaP256Sha256(const std::vector<std::uint8_t>& publicKeyDer, std::string_view message,
                           const std::vector<std::uint8_t>& signatureDer) {
    const auto point = P256PointOfPublicKey(publicKeyDer);
    auto raw = RawEcdsaP256Signature(signatureDer);
    const auto digest = Sha256Of(message);
    if (!point || !raw || !digest) {
        return false;
    }
    Algorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
    if (ecdsa.Get() == nullptr) {
        return false;
    }
    std::uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob, &header, sizeof header);
    std::memcpy(blob + sizeof header, point->data(), point->size());
    KeyHandle key;
    if (!Succeeded(BCryptImportKeyPair(ecdsa.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.Out(), blob,
                                       sizeof blob, 0))) {
        return false;
    }
    Sha256Digest hashed = *digest;
    return BCryptVerifySignature(key.Get(), nullptr, hashed.data(), hashed.size(), raw->data(),
                                 raw->size(), 0) == 0;
}

}  // namespace plat
