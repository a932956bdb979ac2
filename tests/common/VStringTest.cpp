#include <gtest/gtest.h>

#include <string>

#include "VString.h"

namespace {

std::string Text(const CVString& s)
{
    return std::string(static_cast<const char*>(s));
}

TEST(VString, TakingInCutsAtTheFirstControlCharacter)
{
    EXPECT_EQ(Text(CVString("abc\r\n")), "abc");
    EXPECT_EQ(Text(CVString("a\tb")), "a");
    EXPECT_EQ(Text(CVString("x\x7fy")), "x");
    // Bytes 80h to FFh are ordinary characters.
    EXPECT_EQ(CVString("\xe9t\xe9").GetLength(), 3);
    CVString assigned;
    assigned = "line\n";
    EXPECT_EQ(Text(assigned), "line");
}

TEST(VString, OverlongSourceIsCutTo4094Characters)
{
    std::string source(5000, 'a');
    EXPECT_EQ(CVString(source.c_str()).GetLength(), 4094);
    std::string exact(4095, 'b');
    EXPECT_EQ(CVString(exact.c_str()).GetLength(), 4094);
}

TEST(VString, AppendThatWouldReach4095IsRefusedWhole)
{
    std::string base(4090, 'a');
    CVString s(base.c_str());
    s += "12345";
    EXPECT_EQ(s.GetLength(), 4090);
    s += CVString("12345");
    EXPECT_EQ(s.GetLength(), 4090);
    s += "1234";
    EXPECT_EQ(s.GetLength(), 4094);
    s += 'z';
    EXPECT_EQ(s.GetLength(), 4094);
    EXPECT_EQ(s[4093], '4');

    CVString sum = CVString(base.c_str()) + CVString("12345");
    EXPECT_EQ(sum.GetLength(), 4090);
}

TEST(VString, ConstCharAppendCleansButCharAndStringAppendsDoNot)
{
    CVString cleaned("ab");
    cleaned += '\n';
    cleaned += "cd";
    EXPECT_EQ(Text(cleaned), "ab");

    CVString kept("ab");
    kept += '\n';
    kept += CVString("cd");
    EXPECT_EQ(Text(kept), "ab\ncd");
}

TEST(VString, ComparisonWithPlainTextCleansBothSides)
{
    CVString x("x");
    EXPECT_TRUE(x == "x\n");
    CVString withLineEnd("x");
    withLineEnd += '\n';
    EXPECT_FALSE(withLineEnd == x);
    EXPECT_TRUE(withLineEnd != x);
    EXPECT_FALSE(CVString("X") == "x");
}

TEST(VString, PositionsOutsideTheBufferReadXAndAreIgnoredOnWrite)
{
    CVString s("abc");
    EXPECT_EQ(s[4095], 'X');
    EXPECT_EQ(s[-1], 'X');
    EXPECT_EQ(s[3], '\0');
    s.SetAt(5000, 'q');
    s.SetAt(-1, 'q');
    EXPECT_EQ(Text(s), "abc");
    s.SetAt(1, 'z');
    EXPECT_EQ(Text(s), "azc");
}

TEST(VString, MidLeftAndRightBounds)
{
    CVString hello("hello");
    EXPECT_EQ(Text(hello.Left(2)), "he");
    EXPECT_EQ(Text(hello.Left(-1)), "hello");
    EXPECT_EQ(Text(hello.Left(99)), "hello");
    EXPECT_EQ(Text(hello.Right(2)), "lo");
    EXPECT_EQ(Text(hello.Right(5)), "hello");
    EXPECT_EQ(Text(hello.Right(6)), "");
    EXPECT_EQ(Text(hello.Right(0)), "");
    EXPECT_EQ(Text(hello.Mid(1, 3)), "ell");
    EXPECT_EQ(Text(hello.Mid(3, 99)), "lo");
    EXPECT_EQ(Text(hello.Mid(5, 1)), "");
    EXPECT_EQ(Text(hello.Mid(-3, 2)), "");
    EXPECT_EQ(Text(hello.Mid(1, -5)), "");
}

TEST(VString, ForwardAndReverseSearches)
{
    CVString s("abcabc");
    EXPECT_EQ(s.Find("bc", -1), 1);
    EXPECT_EQ(s.Find("bc", 2), 4);
    EXPECT_EQ(s.Find("bc", 5), -1);
    EXPECT_EQ(s.Find("bc", -2), -1);
    EXPECT_EQ(s.Find('c', 3), 5);
    EXPECT_EQ(s.ReverseFind("a", -1), 3);
    EXPECT_EQ(s.ReverseFind("bc", 3), 1);
    EXPECT_EQ(s.ReverseFind("abcd", -1), -1);
    EXPECT_EQ(s.ReverseFind("bc", -1), 4);
    EXPECT_EQ(s.ReverseFind("a", 9), -1);

    CVString empty;
    EXPECT_EQ(empty.Find("a", -1), -1);
    EXPECT_EQ(empty.ReverseFind("a", -1), -1);
    EXPECT_EQ(empty.Find('a', 0), -1);
    EXPECT_EQ(s.Find(""), -1);
}

TEST(VString, TrimRemovesBlanksButNotTabs)
{
    CVString s("  a b  ");
    s.Trim();
    EXPECT_EQ(Text(s), "a b");
    CVString tab;
    tab += '\t';
    tab += CVString("x ");
    tab.Trim();
    EXPECT_EQ(tab.GetLength(), 2);
    EXPECT_EQ(tab[0], '\t');
}

TEST(VString, CatalogueAndFormatting)
{
    CVString s;
    EXPECT_TRUE(s.LdString(26));
    EXPECT_EQ(Text(s), "Test completed successfully.");
    EXPECT_TRUE(s.LdString(65));
    EXPECT_EQ(Text(s), "Failure: Check tape write protection.  ");
    EXPECT_TRUE(s.LdString(15));
    EXPECT_EQ(Text(s), "Issued Cmd: Write ");
    EXPECT_TRUE(s.LdString(0));
    EXPECT_TRUE(s.LdString(82));
    EXPECT_EQ(Text(s), "The selected firmware file appears corrupted.");
    EXPECT_FALSE(s.LdString(83));
    EXPECT_FALSE(s.LdString(-1));

    s.Format("%d", 200);
    EXPECT_EQ(Text(s), "200");
    s.Format("a%d\n", 7);
    EXPECT_EQ(Text(s), "a7\n");  // formatting does not clean
    s.Format("%lld", 1234567890123LL);
    EXPECT_EQ(Text(s), "1234567890123");
    s.Format("%02X", static_cast<unsigned char>(0xab));
    EXPECT_EQ(Text(s), "AB");
    std::string wide(5000, 'w');
    s.Format(wide.c_str(), 1);
    EXPECT_EQ(s.GetLength(), 4094);
}

TEST(VString, CaseMappingTouchesOnlyAsciiLetters)
{
    CVString s("aZ9\xe9");
    s.MakeUpper();
    EXPECT_EQ(Text(s), "AZ9\xe9");
    s.MakeLower();
    EXPECT_EQ(Text(s), "az9\xe9");
}

}  // namespace
