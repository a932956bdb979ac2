#include <gtest/gtest.h>

#include "DriveManager.h"
#include "FirmwareRules.h"

namespace {

TEST(FirmwareRules, FileNamesFitTheirDriveFamily)
{
    struct Row {
        const char* name;
        int type;
        const char* description;
        bool valid;
        // clang-format off
    } rows[] = {
        {"d7480xyz.bin", DRIVE_DAT_4, "7470", true},
        {"d748.bin", DRIVE_DAT_4, "7470", true},          // seven characters exactly
        {"D7480XYZ.BIN", DRIVE_DAT_4, "7470", true},      // the rules read the lower-case name
        {"/fw/d7480xyz.bin", DRIVE_DAT_4, "7470", true},  // only the base name counts
        {"d8480xyz.bin", DRIVE_DAT_4, "7470", false},
        {"d7.bin", DRIVE_DAT_4, "7470", false},
        {"d7480xyz.txt", DRIVE_DAT_4, "7470", false},
        {"/fw7/d.bin", DRIVE_DAT_4, "7470", false},       // the directory's characters do not help
        {"", DRIVE_DAT_4, "7470", false},
        {"x8123abc.img", DRIVE_DAT_5, "A7F1", true},
        {"x9123abc.img", DRIVE_DAT_5, "9C23", true},
        {"x8123abc.img", DRIVE_DAT_5, "9C23", false},     // a 9-series drive takes 9-series images only
        {"x7123abc.img", DRIVE_DAT_5, "A7F1", false},
        {"x12d0abc.img", DRIVE_ULTRIUM, "2A17", true},    // no "-": any second character
        {"a1bc-xyz.bin", DRIVE_ULTRIUM, "2A17", true},
        {"a2bc-xyz.bin", DRIVE_ULTRIUM, "2A17", false},
        {"x7480xyz.bin", DRIVE_DAT_3, "A120", false},     // no download for this family
        {"x7480xyz.bin", DRIVE_TRAVAN_2, "7.10", false},
    };
    // clang-format on
    for (const Row& row : rows)
        EXPECT_EQ(IsValidFirmwareFileName(row.name, row.type, row.description), row.valid) << row.name;
}

TEST(FirmwareRules, OemImagesAndOemDrives)
{
    EXPECT_TRUE(IsOemFirmwareFileName("d748052.bin"));
    EXPECT_FALSE(IsOemFirmwareFileName("d7480xyz.bin"));
    EXPECT_FALSE(IsOemFirmwareFileName("d748052"));
    EXPECT_FALSE(IsOemFirmwareFileName("52"));
    EXPECT_FALSE(IsOemFirmwareFileName("2.bin"));
    EXPECT_TRUE(IsOemFirmwareFileName("52.bin"));

    for (const char* oem : {"7480-52", "7480-052", "7480-52X", "A-1-52"})
        EXPECT_TRUE(IsOemFirmwareDescription(oem)) << oem;
    for (const char* plain : {"7480-05", "7480-5", "7480", "7480-", "52-7480"})
        EXPECT_FALSE(IsOemFirmwareDescription(plain)) << plain;
}

TEST(FirmwareRules, TheLevelAFileCarries)
{
    EXPECT_EQ(FirmwareVersionFromFileName("/fw/d7480xyz.bin", DRIVE_DAT_4), "7480");
    EXPECT_EQ(FirmwareVersionFromFileName("x9C24abc.img", DRIVE_DAT_5), "9C24");
    EXPECT_EQ(FirmwareVersionFromFileName("x12d0abc.img", DRIVE_ULTRIUM), "112d");
    EXPECT_EQ(FirmwareVersionFromFileName("a1bc-xyz.bin", DRIVE_ULTRIUM), "1bc-");
    EXPECT_EQ(FirmwareVersionFromFileName("d74", DRIVE_DAT_4), "74");  // what there is
    EXPECT_EQ(FirmwareVersionFromFileName("d7480xyz.bin", DRIVE_DAT_3), "");
    EXPECT_TRUE(FirmwareRevisionMatches("x9c24abc.img", DRIVE_DAT_5, "9C24"));
    EXPECT_TRUE(FirmwareRevisionMatches("X9C24ABC.IMG", DRIVE_DAT_5, "9c24"));
    EXPECT_FALSE(FirmwareRevisionMatches("x9c24abc.img", DRIVE_DAT_5, "9c2"));
}

TEST(FirmwareRules, OnlyANewerLevelOfTheSameSeriesMayBeInstalled)
{
    struct Row {
        const char* current;
        const char* file;
        bool ignore;
        bool mayInstall;
        // clang-format off
    } rows[] = {
        {"7470", "d7480xyz.bin", false, true},
        {"7480", "d7480xyz.bin", false, false},
        {"7490", "d7480xyz.bin", false, false},
        {"747a", "d747bxyz.bin", false, true},
        {"747b", "d747axyz.bin", false, false},
        {"748", "d7480xyz.bin", false, true},   // no fourth character to compare
        {"8120", "d7480xyz.bin", false, false}, // another series, whatever the numbers
        {"8120", "d7480xyz.bin", true, false},  // not even with -i
        {"7490", "d7480xyz.bin", true, true},   // -i allows an older level
        {"a747", "d7480xyz.bin", false, true},  // a leading letter is dropped: 747
        {"74800110", "d7480xyz.bin", false, false},
    };
    // clang-format on
    for (const Row& row : rows)
        EXPECT_EQ(MayInstallFirmwareLevel(row.file, DRIVE_DAT_4, row.current, row.ignore), row.mayInstall)
            << row.current << " <- " << row.file << (row.ignore ? " -i" : "");
    EXPECT_TRUE(IsWholeFirmwareLength(32768));
    EXPECT_TRUE(IsWholeFirmwareLength(0));
    EXPECT_FALSE(IsWholeFirmwareLength(40000));
}

}  // namespace
