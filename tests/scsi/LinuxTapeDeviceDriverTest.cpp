#include "LinuxTapeDeviceDriver.h"

#include "FakeClock.h"
#include "RecordingPassThrough.h"
#include "ScsiData.h"
#include "Timeouts.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

// The first device attached to a command layer gets handle 0.
const int FD = 0;
const int DISCOVERY_TIMEOUT = 10;  // what discovery leaves behind: "current" below

class DriverTest : public ::testing::Test {
protected:
    DriverTest()
    {
        std::unique_ptr<CRecordingPassThrough> recording(new CRecordingPassThrough);
        device = recording.get();
        EXPECT_EQ(driver.AttachDevice(std::move(recording)), FD);
    }

    CBytes Sense()
    {
        CBytes sense(SCSI_SENSE_LENGTH);
        driver.GetSense(FD, sense.data(), SCSI_SENSE_LENGTH);
        return sense;
    }
    size_t CountOpcode(unsigned char opcode) const
    {
        size_t count = 0;
        for (const CRecordedCommand& command : device->Commands())
            count += command.cdb[0] == opcode ? 1 : 0;
        return count;
    }

    CLinuxTapeDeviceDriver driver;
    CRecordingPassThrough* device;
};

// ---- CDBs, directions, lengths and time-outs ----

struct OperationRow {
    const char* name;
    std::function<bool(CLinuxTapeDeviceDriver&, unsigned char*)> run;
    CCmd expected;
    bool alwaysTrue;
};

const int ANY = DISCOVERY_TIMEOUT;

#define OPERATION(call)                                                                                                \
    [](CLinuxTapeDeviceDriver& d, unsigned char* b) {                                                                  \
        static_cast<void>(b);                                                                                          \
        return d.call;                                                                                                 \
    }

// clang-format off
const OperationRow operations[] = {
    {"LoadTape retension", OPERATION(LoadTape(FD, 1)),
     {{0x1B, 0, 0, 0, 0x03, 0}, SCSI_DIR_NONE, 0, LONG_OPERATION_TIMEOUT_SECONDS}, false},
    {"LoadTape", OPERATION(LoadTape(FD, 0)),
     {{0x1B, 0, 0, 0, 0x01, 0}, SCSI_DIR_NONE, 0, LONG_OPERATION_TIMEOUT_SECONDS}, false},
    {"UnloadTape", OPERATION(UnloadTape(FD)),
     {{0x1B, 0, 0, 0, 0, 0}, SCSI_DIR_NONE, 0, LONG_OPERATION_TIMEOUT_SECONDS}, true},
    {"WriteFileMarks", OPERATION(WriteFileMarks(FD)),
     {{0x10, 0, 0, 0, 0x01, 0}, SCSI_DIR_NONE, 0, DATA_TRANSFER_TIMEOUT_SECONDS}, false},
    {"Rewind", OPERATION(Rewind(FD)),
     {{0x01, 0, 0, 0, 0, 0}, SCSI_DIR_NONE, 0, LONG_OPERATION_TIMEOUT_SECONDS}, false},
    {"Write fixed", OPERATION(WriteDataToDrive(FD, 512, b, 65536)),
     {{0x0A, 0x01, 0x00, 0x00, 0x80, 0}, SCSI_DIR_OUT, 65536, DATA_TRANSFER_TIMEOUT_SECONDS}, false},
    {"Write variable", OPERATION(WriteDataToDrive(FD, 0, b, 70000)),
     {{0x0A, 0x00, 0x01, 0x11, 0x70, 0}, SCSI_DIR_OUT, 70000, DATA_TRANSFER_TIMEOUT_SECONDS}, false},
    {"Read variable", OPERATION(ReadDataFromDrive(FD, 0, b, 65536)),
     {{0x08, 0x00, 0x01, 0x00, 0x00, 0}, SCSI_DIR_IN, 65536, DATA_TRANSFER_TIMEOUT_SECONDS}, false},
    {"Read whole blocks", OPERATION(ReadDataFromDrive(FD, 1024, b, 66536)),
     {{0x08, 0x01, 0x00, 0x00, 0x40, 0}, SCSI_DIR_IN, 66536, DATA_TRANSFER_TIMEOUT_SECONDS}, false},
    {"ReadPosition", OPERATION(ReadPosition(FD)),
     {{0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0}, SCSI_DIR_IN, 20, DATA_TRANSFER_TIMEOUT_SECONDS}, false},
    {"DriveInquiry", OPERATION(DriveInquiry(FD, b, 64)),
     {{0x12, 0, 0, 0, 0x24, 0}, SCSI_DIR_IN, 64, ANY}, false},
    {"ExtendedDriveInquiry", OPERATION(ExtendedDriveInquiry(FD, 0x80, b, 260)),
     {{0x12, 0x01, 0x80, 0, 0x04, 0}, SCSI_DIR_IN, 260, ANY}, false},
    {"ModeSensePage 256", OPERATION(ModeSensePage(FD, 0x3F, b, 256)),
     {{0x1A, 0x08, 0x3F, 0, 0x00, 0}, SCSI_DIR_IN, 256, ANY}, false},
    {"ModeSelectPage", OPERATION(ModeSelectPage(FD, 0x1C, b, 28)),
     {{0x15, 0x10, 0, 0, 0x1C, 0}, SCSI_DIR_OUT, 28, ANY}, false},
    {"LogSense", OPERATION(LogSense(FD, b, 1024, 0x2E)),
     {{0x4D, 0, 0x6E, 0, 0, 0, 0, 0x04, 0x00, 0}, SCSI_DIR_IN, 1024, ANY}, false},
    {"LogSense odd length", OPERATION(LogSense(FD, b, 0x1234, 0x02)),
     {{0x4D, 0, 0x42, 0, 0, 0, 0, 0x12, 0x34, 0}, SCSI_DIR_IN, 0x1234, ANY}, false},
    {"LogSelectReset", OPERATION(LogSelectReset(FD)),
     {{0x4C, 0x02, 0x40, 0, 0, 0, 0, 0, 0, 0}, SCSI_DIR_NONE, 0, ANY}, false},
    {"FastFwdToEOD", OPERATION(FastFwdToEOD(FD)),
     {{0x11, 0x03, 0, 0, 0, 0}, SCSI_DIR_NONE, 0, LONG_OPERATION_TIMEOUT_SECONDS}, false},
    {"SendDiagnostic", OPERATION(SendDiagnostic(FD)),
     {{0x1D, 0x04, 0, 0, 0, 0}, SCSI_DIR_NONE, 0, SELF_TEST_TIMEOUT_SECONDS}, false},
    {"RequestSense", OPERATION(RequestSense(FD, b, 18)),
     {{0x03, 0, 0, 0, 0x24, 0}, SCSI_DIR_IN, 18, ANY}, false},
};
// clang-format on

#undef OPERATION

TEST_F(DriverTest, EachOperationSendsItsCommandAndRestoresTheTimeoutOnEveryPath)
{
    CBytes buffer(70000, 0x5A);
    for (const OperationRow& row : operations) {
        SCOPED_TRACE(row.name);
        const bool raises = row.expected.timeoutSeconds != DISCOVERY_TIMEOUT;
        const int after = raises ? STANDING_TIMEOUT_SECONDS : DISCOVERY_TIMEOUT;
        for (bool fails : {false, true}) {
            device->Clear();
            device->Standing(fails ? CheckCondition(0x03, 0x11, 0x00) : Good());
            driver.SetDeviceTimeout(FD, DISCOVERY_TIMEOUT);
            EXPECT_EQ(row.run(driver, buffer.data()), row.alwaysTrue || !fails);
            ASSERT_EQ(device->Commands().size(), 1u);
            EXPECT_EQ(Shape(device->Last()), row.expected);
            EXPECT_EQ(driver.Timeout(), after);
        }
    }
}

// ---- the shared sense buffer and the failure rules ----

CBytes Padded(CBytes sense)
{
    sense.resize(SCSI_SENSE_LENGTH);
    return sense;
}

CScriptedReply SenseWithGoodStatus(unsigned char key)
{
    CScriptedReply reply = CheckCondition(key, 0x17);
    reply.status = 0;
    return reply;
}

CScriptedReply Deferred(CScriptedReply reply)
{
    reply.sense[0] = 0x71;
    return reply;
}

TEST_F(DriverTest, ACommandFailsOnNoCompletionStatusOrSenseKey)
{
    // clang-format off
    struct Row { const char* name; CScriptedReply reply; bool result; } rows[] = {
        {"good", Good(), true},
        {"good with stray sense bytes", SenseWithGoodStatus(0x00), true},
        {"not completed", NotCompleted(), false},
        {"busy without sense", WithStatus(0x08), false},
        {"check condition", CheckCondition(0x02, 0x04, 0x01), false},
        {"sense key with good status", SenseWithGoodStatus(0x03), false},
        // The drive did the command and recovered on its own.
        {"recovered error", CheckCondition(0x01, 0x17, 0x01), true},
        {"recovered error with good status", SenseWithGoodStatus(0x01), true},
        {"recovered error at end of partition", CheckCondition(0x41, 0x00, 0x02), false},
        {"recovered error with a wrong block length", CheckCondition(0x21), false},
        // A deferred report belongs to an earlier command; this one was not done.
        {"deferred recovered error", Deferred(CheckCondition(0x01, 0x17, 0x01)), false},
        {"deferred medium error", Deferred(CheckCondition(0x03, 0x0C, 0x00)), false},
        {"recovered error with reservation conflict", [] {
             CScriptedReply reply = CheckCondition(0x01);
             reply.status = 0x18;
             return reply;
         }(), false},
    };
    // clang-format on
    CBytes cdb(6, 0);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        device->Queue(row.reply);
        EXPECT_EQ(driver.OpCmd(FD, cdb.data(), 6), row.result);
        EXPECT_EQ(Sense(), row.result ? CBytes(32, 0) : Padded(row.reply.sense));
    }
}

TEST_F(DriverTest, DescriptorSenseReachesTheCallerInFixedFormat)
{
    // A read that met a filemark, as a drive answering in descriptor format
    // sends it: information descriptor (residue 1) and stream-commands flags.
    CScriptedReply reply = CheckCondition(0);
    reply.sense = {0x72, 0x00, 0x00, 0x01, 0, 0, 0, 0x10, 0x00, 0x0A, 0x80, 0x00,
                   0,    0,    0,    0,    0, 0, 0, 0x01, 0x04, 0x02, 0x00, 0x80};
    device->Queue(reply);
    unsigned char data[512];
    EXPECT_FALSE(driver.ReadDataFromDrive(FD, 0, data, sizeof data));
    CBytes expected(32, 0);
    expected[0] = 0xF0;
    expected[2] = 0x80;
    expected[6] = 0x01;
    expected[7] = 10;
    expected[13] = 0x01;
    EXPECT_EQ(Sense(), expected);
}

TEST_F(DriverTest, ACommandThatDoesNotCompleteIsSaidOnceOnStandardError)
{
    const char* const REFUSED = "operation not permitted";
    device->Name("/dev/nst0");
    CBytes cdb(6, 0);
    device->Queue(NotCompleted(REFUSED), 3);
    device->Queue(Good());
    device->Queue(NotCompleted(REFUSED));
    device->Queue(NotCompleted());
    testing::internal::CaptureStderr();
    EXPECT_FALSE(driver.TestForUnitReady(FD));  // three tries, one line
    EXPECT_FALSE(driver.LastCommandCompleted());
    EXPECT_TRUE(driver.OpCmd(FD, cdb.data(), 6));
    EXPECT_TRUE(driver.LastCommandCompleted());
    EXPECT_FALSE(driver.OpCmd(FD, cdb.data(), 6));  // said again after a completed command
    EXPECT_FALSE(driver.OpCmd(FD, cdb.data(), 6));  // a backend without a reason still gets one
    EXPECT_EQ(testing::internal::GetCapturedStderr(), std::string("tapediag: /dev/nst0: ") + REFUSED + "\n" +
                                                          "tapediag: /dev/nst0: " + REFUSED + "\n" +
                                                          "tapediag: /dev/nst0: the command did not complete\n");
}

TEST_F(DriverTest, AResetIsTakenByACommandThatMovesNothingAndSentAgainOnce)
{
    device->Name("/dev/sg3");
    const CScriptedReply reset = CheckCondition(0x06, 0x29, 0x00);
    device->Queue(reset);
    testing::internal::CaptureStderr();
    EXPECT_TRUE(driver.ReadPosition(FD));
    EXPECT_EQ(device->Commands().size(), 2u);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    // Once only: a second reset fails the command.
    device->Clear();
    device->Queue(reset, 2);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(driver.ReadPosition(FD));
    EXPECT_EQ(device->Commands().size(), 2u);
    EXPECT_EQ(Sense(), Padded(reset.sense));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tapediag: /dev/sg3: the drive was reset (06/29/00): the tape position is unknown; run the command "
              "again\n");
}

TEST_F(DriverTest, ALostPositionIsSaidOnceUntilTheTapeIsRewoundOrLoaded)
{
    device->Name("/dev/sg3");
    const std::string unknown = ": the tape position is unknown; ";
    CBytes block(512, 0);
    // clang-format off
    struct Row { const char* name; CScriptedReply reply; std::function<bool()> run; std::string said; } rows[] = {
        {"a reset under a write", CheckCondition(0x06, 0x29, 0x02), [&] { return driver.WriteDataToDrive(FD, 0, block.data(), 512); },
         "the drive was reset (06/29/02)" + unknown + "rewind the tape before the next test"},
        // Lost again before a rewind: the reason alone.
        {"lost again", Lost("the command timed out"), [&] { return driver.WriteFileMarks(FD); }, "the command timed out"},
        {"the rewind", Good(), [&] { return driver.Rewind(FD); }, ""},
        {"a logical unit lost under a load", CheckCondition(0x02, 0x08, 0x00), [&] { return driver.LoadTape(FD, 1); },
         "the drive lost its logical unit (02/08/00)" + unknown + "rewind the tape before the next test"},
        {"the load", Good(), [&] { return driver.LoadTape(FD, 0); }, ""},
        {"a command that never came back", Lost("the command timed out"), [&] { return driver.DriveInquiry(FD, block.data(), 36); },
         "the command timed out" + unknown + "run the command again"},
        // A failure that is no loss says its reason alone.
        {"refused", NotCompleted("operation not permitted"), [&] { return driver.Rewind(FD); }, "operation not permitted"},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        device->Queue(row.reply);
        testing::internal::CaptureStderr();
        EXPECT_EQ(row.run(), row.reply.completed && row.reply.status == 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  row.said.empty() ? "" : "tapediag: /dev/sg3: " + row.said + "\n");
    }
}

TEST_F(DriverTest, SenseIsClearedBeforeEachCommand)
{
    CBytes cdb(6, 0);
    device->Queue(CheckCondition(0x03, 0x11));
    device->Queue(NotCompleted());
    EXPECT_FALSE(driver.OpCmd(FD, cdb.data(), 6));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(driver.OpCmd(FD, cdb.data(), 6));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(Sense(), CBytes(32, 0));
}

TEST_F(DriverTest, GetSenseCopiesAtMost32Bytes)
{
    CScriptedReply reply = CheckCondition(0x05);
    reply.sense.assign(32, 0x44);
    device->Queue(reply);
    CBytes cdb(6, 0);
    driver.OpCmd(FD, cdb.data(), 6);
    CBytes wide(64, 0xEE);
    driver.GetSense(FD, wide.data(), 64);
    EXPECT_EQ(CBytes(wide.begin(), wide.begin() + 32), CBytes(32, 0x44));
    EXPECT_EQ(CBytes(wide.begin() + 32, wide.end()), CBytes(32, 0xEE));
    CBytes narrow(4, 0xEE);
    driver.GetSense(FD, narrow.data(), 2);
    EXPECT_EQ(narrow, (CBytes{0x44, 0x44, 0xEE, 0xEE}));
}

TEST_F(DriverTest, UnknownDescriptorFailsLikeAnIncompleteCommand)
{
    CBytes cdb(6, 0);
    device->Queue(CheckCondition(0x03));
    driver.OpCmd(FD, cdb.data(), 6);
    EXPECT_FALSE(driver.OpCmd(FD + 1, cdb.data(), 6));
    EXPECT_EQ(Sense(), CBytes(32, 0));
    EXPECT_EQ(device->Commands().size(), 1u);

    EXPECT_TRUE(driver.HasDevice(FD));
    driver.DetachDevice(FD);
    EXPECT_FALSE(driver.HasDevice(FD));
    EXPECT_FALSE(driver.TestForUnitReady(FD));
}

TEST_F(DriverTest, BadArgumentsFailWithoutACommand)
{
    CBytes cdb(6, 0);
    EXPECT_FALSE(driver.GetDataCmd(FD, cdb.data(), 6, nullptr, 12));
    EXPECT_FALSE(driver.GetDataCmd(FD, cdb.data(), 6, cdb.data(), -1));
    EXPECT_FALSE(driver.OpCmd(FD, nullptr, 6));
    EXPECT_TRUE(device->Commands().empty());
}

// ---- retries ----

TEST_F(DriverTest, UnitReadyTriesThreeTimes)
{
    device->Standing(CheckCondition(0x02, 0x04, 0x00));
    EXPECT_FALSE(driver.TestForUnitReady(FD));
    ASSERT_EQ(device->Commands().size(), 3u);
    for (const CRecordedCommand& command : device->Commands())
        EXPECT_EQ(Shape(command), (CCmd{{0, 0, 0, 0, 0, 0}, SCSI_DIR_NONE, 0, UNIT_READY_TIMEOUT_SECONDS}));
    EXPECT_EQ(driver.Timeout(), 60);

    device->Clear();
    device->Queue(CheckCondition(0x06, 0x28));
    device->Standing(Good());
    EXPECT_TRUE(driver.TestForUnitReady(FD));
    EXPECT_EQ(device->Commands().size(), 2u);
}

TEST_F(DriverTest, ADriveBecomingReadyIsGivenAMinuteFromWhenItFirstSaysSo)
{
    CFakeClock clock;
    CFakeClockScope installed{clock};
    const CScriptedReply becomingReady = CheckCondition(0x02, 0x04, 0x01);
    // Three tries at once, then one a second.
    device->Queue(becomingReady, 5);
    EXPECT_TRUE(driver.TestForUnitReady(FD));
    EXPECT_EQ(device->Commands().size(), 6u);
    EXPECT_EQ(clock.Sleeps(), std::vector<long>(3, 1));

    // A drive that never gets ready is asked for a minute; a later check
    // in that time tries three times only.
    device->Clear();
    device->Standing(becomingReady);
    EXPECT_FALSE(driver.TestForUnitReady(FD));
    EXPECT_EQ(device->Commands().size(), 3u + 60u);
    EXPECT_EQ(clock.Sleeps().size(), 3u + 60u);
    EXPECT_FALSE(driver.TestForUnitReady(FD));
    EXPECT_EQ(device->Commands().size(), 66u);
    EXPECT_EQ(Sense(), Padded(becomingReady.sense));

    // Once it was ready, a new wait has its own minute.
    device->Standing(Good());
    EXPECT_TRUE(driver.TestForUnitReady(FD));
    device->Clear();
    device->Queue(becomingReady, 4);
    EXPECT_TRUE(driver.TestForUnitReady(FD));
    EXPECT_EQ(device->Commands().size(), 5u);
}

TEST_F(DriverTest, ACommandTheDriveRefusesAsInvalidIsNotSentAgain)
{
    // Each of these tries again after any other failure (the tests above).
    const std::function<bool()> retried[] = {
        [&] { return driver.TestForUnitReady(FD); },
        [&] { return driver.GetBlockSize(FD) != 0; },
        [&] { return driver.IsAutoLoaderConfiguration(FD); },
        [&] { return driver.ParkDriveArm(FD, true); },
    };
    device->Standing(CheckCondition(0x05, 0x20, 0x00));
    for (const std::function<bool()>& run : retried) {
        device->Clear();
        EXPECT_FALSE(run());
        EXPECT_EQ(device->Commands().size(), 1u);
    }
}

TEST_F(DriverTest, BlockSizeIsThe24BitLengthAfterAtMostTenTries)
{
    device->Queue(CheckCondition(0x02, 0x04, 0x01), 9);
    device->Queue(Good({0x0B, 0, 0x10, 0x08, 0, 0, 0, 0, 0, 0x01, 0x02, 0x03}));
    EXPECT_EQ(driver.GetBlockSize(FD), 0x010203);
    EXPECT_EQ(device->Commands().size(), 10u);
    EXPECT_EQ(Shape(device->Last()), (CCmd{{0x1A, 0, 0, 0, 0x0C, 0}, SCSI_DIR_IN, 12, 60}));

    device->Clear();
    device->Standing(CheckCondition(0x02, 0x04, 0x01));
    EXPECT_EQ(driver.GetBlockSize(FD), 0);
    EXPECT_EQ(device->Commands().size(), 10u);
}

// ---- autoloader and mode page walk ----

// 36-byte all-pages answer: mode data length 35, page 10h (14 bytes) at 4,
// then the element address assignment page 1Dh at 20.
CBytes AutoloaderPages()
{
    CBytes pages(36, 0);
    pages[0] = 35;
    pages[4] = 0x10;
    pages[5] = 14;
    pages[20] = 0x1D;
    pages[21] = 14;
    return pages;
}

TEST(DoesPageExist, WalksThePagesWithinTheModeDataLength)
{
    CBytes pages = AutoloaderPages();
    EXPECT_TRUE(CLinuxTapeDeviceDriver::DoesPageExist(0x1D, pages.data(), 36));
    EXPECT_TRUE(CLinuxTapeDeviceDriver::DoesPageExist(0x10, pages.data(), 36));
    EXPECT_FALSE(CLinuxTapeDeviceDriver::DoesPageExist(0x1C, pages.data(), 36));
    EXPECT_FALSE(CLinuxTapeDeviceDriver::DoesPageExist(0x1D, pages.data(), 20));  // limit by length
    EXPECT_FALSE(CLinuxTapeDeviceDriver::DoesPageExist(0x10, pages.data(), 4));
    pages[0] = 20;  // limit by mode data length
    EXPECT_FALSE(CLinuxTapeDeviceDriver::DoesPageExist(0x1D, pages.data(), 36));
    pages[0] = 3;
    EXPECT_FALSE(CLinuxTapeDeviceDriver::DoesPageExist(0x10, pages.data(), 36));
    pages = AutoloaderPages();
    pages[20] = 0x9D;  // the saveable bit is part of the compared byte
    EXPECT_FALSE(CLinuxTapeDeviceDriver::DoesPageExist(0x1D, pages.data(), 36));
}

TEST(DoesPageExist, NeverReadsPastTheBuffer)
{
    CBytes pages = {0xFF, 0, 0, 0, 0x01, 0x00, 0x02};  // a page code on the last byte
    EXPECT_FALSE(CLinuxTapeDeviceDriver::DoesPageExist(0x1D, pages.data(), static_cast<int>(pages.size())));
}

TEST_F(DriverTest, AutoloaderLooksForPage1DInA36ByteAllPagesAnswer)
{
    device->Queue(CheckCondition(0x02, 0x04), 6);
    device->Queue(Good(AutoloaderPages()));
    EXPECT_TRUE(driver.IsAutoLoaderConfiguration(FD));
    EXPECT_EQ(device->Commands().size(), 7u);
    EXPECT_EQ(Shape(device->Last()), (CCmd{{0x1A, 0x08, 0x3F, 0, 0x24, 0}, SCSI_DIR_IN, 36, 60}));

    CBytes standalone = AutoloaderPages();
    standalone[20] = 0x11;
    device->Queue(Good(standalone));
    EXPECT_FALSE(driver.IsAutoLoaderConfiguration(FD));
}

// ---- park ----

TEST_F(DriverTest, ParkUnloadsThenParksOrUnparks)
{
    device->Queue(CheckCondition(0x02, 0x04), 5);
    EXPECT_TRUE(driver.ParkDriveArm(FD, true));
    const std::vector<CRecordedCommand>& sent = device->Commands();
    ASSERT_EQ(sent.size(), 8u);
    EXPECT_EQ(Shape(sent[5]), (CCmd{{0x1B, 0, 0, 0, 0, 0}, SCSI_DIR_NONE, 0, LONG_OPERATION_TIMEOUT_SECONDS}));
    EXPECT_EQ(Shape(sent[6]), (CCmd{{0, 0, 0, 0, 0, 0}, SCSI_DIR_NONE, 0, UNIT_READY_TIMEOUT_SECONDS}));
    EXPECT_EQ(Shape(sent[7]), (CCmd{{0x06, 0, 0, 0, 0x01, 0}, SCSI_DIR_NONE, 0, 60}));

    device->Clear();
    EXPECT_TRUE(driver.ParkDriveArm(FD, false));
    EXPECT_EQ(device->Last().cdb, (CBytes{0x06, 0, 0, 0, 0x00, 0}));
}

// ---- persistent reservations ----

class SharedDevice : public CRecordingPassThrough {
public:
    bool TakesReservations() const override { return true; }
};

CBytes ReserveOut(unsigned char action)
{
    return CBytes{0x5F, action, 0x03, 0, 0, 0, 0, 0, 24, 0};
}

uint64_t Key(const CBytes& list, int at)
{
    return GetBigN(list.data() + at, 8);
}

TEST_F(DriverTest, AReservationIsRegisteredTakenAndGivenBackUnderOneKeyOfItsOwn)
{
    EXPECT_TRUE(driver.ReserveDrive(FD));
    driver.ReleaseDrive(FD);
    EXPECT_TRUE(device->Commands().empty()) << "a drive of this host is kept by its open nodes";

    std::unique_ptr<SharedDevice> owned(new SharedDevice);
    SharedDevice* shared = owned.get();
    const int handle = driver.AttachDevice(std::move(owned));
    EXPECT_TRUE(driver.ReserveDrive(handle));
    driver.ReleaseDrive(handle);
    const std::vector<CRecordedCommand>& sent = shared->Commands();
    ASSERT_EQ(sent.size(), 4u);
    const uint64_t key = Key(sent[0].dataOut, 8);
    EXPECT_EQ(key >> 48, 0x7464u);
    // clang-format off
    const struct { unsigned char action; uint64_t key; uint64_t actionKey; } expected[] = {
        {0x06, 0, key},  // register, whatever key this initiator had
        {0x01, key, 0},  // reserve for exclusive access
        {0x02, key, 0},  // release
        {0x06, 0, 0},    // unregister
    };
    // clang-format on
    for (size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sent[i].cdb, ReserveOut(expected[i].action));
        ASSERT_EQ(sent[i].dataOut.size(), 24u);
        EXPECT_EQ(Key(sent[i].dataOut, 0), expected[i].key);
        EXPECT_EQ(Key(sent[i].dataOut, 8), expected[i].actionKey);
    }
}

TEST_F(DriverTest, AReservationRefusedUnknownOrLostIsHandledAsItMustBe)
{
    std::unique_ptr<SharedDevice> owned(new SharedDevice);
    SharedDevice* shared = owned.get();
    const int handle = driver.AttachDevice(std::move(owned));
    shared->Name("iscsi://host/iqn/1");

    // Another host holds the drive: refused, the status kept for the report.
    shared->Queue(Good());
    shared->Queue(WithStatus(0x18));
    EXPECT_FALSE(driver.ReserveDrive(handle));
    EXPECT_EQ(driver.LastStatus(), 0x18);

    // A target without persistent reservations: said, and the test goes on.
    shared->Clear();
    shared->Queue(CheckCondition(0x05, 0x20, 0x00));
    testing::internal::CaptureStderr();
    EXPECT_TRUE(driver.ReserveDrive(handle));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "tapediag: iscsi://host/iqn/1: the target takes no persistent reservations: other hosts are not kept "
              "off the drive\n");
    EXPECT_EQ(shared->Commands().size(), 1u);

    // A new session after a lost one is another initiator to some targets:
    // the key takes the reservation over before it is removed.
    shared->Clear();
    shared->Queue(WithStatus(0x18));
    driver.ReleaseDrive(handle);
    std::vector<unsigned char> actions;
    for (const CRecordedCommand& command : shared->Commands())
        actions.push_back(command.cdb[1]);
    EXPECT_EQ(actions, (std::vector<unsigned char>{0x02, 0x06, 0x04, 0x06}));

    // A target that cannot be reached: nothing more is sent.
    shared->Clear();
    shared->Queue(NotCompleted());
    testing::internal::CaptureStderr();
    driver.ReleaseDrive(handle);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(shared->Commands().size(), 1u);
}

TEST_F(DriverTest, ParkGivesUpAfterSixUnloads)
{
    device->Standing(CheckCondition(0x04, 0x44));
    EXPECT_FALSE(driver.ParkDriveArm(FD, true));
    EXPECT_EQ(device->Commands().size(), 6u);
    EXPECT_EQ(CountOpcode(0x1B), 6u);
    EXPECT_EQ(driver.Timeout(), 60);
}

TEST_F(DriverTest, ParkStopsOnTheSenseTheUnitReadyTestLeaves)
{
    // clang-format off
    struct Row { CScriptedReply unitReady; bool parks; } rows[] = {
        {CheckCondition(0x02, 0x3A, 0x03), false},
        {CheckCondition(0x06, 0x3F, 0x01), false},
        {CheckCondition(0x09, 0x80, 0x42), false},
        {CheckCondition(0x02, 0x3A, 0x00), true},
        {CheckCondition(0x06, 0x29, 0x00), true},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.unitReady.sense));
        device->Clear();
        device->Queue(Good());
        device->Queue(row.unitReady, 3);
        EXPECT_EQ(driver.ParkDriveArm(FD, true), row.parks);
        EXPECT_EQ(CountOpcode(0x06), row.parks ? 1u : 0u);
    }
}

// ---- firmware download ----

class DownloadTest : public DriverTest {
protected:
    // Each 8 KiB block filled with its own number, so a block is known by its bytes.
    static CBytes Image(int length)
    {
        CBytes image(static_cast<size_t>(length));
        for (int i = 0; i < length; ++i)
            image[static_cast<size_t>(i)] = static_cast<unsigned char>(i / 8192 + 1);
        return image;
    }
    static CBytes Block(const CBytes& image, int block)
    {
        return CBytes(image.begin() + block * 8192, image.begin() + (block + 1) * 8192);
    }
    // The save fails slowly, as when the drive resets into its new firmware.
    void SaveFailsAfter(long seconds)
    {
        device->OnExecute([this, seconds](const CRecordedCommand& command) {
            if (command.cdb[0] == 0x3B && command.cdb[1] == 0x05)
                clock.Advance(seconds);
        });
    }
    void QueueBlocksThenSave(int blocks, const CScriptedReply& save)
    {
        device->Queue(Good(), 2 + blocks);  // position, first block, the loop
        device->Queue(save);
    }

    CFakeClock clock;
    CFakeClockScope installed{clock};
};

TEST_F(DownloadTest, SendsBlockZeroTwiceThenEveryBlockThenSaves)
{
    CBytes image = Image(40960);
    EXPECT_TRUE(driver.DownloadFirmware(FD, image.data(), 40960, 0, 0, 0));
    const std::vector<CRecordedCommand>& sent = device->Commands();
    ASSERT_EQ(sent.size(), 8u);
    EXPECT_EQ(Shape(sent[0]),
              (CCmd{{0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0}, SCSI_DIR_IN, 20, DATA_TRANSFER_TIMEOUT_SECONDS}));
    EXPECT_EQ(Shape(sent[1]),
              (CCmd{{0x3B, 0x04, 0, 0, 0, 0, 0, 0x20, 0, 0}, SCSI_DIR_OUT, 8192, MICROCODE_BLOCK_TIMEOUT_SECONDS}));
    EXPECT_EQ(sent[1].dataOut, Block(image, 0));
    for (int block = 0; block < 5; ++block) {
        const CRecordedCommand& command = sent[static_cast<size_t>(2 + block)];
        const unsigned char middle = static_cast<unsigned char>(block * 0x20);
        EXPECT_EQ(command.cdb, (CBytes{0x3B, 0x04, 0, 0, middle, 0, 0, 0x20, 0, 0}));
        EXPECT_EQ(command.dataOut, Block(image, block));
    }
    EXPECT_EQ(Shape(sent[7]),
              (CCmd{{0x3B, 0x05, 0, 0, 0, 0, 0, 0, 0, 0}, SCSI_DIR_NONE, 0, MICROCODE_SAVE_TIMEOUT_SECONDS}));
    EXPECT_EQ(driver.Timeout(), 60);
}

TEST_F(DownloadTest, AHighOffsetKeepsTheOffsetReachedInTheSave)
{
    CBytes image = Image(40960);
    EXPECT_TRUE(driver.DownloadFirmware(FD, image.data(), 40960, 16, 0, 0));
    EXPECT_EQ(device->Commands()[1].cdb, (CBytes{0x3B, 0x04, 0, 0x10, 0, 0, 0, 0x20, 0, 0}));
    EXPECT_EQ(device->Last().cdb, (CBytes{0x3B, 0x05, 0, 0x10, 0xA0, 0, 0, 0, 0, 0}));
}

TEST_F(DownloadTest, AFailedBlockStopsTheDownload)
{
    device->Queue(Good());
    device->Queue(CheckCondition(0x05, 0x26));  // the first block alone does not count
    device->Queue(Good());
    device->Queue(CheckCondition(0x04, 0x44));
    CBytes image = Image(40960);
    EXPECT_FALSE(driver.DownloadFirmware(FD, image.data(), 40960, 0, 0, 0));
    EXPECT_EQ(device->Commands().size(), 4u);
    EXPECT_EQ(Sense()[2], 0x04);
}

TEST_F(DownloadTest, ABlockTheDriveTookOnlyInPartStopsTheDownloadBeforeTheSave)
{
    std::vector<std::string> notices;
    driver.SetNoticeFunction([&notices](const std::string& line) { notices.push_back(line); });
    device->Name("sim:ultrium");
    CScriptedReply half = Good();
    half.dataOutTaken = 4096;
    device->Queue(Good(), 3);  // position, first block, block 0
    device->Queue(half);
    CBytes image = Image(40960);
    EXPECT_FALSE(driver.DownloadFirmware(FD, image.data(), 40960, 0, 0, 0));
    EXPECT_EQ(device->Commands().size(), 4u);
    EXPECT_EQ(notices,
              std::vector<std::string>{"tapediag: sim:ultrium: firmware block 1 arrived short (4096 of 8192 bytes)"});
}

TEST_F(DownloadTest, AnImageThatWouldBeCutOrWrappedIsRefusedWithoutACommand)
{
    // clang-format off
    struct Row { int length; int offset2; } rows[] = {
        {8191, 0},
        {41000, 0},                     // a tail that no block would carry
        {0x1000000 + 8192, 0},          // the 24-bit offset would wrap to 0
        {0xF00000 + 8192, 0x10},        // likewise from 100000h
    };
    // clang-format on
    CBytes image = Image(0x1000000 + 8192);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.length);
        EXPECT_FALSE(driver.DownloadFirmware(FD, image.data(), row.length, row.offset2, 0, 0));
        EXPECT_TRUE(device->Commands().empty());
    }
}

TEST_F(DownloadTest, ASaveFailureIsFinalWhenQuickOrAtOffsetZero)
{
    CBytes image = Image(16384);
    QueueBlocksThenSave(2, CheckCondition(0x04, 0x44));
    SaveFailsAfter(10);
    EXPECT_FALSE(driver.DownloadFirmware(FD, image.data(), 16384, 16, 0, 0));
    EXPECT_EQ(device->Commands().size(), 5u);

    device->Clear();
    QueueBlocksThenSave(2, CheckCondition(0x04, 0x44));
    SaveFailsAfter(60);
    EXPECT_FALSE(driver.DownloadFirmware(FD, image.data(), 16384, 0, 0, 0));
    EXPECT_EQ(device->Commands().size(), 5u);
    EXPECT_TRUE(clock.Sleeps().empty());
}

TEST_F(DownloadTest, ASaveEndedByTheDriveRestartingIsLeftToTheCallersWait)
{
    // clang-format off
    struct Row { CScriptedReply save; bool restarting; } rows[] = {
        {CheckCondition(0x06, 0x29, 0x00), true},
        {CheckCondition(0x06, 0x29, 0x02), true},
        {NotCompleted("no such device"), true},
        {NotCompleted("session lost, position unknown"), true},
        {CheckCondition(0x06, 0x2A, 0x01), false},  // a unit attention that is no reset
    };
    // clang-format on
    driver.SetNoticeFunction([](const std::string&) {});
    CBytes image = Image(16384);
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.save.sense));
        device->Clear();
        QueueBlocksThenSave(2, row.save);
        EXPECT_EQ(driver.DownloadFirmware(FD, image.data(), 16384, 0, 0, 0), row.restarting);
        EXPECT_EQ(device->Commands().size(), 5u);
    }
    EXPECT_TRUE(clock.Sleeps().empty());
}

TEST_F(DownloadTest, ASlowSaveFailureWaitsForTheDriveToReturn)
{
    CBytes image = Image(16384);
    QueueBlocksThenSave(2, CheckCondition(0x04, 0x44));
    device->Queue(Good(CBytes(36, 0)));            // not an autoloader
    device->Queue(CheckCondition(0x02, 0x04), 2);  // still restarting
    SaveFailsAfter(11);
    EXPECT_TRUE(driver.DownloadFirmware(FD, image.data(), 16384, 16, 0, 0));
    EXPECT_EQ(clock.Sleeps(), (std::vector<long>{3, 3, 3}));
    EXPECT_EQ(CountOpcode(0x12), 3u);
    EXPECT_EQ(Shape(device->Last()), (CCmd{{0x12, 0, 0, 0, 0x24, 0}, SCSI_DIR_IN, 36, 60}));
}

TEST_F(DownloadTest, PollingEndsAtTheDeadline)
{
    // Start T: the deadline is T + 10 plus 180 s (600 s in an autoloader);
    // inquiries run at T + 16, 19, ...; the one at the deadline itself is not
    // late yet, the next one is.
    // clang-format off
    struct Row { CBytes pages; size_t inquiries; long end; } rows[] = {
        {CBytes(36, 0), 60, 193},
        {AutoloaderPages(), 200, 613},
    };
    // clang-format on
    CBytes image = Image(16384);
    SaveFailsAfter(13);
    for (const Row& row : rows) {
        device->Clear();
        const long start = clock.Now();
        const size_t sleepsBefore = clock.Sleeps().size();
        QueueBlocksThenSave(2, CheckCondition(0x04, 0x44));
        device->Queue(Good(row.pages));
        device->Standing(CheckCondition(0x02, 0x04, 0x01));
        EXPECT_FALSE(driver.DownloadFirmware(FD, image.data(), 16384, 16, 0, 0));
        EXPECT_EQ(CountOpcode(0x12), row.inquiries);
        EXPECT_EQ(clock.Now() - start, row.end);
        EXPECT_EQ(clock.Sleeps().size() - sleepsBefore, row.inquiries);
        device->Standing(Good());
    }
}

TEST(IncrementBy8K, AddsToThe24BitOffsetAndWraps)
{
    // clang-format off
    struct Row { CBytes in, out; } rows[] = {
        {{0x10, 0x00, 0x00}, {0x10, 0x20, 0x00}},
        {{0x00, 0xFF, 0xF0}, {0x01, 0x1F, 0xF0}},
        {{0xFF, 0xE0, 0x00}, {0x00, 0x00, 0x00}},
    };
    // clang-format on
    for (Row& row : rows) {
        CLinuxTapeDeviceDriver::IncrementBy8K(row.in[0], row.in[1], row.in[2]);
        EXPECT_EQ(row.in, row.out);
    }
}

}  // namespace
