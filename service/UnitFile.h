#pragma once
// The systemd user unit that runs the scheduler daemon. The desktop
// application writes this text as "VMeridoxSrv.service" under
// $XDG_CONFIG_HOME/systemd/user/ when it installs the service.

#include <QString>

// Unit name under which the service is installed and controlled.
inline constexpr const char* kServiceUnitName = "VMeridoxSrv.service";
// Display name (systemd Description=).
inline constexpr const char* kServiceDisplayName = "Velmora Meridox Service";
// Long description; systemd has no field for it, so it is a comment line.
inline constexpr const char* kServiceDescription = "Velmora Meridox Service. Executes Velmora Meridox.";

// Full unit text for the daemon at execPath (absolute path of VMeridoxSrv).
// The path is quoted and escaped for ExecStart=; the daemon detects systemd
// through $NOTIFY_SOCKET, so no option is passed.
QString serviceUnitText(const QString& execPath);

// execPath quoted as one ExecStart= word: "..." with \ and " escaped,
// % doubled (specifiers) and $ doubled (variable expansion).
QString quoteUnitExecPath(const QString& execPath);
