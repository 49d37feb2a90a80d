#include "BuiltinCall.h"

using namespace builtin_test;

TEST(StringBuiltins, SubstringsRejectNegativeLengthsAndPassNull)
{
    EXPECT_EQ(str("Left", {S("abc"), I(5)}), "abc");
    EXPECT_EQ(str("Left", {S(""), I(2)}), "");
    EXPECT_EQ(str("Right", {S("abcdef"), I(2)}), "ef");
    EXPECT_EQ(str("Mid", {S("abcdef"), I(3)}), "cdef");
    EXPECT_EQ(str("Mid", {S("abcdef"), I(2), I(3)}), "bcd");
    EXPECT_EQ(str("Mid", {S("abc"), I(10), I(3)}), "");
    EXPECT_EQ(str("Left", {I(12345), I(2)}), "12");
    EXPECT_TRUE(call("Left", {Null(), I(1)}).isNull());
    EXPECT_TRUE(call("Mid", {Null(), I(1)}).isNull());
    EXPECT_EQ(errorOf("Left", {S("abc"), I(-1)}), 5);
    EXPECT_EQ(errorOf("Right", {S("abc"), I(-1)}), 5);
    EXPECT_EQ(errorOf("Mid", {S("abc"), I(0)}), 5);
    EXPECT_EQ(errorOf("Mid", {S("abc"), I(1), I(-1)}), 5);
    EXPECT_EQ(errorOf("Left", {S("abc"), Null()}), 94);
    EXPECT_EQ(errorOf("Left", {S("abc"), S("x")}), 13);
}

TEST(StringBuiltins, LengthCaseAndTrim)
{
    EXPECT_TRUE(call("Len", {Null()}).isNull());
    EXPECT_EQ(call("Len", {Empty()}).longVal(), 0);
    EXPECT_EQ(call("Len", {D(1.5)}).longVal(), 3);
    EXPECT_EQ(call("Len", {S("abc")}).type(), vbs::VarType::Long);
    EXPECT_EQ(str("UCase", {S("aBc")}), "ABC");
    EXPECT_EQ(str("LCase", {S("ÀB")}), "àb");
    EXPECT_EQ(str("UCase", {S("straße")}), "STRAßE");
    // The letters' neighbours in ASCII stay as they are.
    EXPECT_EQ(str("UCase", {S("@az[`{AZ")}), "@AZ[`{AZ");
    EXPECT_EQ(str("LCase", {S("@AZ[`{az")}), "@az[`{az");
    EXPECT_TRUE(call("UCase", {Null()}).isNull());
    // Only blanks are trimmed; tabs stay.
    EXPECT_EQ(str("Trim", {S("  a b \t ")}), "a b \t");
    EXPECT_EQ(str("LTrim", {S("  a ")}), "a ");
    EXPECT_EQ(str("RTrim", {S("  a ")}), "  a");
    EXPECT_TRUE(call("Trim", {Null()}).isNull());
}

TEST(StringBuiltins, InStrFormsAndEdges)
{
    EXPECT_EQ(call("InStr", {S("abcabc"), S("c")}).longVal(), 3);
    EXPECT_EQ(call("InStr", {I(4), S("abcabc"), S("c")}).longVal(), 6);
    EXPECT_EQ(call("InStr", {I(1), S("ABC"), S("b"), I(1)}).longVal(), 2);
    EXPECT_EQ(call("InStr", {I(1), S("ABC"), S("b"), I(0)}).longVal(), 0);
    EXPECT_EQ(call("InStr", {S("abc"), S("")}).longVal(), 1);
    EXPECT_EQ(call("InStr", {I(3), S("abc"), S("")}).longVal(), 3);
    EXPECT_EQ(call("InStr", {I(4), S("abc"), S("")}).longVal(), 0);
    EXPECT_EQ(call("InStr", {S(""), S("a")}).longVal(), 0);
    EXPECT_EQ(call("InStr", {I(9), S("abc"), S("a")}).longVal(), 0);
    EXPECT_TRUE(call("InStr", {Null(), S("a")}).isNull());
    EXPECT_TRUE(call("InStr", {S("a"), Null()}).isNull());
    EXPECT_EQ(errorOf("InStr", {I(0), S("abc"), S("a")}), 5);
    EXPECT_EQ(errorOf("InStr", {Null(), S("abc"), S("a")}), 94);
    EXPECT_EQ(errorOf("InStr", {I(1), S("abc"), S("a"), I(7)}), 5);

    EXPECT_EQ(call("InStrRev", {S("abcabc"), S("b")}).longVal(), 5);
    EXPECT_EQ(call("InStrRev", {S("abcabc"), S("b"), I(4)}).longVal(), 2);
    EXPECT_EQ(call("InStrRev", {S("abcabc"), S("bc"), I(2)}).longVal(), 0);
    EXPECT_EQ(call("InStrRev", {S("ABCABC"), S("b"), I(-1), I(1)}).longVal(), 5);
    EXPECT_EQ(call("InStrRev", {S("abc"), S(""), I(2)}).longVal(), 2);
    EXPECT_EQ(call("InStrRev", {S("abc"), S("a"), I(9)}).longVal(), 0);
    EXPECT_EQ(call("InStrRev", {S(""), S("a")}).longVal(), 0);
    EXPECT_EQ(errorOf("InStrRev", {S("abc"), S("a"), I(0)}), 5);
    EXPECT_TRUE(call("InStrRev", {Null(), S("a")}).isNull());
}

TEST(StringBuiltins, ReplaceStartCountAndCompare)
{
    EXPECT_EQ(str("Replace", {S("a-b-c"), S("-"), S("+")}), "a+b+c");
    EXPECT_EQ(str("Replace", {S("a-b-c"), S("-"), S("")}), "abc");
    EXPECT_EQ(str("Replace", {S("a-b-c"), S(""), S("x")}), "a-b-c");
    // The characters before start are dropped.
    EXPECT_EQ(str("Replace", {S("a-b-c"), S("-"), S("+"), I(3)}), "b+c");
    EXPECT_EQ(str("Replace", {S("a-b-c"), S("-"), S("+"), I(1), I(1)}), "a+b-c");
    EXPECT_EQ(str("Replace", {S("a-b-c"), S("-"), S("+"), I(1), I(0)}), "a-b-c");
    EXPECT_EQ(str("Replace", {S("abc"), S("b"), S("x"), I(9)}), "");
    EXPECT_EQ(str("Replace", {S("ABab"), S("b"), S("x"), I(1), I(-1), I(1)}), "Axax");
    EXPECT_EQ(str("Replace", {S("aaa"), S("aa"), S("a")}), "aa");
    EXPECT_EQ(errorOf("Replace", {Null(), S("a"), S("b")}), 94);
    EXPECT_EQ(errorOf("Replace", {S("a"), S("a"), S("b"), I(0)}), 5);
    EXPECT_EQ(errorOf("Replace", {S("a"), S("a"), S("b"), I(1), I(-2)}), 5);
}

TEST(StringBuiltins, CharacterCodesUseWesternCodePage)
{
    EXPECT_EQ(str("Chr", {I(65)}), "A");
    EXPECT_EQ(call("Chr", {I(128)}).str(), QString(QChar(0x20AC)));
    EXPECT_EQ(call("Asc", {Variant(QString(QChar(0x20AC)))}).integerVal(), 128);
    EXPECT_EQ(call("Asc", {Variant(QString(QChar(0x4E00)))}).integerVal(), 63);
    EXPECT_EQ(call("Asc", {S("abc")}).integerVal(), 97);
    EXPECT_EQ(errorOf("Chr", {I(256)}), 5);
    EXPECT_EQ(errorOf("Chr", {I(-1)}), 5);
    EXPECT_EQ(errorOf("Asc", {S("")}), 5);
    EXPECT_EQ(errorOf("Asc", {Null()}), 94);
    EXPECT_EQ(call("ChrW", {L(0x4E00)}).str(), QString(QChar(0x4E00)));
    EXPECT_EQ(call("ChrW", {I(-1)}).str(), QString(QChar(0xFFFF)));
    EXPECT_EQ(call("AscW", {Variant(QString(QChar(0xFFFF)))}).integerVal(), -1);
    EXPECT_EQ(errorOf("ChrW", {L(65536)}), 5);
}

TEST(StringBuiltins, RepeatCompareReverse)
{
    EXPECT_EQ(str("Space", {I(3)}), "   ");
    EXPECT_EQ(str("Space", {I(0)}), "");
    EXPECT_EQ(errorOf("Space", {I(-1)}), 5);
    EXPECT_EQ(str("String", {I(3), S("xy")}), "xxx");
    EXPECT_EQ(str("String", {I(2), I(65 + 256)}), "AA");
    EXPECT_TRUE(call("String", {I(2), Null()}).isNull());
    EXPECT_EQ(errorOf("String", {I(-1), S("x")}), 5);
    EXPECT_EQ(errorOf("String", {I(2), S("")}), 5);

    EXPECT_EQ(call("StrComp", {S("a"), S("B")}).integerVal(), 1);
    EXPECT_EQ(call("StrComp", {S("a"), S("B"), I(1)}).integerVal(), -1);
    EXPECT_EQ(call("StrComp", {S("abc"), S("ABC"), I(1)}).integerVal(), 0);
    EXPECT_EQ(call("StrComp", {S(""), S("a")}).integerVal(), -1);
    EXPECT_TRUE(call("StrComp", {Null(), S("a")}).isNull());

    EXPECT_EQ(str("StrReverse", {S("abc")}), "cba");
    EXPECT_EQ(str("StrReverse", {S("")}), "");
    EXPECT_EQ(errorOf("StrReverse", {Null()}), 94);
}

TEST(StringBuiltins, SplitJoinFilter)
{
    Variant parts = call("Split", {S("a,b,,c"), S(",")});
    ASSERT_TRUE(parts.isArray());
    ASSERT_EQ(parts.arr()->items.size(), 4u);
    EXPECT_EQ(parts.arr()->items[2].str(), "");
    EXPECT_EQ(str("Join", {parts, S("|")}), "a|b||c");
    EXPECT_EQ(str("Join", {call("Split", {S("a b c")})}), "a b c");

    // An empty text splits into an empty array (UBound -1).
    Variant none = call("Split", {S("")});
    EXPECT_EQ(call("UBound", {none}).longVal(), -1);
    EXPECT_EQ(call("Split", {S("abc"), S("")}).arr()->items.size(), 1u);
    Variant limited = call("Split", {S("a,b,c"), S(","), I(2)});
    ASSERT_EQ(limited.arr()->items.size(), 2u);
    EXPECT_EQ(limited.arr()->items[1].str(), "b,c");
    EXPECT_EQ(call("Split", {S("aXbxc"), S("x"), I(-1), I(1)}).arr()->items.size(), 3u);
    EXPECT_EQ(errorOf("Split", {S("a"), S(","), I(-2)}), 5);
    EXPECT_EQ(errorOf("Split", {Null()}), 94);

    Variant list = call("Array", {S("Apple"), S("banana"), S("cherry")});
    EXPECT_EQ(str("Join", {call("Filter", {list, S("an")}), S(",")}), "banana");
    EXPECT_EQ(str("Join", {call("Filter", {list, S("A"), Variant::fromBool(true), I(1)}), S(",")}),
              "Apple,banana");
    EXPECT_EQ(str("Join", {call("Filter", {list, S("an"), Variant::fromBool(false)}), S(",")}),
              "Apple,cherry");
    EXPECT_EQ(call("UBound", {call("Filter", {list, S("zzz")})}).longVal(), -1);
    EXPECT_EQ(errorOf("Filter", {Null(), S("a")}), 13);
    EXPECT_EQ(errorOf("Join", {S("abc")}), 13);
}
