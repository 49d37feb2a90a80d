#include "app/ScreenRegistry.h"

#include <map>
#include <utility>

namespace ScreenRegistry {
namespace {

using Key = std::pair<QString, QString>;

std::map<Key, Command>& Commands()
{
    static std::map<Key, Command> commands;
    return commands;
}

}  // namespace

bool Register(const QString& Screen, const QString& Member, Command Run)
{
    Commands()[{Screen, Member}] = std::move(Run);
    return true;
}

void Unregister(const QString& Screen, const QString& Member)
{
    Commands().erase({Screen, Member});
}

bool Has(const QString& Screen, const QString& Member)
{
    const auto it = Commands().find({Screen, Member});
    return it != Commands().end() && it->second;
}

bool Call(const QString& Screen, const QString& Member)
{
    const auto it = Commands().find({Screen, Member});
    if (it == Commands().end() || !it->second)
        return false;
    // A copy, so a command may replace its own registration while it runs.
    const Command run = it->second;
    run();
    return true;
}

}  // namespace ScreenRegistry
