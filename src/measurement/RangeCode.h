#pragma once
// Range coding of the raw values: a 12-bit mantissa in bits 11..0 and a
// range code in bits 15..12 selecting the multiplier 1, 32, 1024, 32768 or
// 262144. Codes 5..15 are invalid.

#include <cstdint>

struct RangeDecoded {
  uint32_t value;  // decoded value; the bare mantissa when the code is invalid
  int range;       // range code 0..4, or the invalid code (5..15)
  bool valid;
};

constexpr int kRangeShift[5] = {0, 5, 10, 15, 18};

constexpr RangeDecoded DecodeRangeWord(uint16_t w) {
  const uint32_t mantissa = w & 0x0FFFu;
  const int r = w >> 12;
  if (r <= 4) return {mantissa << kRangeShift[r], r, true};
  return {mantissa, r, false};
}

// The coding with the smallest range that holds v, truncating the low bits
// that do not fit (the reader's own ADC coding keeps the leading 12 bits).
// Values above 4095 * 262144 saturate.
constexpr uint16_t EncodeRangeValue(uint32_t v) {
  for (int r = 0; r <= 4; ++r) {
    const uint32_t m = v >> kRangeShift[r];
    if (m <= 0x0FFFu) return static_cast<uint16_t>((r << 12) | m);
  }
  return 0x4FFF;
}

static_assert(DecodeRangeWord(0x1ABC).value == 0xABCu * 32);
static_assert(DecodeRangeWord(0x4FFF).value == 4095u * 262144u);
static_assert(!DecodeRangeWord(0x5000).valid);
