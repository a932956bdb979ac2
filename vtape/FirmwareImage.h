// The virtual drive's firmware image: a text header at the start of the
// image, then any bytes. A drive reads the header when it saves a downloaded
// image; scripts/make-firmware-image.sh writes such images, and tests build
// them with MakeFirmwareImage. The format is described in vtape/README.md
// ("Firmware images").
#ifndef VTAPE_FIRMWAREIMAGE_H
#define VTAPE_FIRMWAREIMAGE_H

#include <cstddef>
#include <string>
#include <vector>

#include "DriveIdentity.h"

// The first line of every image.
const char* const FIRMWARE_IMAGE_MAGIC = "VTAPE FIRMWARE 1";
// The header ends at the first zero byte, which must come within this many
// bytes.
const size_t FIRMWARE_HEADER_LIMIT = 1024;
// Page texts an image may give for each firmware page.
const size_t FIRMWARE_PAGE_TEXTS = 4;

struct CFirmwareImage {
    std::string family;  // which drives take it
    std::string level;   // the INQUIRY revision the drive reports once it runs it
    size_t size = 0;     // the whole image, header included
    CVpdFields pageC0;   // what firmware page C0h reports then
    CVpdFields pageC1;   // and page C1h
};

// Reads the header of `length` downloaded bytes. False, with a short reason,
// when it is malformed or the image is not `length` bytes long.
bool ParseFirmwareImage(const unsigned char* data, size_t length, CFirmwareImage& image, std::string& reason);

// An image with this header, padded to image.size bytes (at least the
// header). For tests; the script writes the same format.
std::vector<unsigned char> MakeFirmwareImage(const CFirmwareImage& image);

#endif
