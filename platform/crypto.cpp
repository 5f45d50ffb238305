#include "platform/crypto.h"

#include <algorithm>

namespace plat {

std::optional<Sha256Digest> Sha256::Finish() {
    Sha256Digest digest{};
    if (!FinishInto(digest)) {
        return std::nullopt;
    }
    return digest;
}

namespace {

// SubjectPublicKeyInfo { id-ecPublicKey, prime256v1 } BIT STRING { 04 X Y }:
// everything but the point is fixed.
constexpr std::uint8_t kP256SpkiPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48,
                                            0xCE, 0x3D, 0x02, 0x01, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                            0xCE, 0x3D, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

// Reads one DER element of tag at pos with a short or one-byte long length;
// sets [begin, end) of its contents.
bool ReadElement(const std::vector<std::uint8_t>& der, std::size_t& pos, std::uint8_t tag,
                 std::size_t& begin, std::size_t& end) {
    if (pos + 2 > der.size() || der[pos] != tag) {
        return false;
    }
    std::size_t length = der[pos + 1];
    std::size_t at = pos + 2;
    if (length == 0x81) {
        if (at >= der.size() || der[at] < 0x80) {
            return false;  // not the shortest form
        }
        length = der[at++];
    } else if (length > 0x80) {
        return false;
    }
    if (length > der.size() - at) {
        return false;
    }
    begin = at;
    end = at + length;
    pos = end;
    return true;
}

// A positive INTEGER of at most 32 significant bytes, in minimal DER, into out.
bool ReadScalar(const std::vector<std::uint8_t>& der, std::size_t& pos, std::uint8_t* out) {
    std::size_t begin = 0;
    std::size_t end = 0;
    if (!ReadElement(der, pos, 0x02, begin, end) || begin == end) {
        return false;
    }
    if (der[begin] & 0x80) {
        return false;  // negative
    }
    if (der[begin] == 0x00) {
        if (end - begin == 1 || !(der[begin + 1] & 0x80)) {
            return false;  // zero, or a padding byte that is not needed
        }
        ++begin;
    }
    if (end - begin > 32) {
        return false;
    }
    std::fill(out, out + 32, 0);
    std::copy(der.begin() + static_cast<std::ptrdiff_t>(begin),
              der.begin() + static_cast<std::ptrdiff_t>(end), out + 32 - (end - begin));
    return true;
}

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

}  // namespace

std::optional<Sha256Digest> Sha256Of(std::string_view bytes) {
    Sha256 hash;
    hash.Update(bytes.data(), bytes.size());
    return hash.Finish();
}

std::optional<std::array<std::uint8_t, 64>> P256PointOfPublicKey(
    const std::vector<std::uint8_t>& publicKeyDer) {
    constexpr std::size_t kPrefix = sizeof kP256SpkiPrefix;
    if (publicKeyDer.size() != kPrefix + 64 ||
        !std::equal(kP256SpkiPrefix, kP256SpkiPrefix + kPrefix, publicKeyDer.begin())) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 64> point{};
    std::copy(publicKeyDer.begin() + kPrefix, publicKeyDer.end(), point.begin());
    return point;
}

std::optional<std::array<std::uint8_t, 64>> RawEcdsaP256Signature(
    const std::vector<std::uint8_t>& signatureDer) {
    std::size_t pos = 0;
    std::size_t begin = 0;
    std::size_t end = 0;
    if (!ReadElement(signatureDer, pos, 0x30, begin, end) || end != signatureDer.size()) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 64> raw{};
    pos = begin;
    if (!ReadScalar(signatureDer, pos, raw.data()) ||
        !ReadScalar(signatureDer, pos, raw.data() + 32) || pos != end) {
        return std::nullopt;
    }
    return raw;
}

std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int values[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + static_cast<std::size_t>(k)];
            if (c == '=' && last && k >= 2) {
                values[k] = 0;
                ++padding;
                continue;
            }
            values[k] = padding > 0 ? -1 : Base64Value(c);
            if (values[k] < 0) {
                return std::nullopt;
            }
        }
        const std::uint32_t group = (static_cast<std::uint32_t>(values[0]) << 18) |
                                    (static_cast<std::uint32_t>(values[1]) << 12) |
                                    (static_cast<std::uint32_t>(values[2]) << 6) |
                                    static_cast<std::uint32_t>(values[3]);
        // The bits under the padding must be zero: one text per byte string.
        if ((padding == 1 && (group & 0xFF) != 0) || (padding == 2 && (group & 0xFFFF) != 0)) {
            return std::nullopt;
        }
        out.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2) {
            out.push_back(static_cast<std::uint8_t>(group >> 8));
        }
        if (padding < 1) {
            out.push_back(static_cast<std::uint8_t>(group));
        }
    }
    return out;
}

std::optional<Sha256Digest> ParseSha256Hex(std::string_view text) {
    if (text.size() != 64) {
        return std::nullopt;
    }
    Sha256Digest digest{};
    for (std::size_t i = 0; i < 64; ++i) {
        const char c = text[i];
        int value = 0;
        if (c >= '0' && c <= '9') {
            value = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            value = c - 'a' + 10;
        } else {
            return std::nullopt;
        }
        digest[i / 2] = static_cast<std::uint8_t>((digest[i / 2] << 4) | value);
    }
    return digest;
}

}  // namespace plat
