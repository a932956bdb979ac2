#include "FirmwareRules.h"

#include <cctype>
#include <cstdlib>

#include "DriveTypes.h"
#include "ScsiData.h"

namespace {

const uint32_t DDS3_BUFFER_OFFSET = 0x100000;

CVString Lower(CVString text)
{
    text.MakeLower();
    return text;
}

CVString Upper(CVString text)
{
    text.MakeUpper();
    return text;
}

bool IsAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsAlphanumeric(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) != 0;
}

// The second character of the base name carries the drive family of a DAT
// image, and the leading digit of an Ultrium image with a "-" in its name.
bool FamilyCharacterFits(const CVString& base, int driveType, const CVString& firmwareDescription)
{
    const char family = base[1];
    switch (driveType) {
    case DRIVE_DAT_4:
        return family == '7';
    case DRIVE_DAT_5:
        if (family != '8' && family != '9')
            return false;
        // A drive of the 8 or 9 series takes images of its own series only.
        if (firmwareDescription[0] == '8' || firmwareDescription[0] == '9')
            return family == firmwareDescription[0];
        return true;
    case DRIVE_ULTRIUM:
        return base.Find('-') == -1 || family == '1';
    default:
        return false;
    }
}

}  // namespace

CVString FirmwareBaseName(const CVString& name)
{
    const int slash = name.ReverseFind('/');
    return slash == -1 ? name : name.Mid(slash + 1, -1);
}

bool IsValidFirmwareFileName(const CVString& name, int driveType, const CVString& firmwareDescription)
{
    const CVString base = FirmwareBaseName(Lower(name));
    if (name.IsEmpty() || !FamilyCharacterFits(base, driveType, firmwareDescription))
        return false;
    if (base.GetLength() < 7)
        return false;
    const CVString extension = base.Right(3);
    return extension == "bin" || extension == "img";
}

bool IsOemFirmwareFileName(const CVString& name)
{
    const int dot = name.ReverseFind('.');
    return dot >= 2 && name[dot - 2] == '5' && name[dot - 1] == '2';
}

bool IsOemFirmwareDescription(const CVString& firmwareDescription)
{
    const int dash = firmwareDescription.ReverseFind('-');
    if (dash == -1)
        return false;
    const CVString suffix = firmwareDescription.Mid(dash + 1, -1);
    return (suffix.GetLength() >= 2 && suffix.Left(2) == "52") || (suffix.GetLength() >= 3 && suffix.Left(3) == "052");
}

CVString FirmwareVersionFromFileName(const CVString& name, int driveType)
{
    CVString base = FirmwareBaseName(name);
    switch (driveType) {
    case DRIVE_DAT_4:
    case DRIVE_DAT_5:
        return base.Mid(1, 4);
    case DRIVE_ULTRIUM:
        if (base.Find('-') != -1)
            return base.Mid(1, 4);
        // Names without a "-" leave out the level's leading 1.
        if (!base.IsEmpty())
            base.SetAt(0, '1');
        return base.Left(4);
    default:
        return CVString();
    }
}

bool MayInstallFirmwareLevel(const CVString& name, int driveType, const CVString& firmwareDescription, bool ignore)
{
    const CVString file = Lower(FirmwareVersionFromFileName(name, driveType));
    CVString current = Lower(firmwareDescription);
    if (IsAsciiLetter(current[0]))
        current = current.Mid(1, -1);
    const CVString fileNumber = file.Left(3);
    const CVString currentNumber = current.Left(3);
    if (fileNumber[0] != currentNumber[0])
        return false;
    if (ignore)
        return true;
    const int fileLevel = std::atoi(fileNumber);
    const int currentLevel = std::atoi(currentNumber);
    if (fileLevel != currentLevel)
        return fileLevel > currentLevel;
    const char fileLetter = file[3];
    const char currentLetter = current[3];
    if (IsAlphanumeric(fileLetter) && IsAlphanumeric(currentLetter))
        return static_cast<signed char>(fileLetter) > static_cast<signed char>(currentLetter);
    return true;
}

bool FirmwareRevisionMatches(const CVString& name, int driveType, const CVString& revision)
{
    const CVString file = FirmwareVersionFromFileName(name, driveType);
    return Lower(file) == revision || Upper(file) == revision;
}

uint32_t FirmwareBufferOffset(int driveType)
{
    return driveType == DRIVE_DAT_4 ? DDS3_BUFFER_OFFSET : 0;
}

long MaxFirmwareImageLength(int driveType)
{
    return static_cast<long>(BUFFER_OFFSET_LIMIT - FirmwareBufferOffset(driveType));
}
