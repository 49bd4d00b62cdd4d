#include "app/IniFile.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>

namespace {

struct IntegerCase {
    const char *text;
    std::optional<int> value;
};

TEST(IniFormat, ParsesIntegersAsTheStoreDefinesThem)
{
    const IntegerCase cases[] = {
        {"10", 10},          {"-5", -5},          {"+7", 7},
        {"0x10", 16},        {"0X1f", 31},        {"$10", 16},
        {"$ff", 255},        {"-$10", -16},       {"$FFFFFFFF", -1},
        {"2147483647", INT_MAX}, {"-2147483648", INT_MIN},
        {"0x", std::nullopt}, {"$", std::nullopt}, {"0x1G", std::nullopt},
        {"", std::nullopt},  {"abc", std::nullopt}, {"12a", std::nullopt},
        {"1.5", std::nullopt}, {"2147483648", std::nullopt}, {"$100000000", std::nullopt},
        {"1 2", std::nullopt}, {"-", std::nullopt}, {"１２", std::nullopt},
    };
    for (const IntegerCase &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(IniFormat::ParseInteger(QString::fromUtf8(c.text)), c.value);
    }
}

TEST(IniDocument, ReadsValuesLikeThePrivateProfileFunctions)
{
    const TIniDocument ini(QStringLiteral(
        "\xFEFF" "orphan=outside\r\n"
        "; a comment\r\n"
        "[Config]\r\n"
        "  Cam1 =  3  \r\n"
        "cam1=9\r\n"
        "Quoted=\"  with blanks  \"\r\n"
        "Single='x'\r\n"
        "Half=\"x\r\n"
        "Empty=\r\n"
        "Chinese=空\r\n"
        "[ user ]\n"
        "UserName=张老师\n"));
    struct Case {
        const char *section;
        const char *key;
        std::optional<QString> value;
    };
    const Case cases[] = {
        {"config", "CAM1", QStringLiteral("3")},  // case-insensitive, blanks trimmed, first wins
        {"Config", "Quoted", QStringLiteral("  with blanks  ")},
        {"Config", "Single", QStringLiteral("x")},
        {"Config", "Half", QStringLiteral("\"x")},
        {"Config", "Empty", QString()},
        {"Config", "Chinese", QStringLiteral("空")},
        {"User", "UserName", QStringLiteral("张老师")},
        {"User", "Cam1", std::nullopt},           // keys belong to their own section
        {"Config", "orphan", std::nullopt},       // lines before the first section match nothing
        {"Config", "; a comment", std::nullopt},
        {"Video", "Cam1", std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(ini.Value(QString::fromUtf8(c.section), QString::fromUtf8(c.key)), c.value);
    }
}

TEST(IniDocument, WritesInPlaceAppendsToSectionsAndKeepsOtherLines)
{
    TIniDocument ini(QStringLiteral("; keep me\n[A]\nx=1\n\n[B]\ny=2\n"));
    ini.SetValue(QStringLiteral("a"), QStringLiteral("X"), QStringLiteral("10"));  // replaces, keeps the file's spelling of the section
    ini.SetValue(QStringLiteral("A"), QStringLiteral("z"), QStringLiteral("3"));   // after the last key of A, before the blank line
    ini.SetValue(QStringLiteral("C"), QStringLiteral("w"), QStringLiteral("4"));   // new section at the end
    ini.SetValue(QStringLiteral("B"), QStringLiteral("v"), QStringLiteral("a\r\nB=evil"));  // one line only
    EXPECT_EQ(ini.Text(), QStringLiteral("; keep me\n[A]\nX=10\nz=3\n\n[B]\ny=2\nv=a  B=evil\n[C]\nw=4\n"));
    EXPECT_EQ(TIniDocument(ini.Text()).Value(QStringLiteral("B"), QStringLiteral("y")), QStringLiteral("2"));
}

TEST(IniFormat, TypedReadsUseDefaultsAndLimits)
{
    const QString longText(3000, u'字');
    const TIniDocument ini(QStringLiteral("[S]\nnum=0x20\nbad=twelve\nyes=7\nno=0\nlong=") + longText +
                           QStringLiteral("\nemoji=") + QString(2046, u'a') + QStringLiteral("😀\n"));
    EXPECT_EQ(IniFormat::ReadInteger(ini, QStringLiteral("S"), QStringLiteral("num"), 5), 32);
    EXPECT_EQ(IniFormat::ReadInteger(ini, QStringLiteral("S"), QStringLiteral("bad"), 5), 5);
    EXPECT_EQ(IniFormat::ReadInteger(ini, QStringLiteral("S"), QStringLiteral("absent"), -3), -3);
    EXPECT_TRUE(IniFormat::ReadBool(ini, QStringLiteral("S"), QStringLiteral("yes"), false));
    EXPECT_FALSE(IniFormat::ReadBool(ini, QStringLiteral("S"), QStringLiteral("no"), true));
    EXPECT_TRUE(IniFormat::ReadBool(ini, QStringLiteral("S"), QStringLiteral("bad"), true));
    EXPECT_FALSE(IniFormat::ReadBool(ini, QStringLiteral("S"), QStringLiteral("absent"), false));
    EXPECT_EQ(IniFormat::ReadString(ini, QStringLiteral("S"), QStringLiteral("long"), QString()),
              QString(IniFormat::MaxTextLength, u'字'));
    // A character made of two UTF-16 units is not cut in half at the limit.
    EXPECT_EQ(IniFormat::ReadString(ini, QStringLiteral("S"), QStringLiteral("emoji"), QString()),
              QString(2046, u'a'));
}

}  // namespace
