#pragma once

// The icons of the command bars (ilsIcons, stored under the command's key),
// of the explorer bar's groups (imlNavBar) and the product artwork.

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace Icons {
// The image stored under a command key; a null icon when the key has none.
QIcon CommandIcon(const QString& Key);
// Group icons under "Connection", "Integration", "ExecLog" and "Help".
QIcon NavBarIcon(const QString& Key);
// The product's emblem: a small flowchart, for window icons, splash and About.
QPixmap ProductArt(int Size);
}  // namespace Icons
