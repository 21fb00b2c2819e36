#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>

#include "platform/sha256.h"

namespace quillon {

namespace {

[[noreturn]] void LibraryFailed() {
    std::fputs("internal error: the system's SHA-256 failed\n", stderr);
    std::abort();
}

}  // namespace

// libcrypto's digest context; its SHA-256 picks the processor's SHA instructions itself.
struct Sha256::State {
    State() : context(EVP_MD_CTX_new()) {
        if (context == nullptr || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
            LibraryFailed();
        }
    }
    ~State() { EVP_MD_CTX_free(context); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;

    EVP_MD_CTX* context;
};

Sha256::Sha256() : m_state(std::make_unique<State>()) {}
Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::Update(const std::uint8_t* bytes, std::size_t count) {
    if (count > 0 && EVP_DigestUpdate(m_state->context, bytes, count) != 1) {
        LibraryFailed();
    }
}

std::string Sha256::FinishHex() {
    std::uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(m_state->context, digest, &length) != 1 || length != 32) {
        LibraryFailed();
    }
    return DigestText(digest);
}

}  // namespace quillon
