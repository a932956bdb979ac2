// The error counter log pages a drive returns after a read/write test, as
// the test reads them: zero-padded 4096-byte buffers judged by
// CTapeErrorHandler. The first input bytes choose the drive type, the test
// size and the split of the rest between the write and the read page.
#include <algorithm>
#include <cstring>
#include <vector>

#include "Application.h"
#include "DriveManager.h"
#include "FakeDriverInterface.h"
#include "FuzzCheck.h"
#include "TapeErrorHandler.h"

namespace {

const size_t PAGE_LENGTH = 4096;
// A parameter may start at the last byte the page length covers (4 + 255)
// and holds at most 4 + 8 bytes: nothing after that is part of the page.
const size_t PAGE_EXTENT = 4 + 255 + 4 + 8;

const int DRIVE_TYPES[] = {DRIVE_TRAVAN_0, DRIVE_TRAVAN_1, DRIVE_TRAVAN_2, DRIVE_DAT_3,
                           DRIVE_DAT_4,    DRIVE_DAT_5,    DRIVE_ULTRIUM,  6};

CApplication* SetUp()
{
    static CApplication* app = nullptr;
    if (app == nullptr) {
        app = new CApplication;
        app->ClientServerConnection(true);
    }
    return app;
}

struct Results {
    long long tr4, dat, nivra;
    bool one, two;
    bool operator==(const Results& o) const
    {
        return tr4 == o.tr4 && dat == o.dat && nivra == o.nivra && one == o.one && two == o.two;
    }
};

Results Judge(CTapeErrorHandler& handler, CTapeDrive& drive, unsigned char* writePage, unsigned char* readPage)
{
    Results r;
    r.tr4 = handler.TR4Errors(readPage);
    r.dat = handler.DATErrors(readPage);
    r.nivra = handler.NivraErrors(writePage, readPage);
    r.one = handler.CheckDriveErrors(&drive, readPage);
    r.two = handler.CheckDriveErrors(&drive, writePage, readPage);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CApplication* app = SetUp();
    FuzzInput input(data, size);
    const uint8_t choice = input.Byte();
    const int type = DRIVE_TYPES[choice & 7];
    app->SetEngineering((choice & 8) != 0);  // the verdict line is formatted...
    app->SetVerbose(false);                  // ...but printed nowhere
    long megabytes = 0;
    for (int i = 0; i < 4; ++i)
        megabytes = (megabytes << 8) | input.Byte();
    const size_t share = input.Byte();
    const size_t split = share * input.Left() / 256;

    std::vector<unsigned char> writePage(PAGE_LENGTH, 0), readPage(PAGE_LENGTH, 0);
    input.Take(writePage.data(), std::min(split, PAGE_LENGTH));
    input.Take(readPage.data(), PAGE_LENGTH);

    FakeDriveManager manager(*app);
    CTapeErrorHandler handler(&manager);
    handler.InitErrorHandler(type, megabytes);
    CTapeDrive drive(0, 0, 0, "", type, true, false, true);
    const Results results = Judge(handler, drive, writePage.data(), readPage.data());

    const bool travan = type <= DRIVE_TRAVAN_2;
    const bool dat = type >= DRIVE_DAT_3 && type <= DRIVE_DAT_5;
    if (travan)
        FUZZ_CHECK(results.one == (results.tr4 <= handler.MaxAllowedErrors()));
    else if (dat)
        FUZZ_CHECK(results.one == (results.dat <= handler.MaxAllowedErrors()));
    else
        FUZZ_CHECK(!results.one);
    FUZZ_CHECK(results.two == (results.nivra <= handler.MaxAllowedErrors()));
    if (type == DRIVE_ULTRIUM)
        FUZZ_CHECK(handler.MaxAllowedErrors() == 0);

    // Bytes past the page must not change any verdict.
    for (size_t i = PAGE_EXTENT; i < PAGE_LENGTH; ++i) {
        writePage[i] ^= 0xFF;
        readPage[i] ^= 0xFF;
    }
    FUZZ_CHECK(Judge(handler, drive, writePage.data(), readPage.data()) == results);
    return 0;
}
