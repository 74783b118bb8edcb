// Byte generators of the tests.
#ifndef ZORV_TESTS_SUPPORT_BYTES_H
#define ZORV_TESTS_SUPPORT_BYTES_H

#include <cstddef>
#include <cstdint>
#include <string>

// Pseudo-random bytes, the same for the same size and seed in every run, that no broken copy
// gets right by accident.
std::string pseudo_random_bytes(size_t size, uint32_t seed = 2463534242u);

#endif  // ZORV_TESTS_SUPPORT_BYTES_H
