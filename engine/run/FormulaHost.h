#pragma once
// The formula host of a run: one script interpreter per process, rebuilt
// cheaply before every storage step (code dropped, step objects bound to the
// rows current at that moment, the SQLExecute helper added again). Compiled
// code and expressions are cached by their text inside the interpreter, so
// a formula is parsed once per run however often it is evaluated.

#include <QString>
#include <QVariant>

#include <functional>
#include <memory>

class clsProcess;
class cShape;
class RunEngine;

namespace vbs { class ScriptControl; class Variant; }

class FormulaHost {
public:
    // Outcome of one evaluation. `empty` is true when the script gave Empty
    // (value then is a null QVariant, as for Null).
    struct Result {
        bool ok = true;
        QVariant value;
        bool empty = false;
        bool isNull = false;
        // The script ran, but gave something that is no value (an object
        // without a default value, an array, Nothing): 13 Type mismatch.
        bool notAValue = false;
        long number = 0;
        QString description;
        QString text;   // source line of a script error
        int line = 0;
    };

    FormulaHost(clsProcess& process, RunEngine& engine);
    ~FormulaHost();
    FormulaHost(const FormulaHost&) = delete;
    FormulaHost& operator=(const FormulaHost&) = delete;

    // Drops code and objects, binds every step that has data and adds the
    // SQLExecute helper. False when the host could not be reset.
    bool ResetScript();
    // "FORMULA!" + name: the named formula's Main; anything else: the text
    // evaluated as an expression (a field reference reads the step object).
    Result EvaluateValue(const QString& value);
    // Adds code and evaluates Main, as the formula check does.
    Result CheckCode(const QString& code);
    // Drops every cached step object (the document changed).
    void forgetSteps();

    // Converts between database values and script values.
    static QVariant toQVariant(const vbs::Variant& v, bool* isEmpty = nullptr, bool* isNull = nullptr);
    static vbs::Variant fromQVariant(const QVariant& v);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
