#include "doc/gost.h"

namespace gm {
namespace {

constexpr unsigned char kSBox[8][16] = {
    {4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
    {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
    {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
    {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
    {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
    {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
    {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
    {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12},
};

constexpr std::array<int, 32> kEncryptOrder = {0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7,
                                               0, 1, 2, 3, 4, 5, 6, 7, 7, 6, 5, 4, 3, 2, 1, 0};
constexpr std::array<int, 32> kDecryptOrder = {0, 1, 2, 3, 4, 5, 6, 7, 7, 6, 5, 4, 3, 2, 1, 0,
                                               7, 6, 5, 4, 3, 2, 1, 0, 7, 6, 5, 4, 3, 2, 1, 0};

uint32_t RoundFunction(uint32_t n, uint32_t k) {
  uint32_t t = n + k;
  uint32_t s = 0;
  for (int g = 0; g < 8; ++g) s |= static_cast<uint32_t>(kSBox[g][(t >> (4 * g)) & 0xF]) << (4 * g);
  return (s << 11) | (s >> 21);
}

uint32_t ReadLE(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void WriteLE(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

void Transform(unsigned char block[8], const GostKey& key, const std::array<int, 32>& order) {
  uint32_t n1 = ReadLE(block);
  uint32_t n2 = ReadLE(block + 4);
  for (int r = 0; r < 32; ++r) {
    n2 ^= RoundFunction(n1, key[order[r]]);
    if (r != 31) std::swap(n1, n2);
  }
  WriteLE(block, n1);
  WriteLE(block + 4, n2);
}

void TransformAll(std::string* data, const GostKey& key, const std::array<int, 32>& order) {
  auto* p = reinterpret_cast<unsigned char*>(data->data());
  for (size_t i = 0; i + 8 <= data->size(); i += 8) Transform(p + i, key, order);
}

}  // namespace

GostKey GostKeyFromBytes(const unsigned char bytes[32]) {
  GostKey key{};
  for (int i = 0; i < 8; ++i) key[i] = ReadLE(bytes + 4 * i);
  return key;
}

bool GostKeyFromHex(std::string_view hex, GostKey* key) {
  if (hex.size() != 64) return false;
  unsigned char bytes[32];
  for (int i = 0; i < 64; ++i) {
    char c = hex[i];
    int v = (c >= '0' && c <= '9')   ? c - '0'
            : (c >= 'a' && c <= 'f') ? c - 'a' + 10
            : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                     : -1;
    if (v < 0) return false;
    if (i % 2 == 0)
      bytes[i / 2] = static_cast<unsigned char>(v << 4);
    else
      bytes[i / 2] |= static_cast<unsigned char>(v);
  }
  *key = GostKeyFromBytes(bytes);
  return true;
}

void GostEncryptBlock(unsigned char block[8], const GostKey& key) {
  Transform(block, key, kEncryptOrder);
}

void GostDecryptBlock(unsigned char block[8], const GostKey& key) {
  Transform(block, key, kDecryptOrder);
}

void GostEncrypt(std::string* data, const GostKey& key) {
  TransformAll(data, key, kEncryptOrder);
}
void GostDecrypt(std::string* data, const GostKey& key) {
  TransformAll(data, key, kDecryptOrder);
}

const GostKey& ConfigurationKey() {
  // Never change these bytes: every stored configuration depends on them.
  static const GostKey key = [] {
    static const unsigned char bytes[33] = "Gleanmark configuration key 1.00";
    return GostKeyFromBytes(bytes);
  }();
  return key;
}

}  // namespace gm
