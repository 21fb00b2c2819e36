#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace quillon {

// SHA-256 (FIPS 180-4) from the system's cryptographic library, which uses the processor's SHA
// instructions where it has them: for the production record's image digest and the virtual
// target's sector digests. Every platform yields the same digest of the same bytes. The
// library failing to hash (it could not even allocate its state) ends the process with a
// message, as running out of memory does.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(Sha256&&) noexcept;
    Sha256& operator=(Sha256&&) noexcept;
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // Adds `count` bytes to the message; any number of calls, of any size.
    void Update(const std::uint8_t* bytes, std::size_t count);
    // Ends the message and returns its digest as 64 lower-case hexadecimal digits. The object
    // is spent afterwards.
    std::string FinishHex();

    struct State;  // the library's hash object, one per platform

private:
    // The 32 bytes of a digest as 64 lower-case hexadecimal digits.
    static std::string DigestText(const std::uint8_t* digest);

    std::unique_ptr<State> m_state;
};

// SHA-256 of a byte stretch as 64 lower-case hexadecimal digits.
std::string Sha256Hex(const std::uint8_t* bytes, std::size_t count);

// SHA-256 of the bytes of the file at `path` (UTF-8). False (and `hex` untouched) when the
// file cannot be read to its end.
[[nodiscard]] bool Sha256OfFile(const std::string& path, std::string& hex);

}  // namespace quillon
