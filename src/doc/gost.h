// GOST 28147-89 block cipher in simple substitution (ECB) mode, with the S-boxes of the
// id-GostR3411-94-TestParamSet. Stateless and thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace gm {

// Eight 32-bit key words K0..K7.
using GostKey = std::array<uint32_t, 8>;

// Key words from 32 bytes, each word little endian (K0 from bytes 0..3).
GostKey GostKeyFromBytes(const unsigned char bytes[32]);
// Parses 64 hexadecimal digits; returns false on any other input.
bool GostKeyFromHex(std::string_view hex, GostKey* key);

void GostEncryptBlock(unsigned char block[8], const GostKey& key);
void GostDecryptBlock(unsigned char block[8], const GostKey& key);

// Every 8-byte block of data in order; a trailing partial block is left as it is.
void GostEncrypt(std::string* data, const GostKey& key);
void GostDecrypt(std::string* data, const GostKey& key);

// The configuration key: fixed for the life of the product, the same for load and save.
const GostKey& ConfigurationKey();

}  // namespace gm
