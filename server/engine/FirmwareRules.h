// The rules of a firmware upgrade that need no drive: which image file
// names fit which drive, OEM firmware, the level a file carries and whether
// it may replace the drive's level. Each takes the drive's type code and
// firmware description (the INQUIRY revision, or the longer text of the
// vendor pages) as values.
#ifndef TAPEDIAG_FIRMWARERULES_H
#define TAPEDIAG_FIRMWARERULES_H

#include <cstdint>

#include "VString.h"

// Firmware images are sent in whole blocks of this size.
const long FIRMWARE_FILE_BLOCK = 16384;

// The part of `name` after its last "/" (all of it when there is none).
CVString FirmwareBaseName(const CVString& name);

// Whether `name` may be an image for this drive: tests on the lower-case
// base name, per drive type; at least 7 characters ending in "bin" or "img".
bool IsValidFirmwareFileName(const CVString& name, int driveType, const CVString& firmwareDescription);

// An OEM image: the two characters just before the last "." are "52".
bool IsOemFirmwareFileName(const CVString& name);

// An OEM drive: its firmware description ends in "-52..." or "-052...".
bool IsOemFirmwareDescription(const CVString& firmwareDescription);

// The four-character level a file name carries; empty for a drive type
// that takes no download.
CVString FirmwareVersionFromFileName(const CVString& name, int driveType);

// Whether the file's level may be installed over the drive's: same leading
// digit always; then, unless `ignore`, a higher number, or the same number
// with a higher fourth character.
bool MayInstallFirmwareLevel(const CVString& name, int driveType, const CVString& firmwareDescription, bool ignore);

// Whether the drive's INQUIRY revision is the level the file carries (in
// either letter case).
bool FirmwareRevisionMatches(const CVString& name, int driveType, const CVString& revision);

// A length that is a whole number of 16384-byte blocks (0 included).
inline bool IsWholeFirmwareLength(long length)
{
    return length % FIRMWARE_FILE_BLOCK == 0;
}

// The buffer offset at which a drive of this type takes its image: 100000h
// for DAT type 4, 0 for the others.
uint32_t FirmwareBufferOffset(int driveType);

// The most bytes an image for this drive type may have: what fits between
// its buffer offset and the end of the 24-bit offset (16 MiB from 0).
long MaxFirmwareImageLength(int driveType);

#endif
