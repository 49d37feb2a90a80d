#include "script/builtins/NumberFormat.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vbslib {

namespace {

void normalize(DecimalNumber& n)
{
    const auto first = n.digits.find_first_not_of('0');
    n.digits = first == std::string::npos ? std::string("0") : n.digits.substr(first);
    while (n.scale > 0 && n.digits.size() > 1 && n.digits.back() == '0') {
        n.digits.pop_back();
        --n.scale;
    }
    if (n.digits == "0") {
        n.scale = 0;
        n.negative = false;
    }
}

// Adds one unit in the last place of a digit string.
void increment(std::string& digits)
{
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return;
        }
        *it = '0';
    }
    digits = '1' + digits;
}

QString groupThousands(const std::string& intPart)
{
    QString out;
    const int n = static_cast<int>(intPart.size());
    for (int i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            out += QLatin1Char(',');
        out += QLatin1Char(intPart[i]);
    }
    return out;
}

QString radixText(std::int64_t value, bool bits16, int bitsPerDigit)
{
    std::uint64_t u;
    if (value < 0)
        u = bits16 ? static_cast<std::uint16_t>(value) : static_cast<std::uint32_t>(value);
    else
        u = static_cast<std::uint64_t>(value);
    if (u == 0)
        return QStringLiteral("0");
    static const char digitChars[] = "0123456789ABCDEF";
    const std::uint64_t mask = (1u << bitsPerDigit) - 1;
    QString out;
    while (u) {
        out.prepend(QLatin1Char(digitChars[u & mask]));
        u >>= bitsPerDigit;
    }
    return out;
}

} // namespace

DecimalNumber DecimalNumber::fromDouble(double value)
{
    DecimalNumber n;
    if (value == 0 || !std::isfinite(value))
        return n;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.14e", value);
    const char* p = buf;
    if (*p == '-') {
        n.negative = true;
        ++p;
    }
    n.digits.clear();
    while (*p && *p != 'e') {
        if (*p != '.')
            n.digits += *p;
        ++p;
    }
    const int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
    n.scale = 14 - exponent;
    if (n.scale < 0) {
        n.digits.append(static_cast<size_t>(-n.scale), '0');
        n.scale = 0;
    }
    normalize(n);
    return n;
}

DecimalNumber DecimalNumber::fromScaled(std::int64_t value, int scale)
{
    DecimalNumber n;
    n.negative = value < 0;
    const std::uint64_t magnitude =
        value < 0 ? static_cast<std::uint64_t>(-(value + 1)) + 1 : static_cast<std::uint64_t>(value);
    n.digits = std::to_string(magnitude);
    n.scale = scale;
    normalize(n);
    return n;
}

DecimalNumber DecimalNumber::fromText(const std::string& text)
{
    DecimalNumber n;
    n.digits.clear();
    bool afterPoint = false;
    for (char c : text) {
        if (c == '-')
            n.negative = true;
        else if (c == '.')
            afterPoint = true;
        else if (c >= '0' && c <= '9') {
            n.digits += c;
            if (afterPoint)
                ++n.scale;
        }
    }
    if (n.digits.empty())
        n.digits = "0";
    normalize(n);
    return n;
}

QString formatDecimal(DecimalNumber value, NumberStyle style, int digitsAfter, bool leadingDigit, bool parens,
                      bool group)
{
    if (digitsAfter < 0)
        digitsAfter = 2;
    if (style == NumberStyle::Percent && value.digits != "0") {
        value.scale -= 2;
        if (value.scale < 0) {
            value.digits.append(static_cast<size_t>(-value.scale), '0');
            value.scale = 0;
        }
    }
    std::string digits = value.digits;
    if (value.scale > digitsAfter) {
        const size_t drop = static_cast<size_t>(value.scale - digitsAfter);
        if (drop > digits.size())
            digits = std::string(drop - digits.size(), '0') + digits;
        const bool up = digits[digits.size() - drop] >= '5';
        digits.resize(digits.size() - drop);
        if (digits.empty())
            digits = "0";
        if (up)
            increment(digits);
    } else {
        digits.append(static_cast<size_t>(digitsAfter - value.scale), '0');
    }
    if (digits.size() <= static_cast<size_t>(digitsAfter))
        digits = std::string(static_cast<size_t>(digitsAfter) + 1 - digits.size(), '0') + digits;
    const bool negative = value.negative && digits.find_first_not_of('0') != std::string::npos;

    std::string intPart = digits.substr(0, digits.size() - static_cast<size_t>(digitsAfter));
    const std::string fracPart = digits.substr(intPart.size());
    const auto firstNonZero = intPart.find_first_not_of('0');
    intPart = firstNonZero == std::string::npos ? std::string("0") : intPart.substr(firstNonZero);

    QString body;
    if (!(intPart == "0" && !leadingDigit && digitsAfter > 0))
        body = group ? groupThousands(intPart) : QString::fromLatin1(intPart.c_str());
    if (digitsAfter > 0)
        body += QLatin1Char('.') + QString::fromLatin1(fracPart.c_str());
    if (style == NumberStyle::Currency)
        body.prepend(QLatin1Char('$'));
    else if (style == NumberStyle::Percent)
        body += QLatin1Char('%');
    if (!negative)
        return body;
    return parens ? QLatin1Char('(') + body + QLatin1Char(')') : QLatin1Char('-') + body;
}

QString hexText(std::int64_t value, bool bits16) { return radixText(value, bits16, 4); }
QString octText(std::int64_t value, bool bits16) { return radixText(value, bits16, 3); }

double roundHalfEven(double value, int decimals)
{
    if (!std::isfinite(value))
        return value;
    if (decimals <= 0)
        return std::nearbyint(value);
    const double factor = std::pow(10.0, decimals);
    const double scaled = value * factor;
    if (!std::isfinite(scaled) || std::fabs(scaled) > 9e15)
        return value; // already more precise than a double holds
    return std::nearbyint(scaled) / factor;
}

} // namespace vbslib
