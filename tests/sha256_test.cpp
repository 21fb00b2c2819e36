// SHA-256 against the FIPS 180-2 test vectors, whole and fed in pieces.
#include "platform/sha256.h"
#include "image/background_digest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

using namespace quillon;

namespace {

TEST(Sha256Test, StandardVectors) {
    struct Case {
        std::string message;
        const char* digest;
    };
    const std::vector<Case> cases = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        // 448 bits: the length no longer fits the first padding block.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.message.data());
        EXPECT_EQ(Sha256Hex(bytes, c.message.size()), c.digest) << c.message.size() << " bytes";
        // In uneven pieces, across block borders.
        Sha256 pieces;
        for (std::size_t at = 0, step = 1; at < c.message.size();
             at += step, step = step * 3 % 97) {
            pieces.Update(bytes + at, std::min(step, c.message.size() - at));
        }
        EXPECT_EQ(pieces.FinishHex(), c.digest) << c.message.size() << " bytes in pieces";
        // Read ahead and hashed on a thread, in more pieces than may wait at once; the caller
        // takes the same pieces, in order.
        std::size_t at = 0;
        std::size_t step = 1;
        BackgroundDigest behind([&](std::uint8_t* into, std::size_t size) {
            const std::size_t piece = std::min({step, size, c.message.size() - at});
            std::copy_n(bytes + at, piece, into);
            at += piece;
            step = step * 5 % 4099;
            return static_cast<long>(piece);
        });
        std::string taken;
        for (auto next = behind.Next(); next && !next->empty(); next = behind.Next()) {
            taken.append(reinterpret_cast<const char*>(next->data()), next->size());
        }
        EXPECT_EQ(taken, c.message);
        EXPECT_EQ(behind.FinishHex().value_or("none"), c.digest)
            << c.message.size() << " bytes on a thread";
        // A source that fails gives no digest.
        BackgroundDigest failing([](std::uint8_t*, std::size_t) { return -1L; });
        EXPECT_FALSE(failing.FinishHex());
        std::string fromFile;
        ASSERT_TRUE(Sha256OfFile(dir.Write("message", c.message), fromFile));
        EXPECT_EQ(fromFile, c.digest) << c.message.size() << " bytes from a file";
    }
    std::string untouched = "x";
    EXPECT_FALSE(Sha256OfFile((dir.path() / "missing").string(), untouched));
    EXPECT_EQ(untouched, "x");
}

}  // namespace
