// "MODEL[,FAULT...]" parsing and the catalogue.
#include "VtapeTestSupport.h"

using namespace vtape_test;

TEST(VtapeDeviceText, MalformedTextsAreRejectedWithAReason)
{
    const char* const rejected[] = {
        "",  "ULTRIUM",  "lto9",  "ultrium,",  "ultrium,,nocart",  "ultrium,teleport",
        "ultrium,fail=zz",  "ultrium,fail=123",  "ultrium,fail=12@0",  "ultrium,fail=12@5-3",
        "ultrium,fail=12@x",  "ultrium,capacity=abc",  "ultrium,capacity=-1",  "ultrium,capacity",
        "ultrium,dat-errors=3",  "crt8000n,dat-errors=1",  "ultrium,nocart=1",
        "ultrium,write-error",  "ultrium,read-error=1x",  "ultrium,fixed=0",
        "ultrium,fixed=16777216",  "ultrium,unsupported=g1",  "ultrium,capacity=1,capacity=2",
        "ultrium,becoming-ready=99999999999",
    };
    for (const char* text : rejected) {
        std::string error;
        EXPECT_EQ(nullptr, CVirtualDrive::Create(text, error)) << "accepted '" << text << "'";
        EXPECT_FALSE(error.empty()) << "no reason for '" << text << "'";
        EXPECT_EQ(std::string::npos, error.find('\n')) << error;
    }
}

TEST(VtapeDeviceText, EveryFaultIsAccepted)
{
    const char* const accepted[] = {
        "dds4,nocart,becoming-ready=3,write-protected,wrong-cartridge,capacity=0",
        "dds4,write-error=0,write-error=7,read-error=4,bad-data=5,read-corrected=1",
        "dds4,read-delayed=2,read-uncorrected=3,write-uncorrected=4,dat-errors=5,fixed=16777215",
        "dds4,compression-off,compression-locked,unsupported=4C,unsupported=0",
        "dds4,fail=0a,fail=08@3,fail=12@2-9,no-vpd,vpd-fail=3,selftest-fail,becoming-ready",
    };
    for (const char* text : accepted) {
        std::string error;
        EXPECT_NE(nullptr, CVirtualDrive::Create(text, error)) << text << ": " << error;
    }
}

TEST(VtapeDeviceText, CatalogueNamesEveryModelAndFault)
{
    const std::string catalogue = CVirtualDrive::Catalogue();
    for (const char* name :
         {"travan3200", "crt8000n", "crt8000a", "crt20000n", "dat", "dds3", "dds4", "ultrium",
          "changer", "nocart", "becoming-ready", "write-protected", "wrong-cartridge", "capacity",
          "write-error", "read-error", "bad-data", "read-corrected", "read-delayed",
          "read-uncorrected", "write-uncorrected", "dat-errors", "fixed", "compression-off",
          "compression-locked", "unsupported", "fail", "no-vpd", "vpd-fail", "selftest-fail"}) {
        EXPECT_NE(std::string::npos, catalogue.find(std::string(" ") + name)) << name;
    }
}

TEST(VtapeDeviceText, SlowFaultNamesAnOperationCodeAndSecondsOnce)
{
    const char* const rejected[] = {
        "ultrium,slow",  "ultrium,slow=01",  "ultrium,slow=01:",  "ultrium,slow=:5",
        "ultrium,slow=zz:5",  "ultrium,slow=123:5",  "ultrium,slow=01:x",  "ultrium,slow=01:86401",
        "ultrium,slow=01:-1",  "ultrium,slow=01:5,slow=01:6",  "ultrium,slow=0a:5,slow=0A:5",
    };
    for (const char* text : rejected) {
        std::string error;
        EXPECT_EQ(nullptr, CVirtualDrive::Create(text, error)) << "accepted '" << text << "'";
        EXPECT_FALSE(error.empty()) << "no reason for '" << text << "'";
    }
    std::string error;
    EXPECT_NE(nullptr, CVirtualDrive::Create("ultrium,slow=1:0,slow=3b:86400,slow=0a:15", error)) << error;
    EXPECT_NE(std::string::npos, CVirtualDrive::Catalogue().find(" slow=XX:SECONDS"));
}
