#pragma once
#include <cstdint>

// Node kinds of an integration. The values are stored in files and must not change.
enum shpType : std::int16_t {
    aNothing = 0,
    aStart = 1,
    aProcess = 2,
    aDecission = 3,
    aStorage = 4,
    aData = 5,
    aDocument = 6,
    aProcessPredef = 7,
    aWindow = 8,
    aPoint = 9,
    aStop = 10,
};
