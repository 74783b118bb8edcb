// Byte generators of the tests, and a comparison of byte strings too long to print.
#ifndef ZORV_TESTS_SUPPORT_BYTES_H
#define ZORV_TESTS_SUPPORT_BYTES_H

#include <cstddef>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

// Pseudo-random bytes, the same for the same size and seed in every run, that no broken copy
// gets right by accident.
std::string pseudo_random_bytes(size_t size, uint32_t seed = 2463534242u);

// Success when actual holds exactly the bytes of expected; otherwise both sizes and the offset
// of the first difference, not the bytes themselves (jobs run to megabytes).
::testing::AssertionResult same_bytes(const std::string& actual, const std::string& expected);

#endif  // ZORV_TESTS_SUPPORT_BYTES_H
