// CNG (bcrypt.dll): SHA-256 and ECDSA P-256 verification. CNG takes the
// public key as a BCRYPT_ECCKEY_BLOB and the signature as raw r||s.
// windows.h must come before bcrypt.h.
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <cstring>

#include "platform/crypto.h"
#include "platform/unique_handle.h"

namespace plat {

namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

using Algorithm = UniqueHandle<BCRYPT_ALG_HANDLE,
                               [](BCRYPT_ALG_HANDLE h) { BCryptCloseAlgorithmProvider(h, 0); }>;
using KeyHandle = UniqueHandle<BCRYPT_KEY_HANDLE, BCryptDestroyKey>;
using HashHandle = UniqueHandle<BCRYPT_HASH_HANDLE, BCryptDestroyHash>;

Algorithm OpenAlgorithm(const wchar_t* id) {
    Algorithm algorithm;
    if (!Succeeded(BCryptOpenAlgorithmProvider(algorithm.Put(), id, nullptr, 0))) {
        algorithm.Release();
    }
    return algorithm;
}

}  // namespace

struct Sha256::Impl {
    Algorithm algorithm = OpenAlgorithm(BCRYPT_SHA256_ALGORITHM);
    HashHandle hash;  // destroyed before its algorithm
    bool ok = false;
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
    impl_->ok =
        impl_->algorithm && Succeeded(BCryptCreateHash(impl_->algorithm.Get(), impl_->hash.Put(),
                                                       nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() = default;

bool Sha256::Ok() const { return impl_->ok; }

void Sha256::Update(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (impl_->ok && size > 0) {
        const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        impl_->ok =
            Succeeded(BCryptHashData(impl_->hash.Get(), const_cast<PUCHAR>(bytes), piece, 0));
        bytes += piece;
        size -= piece;
    }
}

bool Sha256::FinishInto(Sha256Digest& digest) {
    const bool ok = impl_->ok &&
                    Succeeded(BCryptFinishHash(impl_->hash.Get(), digest.data(), digest.size(), 0));
    impl_->ok = false;
    return ok;
}

bool VerifyEcdsaP256Sha256(const std::vector<std::uint8_t>& publicKeyDer, std::string_view message,
                           const std::vector<std::uint8_t>& signatureDer) {
    const auto point = P256PointOfPublicKey(publicKeyDer);
    auto raw = RawEcdsaP256Signature(signatureDer);
    const auto digest = Sha256Of(message);
    if (!point || !raw || !digest) {
        return false;
    }
    const Algorithm ecdsa = OpenAlgorithm(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!ecdsa) {
        return false;
    }
    std::uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob, &header, sizeof header);
    std::memcpy(blob + sizeof header, point->data(), point->size());
    KeyHandle key;
    if (!Succeeded(BCryptImportKeyPair(ecdsa.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.Put(), blob,
                                       sizeof blob, 0))) {
        return false;
    }
    Sha256Digest hashed = *digest;
    return BCryptVerifySignature(key.Get(), nullptr, hashed.data(), hashed.size(), raw->data(),
                                 raw->size(), 0) == 0;
}

}  // namespace plat
