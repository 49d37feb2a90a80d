// Arbitrary text as formula code: compiled, then Main evaluated under a small
// instruction budget; then the text as an expression. Nothing may crash or run on past the budget.

#include "script/ScriptControl.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

// Source("name") gives the name back, Source.Count a number, as a row would.
class Row : public vbs::IScriptObject {
public:
    int memberId(const QString& name) override
    {
        if (name.compare(QLatin1String("count"), Qt::CaseInsensitive) == 0)
            return 1;
        return UnknownMember;
    }
    vbs::Variant get(int id, std::span<vbs::Variant> args) override
    {
        if (id == 1)
            return vbs::Variant::fromLong(3);
        if (id == DefaultMember && args.size() == 1)
            return vbs::Variant::fromString(QStringLiteral("value"));
        vbs::raiseError(450);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString code = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    vbs::ScriptControl sc;
    sc.setInstructionLimit(20000);
    sc.AddObject(QStringLiteral("Source"), std::make_shared<Row>());
    if (sc.AddCode(code))
        (void)sc.Eval(QStringLiteral("Main"));
    // The same text as an expression, as a field mapping is evaluated.
    (void)sc.Eval(code);
    return 0;
}
