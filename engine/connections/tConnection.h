#pragma once

#include <QString>

// One named connection of the registry.
struct tConnection {
    QString name;
    QString connString;
};
