#include "base/Sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

// The digest of `text`, fed in pieces of `piece` bytes (0: at once).
std::string digestOf(const std::string& text, size_t piece = 0) {
    kvx::Sha256 sha;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    if (piece == 0) piece = text.size() ? text.size() : 1;
    for (size_t at = 0; at < text.size(); at += piece) sha.update(bytes + at, std::min(piece, text.size() - at));
    char hex[65];
    sha.finishHex(hex);
    return hex;
}

}  // namespace

TEST(Sha256Test, StandardVectors) {
    EXPECT_EQ(digestOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digestOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digestOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

// Lengths around the padding's block boundary, fed whole and in pieces that straddle blocks.
TEST(Sha256Test, PaddingBoundariesAndPiecesGiveOneDigest) {
    const struct {
        size_t length;
        const char* digest;
    } cases[] = {
        {55, "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {56, "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {63, "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {64, "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {65, "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
        {1000, "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
    };
    for (const auto& c : cases) {
        const std::string text(c.length, 'a');
        for (size_t piece : {size_t{0}, size_t{1}, size_t{7}, size_t{64}, size_t{100}}) {
            EXPECT_EQ(digestOf(text, piece), c.digest) << c.length << " bytes in pieces of " << piece;
        }
    }
}
