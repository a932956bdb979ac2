// "MODEL[,FAULT...]" parsing and the catalogue.
#include <fstream>
#include <map>
#include <sstream>

#include "VtapeTestSupport.h"

using namespace vtape_test;

TEST(VtapeDeviceText, MalformedTextsAreRejectedWithAReason)
{
    // clang-format off
    const char* const rejected[] = {
        "",  "ULTRIUM",  "lto9",  "ultrium,",  "ultrium,,nocart",  "ultrium,teleport",
        "ultrium,fail=zz",  "ultrium,fail=123",  "ultrium,fail=12@0",  "ultrium,fail=12@5-3",
        "ultrium,fail=12@x",  "ultrium,capacity=abc",  "ultrium,capacity=-1",  "ultrium,capacity",
        "ultrium,dat-errors=3",  "crt8000n,dat-errors=1",  "ultrium,nocart=1",
        "ultrium,write-error",  "ultrium,read-error=1x",  "ultrium,fixed=0",
        "ultrium,fixed=16777216",  "ultrium,unsupported=g1",  "ultrium,capacity=1,capacity=2",
        "ultrium,becoming-ready=99999999999",
        "ultrium,log-fail=100",  "ultrium,log-fail=2e:0",  "ultrium,log-fail=2e,log-fail=2E:3",
        "ultrium,log-short=02",  "ultrium,log-short=02:65536",  "ultrium,buffer-fail=54:",
        "ultrium,trace-block-fail=1024",  "ultrium,trace-length=87",  "ultrium,trace-length=4294967296",
        "ultrium,firmware=",  "ultrium,firmware=R1 28",  "ultrium,firmware=R1234567890123456789",
        "ultrium,firmware=R128,firmware=R129",  "ultrium,media-present=02/3A",  "ultrium,media-present=2/3A/03",
        "ultrium,media-present=02-3A-03",  "ultrium,mode-sense-fail=x1",  "ultrium,mode-select-fail=21:y",
        "ultrium,speed-code=16",  "ultrium,speed-code",
        "ultrium,tapealert=0",  "ultrium,tapealert=65",  "ultrium,tapealert=3:",  "dat,tapealert=3",
        "crt8000n,cleaning-required",  "dds4,temperature=40",  "ultrium,temperature=256",
        "ultrium,counter=0c:0000:1",  "ultrium,counter=02:0007:1",  "ultrium,counter=03:8008:1",
        "ultrium,counter=02:06:1",  "ultrium,counter=02:0006",  "ultrium,no-log-page=00",
        "ultrium,no-log-page=10",  "changer,selftest-log",  "ultrium,reset=0a@0",  "ultrium,reset=0a@",
        "ultrium,reset=@2",  "ultrium,reset,reset=0a",
    };
    // clang-format on
    for (const char* text : rejected) {
        std::string error;
        EXPECT_EQ(nullptr, CVirtualDrive::Create(text, error)) << "accepted '" << text << "'";
        EXPECT_FALSE(error.empty()) << "no reason for '" << text << "'";
        EXPECT_EQ(std::string::npos, error.find('\n')) << error;
    }
}

TEST(VtapeDeviceText, EveryFaultIsAccepted)
{
    // clang-format off
    const char* const accepted[] = {
        "dds4,nocart,becoming-ready=3,write-protected,wrong-cartridge,capacity=0",
        "dds4,write-error=0,write-error=7,read-error=4,bad-data=5,read-corrected=1",
        "dds4,read-delayed=2,read-uncorrected=3,write-uncorrected=4,dat-errors=5,fixed=16777215",
        "dds4,compression-off,compression-locked,unsupported=4C,unsupported=0",
        "dds4,fail=0a,fail=08@3,fail=12@2-9,no-vpd,vpd-fail=3,selftest-fail,becoming-ready",
        "ultrium,log-fail=00:6,log-fail=2e,log-short=02:28,log-short=00:0,buffer-fail=07,buffer-fail=55:10",
        "ultrium,trace-block-fail=0,trace-block-fail=1023,trace-length=0,firmware=R128-5RC4,speed-code=15",
        "ultrium,media-present=09/80/00,mode-sense-fail=21,mode-sense-fail=0a:3,mode-select-fail=21:5",
        "ultrium,trace-length=88",  "ultrium,trace-length=4294967295",
        "ultrium,tapealert=1:20:64,cleaning-required,temperature=255,counter=02:0006:7,counter=03:0000:9",
        "dds4,counter=03:8008:5,no-log-page=0c,no-log-page=2e,selftest-log",
        "ultrium,reset",  "ultrium,reset=0a",  "ultrium,reset=1b@3",
    };
    // clang-format on
    for (const char* text : accepted) {
        std::string error;
        EXPECT_NE(nullptr, CVirtualDrive::Create(text, error)) << text << ": " << error;
    }
}

TEST(VtapeDeviceText, CatalogueNamesEveryModelAndFault)
{
    const std::string catalogue = CVirtualDrive::Catalogue();
    // clang-format off
    for (const char* name :
         {"travan3200", "crt8000n", "crt8000a", "crt20000n", "dat", "dds3", "dds4", "ultrium",
          "changer", "nocart", "becoming-ready", "write-protected", "wrong-cartridge", "capacity",
          "write-error", "read-error", "bad-data", "read-corrected", "read-delayed",
          "read-uncorrected", "write-uncorrected", "dat-errors", "fixed", "compression-off",
          "compression-locked", "unsupported", "fail", "no-vpd", "vpd-fail", "selftest-fail",
          "log-fail", "log-short", "buffer-fail", "trace-block-fail", "trace-length", "firmware",
          "media-present", "mode-sense-fail", "mode-select-fail", "speed-code", "tapealert",
          "cleaning-required", "temperature", "counter", "no-log-page", "selftest-log", "reset"}) {
        // clang-format on
        EXPECT_NE(std::string::npos, catalogue.find(std::string(" ") + name)) << name;
    }
}

TEST(VtapeDeviceText, SlowFaultNamesAnOperationCodeAndSecondsOnce)
{
    // clang-format off
    const char* const rejected[] = {
        "ultrium,slow",  "ultrium,slow=01",  "ultrium,slow=01:",  "ultrium,slow=:5",
        "ultrium,slow=zz:5",  "ultrium,slow=123:5",  "ultrium,slow=01:x",  "ultrium,slow=01:86401",
        "ultrium,slow=01:-1",  "ultrium,slow=01:5,slow=01:6",  "ultrium,slow=0a:5,slow=0A:5",
    };
    // clang-format on
    for (const char* text : rejected) {
        std::string error;
        EXPECT_EQ(nullptr, CVirtualDrive::Create(text, error)) << "accepted '" << text << "'";
        EXPECT_FALSE(error.empty()) << "no reason for '" << text << "'";
    }
    std::string error;
    EXPECT_NE(nullptr, CVirtualDrive::Create("ultrium,slow=1:0,slow=3b:86400,slow=0a:15", error)) << error;
    EXPECT_NE(std::string::npos, CVirtualDrive::Catalogue().find(" slow=XX:SECONDS"));
}

// vtape/README.md lists every fault of the catalogue with an example line
// whose device text the drive accepts.
TEST(VtapeDeviceText, ReadmeShowsEveryFaultWithAWorkingExample)
{
    const std::string here = __FILE__;
    std::ifstream readme(here.substr(0, here.rfind("/tests/")) + "/vtape/README.md");
    ASSERT_TRUE(readme.good());
    std::map<std::string, std::string> examples;  // fault name -> example device text
    for (std::string line; std::getline(readme, line);) {
        const size_t example = line.find("-dev:sim:");
        if (line.compare(0, 3, "| `") != 0 || example == std::string::npos) {
            continue;
        }
        const std::string usage = line.substr(3, line.find('`', 3) - 3);
        const std::string name = usage.substr(0, usage.find_first_of("=["));
        const size_t start = example + 9;
        examples[name] = line.substr(start, line.find_first_of(" `", start) - start);
    }
    std::istringstream catalogue(CVirtualDrive::Catalogue());
    bool inFaults = false;
    int faults = 0;
    for (std::string line; std::getline(catalogue, line);) {
        if (line.compare(0, 7, "faults ") == 0) {
            inFaults = true;
            continue;
        }
        if (!inFaults) {
            continue;
        }
        const std::string usage = line.substr(2, line.find(' ', 2) - 2);
        const std::string name = usage.substr(0, usage.find_first_of("=["));
        ++faults;
        ASSERT_EQ(1u, examples.count(name)) << name << " has no row with an example";
        EXPECT_NE(std::string::npos, examples[name].find(name)) << name << ": " << examples[name];
        std::string error;
        EXPECT_NE(nullptr, CVirtualDrive::Create(examples[name], error)) << examples[name] << ": " << error;
    }
    EXPECT_GT(faults, 30);
}
