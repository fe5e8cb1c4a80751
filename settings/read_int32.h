// Reads a settings number the way a classic-locale decimal stream extraction does.
#pragma once

#include <cstdint>
#include <string>

// Skips leading whitespace, takes an optional sign and the decimal digits up to
// the first other character. Writes `field` and returns true only when a digit
// was taken and the number fits; otherwise leaves `field` as it was.
bool read_int32(const std::string& text, std::int32_t& field);

// The same rule for a signed 64-bit field.
bool read_int64(const std::string& text, std::int64_t& field);
