// OpenSSL's libcrypto: EVP digests and EVP_DigestVerify on the DER forms as
// they come.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include "platform/crypto.h"

namespace plat {

namespace {

struct MdContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using MdContext = std::unique_ptr<EVP_MD_CTX, MdContextDeleter>;

struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;

}  // namespace

struct Sha256::Impl {
    MdContext context{EVP_MD_CTX_new()};
    bool ok = false;
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
    impl_->ok =
        impl_->context && EVP_DigestInit_ex(impl_->context.get(), EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() = default;

bool Sha256::Ok() const { return impl_->ok; }

void Sha256::Update(const void* data, std::size_t size) {
    if (impl_->ok && size > 0) {
        impl_->ok = EVP_DigestUpdate(impl_->context.get(), data, size) == 1;
    }
}

std::optional<Sha256Digest> Sha256::Finish() {
    Sha256Digest digest{};
    unsigned length = 0;
    const bool ok = impl_->ok &&
                    EVP_DigestFinal_ex(impl_->context.get(), digest.data(), &length) == 1 &&
                    length == digest.size();
    impl_->ok = false;
    if (!ok) {
        return std::nullopt;
    }
    return digest;
}

bool VerifyEcdsaP256Sha256(const std::vector<std::uint8_t>& publicKeyDer, std::string_view message,
                           const std::vector<std::uint8_t>& signatureDer) {
    // The same strict forms as the Windows side, so that both accept alike.
    if (!P256PointOfPublicKey(publicKeyDer) || !RawEcdsaP256Signature(signatureDer)) {
        return false;
    }
    const unsigned char* cursor = publicKeyDer.data();
    Key key(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(publicKeyDer.size())));
    MdContext context(EVP_MD_CTX_new());
    if (!key || !context ||
        EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestVerifyUpdate(context.get(), message.data(), message.size()) != 1) {
        return false;
    }
    return EVP_DigestVerifyFinal(context.get(), signatureDer.data(), signatureDer.size()) == 1;
}

}  // namespace plat
