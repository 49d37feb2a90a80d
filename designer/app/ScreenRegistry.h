#pragma once

// The windows that the main window reaches directly (new and open
// integration, the administration screens) register their commands here,
// keyed by window name and member name, e.g. ("frmWorkBench", "ActionAdd"),
// ("frmConnections", "ActionShow"). A window registers itself from its own
// source file:
//
//   static const bool registered =
//       ScreenRegistry::Register("frmSchedule", "ActionEdit", [] { ... });
//
// (the Meridox program links the whole designer library, so such static
// registrations always run). A command nobody registered does nothing.

#include <QString>

#include <functional>

namespace ScreenRegistry {
using Command = std::function<void()>;

// Registers or replaces the command; returns true.
bool Register(const QString& Screen, const QString& Member, Command Run);
void Unregister(const QString& Screen, const QString& Member);
bool Has(const QString& Screen, const QString& Member);
// Runs the command; false when none is registered under these names.
bool Call(const QString& Screen, const QString& Member);
}  // namespace ScreenRegistry
