// Script interpreter speed: a typical formula (concatenation, Mid/UCase, an
// If, a date conversion, two field reads through a host object), a plain
// UCase(Src("Name")) and the lookup expression Step("Field"), each evaluated
// one million times, against C++ doing the same work directly.
//
//   bench_script                  every case, with its ratio
//   bench_script --only CASE [N]  N evaluations (1,000,000) of one case
//                                 through the interpreter alone (main, upper,
//                                 ref or reset), for instruction counts:
//                                 valgrind --tool=callgrind bench_script --only main 100000

#include "script/ScriptControl.h"

#include <QHash>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace vbs;

namespace {

class Row : public IScriptObject {
public:
    QHash<QString, Variant> fields;
    Variant get(int id, std::span<Variant> args) override
    {
        if (id != DefaultMember || args.size() != 1) raiseError(err::NoSuchMember);
        auto it = fields.constFind(toStr(args[0]).toLower());
        if (it == fields.cend()) raiseError(3265, QStringLiteral("Item cannot be found in the collection"));
        return *it;
    }
};

const char* kFormula =
    "Function Main()\r\n"
    "  Dim s\r\n"
    "  s = UCase(Mid(Src(\"Name\"), 1, 3)) & \"-\" & Src(\"Code\")\r\n"
    "  If Len(s) > 5 Then\r\n"
    "    s = s & \"+\"\r\n"
    "  Else\r\n"
    "    s = s & \"-\"\r\n"
    "  End If\r\n"
    "  Main = s & \" \" & CStr(CDate(\"1/15/2024\") + 1)\r\n"
    "End Function";

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

} // namespace

int main(int argc, char* argv[])
{
    int n = 1'000'000;
    const char* only = nullptr;
    if (argc >= 3 && std::strcmp(argv[1], "--only") == 0) {
        only = argv[2];
        if (argc >= 4) n = std::atoi(argv[3]);
    }
    auto row = std::make_shared<Row>();
    row->fields.insert("name", Variant(QStringLiteral("meridian")));
    row->fields.insert("code", Variant::fromLong(4711));

    ScriptControl sc;
    sc.AddObject("Src", row);
    if (!sc.AddCode(QString::fromLatin1(kFormula))) {
        std::printf("compile error: %s\n", qPrintable(sc.Error().Description));
        return 1;
    }
    const QString mainName = QStringLiteral("Main");
    QString check = toStr(sc.Eval(mainName));
    if (sc.Error().Number) {
        std::printf("run error: %s\n", qPrintable(sc.Error().Description));
        return 1;
    }

    size_t sink = 0;
    if (only) {
        const QString upper = QStringLiteral("UCase(Src(\"Name\"))");
        const QString ref = QStringLiteral("Src(\"Name\")");
        const QString code = QString::fromLatin1(kFormula);
        const std::string which = only;
        auto t0 = Clock::now();
        for (int i = 0; i < n; ++i) {
            if (which == "main") {
                sink += toStr(sc.Eval(mainName)).size();
            } else if (which == "upper") {
                sink += toStr(sc.Eval(upper)).size();
            } else if (which == "ref") {
                sink += toStr(sc.Eval(ref)).size();
            } else if (which == "reset") {
                sc.Reset();
                sc.AddObject("Src", row);
                sc.AddCode(code);
                sink += toStr(sc.Eval(mainName)).size();
            } else {
                std::printf("cases: main, upper, ref, reset\n");
                return 1;
            }
        }
        const double t = secondsSince(t0);
        std::printf("%s: %d evaluations, %.0f evals/s (sink %zu)\n", only, n, n / t, sink);
        return 0;
    }

    // The formula through the interpreter.
    auto t0 = Clock::now();
    for (int i = 0; i < n; ++i) sink += toStr(sc.Eval(mainName)).size();
    double tScript = secondsSince(t0);

    // The same work in C++.
    t0 = Clock::now();
    for (int i = 0; i < n; ++i) {
        QString name = toStr(row->fields.value(QStringLiteral("Name").toLower()));
        QString code = toStr(row->fields.value(QStringLiteral("Code").toLower()));
        QString s = name.mid(0, 3).toUpper() + u'-' + code;
        if (s.size() > 5) s += u'+';
        else s += u'-';
        s += u' ' + formatDate(*parseDate(u"1/15/2024") + 1);
        sink += s.size();
    }
    double tDirect = secondsSince(t0);

    // A field reference: Src("Name").
    const QString ref = QStringLiteral("Src(\"Name\")");
    t0 = Clock::now();
    for (int i = 0; i < n; ++i) sink += toStr(sc.Eval(ref)).size();
    double tRef = secondsSince(t0);

    t0 = Clock::now();
    for (int i = 0; i < n; ++i) sink += toStr(row->fields.value(QStringLiteral("Name").toLower())).size();
    double tRefDirect = secondsSince(t0);

    // A plain UCase(Src("Name")).
    const QString upper = QStringLiteral("UCase(Src(\"Name\"))");
    t0 = Clock::now();
    for (int i = 0; i < n; ++i) sink += toStr(sc.Eval(upper)).size();
    double tUpper = secondsSince(t0);

    t0 = Clock::now();
    for (int i = 0; i < n; ++i)
        sink += toStr(row->fields.value(QStringLiteral("Name").toLower())).toUpper().size();
    double tUpperDirect = secondsSince(t0);

    // The host rebuilt per record (Reset, object, code, Eval), as the
    // formula host may do before each storage step.
    const int m = n / 5;
    const QString code = QString::fromLatin1(kFormula);
    t0 = Clock::now();
    for (int i = 0; i < m; ++i) {
        sc.Reset();
        sc.AddObject("Src", row);
        sc.AddCode(code);
        sink += toStr(sc.Eval(mainName)).size();
    }
    double tRebuild = secondsSince(t0);

    std::printf("formula result: %s\n", qPrintable(check));
    std::printf("formula Main():        %10.0f evals/s  (C++ direct %10.0f/s, ratio %.1fx)\n", n / tScript,
                n / tDirect, tScript / tDirect);
    std::printf("UCase(Src(\"Name\")):    %10.0f evals/s  (C++ direct %10.0f/s, ratio %.1fx)\n", n / tUpper,
                n / tUpperDirect, tUpper / tUpperDirect);
    std::printf("field reference:       %10.0f evals/s  (C++ direct %10.0f/s, ratio %.1fx)\n", n / tRef,
                n / tRefDirect, tRef / tRefDirect);
    std::printf("reset+add+eval/record: %10.0f records/s\n", m / tRebuild);
    std::printf("parses: %llu (sink %zu)\n", static_cast<unsigned long long>(sc.compileCount()), sink);
    return 0;
}
