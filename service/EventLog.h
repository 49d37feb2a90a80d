#pragma once
// Event-log writer shared by the runner and the scheduler service.
//
// Entries go to the system log (syslog socket /dev/log, ident "Meridox"):
// type 1 -> LOG_ERR, 2 -> LOG_WARNING, 4 -> LOG_INFO, any other -> LOG_INFO
// with type 0. When the environment variable MERIDOX_EVENTLOG_FILE names a
// file, entries are appended there instead, one line each:
//     <type><TAB><message><LF>
// where <type> is 1, 2, 4 or 0 and line breaks inside the message become
// blanks. Each entry is one write() on an O_APPEND descriptor, so several
// processes can share the file without mixing lines.

#include <QString>

// Environment variable that redirects entries to a file (tests, manual runs).
inline constexpr const char* kEventLogFileEnv = "MERIDOX_EVENTLOG_FILE";

// True when the entry was handed to the log (or file), False otherwise.
// Safe to call from any thread; keeps no state between calls.
bool WriteEventLog(const QString& Message, int EventType);
