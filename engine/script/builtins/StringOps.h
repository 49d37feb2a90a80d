#pragma once

// String searching and splitting with VBScript's compare modes: binary
// compares UTF-16 code units, text ignores case. Positions are 1-based and
// 0 means "not found", as the script sees them. Callers have validated the
// arguments (start >= 1 and so on).

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace vbslib {

int inStr(const QString& string1, const QString& string2, int start, bool textCompare);
// start -1 searches from the end.
int inStrRev(const QString& string1, const QString& string2, int start, bool textCompare);
// The result starts at position start (the characters before it are dropped,
// as Replace does); count -1 replaces every occurrence.
QString replaceText(const QString& expression, const QString& find, const QString& with, int start, int count,
                    bool textCompare);
int strComp(const QString& a, const QString& b, bool textCompare);
// count -1 splits everywhere; the last part keeps the remainder.
QStringList splitText(const QString& expression, const QString& delimiter, int count, bool textCompare);
QStringList filterTexts(const QStringList& input, const QString& value, bool include, bool textCompare);

// Chr/Asc work in the Western (Windows-1252) code page, as VBScript does
// on a US-English system: Chr(128) is the euro sign. Characters outside the
// code page give "?" (63).
QChar ansiToChar(int code);
int charToAnsi(QChar c);

// Rnd's generator: the 24-bit linear congruential sequence VBScript uses,
// so that seeded sequences repeat the way scripts expect. Rnd(number):
// > 0 or omitted gives the next number, 0 repeats the last, < 0 reseeds
// from the number's bits and so gives the same value for the same number.
float nextRandom(std::uint32_t& seed, float& last, std::optional<double> number = std::nullopt);
// Randomize number: mixes the number's bits into the seed.
void randomizeSeed(std::uint32_t& seed, double number);

} // namespace vbslib
