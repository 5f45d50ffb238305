// The checks that make a release trustworthy: SHA-256, ECDSA P-256 with the
// byte forms around it, the signed version file's lines, and the low-speed
// guard. Run natively (libcrypto) and as a Windows program (CNG).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/crypto.h"
#include "updater/http.h"
#include "updater/version_file.h"

namespace {

using namespace std::chrono_literals;

std::vector<std::uint8_t> Hex(std::string_view hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

// A key pair made with openssl for these cases; the message signed twice
// with `openssl dgst -sha256 -sign`, once giving an r of 31 bytes.
const auto kKey = Hex(
    "3059301306072a8648ce3d020106082a8648ce3d03010703420004bda5a60925701a3755dd9d9816a6cb64870989"
    "3a9a0046cd90d19ace4e72f7632e589ebea65ee24c965553b148790ff6211daff2f2cfae2885957dc2540f9c1c");
const std::string kMessage = "LatestVersion=1.0.0.2\nURL=http://h/slwintool_set_up.exe\n";
const auto kSignature = Hex(
    "304402205eb9435c47af78176191881e5efab8066c316f088b6bd154f851fff68ec99a8c0220055f963ac5c8b5b1"
    "423082cf0133fb225c45c6678340828b0a3835fa408eef87");
const auto kShortRSignature = Hex(
    "3044021f437a387867a544d2c2f4ac47aa6b277bb25bd6cb8d2f0cf75b3833402a3ed8022100f2137883634d1974"
    "d3b09ad34079ee914969e0304b0eac37b05a745ad875dcb0");

const std::string kAbcHex = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

TEST(Sha256, KnownDigestAndPieces) {
    const auto digest = plat::Sha256Of("abc");
    ASSERT_TRUE(digest);
    EXPECT_EQ(std::vector<std::uint8_t>(digest->begin(), digest->end()), Hex(kAbcHex));
    plat::Sha256 pieces;
    pieces.Update("a", 1);
    pieces.Update("", 0);
    pieces.Update("bc", 2);
    EXPECT_EQ(pieces.Finish(), digest);
}

TEST(EcdsaP256, SignaturesOfTheKeyVerify) {
    EXPECT_TRUE(plat::VerifyEcdsaP256Sha256(kKey, kMessage, kSignature));
    EXPECT_TRUE(plat::VerifyEcdsaP256Sha256(kKey, kMessage, kShortRSignature));
    const auto raw = plat::RawEcdsaP256Signature(kShortRSignature);
    ASSERT_TRUE(raw);
    EXPECT_EQ((*raw)[0], 0x00);  // r padded on the left
    EXPECT_EQ((*raw)[1], 0x43);
    EXPECT_EQ((*raw)[32], 0xF2);  // s without its sign byte
}

TEST(EcdsaP256, AnythingChangedFails) {
    std::string message = kMessage;
    message[15] = '3';
    EXPECT_FALSE(plat::VerifyEcdsaP256Sha256(kKey, message, kSignature));
    auto signature = kSignature;
    signature[10] ^= 0x01;
    EXPECT_FALSE(plat::VerifyEcdsaP256Sha256(kKey, kMessage, signature));
    auto key = kKey;
    key[40] ^= 0x01;  // another point (or none on the curve)
    EXPECT_FALSE(plat::VerifyEcdsaP256Sha256(key, kMessage, kSignature));
    EXPECT_FALSE(plat::VerifyEcdsaP256Sha256({}, kMessage, kSignature));
    EXPECT_FALSE(plat::VerifyEcdsaP256Sha256(kKey, kMessage, {}));
}

struct DerCase {
    const char* name;
    std::string hex;
    bool valid;
};

class DerSignature : public ::testing::TestWithParam<DerCase> {};

TEST_P(DerSignature, OnlyStrictDerIsTaken) {
    EXPECT_EQ(plat::RawEcdsaP256Signature(Hex(GetParam().hex)).has_value(), GetParam().valid);
}

INSTANTIATE_TEST_SUITE_P(Forms, DerSignature,
                         ::testing::Values(DerCase{"Small", "3006020101020102", true},
                                           DerCase{"TrailingByte", "300602010102010200", false},
                                           DerCase{"LengthBeyondEnd", "3007020101020102", false},
                                           DerCase{"NegativeInteger", "3006020181020102", false},
                                           DerCase{"ZeroInteger", "3006020100020102", false},
                                           DerCase{"NeedlessPadding", "300702020001020102", false},
                                           DerCase{"NotASequence", "3106020101020102", false},
                                           DerCase{"ThirtyThreeBytes",
                                                   "3026022101" + std::string(64, '1') + "020101",
                                                   false},
                                           DerCase{"OneIntegerOnly", "3003020101", false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct Base64Case {
    const char* name;
    const char* text;
    std::optional<std::string> bytes;
};

class Base64 : public ::testing::TestWithParam<Base64Case> {};

TEST_P(Base64, StandardPaddedOnly) {
    const auto decoded = plat::DecodeBase64(GetParam().text);
    ASSERT_EQ(decoded.has_value(), GetParam().bytes.has_value());
    if (decoded) {
        EXPECT_EQ(std::string(decoded->begin(), decoded->end()), *GetParam().bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, Base64,
                         ::testing::Values(Base64Case{"Empty", "", std::string()},
                                           Base64Case{"TwoPads", "YQ==", std::string("a")},
                                           Base64Case{"OnePad", "YWI=", std::string("ab")},
                                           Base64Case{"NoPad", "YWJj+/8A",
                                                      std::string("abc\xFB\xFF\x00", 6)},
                                           Base64Case{"Unpadded", "YQ", std::nullopt},
                                           Base64Case{"UrlAlphabet", "YWJj-_8A", std::nullopt},
                                           Base64Case{"PadInside", "YQ==YQ==", std::nullopt},
                                           Base64Case{"LooseBitsUnderPad", "YR==", std::nullopt},
                                           Base64Case{"LineEnd", "YQ==\r", std::nullopt}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Sha256Hex, LowercaseSixtyFourDigitsOnly) {
    EXPECT_EQ(plat::ParseSha256Hex(kAbcHex), plat::Sha256Of("abc"));
    for (const std::string& bad : {"B" + kAbcHex.substr(1), kAbcHex + "0", kAbcHex.substr(1),
                                   kAbcHex.substr(0, 63) + "\r"}) {
        EXPECT_FALSE(plat::ParseSha256Hex(bad)) << bad;
    }
}

struct SplitCase {
    const char* name;
    std::string file;
    std::optional<std::string> signedBytes;
    std::string signature;
};

class SignedFile : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SignedFile, SignatureIsTheLastLine) {
    const auto parts = updater::SplitSignedVersionFile(GetParam().file);
    ASSERT_EQ(parts.has_value(), GetParam().signedBytes.has_value());
    if (parts) {
        EXPECT_EQ(parts->signedBytes, *GetParam().signedBytes);
        EXPECT_EQ(parts->signature, GetParam().signature);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, SignedFile,
    ::testing::Values(SplitCase{"WithLineEnd", "A=1\nSHA256=x\nSignature=YQ==\n",
                                std::string("A=1\nSHA256=x\n"), "YQ=="},
                      SplitCase{"WithoutLineEnd", "A=1\nSignature=YQ==", std::string("A=1\n"),
                                "YQ=="},
                      SplitCase{"AlsoAnEmptyFile", "Signature=", std::string(), ""},
                      SplitCase{"None", "A=1\nB=2\n", std::nullopt, ""},
                      SplitCase{"NotAtALineStart", "A=1 Signature=YQ==\n", std::nullopt, ""},
                      SplitCase{"LineAfterIt", "A=1\nSignature=YQ==\nB=2\n", std::nullopt, ""},
                      SplitCase{"TwoOfThem", "Signature=YQ==\nSignature=YQ==\n", std::nullopt, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SignedFile, OneSha256LineAtALineStart) {
    EXPECT_EQ(updater::FindSha256Value("L=1\nSHA256=ab\r\n"), "ab\r");
    EXPECT_EQ(updater::FindSha256Value("SHA256=ab"), "ab");
    EXPECT_FALSE(updater::FindSha256Value("L=1\nX SHA256=ab\n"));
    EXPECT_FALSE(updater::FindSha256Value("SHA256=ab\nSHA256=ab\n"));
    EXPECT_FALSE(updater::FindSha256Value("L=1\n"));
}

TEST(VersionText, EachPieceEndsAtItsFirstZeroByte) {
    std::string bytes = "A=1";
    bytes += '\0';
    bytes += "hidden";
    bytes.resize(16384, 'x');
    bytes += "B=2";
    EXPECT_EQ(updater::VersionTextFromBytes(bytes), L"A=1B=2");
}

TEST(LowSpeedGuard, EndsWhenTheLastWindowBroughtTooLittle) {
    using Clock = updater::LowSpeedGuard::Clock;
    const Clock::time_point t0{};
    updater::LowSpeedGuard guard(60s, 1024, t0);
    // The first window is given in full.
    EXPECT_TRUE(guard.Allows(0, t0 + 59s));
    // 1 KiB in each minute keeps it going, however slowly it comes.
    EXPECT_TRUE(guard.Allows(1024, t0 + 60s));
    EXPECT_TRUE(guard.Allows(2000, t0 + 100s));
    EXPECT_TRUE(guard.Allows(2048, t0 + 120s));
    // From 120 s to 181 s only 1023 bytes.
    EXPECT_FALSE(guard.Allows(3071, t0 + 181s));

    updater::LowSpeedGuard fast(60s, 1024, t0);
    for (int s = 1; s <= 600; ++s) {
        ASSERT_TRUE(fast.Allows(std::uint64_t(s) * 1000000, t0 + std::chrono::seconds(s)));
    }
    // A stop after a fast start ends a window later.
    EXPECT_TRUE(fast.Allows(600000000, t0 + 659s));
    EXPECT_FALSE(fast.Allows(600000000, t0 + 662s));
}

}  // namespace
