// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "platform/sha256.h"

namespace quillon {

namespace {

[[noreturn]] void LibraryFailed() {
    std::fputs("internal error: the system's SHA-256 failed\n", stderr);
    std::abort();
}

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

// A CNG hash object; CNG uses the processor's SHA instructions where it has them.
struct Sha256::State {
    State() {
        if (!Succeeded(
                ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
            !Succeeded(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
            LibraryFailed();
        }
    }
    ~State() {
        if (hash != nullptr) {
            ::BCryptDestroyHash(hash);
        }
        if (algorithm != nullptr) {
            ::BCryptCloseAlgorithmProvider(algorithm, 0);
        }
    }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {}
Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Update(const std::uint8_t* bytes, std::size_t count) {
    // BCryptHashData takes at most a ULONG's worth at once.
    while (count > 0) {
        const auto part = static_cast<ULONG>(std::min<std::size_t>(count, ULONG_MAX));
        if (!Succeeded(::BCryptHashData(m_state->hash, const_cast<PUCHAR>(bytes), part, 0))) {
            LibraryFailed();
        }
        bytes += part;
        count -= part;
    }
}

std::string Sha256::FinishHex() {
    std::uint8_t digest[32];
    if (!Succeeded(::BCryptFinishHash(m_state->hash, digest, sizeof digest, 0))) {
        LibraryFailed();
    }
    return DigestText(digest);
}

}  // namespace quillon
