#pragma once

// Number texts of the formatting functions and Hex/Oct, in US-English
// (decimal point ".", grouping ",", currency "$") whatever the locale.

#include <QString>
#include <cstdint>
#include <string>

namespace vbslib {

// A number as decimal digits: value = digits * 10^-scale, with sign.
// Doubles enter with 15 significant digits, the precision VBScript keeps
// when it formats, so 2.675 rounds to 2.68 as users expect.
struct DecimalNumber {
    bool negative = false;
    std::string digits = "0"; // no leading zeros except a single "0"
    int scale = 0;            // digits after the decimal point

    static DecimalNumber fromDouble(double value);
    // Currency: a 64-bit integer scaled by 10000.
    static DecimalNumber fromScaled(std::int64_t value, int scale);
    // A plain decimal text such as "-123.45" (no exponent).
    static DecimalNumber fromText(const std::string& text);
};

enum class NumberStyle { Number, Currency, Percent };

// FormatNumber / FormatCurrency / FormatPercent. digitsAfter < 0 means the
// regional default (2); the tristates are already resolved to booleans.
// Rounds halves away from zero. Percent multiplies by 100 first.
QString formatDecimal(DecimalNumber value, NumberStyle style, int digitsAfter, bool leadingDigit, bool parens,
                      bool group);

// Hex/Oct of a whole number; negative values show their two's complement
// in 16 bits (bits16) or 32 bits.
QString hexText(std::int64_t value, bool bits16);
QString octText(std::int64_t value, bool bits16);

// Round half to even at the given decimal places (Round, CInt, CLng).
double roundHalfEven(double value, int decimals = 0);

} // namespace vbslib
