#include "platform/sha256.h"

#include <array>
#include <fstream>

#include "platform/utf8_path.h"

namespace quillon {

std::string Sha256::DigestText(const std::uint8_t* digest) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(64);
    for (std::size_t i = 0; i < 32; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 0xFU];
    }
    return text;
}

std::string Sha256Hex(const std::uint8_t* bytes, std::size_t count) {
    Sha256 sha;
    sha.Update(bytes, count);
    return sha.FinishHex();
}

bool Sha256OfFile(const std::string& path, std::string& hex) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    if (!in) {
        return false;
    }
    Sha256 sha;
    std::array<char, 65536> buffer;
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
        sha.Update(reinterpret_cast<const std::uint8_t*>(buffer.data()),
                   static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad() || !in.eof()) {
        return false;
    }
    hex = sha.FinishHex();
    return true;
}

}  // namespace quillon
