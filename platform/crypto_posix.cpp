// OpenSSL's libcrypto: EVP digests and EVP_DigestVerify on the DER forms as
// they come.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include "platform/crypto.h"
#include "platform/unique_handle.h"

namespace plat {

namespace {

using MdContext = UniqueHandle<EVP_MD_CTX*, EVP_MD_CTX_free>;
using Key = UniqueHandle<EVP_PKEY*, EVP_PKEY_free>;

}  // namespace

struct Sha256::Impl {
    MdContext context{EVP_MD_CTX_new()};
    bool ok = false;
};

Sha256::Sha256() : impl_(std::make_unique<Impl>()) {
    impl_->ok =
        impl_->context && EVP_DigestInit_ex(impl_->context.Get(), EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() = default;

bool Sha256::Ok() const { return impl_->ok; }

void Sha256::Update(const void* data, std::size_t size) {
    if (impl_->ok && size > 0) {
        impl_->ok = EVP_DigestUpdate(impl_->context.Get(), data, size) == 1;
    }
}

bool Sha256::FinishInto(Sha256Digest& digest) {
    unsigned length = 0;
    const bool ok = impl_->ok &&
                    EVP_DigestFinal_ex(impl_->context.Get(), digest.data(), &length) == 1 &&
                    length == digest.size();
    impl_->ok = false;
    return ok;
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
        EVP_DigestVerifyInit(context.Get(), nullptr, EVP_sha256(), nullptr, key.Get()) != 1 ||
        EVP_DigestVerifyUpdate(context.Get(), message.data(), message.size()) != 1) {
        return false;
    }
    return EVP_DigestVerifyFinal(context.Get(), signatureDer.data(), signatureDer.size()) == 1;
}

}  // namespace plat
