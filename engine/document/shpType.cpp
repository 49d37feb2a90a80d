#include "document/shpType.h"

#include "document/Records.h"

NodeElements EmptyElementsFor(int kind) {
    switch (kind) {
    case aDecission: return tDecission{};
    case aStorage: return tStorage{};
    case aData: return tData{};
    case aStop: return QString();
    default: return std::monostate{};
    }
}
