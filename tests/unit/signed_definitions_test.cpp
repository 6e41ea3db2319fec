// The host's hashing and signature verification, and the readers of signed definitions. Runs on
// every host: under Wine it tests CNG.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>

#include "app/builtin_keys.h"
#include "discovery/base64.h"
#include "discovery/definitions.h"
#include "discovery/signed_definitions.h"
#include "download/checksum.h"
#include "download/verify.h"
#include "platform/der_signature.h"
#include "tests/support/test_platform.h"
#include "tests/support/test_signer.h"

namespace fw {
namespace {

using test::TestSigner;

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(CryptoTest, Sha256KnownValuesInAnyPieces) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(1000, 'a'), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
    };
    for (const auto& [input, hex] : cases) {
        Sha256Digest whole{}, pieces{};
        ASSERT_TRUE(Sha256::Of(AsBytes(input), whole));
        EXPECT_EQ(DigestHex(whole), hex);
        Sha256 hash;
        for (std::size_t i = 0; i < input.size(); i += 7) {
            ASSERT_TRUE(hash.Update(input.data() + i, std::min<std::size_t>(7, input.size() - i)));
        }
        ASSERT_TRUE(hash.Finish(pieces));
        EXPECT_EQ(pieces, whole);
    }
}

TEST(CryptoTest, OnlyTheRightKeyMessageAndSignatureVerify) {
    TestSigner signer, other;
    std::string message = "update~Fantasy~f.exe~5~1\r\n";
    Bytes signature = signer.Sign(message);
    Bytes cut(signature.begin(), signature.end() - 1);
    Bytes flipped = signature;
    flipped[flipped.size() / 2] ^= 1;
    Bytes keyWithTail = signer.PublicKey();
    keyWithTail.push_back(0);
    EXPECT_TRUE(VerifyEcdsaP256Sha256(signer.PublicKey(), AsBytes(message), signature));
    EXPECT_FALSE(VerifyEcdsaP256Sha256(other.PublicKey(), AsBytes(message), signature));
    EXPECT_FALSE(VerifyEcdsaP256Sha256(signer.PublicKey(), AsBytes(message + "x"), signature));
    EXPECT_FALSE(VerifyEcdsaP256Sha256(signer.PublicKey(), AsBytes(message), cut));
    EXPECT_FALSE(VerifyEcdsaP256Sha256(signer.PublicKey(), AsBytes(message), flipped));
    EXPECT_FALSE(VerifyEcdsaP256Sha256(keyWithTail, AsBytes(message), signature));
    EXPECT_FALSE(VerifyEcdsaP256Sha256({}, AsBytes(message), signature));
    EXPECT_FALSE(VerifyEcdsaP256Sha256(signer.PublicKey(), AsBytes(message), {}));
}

// One table of encodings, built around a fresh valid signature, with the verdict every host
// must give: only strict DER with 1 <= r, s < n verifies (the high-S twin is still valid ECDSA).
TEST(CryptoTest, TheSameDerVerdictsOnEveryHost) {
    using Scalar = std::array<std::uint8_t, 32>;
    TestSigner signer;
    std::string message = "serial~Defs.txt~1\n";
    Bytes valid = signer.Sign(message);
    EcdsaP256Signature rs;
    ASSERT_TRUE(ParseStrictEcdsaP256Signature(valid, rs));
    const Scalar order = {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF,
                          0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xBC, 0xE6, 0xFA, 0xAD, 0xA7, 0x17,
                          0x9E, 0x84, 0xF3, 0xB9, 0xCA, 0xC2, 0xFC, 0x63, 0x25, 0x51};
    auto minus = [](const Scalar& a, const Scalar& b) {
        Scalar out{};
        int borrow = 0;
        for (int i = 31; i >= 0; --i) {
            int d = a[i] - b[i] - borrow;
            borrow = d < 0;
            out[i] = static_cast<std::uint8_t>(d + (borrow ? 256 : 0));
        }
        return out;
    };
    // Built byte by byte: GCC 12 at -O3 sees phantom overflows in small vector inserts.
    auto join = [](Bytes a, const Bytes& b) {
        a.reserve(a.size() + b.size());
        for (std::uint8_t byte : b) a.push_back(byte);
        return a;
    };
    auto content = [&](const Scalar& v) {  // minimal positive digits
        std::size_t first = 0;
        while (first + 1 < v.size() && v[first] == 0 && (v[first + 1] & 0x80) == 0) ++first;
        Bytes d;
        if (v[first] & 0x80) d.push_back(0);
        return join(d, Bytes(v.begin() + static_cast<std::ptrdiff_t>(first), v.end()));
    };
    auto tlv = [&](std::uint8_t tag, const Bytes& body, bool longForm = false) {
        Bytes out{tag};
        if (longForm) out.push_back(0x81);
        out.push_back(static_cast<std::uint8_t>(body.size()));
        return join(out, body);
    };
    auto sig = [&](const Bytes& r, const Bytes& s) { return tlv(0x30, join(r, s)); };
    Bytes r = tlv(0x02, content(rs.r)), s = tlv(0x02, content(rs.s));
    Bytes padded = join(Bytes{0}, content(rs.r));
    Scalar one{};
    one[31] = 1;
    Scalar zero{};
    Bytes trailing = join(valid, Bytes{0});
    Bytes indefinite = valid;
    indefinite[1] = 0x80;
    Bytes twoByteLength = join({0x30, 0x82, 0x00, static_cast<std::uint8_t>(valid.size() - 2)},
                               Bytes(valid.begin() + 2, valid.end()));
    struct Case {
        const char* what;
        Bytes der;
        bool verifies;
    };
    const Case cases[] = {
        {"valid", valid, true},
        {"high-S twin", sig(r, tlv(0x02, content(minus(order, rs.s)))), true},
        {"re-encoded the same", sig(r, s), true},
        {"long-form sequence length", tlv(0x30, join(r, s), true), false},
        {"long-form integer length", sig(tlv(0x02, content(rs.r), true), s), false},
        {"two-byte sequence length", twoByteLength, false},
        {"indefinite length", indefinite, false},
        {"extra leading zero in r", sig(tlv(0x02, padded), s), false},
        {"r encoded as negative", sig(tlv(0x02, Bytes{0xFF}), s), false},
        {"r = 0", sig(tlv(0x02, Bytes{0}), s), false},
        {"s = 0", sig(r, tlv(0x02, content(zero))), false},
        {"r = n", sig(tlv(0x02, content(order)), s), false},
        {"s = n", sig(r, tlv(0x02, content(order))), false},
        {"s = n + s", sig(r, tlv(0x02, join(Bytes{0x01}, Bytes(rs.s.begin(), rs.s.end())))), false},
        {"r = 1", sig(tlv(0x02, content(one)), s), false},
        {"empty integer", sig(tlv(0x02, Bytes{}), s), false},
        {"a third integer", tlv(0x30, join(join(r, s), tlv(0x02, Bytes{1}))), false},
        {"byte after the sequence", trailing, false},
        {"set, not sequence", tlv(0x31, join(r, s)), false},
        {"bit string, not integer", sig(tlv(0x03, content(rs.r)), s), false},
        {"sequence longer than the bytes", Bytes(valid.begin(), valid.end() - 1), false},
        {"s missing", tlv(0x30, r), false},
        {"swapped r and s", sig(s, r), false},
        {"empty", Bytes{}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(VerifyEcdsaP256Sha256(signer.PublicKey(), AsBytes(message), c.der), c.verifies);
        Sha256Digest digest;
        ASSERT_TRUE(Sha256::Of(AsBytes(message), digest));
        EXPECT_EQ(VerifyEcdsaP256Sha256Digest(signer.PublicKey(), digest, c.der), c.verifies);
    }
}

TEST(SignedDefinitionsTest, Base64IsStrict) {
    EXPECT_EQ(EncodeBase64(AsBytes("fo")), "Zm8=");
    for (std::string text : {"", "Zg==", "Zm8=", "Zm9v", "+/+/"}) {
        std::optional<Bytes> bytes = DecodeBase64(text);
        ASSERT_TRUE(bytes) << text;
        EXPECT_EQ(EncodeBase64(*bytes), text);
    }
    for (std::string text : {"Zg=", "Zg", "Zh==", "Z===", "Zm 9v", "Zg==Zg==", "Zm9v\n", "Zm-v"}) {
        EXPECT_FALSE(DecodeBase64(text)) << text;
    }
}

TEST(SignedDefinitionsTest, SplitsAtTheFirstSignatureLine) {
    struct Case {
        std::string answer;
        bool found;
        bool othersAfter;
        std::string signedBytes;
        std::size_t signatures;
    };
    const Case cases[] = {
        {"a~1\nb~2\n", false, false, "a~1\nb~2\n", 0},
        {"a~1\r\nsignature~x~y~z\r\n", true, false, "a~1\r\n", 1},
        {"a~1\nSIGNATURE~x\n\r\n\nSignature~y\n", true, false, "a~1\n", 2},
        {"a~1\nsignature~x\nupdate~b~c~1~2\n", true, true, "a~1\n", 1},
        {"signature~x", true, false, "", 1},
        {"#signature~x\nsignatures~y\n~signature~z\n", false, false,
         "#signature~x\nsignatures~y\n~signature~z\n", 0},
        {"a\nsignature\r\n# note\n", true, true, "a\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        SignatureBlock block = SplitSignatureBlock(c.answer);
        EXPECT_EQ(block.found, c.found);
        EXPECT_EQ(block.othersAfter, c.othersAfter);
        EXPECT_EQ(block.signedBytes, c.signedBytes);
        EXPECT_EQ(block.signatureLines.size(), c.signatures);
    }
}

TEST(SignedDefinitionsTest, FieldsOfTheFormat) {
    std::string hex(64, 'a');
    EXPECT_TRUE(ParseDigestField("sha256:" + hex));
    EXPECT_TRUE(ParseDigestField("SHA256:" + std::string(64, 'F')));
    for (std::string bad : {"sha256:" + hex.substr(1), "sha256:" + hex + "0", "sha1:" + hex,
                            "sha256:" + hex.substr(1) + "g", hex}) {
        EXPECT_FALSE(ParseDigestField(bad)) << bad;
    }
    EXPECT_EQ(ParseSerial("18446744073709551615"), UINT64_MAX);
    EXPECT_EQ(ParseSerial("007"), 7u);
    for (std::string bad : {"", "18446744073709551616", "-1", "+1", " 1", "1x", "1.0"}) {
        EXPECT_FALSE(ParseSerial(bad)) << bad;
    }
    SignatureLine line;
    EXPECT_TRUE(ParseSignatureLine("Signature~ECDSA-P256-SHA256~00112233AABBCCDD~Zm8=", line));
    EXPECT_EQ(line.algorithm, "ecdsa-p256-sha256");
    EXPECT_EQ(line.keyId, "00112233aabbccdd");
    EXPECT_EQ(line.signature, (Bytes{'f', 'o'}));
    for (std::string bad : {"signature~ecdsa-p256-sha256~00112233aabbccdd",
                            "signature~ecdsa-p256-sha256~0011~Zm8=",
                            "signature~ecdsa-p256-sha256~00112233aabbccdg~Zm8=",
                            "signature~ecdsa-p256-sha256~00112233aabbccdd~Zm8",
                            "signature~ecdsa-p256-sha256~00112233aabbccdd~Zm8=~more"}) {
        EXPECT_FALSE(ParseSignatureLine(bad, line)) << bad;
    }
}

TEST(SignedDefinitionsTest, TheExtendedUpdateRecord) {
    std::string version, server, path;
    EntryArray entries;
    TextList systems;
    DefinitionsTarget target{version, entries, systems, server, path};
    std::string digest = "sha256:" + std::string(62, '0') + "0f";
    ApplyDefinitionLine("update~A~a.exe~5~1f~" + digest + "~later", target);
    ApplyDefinitionLine("update~B~b.exe~5~1f~sha256:zz", target);
    ApplyDefinitionLine("update~C~c.exe~5~1f", target);
    ASSERT_EQ(entries.GetSize(), 3u);
    ASSERT_TRUE(entries[0].expectedDigest);
    EXPECT_EQ((*entries[0].expectedDigest)[31], 0x0f);
    EXPECT_EQ(entries[0].expectedChecksum, 0x1fu);
    EXPECT_FALSE(entries[1].expectedDigest);
    EXPECT_FALSE(entries[2].expectedDigest);
}

TEST(SignedDefinitionsTest, EachRefusalOfCheckSignedDefinitions) {
    const std::int64_t kNow = *ParseExpiry("2026-06-01T00:00:00Z");
    TestSigner signer, stranger;
    std::string digest = "~sha256:" + std::string(64, 'a');
    std::string body = "updatever~3\r\nserial~Defs.txt~5\r\nupdate~A~a.exe~5~1" + digest + "\r\n";
    const TrustedKeys keys = {signer.PublicKey()};
    std::string badLine = "signature~ecdsa-p256-sha256~" + signer.KeyId() + "~" +
                          EncodeBase64(stranger.Sign(body));
    struct Case {
        const char* what;
        std::string answer;
        std::optional<std::uint64_t> seen;
        DefinitionsVerdict verdict;
        std::string detail;
    };
    const Case cases[] = {
        {"trusted", signer.Signed(body), std::nullopt, DefinitionsVerdict::kTrusted, ""},
        {"same serial again", signer.Signed(body), 5, DefinitionsVerdict::kTrusted, ""},
        {"rotation: an unknown key first", stranger.Signed(body) + signer.SignatureLine(body),
         std::nullopt, DefinitionsVerdict::kTrusted, ""},
        {"unsigned", body, std::nullopt, DefinitionsVerdict::kUnsigned, ""},
        {"unknown key", stranger.Signed(body), std::nullopt, DefinitionsVerdict::kUnknownKey,
         stranger.KeyId()},
        {"damaged", body + "signature~ecdsa-p256-sha256~" + signer.KeyId() + "~Zm8\n",
         std::nullopt, DefinitionsVerdict::kDamaged, ""},
        {"another algorithm", body + "signature~ed25519~" + signer.KeyId() + "~Zm8=\n",
         std::nullopt, DefinitionsVerdict::kDamaged, ""},
        {"bad signature", body + badLine + "\n", std::nullopt, DefinitionsVerdict::kBadSignature, ""},
        {"changed after signing", "update~B~b.exe~5~1" + digest + "\n" + signer.Signed(body),
         std::nullopt, DefinitionsVerdict::kBadSignature, ""},
        {"appended record", signer.Signed(body) + "update~B~b.exe~5~1" + digest + "\n",
         std::nullopt, DefinitionsVerdict::kLinesAfter, ""},
        {"older serial", signer.Signed(body), 6, DefinitionsVerdict::kOlderSerial, "5"},
        {"no serial", signer.Signed("version~1\n"), std::nullopt, DefinitionsVerdict::kNoSerial, ""},
        {"two serials", signer.Signed("serial~Defs.txt~5\nserial~Defs.txt~9\n"), std::nullopt,
         DefinitionsVerdict::kNoSerial, ""},
        {"bad serial", signer.Signed("serial~Defs.txt~-5\n"), std::nullopt,
         DefinitionsVerdict::kNoSerial, ""},
        {"other file", signer.Signed("serial~Beta.txt~5\n"), std::nullopt,
         DefinitionsVerdict::kOtherFile, "Beta.txt"},
        {"no digest", signer.Signed("serial~defs.TXT~5\nupdate~A~a.exe~5~1\nupdate~B~b~1\n"),
         std::nullopt, DefinitionsVerdict::kNoDigest, "A"},
        {"expired this second", signer.Signed("expires~2026-06-01T00:00:00Z\n" + body),
         std::nullopt, DefinitionsVerdict::kExpired, "2026-06-01T00:00:00Z"},
        {"no such day", signer.Signed("expires~2026-02-29T00:00:00Z\n" + body), std::nullopt,
         DefinitionsVerdict::kBadExpiry, "2026-02-29T00:00:00Z"},
        {"two expiries",
         signer.Signed("EXPIRES~2027-01-01T00:00:00Z\nexpires~2027-01-01T00:00:00Z\n" + body),
         std::nullopt, DefinitionsVerdict::kBadExpiry, "2027-01-01T00:00:00Z"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DefinitionsCheck check = CheckSignedDefinitions(c.answer, "Defs.txt", keys, c.seen, kNow);
        EXPECT_EQ(check.verdict, c.verdict);
        EXPECT_EQ(check.detail, c.detail);
        if (c.verdict == DefinitionsVerdict::kTrusted) {
            EXPECT_EQ(check.signedBytes, body);
            EXPECT_EQ(check.serial, 5u);
        }
    }
    EXPECT_EQ(CheckSignedDefinitions(signer.Signed(body), "Defs.txt", {}, std::nullopt, kNow).verdict,
              DefinitionsVerdict::kUnknownKey);
}

// Whatever a peer without the key sends, a 16 MiB answer is judged at once: one hash of the
// signed bytes, at most 8 signature lines, at most 3 unknown key ids named.
TEST(SignedDefinitionsTest, AnyLargeAnswerIsJudgedInUnderASecond) {
    TestSigner signer, stranger;
    const TrustedKeys keys = {signer.PublicKey()};
    constexpr std::size_t kSize = 16u << 20;
    std::string forged = "signature~ecdsa-p256-sha256~" + signer.KeyId() + "~" +
                         EncodeBase64(stranger.Sign("x")) + "\n";
    auto repeat = [&](const std::string& line) {
        std::string text;
        while (text.size() + line.size() <= kSize) text += line;
        return text;
    };
    std::string body = repeat("update~A~a.exe~5~1~sha256:" + std::string(64, 'a') + "\n");
    std::string eight = body.substr(0, kSize - 8 * forged.size());
    for (int i = 0; i < 8; ++i) eight += forged;
    std::string unknown;
    for (int i = 0; i < 5; ++i) {
        TestSigner other;
        unknown += other.SignatureLine(body) + "\n";
    }
    struct Case {
        const char* what;
        std::string answer;
        DefinitionsVerdict verdict;
    };
    const Case cases[] = {
        {"lines naming the trusted key", repeat(forged), DefinitionsVerdict::kDamaged},
        {"a large body and eight such lines", eight, DefinitionsVerdict::kBadSignature},
        {"unknown keys", repeat(stranger.SignatureLine("x") + "\n"), DefinitionsVerdict::kDamaged},
        {"one endless line", "signature~" + std::string(kSize, 'A'), DefinitionsVerdict::kDamaged},
        {"nine lines", "serial~D~1\n" + std::string() + [&] {
             std::string lines;
             for (int i = 0; i < 9; ++i) lines += signer.SignatureLine("serial~D~1\n") + "\n";
             return lines;
         }(), DefinitionsVerdict::kDamaged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto start = std::chrono::steady_clock::now();
        DefinitionsCheck check = CheckSignedDefinitions(c.answer, "D", keys, std::nullopt, 0);
        auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(check.verdict, c.verdict);
        EXPECT_LT(took, std::chrono::seconds(1));
        std::cout << "[ judged ] " << c.what << " (" << c.answer.size() << " bytes) in "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
    }
    DefinitionsCheck named = CheckSignedDefinitions(body.substr(0, 100) + "\n" + unknown, "D",
                                                    keys, std::nullopt, 0);
    EXPECT_EQ(named.verdict, DefinitionsVerdict::kUnknownKey);
    EXPECT_EQ(std::count(named.detail.begin(), named.detail.end(), ','), 2) << named.detail;
}

TEST(SignedDefinitionsTest, ExpiryDatesAndTheSecondTheyPass) {
    const std::pair<std::string, std::int64_t> dates[] = {
        {"1970-01-01T00:00:00Z", 0},
        {"2000-02-29T23:59:59Z", 951868799},
        {"2038-01-19T03:14:08Z", 2147483648},
    };
    for (const auto& [text, seconds] : dates) {
        EXPECT_EQ(ParseExpiry(text), seconds) << text;
        EXPECT_EQ(FormatExpiry(seconds), text);
    }
    for (std::string bad : {"2026-13-01T00:00:00Z", "2026-01-01T24:00:00Z", "2026-01-01 00:00:00Z",
                            "2026-01-01T00:00:00", "2026-1-01T00:00:00Z", "2026-01-01T00:00:60Z"}) {
        EXPECT_FALSE(ParseExpiry(bad)) << bad;
    }
    TestSigner signer;
    std::string answer = signer.Signed("expires~2026-06-01T00:00:00Z\nserial~D~1\n");
    std::int64_t expiry = *ParseExpiry("2026-06-01T00:00:00Z");
    DefinitionsCheck before = CheckSignedDefinitions(answer, "D", {signer.PublicKey()}, {}, expiry - 1);
    EXPECT_EQ(before.verdict, DefinitionsVerdict::kTrusted);
    EXPECT_EQ(before.expires, expiry);
    EXPECT_EQ(CheckSignedDefinitions(answer, "D", {signer.PublicKey()}, {}, expiry).verdict,
              DefinitionsVerdict::kExpired);
}

TEST(SignedDefinitionsTest, PublicKeysFromPem) {
    TestSigner a, b;
    auto pem = [](const Bytes& der) {
        std::string text = EncodeBase64(der);
        return "-----BEGIN PUBLIC KEY-----\r\n" + text.substr(0, 64) + "\r\n" + text.substr(64) +
               "\r\n-----END PUBLIC KEY-----\r\n";
    };
    TrustedKeys keys;
    ASSERT_TRUE(ReadPublicKeysPem("# ours\n" + pem(a.PublicKey()) + pem(b.PublicKey()), keys));
    EXPECT_EQ(keys, (TrustedKeys{a.PublicKey(), b.PublicKey()}));
    EXPECT_FALSE(ReadPublicKeysPem("-----BEGIN PUBLIC KEY-----\nZm8=\n", keys));
    EXPECT_FALSE(ReadPublicKeysPem("-----BEGIN PUBLIC KEY-----\nZm8\n-----END PUBLIC KEY-----\n", keys));

    // What a build embeds: no text trusts nothing; a damaged text fails closed, never open.
    EXPECT_TRUE(TrustedKeysFromPem(" \n").empty());
    EXPECT_EQ(TrustedKeysFromPem(pem(a.PublicKey())), TrustedKeys{a.PublicKey()});
    for (std::string damaged : {std::string("-----BEGIN PUBLIC KEY-----\nZm8\n-----END PUBLIC KEY-----\n"),
                                std::string("not a key at all")}) {
        TrustedKeys built = TrustedKeysFromPem(damaged);
        ASSERT_FALSE(built.empty()) << damaged;
        EXPECT_NE(CheckSignedDefinitions(a.Signed("serial~D~1\n"), "D", built, std::nullopt, 0).verdict,
                  DefinitionsVerdict::kTrusted);
    }
}

TEST(SignedDefinitionsTest, OnePassOverAFileFindsEveryDifference) {
    test::TestPlatform tp;
    std::string original(300000, '\0');
    for (std::size_t i = 0; i < original.size(); ++i) original[i] = static_cast<char>(i * 131 % 251);
    std::string path = tp.dir.Write("updater.exe", original);
    FileFacts facts;
    ASSERT_TRUE(ReadFileFacts(*tp.files, path, facts));
    std::uint32_t checksum = 0;
    ASSERT_TRUE(FileChecksum(*tp.files, path, checksum));
    Sha256Digest digest{};
    ASSERT_TRUE(Sha256::Of(AsBytes(original), digest));
    EXPECT_EQ(facts.size, 300000);
    EXPECT_EQ(facts.checksum, checksum);
    EXPECT_EQ(facts.digest, digest);

    EXPECT_EQ(CheckFile(*tp.files, path, checksum, digest), FileCheck::kMatches);
    EXPECT_EQ(CheckFile(*tp.files, path, checksum + 1, digest), FileCheck::kDiffers);
    EXPECT_EQ(CheckFile(*tp.files, path + ".none", checksum, digest), FileCheck::kDiffers);
    tp.dir.Write("updater.exe", test::SameChecksumOtherBytes(original));
    ASSERT_TRUE(FileChecksum(*tp.files, path, checksum));
    EXPECT_EQ(checksum, facts.checksum);  // the forgery holds
    EXPECT_EQ(CheckFile(*tp.files, path, checksum, std::nullopt), FileCheck::kMatches);
    EXPECT_EQ(CheckFile(*tp.files, path, checksum, digest), FileCheck::kAltered);
    EXPECT_FALSE(FileHasDigest(*tp.files, path, digest));
}

}  // namespace
}  // namespace fw
