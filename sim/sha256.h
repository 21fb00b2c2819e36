#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// SHA-256 of a byte stretch as 64 lower-case hexadecimal digits (the report's sector digests).
std::string Sha256Hex(const std::uint8_t* bytes, std::size_t count);
