#include "BuiltinCall.h"

#include <cmath>

using namespace builtin_test;
using vbs::VarType;

TEST(ConversionBuiltins, WholeNumberConversionsRoundHalfToEvenAndCheckRange)
{
    EXPECT_EQ(call("CInt", {D(2.5)}).integerVal(), 2);
    EXPECT_EQ(call("CInt", {D(3.5)}).integerVal(), 4);
    EXPECT_EQ(call("CInt", {D(-2.5)}).integerVal(), -2);
    EXPECT_EQ(call("CLng", {S(" 1234.5 ")}).longVal(), 1234);
    EXPECT_EQ(call("CByte", {D(254.5)}).byteVal(), 254);
    EXPECT_EQ(errorOf("CInt", {D(32767.5)}), 6);
    EXPECT_EQ(errorOf("CByte", {I(-1)}), 6);
    EXPECT_EQ(errorOf("CInt", {S("abc")}), 13);
    EXPECT_EQ(errorOf("CInt", {Null()}), 94);
    EXPECT_EQ(errorOf("CStr", {Null()}), 94);
    EXPECT_EQ(call("CInt", {Empty()}).integerVal(), 0);
    EXPECT_EQ(call("CCur", {D(1.23456)}).currencyVal(), 12346);
    EXPECT_EQ(call("CBool", {S("false")}).boolVal(), false);
    EXPECT_EQ(call("CBool", {D(0.1)}).boolVal(), true);
    EXPECT_EQ(call("CDate", {S("2/29/2020")}).type(), VarType::Date);
    EXPECT_EQ(errorOf("CDate", {S("2/30/2020x")}), 13);
    EXPECT_EQ(str("CStr", {Variant::fromBool(true)}), "True");
}

TEST(ConversionBuiltins, IntFixRoundKeepSubtypes)
{
    EXPECT_EQ(call("Int", {D(-8.4)}).doubleVal(), -9);
    EXPECT_EQ(call("Fix", {D(-8.4)}).doubleVal(), -8);
    EXPECT_EQ(call("Int", {S("8.9")}).doubleVal(), 8);
    EXPECT_EQ(call("Int", {S("8.9")}).type(), VarType::Double);
    EXPECT_EQ(call("Int", {Variant::fromCurrency(-15000)}).currencyVal(), -20000);
    EXPECT_EQ(call("Fix", {Variant::fromCurrency(-15000)}).currencyVal(), -10000);
    EXPECT_EQ(call("Int", {Variant::fromBool(true)}).type(), VarType::Integer);
    EXPECT_EQ(call("Int", {Empty()}).type(), VarType::Integer);
    EXPECT_TRUE(call("Int", {Null()}).isNull());
    EXPECT_TRUE(call("Fix", {Null()}).isNull());

    EXPECT_EQ(call("Round", {D(2.5)}).doubleVal(), 2);
    EXPECT_EQ(call("Round", {D(3.5)}).doubleVal(), 4);
    EXPECT_EQ(call("Round", {D(-0.5)}).doubleVal(), 0);
    EXPECT_DOUBLE_EQ(call("Round", {D(1.2345), I(2)}).doubleVal(), 1.23);
    EXPECT_DOUBLE_EQ(call("Round", {D(0.125), I(2)}).doubleVal(), 0.12);
    EXPECT_EQ(call("Round", {Variant::fromCurrency(12500), I(0)}).currencyVal(), 10000);
    EXPECT_EQ(call("Round", {Variant::fromCurrency(250), I(2)}).currencyVal(), 200);
    EXPECT_EQ(call("Round", {Variant::fromCurrency(350), I(2)}).currencyVal(), 400);
    EXPECT_EQ(call("Round", {Variant::fromCurrency(-351), I(2)}).currencyVal(), -400);
    EXPECT_EQ(call("Round", {I(7), I(2)}).type(), VarType::Integer);
    const auto dec = vbs::Decimal::parse(u"2.345");
    ASSERT_TRUE(dec);
    EXPECT_EQ(str("Round", {Variant::fromDecimal(*dec), I(2)}), "2.34");
    EXPECT_TRUE(call("Round", {Null()}).isNull());
    EXPECT_EQ(errorOf("Round", {D(1.5), I(-1)}), 5);
}

TEST(ConversionBuiltins, HexOctAbsSgn)
{
    EXPECT_EQ(str("Hex", {I(255)}), "FF");
    EXPECT_EQ(str("Hex", {I(-1)}), "FFFF");
    EXPECT_EQ(str("Hex", {L(-32769)}), "FFFF7FFF");
    EXPECT_EQ(str("Hex", {D(10.5)}), "A");
    EXPECT_EQ(str("Hex", {Empty()}), "0");
    EXPECT_EQ(str("Oct", {I(8)}), "10");
    EXPECT_EQ(str("Oct", {I(-1)}), "177777");
    EXPECT_TRUE(call("Hex", {Null()}).isNull());
    EXPECT_EQ(errorOf("Hex", {D(3e10)}), 6);

    Variant big = call("Abs", {I(-32768)});
    EXPECT_EQ(big.type(), VarType::Long);
    EXPECT_EQ(big.longVal(), 32768);
    EXPECT_EQ(call("Abs", {D(-1.5)}).doubleVal(), 1.5);
    EXPECT_EQ(call("Abs", {Variant::fromCurrency(-5)}).currencyVal(), 5);
    EXPECT_TRUE(call("Abs", {Null()}).isNull());
    EXPECT_EQ(call("Sgn", {D(-0.1)}).integerVal(), -1);
    EXPECT_EQ(call("Sgn", {Empty()}).integerVal(), 0);
    EXPECT_EQ(call("Sgn", {S("7")}).integerVal(), 1);
}

namespace {

// A host object whose default member holds a value, like a recordset field.
class FieldObject : public vbs::IScriptObject {
public:
    explicit FieldObject(Variant v) : value_(std::move(v)) {}
    QString typeName() const override { return QStringLiteral("Field"); }
    Variant get(int id, std::span<Variant>) override
    {
        if (id != DefaultMember)
            vbs::raiseError(vbs::err::NoSuchMember);
        return value_;
    }

private:
    Variant value_;
};

} // namespace

TEST(TestBuiltins, TypeTestsAndNames)
{
    EXPECT_TRUE(call("IsNumeric", {S(" 12.5 ")}).boolVal());
    EXPECT_TRUE(call("IsNumeric", {S("&HFF")}).boolVal());
    EXPECT_TRUE(call("IsNumeric", {Empty()}).boolVal());
    EXPECT_FALSE(call("IsNumeric", {S("")}).boolVal());
    EXPECT_FALSE(call("IsNumeric", {S("12a")}).boolVal());
    EXPECT_FALSE(call("IsNumeric", {Null()}).boolVal());
    EXPECT_FALSE(call("IsNumeric", {Dt("1/1/2000")}).boolVal());
    EXPECT_TRUE(call("IsDate", {S("January 31, 2020")}).boolVal());
    EXPECT_FALSE(call("IsDate", {S("2/30/2020")}).boolVal());
    EXPECT_FALSE(call("IsDate", {D(5)}).boolVal());

    const Variant field = Variant::fromObject(std::make_shared<FieldObject>(Null()));
    EXPECT_TRUE(call("IsNull", {field}).boolVal());
    EXPECT_TRUE(call("IsObject", {field}).boolVal());
    EXPECT_EQ(call("VarType", {field}).integerVal(), 1);
    EXPECT_EQ(str("TypeName", {field}), "Field");
    const Variant numberField = Variant::fromObject(std::make_shared<FieldObject>(S("42")));
    EXPECT_TRUE(call("IsNumeric", {numberField}).boolVal());
    EXPECT_EQ(str("UCase", {Variant::fromObject(std::make_shared<FieldObject>(S("ab")))}), "AB");

    EXPECT_EQ(call("VarType", {call("Array", {})}).integerVal(), 8204);
    EXPECT_EQ(call("VarType", {Variant::nothing()}).integerVal(), 9);
    EXPECT_EQ(str("TypeName", {Variant::nothing()}), "Nothing");
    EXPECT_EQ(str("TypeName", {call("Array", {})}), "Variant()");
    EXPECT_EQ(str("TypeName", {Variant::fromCurrency(1)}), "Currency");
    EXPECT_EQ(str("TypeName", {Empty()}), "Empty");
    EXPECT_TRUE(call("IsEmpty", {Empty()}).boolVal());
    EXPECT_FALSE(call("IsEmpty", {S("")}).boolVal());
    EXPECT_TRUE(call("IsArray", {call("Split", {S("a")})}).boolVal());
}

TEST(FormatBuiltins, NumberCurrencyPercent)
{
    EXPECT_EQ(str("FormatNumber", {D(1234567.891)}), "1,234,567.89");
    EXPECT_EQ(str("FormatNumber", {D(0.5), I(0)}), "1"); // halves away from zero
    EXPECT_EQ(str("FormatNumber", {D(-0.5), I(0)}), "-1");
    EXPECT_EQ(str("FormatNumber", {D(2.675), I(2)}), "2.68");
    EXPECT_EQ(str("FormatNumber", {D(0.25), I(1), I(0)}), ".3");
    EXPECT_EQ(str("FormatNumber", {D(-1234.5), I(1), I(-1), I(-1)}), "(1,234.5)");
    EXPECT_EQ(str("FormatNumber", {D(1234.5), I(0), I(-1), I(0), I(0)}), "1235");
    EXPECT_EQ(str("FormatNumber", {D(999.996)}), "1,000.00");
    EXPECT_EQ(str("FormatNumber", {D(-0.001)}), "0.00");
    EXPECT_EQ(str("FormatNumber", {D(1e20), I(0)}), "100,000,000,000,000,000,000");
    EXPECT_EQ(str("FormatNumber", {Empty()}), "0.00");
    EXPECT_EQ(str("FormatNumber", {S("12.3"), I(3)}), "12.300");
    EXPECT_EQ(str("FormatCurrency", {D(1234.5)}), "$1,234.50");
    EXPECT_EQ(str("FormatCurrency", {D(-1234.5)}), "($1,234.50)");
    EXPECT_EQ(str("FormatCurrency", {D(-1234.5), I(2), I(-2), I(0)}), "-$1,234.50");
    EXPECT_EQ(str("FormatCurrency", {Variant::fromCurrency(12345)}), "$1.23");
    EXPECT_EQ(str("FormatPercent", {D(0.1234)}), "12.34%");
    EXPECT_EQ(str("FormatPercent", {D(-0.5), I(0)}), "-50%");
    EXPECT_EQ(errorOf("FormatNumber", {Null()}), 94);
    EXPECT_EQ(errorOf("FormatNumber", {S("abc")}), 13);
    EXPECT_EQ(errorOf("FormatNumber", {D(1), I(-2)}), 5);
}

TEST(MathBuiltins, DomainErrorsAndResults)
{
    EXPECT_EQ(call("Sqr", {I(16)}).doubleVal(), 4);
    EXPECT_EQ(errorOf("Sqr", {I(-1)}), 5);
    EXPECT_EQ(errorOf("Log", {I(0)}), 5);
    EXPECT_EQ(errorOf("Exp", {I(1000)}), 6);
    EXPECT_EQ(errorOf("Sqr", {Null()}), 94);
    EXPECT_NEAR(call("Atn", {I(1)}).doubleVal() * 4, M_PI, 1e-15);
    EXPECT_NEAR(call("Log", {call("Exp", {I(2)})}).doubleVal(), 2, 1e-15);
    EXPECT_EQ(call("Cos", {I(0)}).type(), VarType::Double);
}

TEST(MathBuiltins, RndFollowsTheSeededSequence)
{
    vbs::BuiltinContext ctx;
    const float first = call(ctx, "Rnd", {}).singleVal();
    EXPECT_NEAR(first, 0.7055475, 1e-6);
    EXPECT_NEAR(call(ctx, "Rnd", {}).singleVal(), 0.533424, 1e-6);
    EXPECT_EQ(call(ctx, "Rnd", {I(0)}).singleVal(), call(ctx, "Rnd", {I(0)}).singleVal());
    EXPECT_NEAR(call(ctx, "Rnd", {I(-1)}).singleVal(), 0.224007, 1e-6);
    EXPECT_NEAR(call(ctx, "Rnd", {I(-1)}).singleVal(), 0.224007, 1e-6);

    // Rnd(negative) then Randomize n repeats a sequence.
    auto sequence = [](vbs::BuiltinContext& c) {
        call(c, "Rnd", {I(-1)});
        call(c, "Randomize", {I(42)});
        std::vector<float> v;
        for (int i = 0; i < 3; ++i)
            v.push_back(call(c, "Rnd", {}).singleVal());
        return v;
    };
    vbs::BuiltinContext a, b;
    call(b, "Rnd", {});
    EXPECT_EQ(sequence(a), sequence(b));
    for (int i = 0; i < 100; ++i) {
        const float r = call(a, "Rnd", {}).singleVal();
        EXPECT_GE(r, 0.0f);
        EXPECT_LT(r, 1.0f);
    }
}

TEST(ArrayBuiltins, BoundsAndErase)
{
    Variant a = call("Array", {I(1), S("x"), Null()});
    EXPECT_EQ(call("LBound", {a}).longVal(), 0);
    EXPECT_EQ(call("UBound", {a}).longVal(), 2);
    EXPECT_EQ(call("UBound", {call("Array", {})}).longVal(), -1);
    EXPECT_EQ(errorOf("UBound", {a, I(2)}), 9);
    EXPECT_EQ(errorOf("UBound", {a, I(0)}), 9);
    EXPECT_EQ(errorOf("LBound", {S("abc")}), 13);
    EXPECT_EQ(errorOf("UBound", {Null()}), 13);

    const int32_t bounds[] = {2, 1};
    Variant grid = Variant::fromArray(vbs::ArrayData::withBounds(bounds));
    EXPECT_EQ(call("UBound", {grid, I(2)}).longVal(), 1);

    const vbs::BuiltinInfo* erase = registry().findFunction(QStringLiteral("erase"));
    ASSERT_NE(erase, nullptr);
    EXPECT_TRUE(erase->flags & vbs::BuiltinWritesArgs);
    vbs::BuiltinContext ctx;
    std::vector<Variant> dynamicArg{a};
    erase->fn(ctx, dynamicArg);
    EXPECT_EQ(errorOf("UBound", {dynamicArg[0]}), 9);
    EXPECT_EQ(call("UBound", {a}).longVal(), 2); // other copies keep their items

    Variant fixed = Variant::fromArray(vbs::ArrayData::withBounds(bounds));
    fixed.mutableArr().fixedSize = true;
    fixed.mutableArr().items[0] = S("kept?");
    std::vector<Variant> fixedArg{fixed};
    erase->fn(ctx, fixedArg);
    EXPECT_EQ(call("UBound", {fixedArg[0], I(1)}).longVal(), 2);
    EXPECT_TRUE(fixedArg[0].arr()->items[0].isEmpty());
    EXPECT_EQ(errorOf("Erase", {S("x")}), 13);
}

TEST(LibraryRegistry, ConstantsAndAbsentFunctions)
{
    const vbs::Registry& r = registry();
    EXPECT_EQ(r.findConstant(QStringLiteral("VBCRLF"))->value.str(), "\r\n");
    EXPECT_EQ(r.findConstant(QStringLiteral("vbNewLine"))->value.str(), "\r\n");
    EXPECT_EQ(r.findConstant(QStringLiteral("vbObjectError"))->value.longVal(), -2147221504);
    EXPECT_EQ(r.findConstant(QStringLiteral("vbArray"))->value.integerVal(), 8192);
    EXPECT_EQ(r.findConstant(QStringLiteral("vbSaturday"))->value.integerVal(), 7);
    EXPECT_EQ(r.findConstant(QStringLiteral("vbTrue"))->value.integerVal(), -1);
    EXPECT_EQ(r.findConstant(QStringLiteral("vbUseDefault"))->value.integerVal(), -2);
    for (const char* missing : {"IIf", "Format", "Val", "Nz", "MsgBox"})
        EXPECT_EQ(r.findFunction(QString::fromLatin1(missing)), nullptr) << missing;
}
