// Byte generators of the tests.
#include "support/bytes.h"

std::string pseudo_random_bytes(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  uint32_t x = seed != 0 ? seed : 1;
  for (auto& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<char>(x);
  }
  return bytes;
}
