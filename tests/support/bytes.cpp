// Byte generators of the tests.
#include "support/bytes.h"

#include <algorithm>

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

::testing::AssertionResult same_bytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  const auto differ = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  return ::testing::AssertionFailure()
         << actual.size() << " bytes where " << expected.size()
         << " were expected, the first difference at offset " << (differ.first - actual.begin());
}
