#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "Application.h"
#include "FakeDriverInterface.h"
#include "TapeErrorHandler.h"
#include "Utility.h"

namespace {

struct Parameter {
    int code;
    std::vector<unsigned char> value;
};

// A zero-filled 4096-byte log page holding the parameters.
std::vector<unsigned char> Page(int pageCode, std::initializer_list<Parameter> parameters)
{
    std::vector<unsigned char> page(4096, 0);
    page[0] = static_cast<unsigned char>(pageCode);
    size_t position = 4;
    for (const Parameter& parameter : parameters) {
        page[position] = static_cast<unsigned char>(parameter.code >> 8);
        page[position + 1] = static_cast<unsigned char>(parameter.code);
        page[position + 2] = 0x60;
        page[position + 3] = static_cast<unsigned char>(parameter.value.size());
        for (size_t i = 0; i < parameter.value.size(); ++i)
            page[position + 4 + i] = parameter.value[i];
        position += 4 + parameter.value.size();
    }
    page[3] = static_cast<unsigned char>(position - 4);
    return page;
}

std::vector<unsigned char> Count(unsigned value)
{
    return {static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
            static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
}

class ErrorRate : public ::testing::Test {
protected:
    ErrorRate() : utility(&app), manager(app), handler(&manager) {}

    bool Judge(int type, long megabytes, std::vector<unsigned char> page)
    {
        CTapeDrive drive(0, 0, 0, "", type, true, false, false);
        handler.InitErrorHandler(type, megabytes);
        return handler.CheckDriveErrors(&drive, page.data());
    }

    CApplication app;
    CUtility utility;
    FakeDriveManager manager;
    CTapeErrorHandler handler;
};

TEST_F(ErrorRate, TravanLimitAtItsBoundary)
{
    EXPECT_TRUE(Judge(1, 5, Page(3, {{0x0000, Count(60)}, {0x0001, Count(5)}})));
    EXPECT_EQ(handler.MaxAllowedErrors(), 65);
    EXPECT_FALSE(Judge(2, 5, Page(3, {{0x0000, Count(60)}, {0x0001, Count(6)}})));
    // Other counters do not count for Travan drives.
    EXPECT_TRUE(Judge(0, 5, Page(3, {{0x0006, Count(999)}, {0x0002, Count(999)}})));
}

TEST_F(ErrorRate, DatFigureIsTheVendorCounter)
{
    EXPECT_TRUE(Judge(3, 200, Page(3, {{0x0000, Count(900000)}, {0x8008, Count(152000)}})));
    EXPECT_EQ(handler.MaxAllowedErrors(), 152000);
    EXPECT_FALSE(Judge(5, 200, Page(3, {{0x0001, Count(1)}, {0x8008, Count(152001)}})));
}

TEST_F(ErrorRate, UltriumAllowsNoUncorrectedError)
{
    CTapeDrive drive(0, 0, 0, "", 7, true, true, true);
    handler.InitErrorHandler(7, 200);
    std::vector<unsigned char> clean = Page(2, {{0x0006, Count(0)}});
    std::vector<unsigned char> oneError = Page(3, {{0x0006, Count(1)}});
    EXPECT_TRUE(handler.CheckDriveErrors(&drive, clean.data(), clean.data()));
    EXPECT_FALSE(handler.CheckDriveErrors(&drive, clean.data(), oneError.data()));
    EXPECT_FALSE(handler.CheckDriveErrors(&drive, oneError.data(), clean.data()));
    // A read page without the parameter makes the figure 0.
    std::vector<unsigned char> missing = Page(3, {{0x0000, Count(5)}});
    EXPECT_TRUE(handler.CheckDriveErrors(&drive, oneError.data(), missing.data()));
}

TEST_F(ErrorRate, EmptyPagesPassAndUnknownTypesFail)
{
    std::vector<unsigned char> zero(4096, 0);
    EXPECT_EQ(handler.TR4Errors(zero.data()), 0);
    EXPECT_EQ(handler.DATErrors(zero.data()), 0);
    EXPECT_EQ(handler.NivraErrors(zero.data(), zero.data()), 0);
    EXPECT_TRUE(Judge(1, 200, zero));
    EXPECT_FALSE(Judge(7, 200, zero));  // the one-page form knows Travan and DAT only
    EXPECT_FALSE(Judge(6, 200, zero));
}

TEST_F(ErrorRate, ValuesOfUpToEightBytesAreReadWhole)
{
    std::vector<unsigned char> five = Page(3, {{0x8008, {0x01, 0x00, 0x00, 0x00, 0x02}}});
    EXPECT_EQ(handler.DATErrors(five.data()), 0x0100000002LL);
    std::vector<unsigned char> eight = Page(3, {{0x8008, {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x03}}});
    EXPECT_EQ(handler.DATErrors(eight.data()), 0x010000000003LL);
    std::vector<unsigned char> nine = Page(3, {{0x8008, {1, 2, 3, 4, 5, 6, 7, 8, 9}}});
    EXPECT_EQ(handler.DATErrors(nine.data()), 0);
    std::vector<unsigned char> empty = Page(3, {{0x8008, {}}});
    EXPECT_EQ(handler.DATErrors(empty.data()), 0);
    EXPECT_FALSE(Judge(4, 200, Page(3, {{0x8008, {0x01, 0x00, 0x00, 0x00, 0x00}}})));
}

TEST_F(ErrorRate, NoFigureReadsAParameterPastThePageEnd)
{
    // An empty page whose buffer nevertheless holds a parameter at byte 4.
    std::vector<unsigned char> dat = Page(3, {{0x8008, Count(7)}});
    dat[3] = 0;
    EXPECT_EQ(handler.DATErrors(dat.data()), 0);
    std::vector<unsigned char> ultrium = Page(3, {{0x0006, Count(7)}});
    ultrium[3] = 0;
    EXPECT_EQ(handler.NivraErrors(ultrium.data(), ultrium.data()), 0);
}

// What the tests judge by: the counters each family's figure uses, read
// whole, or no verdict at all.
TEST_F(ErrorRate, AVerdictNeedsEveryCounterItsFigureUses)
{
    const std::vector<unsigned char> travan = Page(3, {{0x0000, Count(1)}, {0x0001, Count(1)}});
    const std::vector<unsigned char> dat = Page(3, {{0x0000, Count(1)}, {0x8008, Count(1)}});
    const std::vector<unsigned char> ultrium = Page(2, {{0x0000, Count(0)}, {0x0006, Count(0)}});
    const std::vector<unsigned char> uncorrected = Page(3, {{0x0006, Count(1)}});
    const std::vector<unsigned char> withoutDelayed = Page(3, {{0x0000, Count(1)}});
    const std::vector<unsigned char> zero(4096, 0);
    const int whole = 4096;
    struct Row {
        const char* name;
        int type;
        const std::vector<unsigned char>& write;
        int writeReceived;
        const std::vector<unsigned char>& read;
        int readReceived;
        ECounterVerdict verdict;
        // clang-format off
    } const rows[] = {
        {"travan", 1, zero, 0, travan, whole, COUNTERS_PASS},
        {"travan without 0001h", 1, zero, 0, withoutDelayed, whole, READ_COUNTERS_UNREADABLE},
        {"travan page not read", 2, travan, whole, travan, 0, READ_COUNTERS_UNREADABLE},
        {"dat, write page unused", 5, zero, 0, dat, whole, COUNTERS_PASS},
        {"dat cut inside 8008h", 5, zero, 0, dat, 4 + 8 + 7, READ_COUNTERS_UNREADABLE},
        {"dat without 8008h", 4, zero, 0, travan, whole, READ_COUNTERS_UNREADABLE},
        {"ultrium", 7, ultrium, whole, ultrium, whole, COUNTERS_PASS},
        {"ultrium with an uncorrected error", 7, ultrium, whole, uncorrected, whole, COUNTERS_FAIL},
        {"ultrium write page not read", 7, ultrium, 0, ultrium, whole, WRITE_COUNTERS_UNREADABLE},
        {"ultrium read page cut before 0006h", 7, ultrium, whole, ultrium, 12, READ_COUNTERS_UNREADABLE},
        {"ultrium read page empty", 7, ultrium, whole, zero, whole, READ_COUNTERS_UNREADABLE},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CTapeDrive drive(0, 0, 0, "", row.type, true, false, true);
        handler.InitErrorHandler(row.type, 200);
        std::vector<unsigned char> write = row.write;
        std::vector<unsigned char> read = row.read;
        EXPECT_EQ(handler.Judge(&drive, {write.data(), row.writeReceived}, {read.data(), row.readReceived}),
                  row.verdict);
    }
}

TEST_F(ErrorRate, EngineeringLineBeforeTheVerdict)
{
    app.SetEngineering(true);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(Judge(1, 200, Page(3, {{0x0000, Count(2601)}})));
    EXPECT_TRUE(Judge(1, 200, Page(3, {{0x0000, Count(17)}})));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Max allowed errors: 2600.  Actual errors: 2601\nMax allowed errors: 2600.  Actual errors: 17\n");
}

}  // namespace
