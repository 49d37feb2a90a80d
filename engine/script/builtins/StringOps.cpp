#include "script/builtins/StringOps.h"

#include <cstring>

namespace vbslib {

namespace {

Qt::CaseSensitivity sensitivity(bool textCompare) { return textCompare ? Qt::CaseInsensitive : Qt::CaseSensitive; }

// Code points of 0x80..0x9F in Windows-1252; the unassigned five map to themselves.
const char16_t kAnsiHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

QChar ansiToChar(int code)
{
    if (code >= 0x80 && code <= 0x9F)
        return QChar(kAnsiHigh[code - 0x80]);
    return QChar(static_cast<char16_t>(code & 0xFF));
}

int charToAnsi(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return u;
    for (int i = 0; i < 32; ++i)
        if (kAnsiHigh[i] == u)
            return 0x80 + i;
    return '?';
}

int inStr(const QString& string1, const QString& string2, int start, bool textCompare)
{
    if (string1.isEmpty() || start > string1.size())
        return 0;
    if (string2.isEmpty())
        return start;
    return static_cast<int>(string1.indexOf(string2, start - 1, sensitivity(textCompare))) + 1;
}

int inStrRev(const QString& string1, const QString& string2, int start, bool textCompare)
{
    const int length = static_cast<int>(string1.size());
    if (length == 0)
        return 0;
    if (start == -1)
        start = length;
    if (start > length)
        return 0;
    if (string2.isEmpty())
        return start;
    const int lastBegin = start - static_cast<int>(string2.size());
    if (lastBegin < 0)
        return 0;
    return static_cast<int>(string1.lastIndexOf(string2, lastBegin, sensitivity(textCompare))) + 1;
}

QString replaceText(const QString& expression, const QString& find, const QString& with, int start, int count,
                    bool textCompare)
{
    if (start > expression.size())
        return QString();
    const QString tail = expression.mid(start - 1);
    if (find.isEmpty() || count == 0)
        return tail;
    QString out;
    out.reserve(tail.size());
    qsizetype from = 0;
    int done = 0;
    while (count < 0 || done < count) {
        const qsizetype at = tail.indexOf(find, from, sensitivity(textCompare));
        if (at < 0)
            break;
        out += QStringView(tail).mid(from, at - from);
        out += with;
        from = at + find.size();
        ++done;
    }
    out += QStringView(tail).mid(from);
    return out;
}

int strComp(const QString& a, const QString& b, bool textCompare)
{
    const int c = a.compare(b, sensitivity(textCompare));
    return c < 0 ? -1 : c > 0 ? 1 : 0;
}

QStringList splitText(const QString& expression, const QString& delimiter, int count, bool textCompare)
{
    QStringList parts;
    if (expression.isEmpty() || count == 0)
        return parts;
    if (delimiter.isEmpty() || count == 1) {
        parts << expression;
        return parts;
    }
    qsizetype from = 0;
    while (count < 0 || parts.size() < count - 1) {
        const qsizetype at = expression.indexOf(delimiter, from, sensitivity(textCompare));
        if (at < 0)
            break;
        parts << expression.mid(from, at - from);
        from = at + delimiter.size();
    }
    parts << expression.mid(from);
    return parts;
}

QStringList filterTexts(const QStringList& input, const QString& value, bool include, bool textCompare)
{
    QStringList out;
    for (const QString& s : input)
        if (s.contains(value, sensitivity(textCompare)) == include)
            out << s;
    return out;
}

float nextRandom(std::uint32_t& seed, float& last, std::optional<double> number)
{
    if (number && *number == 0)
        return last;
    if (number && *number < 0) {
        const float single = static_cast<float>(*number);
        std::uint32_t bits;
        std::memcpy(&bits, &single, sizeof bits);
        seed = (bits + (bits >> 24)) & 0xFFFFFFu;
    }
    seed = (seed * 0x43FD43FDu + 0xC39EC3u) & 0xFFFFFFu;
    last = static_cast<float>(seed) / 16777216.0f;
    return last;
}

void randomizeSeed(std::uint32_t& seed, double number)
{
    std::uint64_t bits;
    std::memcpy(&bits, &number, sizeof bits);
    std::uint32_t high = static_cast<std::uint32_t>(bits >> 32);
    high = ((high >> 16) ^ high) & 0xFFFFu;
    seed = (seed & 0xFF0000FFu) | (high << 8);
}

} // namespace vbslib
