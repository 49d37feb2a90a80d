#pragma once

// The RegExp object of the script language (New RegExp,
// CreateObject("VBScript.RegExp")): Pattern, IgnoreCase, Global,
// Multiline, Test, Execute (Matches of Match with SubMatches) and Replace.
// Patterns follow the JavaScript dialect and are run by
// QRegularExpression after a translation of the few constructs whose
// meaning differs there.

#include "script/Variant.h"

namespace vbs {

ObjectRef makeRegExp();

// The pattern in the matcher's own syntax (exposed for tests).
QString translateRegExpPattern(const QString& pattern, bool multiline);

} // namespace vbs
