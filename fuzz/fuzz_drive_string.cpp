// Drive description strings as a client receives them from a server:
// CTapeDrive::NetworkStringToTapeDrive on arbitrary text, then the string
// built back from the record, which must read back to the same record.
#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "TapeDrive.h"

namespace {

class LinuxOutput : public CAppOutput {
public:
    void Msg(const CVString&, bool) override {}
    int OSType() const override { return 5; }  // three-number addresses
};

bool SameRecord(const CTapeDrive& a, const CTapeDrive& b)
{
    bool same = a.DriveType() == b.DriveType() && a.IsSCSI() == b.IsSCSI() &&
                a.IsRetensionable() == b.IsRetensionable() && a.CompressionAvail() == b.CompressionAvail() &&
                std::strcmp(a.DriveDescription(), b.DriveDescription()) == 0 &&
                std::strcmp(a.FirmwareDescription(), b.FirmwareDescription()) == 0 &&
                std::strcmp(a.SerialNumber(), b.SerialNumber()) == 0;
    if (a.IsSCSI())
        return same && a.AdapterID() == b.AdapterID() && a.DriveID() == b.DriveID() && a.LunID() == b.LunID();
    // An ATAPI address travels as two flags.
    return same && (a.AdapterID() != 0) == (b.AdapterID() != 0) && (a.DriveID() != 0) == (b.DriveID() != 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const LinuxOutput output;

    CTapeDrive drive;
    drive.NetworkStringToTapeDrive(text.c_str());
    const CVString sent = drive.TapeDriveToNetworkString(&output);
    FUZZ_CHECK(sent.GetLength() <= VSTRING_MAX_LENGTH);
    FUZZ_CHECK(sent[0] == '@');

    // Texts this long no longer all fit in one string beside the numbers
    // (at most 3 + 1 of 11 characters and 9 separators).
    const size_t texts = std::strlen(drive.DriveDescription()) + std::strlen(drive.FirmwareDescription()) +
                         std::strlen(drive.SerialNumber());
    if (texts > static_cast<size_t>(VSTRING_MAX_LENGTH - 60))
        return 0;
    FUZZ_CHECK(sent[sent.GetLength() - 1] == '@');
    CTapeDrive received;
    received.NetworkStringToTapeDrive(sent);
    FUZZ_CHECK(SameRecord(drive, received));
    FUZZ_CHECK(received.TapeDriveToNetworkString(&output) == sent);
    return 0;
}
