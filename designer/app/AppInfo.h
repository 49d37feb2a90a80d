#pragma once

// Product identity shown by the splash, the About window and the main caption.

#include <QString>

#ifndef MERIDOX_REVISION
#define MERIDOX_REVISION 0
#endif

namespace AppInfo {
inline constexpr const char* ProductName = "Meridox";
inline constexpr const char* CompanyName = "Velmora";
inline constexpr int VersionMajor = 2;
inline constexpr int VersionMinor = 0;
inline constexpr int VersionRevision = MERIDOX_REVISION;
// The maker's web site, opened by the support and web-site commands.
inline constexpr const char* WebSite = "https://www.velmora.com/meridox";

// "2.0.0007": major and minor as plain numbers, the revision with at least four digits.
QString VersionNumber(int Major = VersionMajor, int Minor = VersionMinor, int Revision = VersionRevision);

// The folder of the running program.
QString ProgramFolder();

// The help file: the program folder joined with the translated relative
// help path; the path keeps its translation key, and the file opened is the
// HTML manual at the same relative place.
QString HelpFile(const QString& ProgramFolder, const QString& TranslatedPath);
}  // namespace AppInfo
