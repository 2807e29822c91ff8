#pragma once
// Single DES (FIPS 46-3) in ECB mode over 8-byte blocks with a raw 8-byte key; parity bits
// are ignored, as DES defines. Pure and thread-safe.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvex::platform {

using DesKey = std::array<std::uint8_t, 8>;

// Enciphers or deciphers data whose size is a multiple of 8; each block on its own.
std::string desEcbEncrypt(std::string_view data, const DesKey& key);
std::string desEcbDecrypt(std::string_view data, const DesKey& key);

}  // namespace tarvex::platform
