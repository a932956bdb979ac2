// The rules a firmware image's file name must keep: which drive and level it
// is for, OEM images, and whether its level may replace the drive's. The
// first byte picks the drive type; the text up to the first NUL is the
// drive's firmware description, the rest the file name.
#include <cstring>
#include <string>

#include "DriveTypes.h"
#include "FirmwareRules.h"
#include "FuzzCheck.h"

namespace {

const int DRIVE_TYPES[] = {DRIVE_TRAVAN_0, DRIVE_TRAVAN_1, DRIVE_TRAVAN_2, DRIVE_DAT_3,
                           DRIVE_DAT_4,    DRIVE_DAT_5,    DRIVE_ULTRIUM,  6};

CVString Cased(const CVString& text, bool upper)
{
    CVString copy(text);
    if (upper)
        copy.MakeUpper();
    else
        copy.MakeLower();
    return copy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const uint8_t choice = input.Byte();
    const int type = DRIVE_TYPES[choice & 7];
    const std::string rest(reinterpret_cast<const char*>(input.Rest()), input.Left());
    const size_t nul = rest.find('\0');
    const CVString description(rest.substr(0, nul).c_str());
    const CVString name(nul == std::string::npos ? "" : rest.substr(nul + 1).c_str());

    const CVString base = FirmwareBaseName(name);
    FUZZ_CHECK(base.Find('/') == -1);
    // Only the base name counts, in any letter case.
    const bool valid = IsValidFirmwareFileName(name, type, description);
    const CVString moved = CVString("images/") + name;
    if (moved.GetLength() == name.GetLength() + 7) {
        FUZZ_CHECK(IsValidFirmwareFileName(moved, type, description) == valid);
        FUZZ_CHECK(FirmwareVersionFromFileName(moved, type) == FirmwareVersionFromFileName(name, type));
    }
    FUZZ_CHECK(IsValidFirmwareFileName(Cased(name, true), type, description) == valid);
    FUZZ_CHECK(IsValidFirmwareFileName(Cased(name, false), type, description) == valid);
    if (valid) {
        FUZZ_CHECK(type == DRIVE_DAT_4 || type == DRIVE_DAT_5 || type == DRIVE_ULTRIUM);
        const CVString extension = Cased(base.Right(3), false);
        FUZZ_CHECK(base.GetLength() >= 7 && (extension == "bin" || extension == "img"));
    }

    const CVString level = FirmwareVersionFromFileName(name, type);
    FUZZ_CHECK(level.GetLength() <= 4);
    if (type != DRIVE_DAT_4 && type != DRIVE_DAT_5 && type != DRIVE_ULTRIUM)
        FUZZ_CHECK(level.IsEmpty());
    // -i may only widen what is allowed.
    if (MayInstallFirmwareLevel(name, type, description, false))
        FUZZ_CHECK(MayInstallFirmwareLevel(name, type, description, true));
    if (FirmwareRevisionMatches(name, type, description))
        FUZZ_CHECK(Cased(description, false) == Cased(level, false));
    if (IsOemFirmwareFileName(name))
        FUZZ_CHECK(std::strstr(name, "52.") != nullptr);
    if (IsOemFirmwareDescription(description))
        FUZZ_CHECK(std::strstr(description, "-52") != nullptr || std::strstr(description, "-052") != nullptr);
    return 0;
}
