#include "image/sha256.h"

#include <algorithm>
#include <fstream>

#include "platform/utf8_path.h"

namespace quillon {

namespace {

constexpr std::array<std::uint32_t, 64> kRoundConstants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

std::uint32_t RotateRight(std::uint32_t value, int count) {
    return (value >> count) | (value << (32 - count));
}

}  // namespace

void Sha256::CompressBlock(const std::uint8_t* block) {
    std::array<std::uint32_t, 64> w{};
    for (int i = 0; i < 16; ++i) {
        w[static_cast<std::size_t>(i)] = (static_cast<std::uint32_t>(block[4 * i]) << 24) |
                                         (static_cast<std::uint32_t>(block[4 * i + 1]) << 16) |
                                         (static_cast<std::uint32_t>(block[4 * i + 2]) << 8) |
                                         block[4 * i + 3];
    }
    for (std::size_t i = 16; i < 64; ++i) {
        const std::uint32_t s0 =
            RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 =
            RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::array<std::uint32_t, 8> v = m_state;
    for (std::size_t i = 0; i < 64; ++i) {
        const std::uint32_t s1 =
            RotateRight(v[4], 6) ^ RotateRight(v[4], 11) ^ RotateRight(v[4], 25);
        const std::uint32_t choose = (v[4] & v[5]) ^ (~v[4] & v[6]);
        const std::uint32_t t1 = v[7] + s1 + choose + kRoundConstants[i] + w[i];
        const std::uint32_t s0 =
            RotateRight(v[0], 2) ^ RotateRight(v[0], 13) ^ RotateRight(v[0], 22);
        const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        const std::uint32_t t2 = s0 + majority;
        v = {t1 + t2, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
    }
    for (std::size_t i = 0; i < 8; ++i) {
        m_state[i] += v[i];
    }
}

Sha256::Sha256()
    : m_state{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::Update(const std::uint8_t* bytes, std::size_t count) {
    m_length += count;
    while (count > 0) {
        if (m_blockFill == 0 && count >= 64) {
            CompressBlock(bytes);  // whole blocks straight from the caller's bytes
            bytes += 64;
            count -= 64;
            continue;
        }
        const std::size_t take = std::min(count, m_block.size() - m_blockFill);
        std::copy(bytes, bytes + take, m_block.begin() + static_cast<long>(m_blockFill));
        m_blockFill += take;
        bytes += take;
        count -= take;
        if (m_blockFill == m_block.size()) {
            CompressBlock(m_block.data());
            m_blockFill = 0;
        }
    }
}

std::string Sha256::FinishHex() {
    // The 0x80 marker, zeros and the bit length fill one or two last blocks.
    const std::uint64_t bits = m_length * 8;
    const std::uint8_t marker = 0x80;
    Update(&marker, 1);
    const std::uint8_t zero = 0;
    while (m_blockFill != 56) {
        Update(&zero, 1);
    }
    for (int shift = 56; shift >= 0; shift -= 8) {
        const auto byte = static_cast<std::uint8_t>(bits >> shift);
        Update(&byte, 1);
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint32_t word : m_state) {
        for (int shift = 28; shift >= 0; shift -= 4) {
            text += kDigits[(word >> shift) & 0xFU];
        }
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
