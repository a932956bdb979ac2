#include "FirmwareImage.h"

#include <algorithm>
#include <cstring>

namespace {

const size_t MAX_FAMILY_LENGTH = 16;
const size_t LEVEL_LENGTH = 4;
const size_t FIRMWARE_PAGE_LENGTH = 64;  // the drive's firmware pages C0h and C1h
const size_t FIRST_TEXT_OFFSET = 4;      // after the page header
const size_t MAX_SIZE_DIGITS = 10;

bool Fail(std::string& reason, const std::string& why)
{
    reason = why;
    return false;
}

bool IsFamilyText(const std::string& text)
{
    if (text.empty() || text.size() > MAX_FAMILY_LENGTH) {
        return false;
    }
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; });
}

bool IsPrintable(const std::string& text, bool blanksAllowed)
{
    return std::all_of(text.begin(), text.end(),
                       [blanksAllowed](char c) { return (c > ' ' && c <= '~') || (blanksAllowed && c == ' '); });
}

bool ParseDecimal(const std::string& text, size_t maxDigits, size_t& value)
{
    if (text.empty() || text.size() > maxDigits ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    value = 0;
    for (char c : text) {
        value = value * 10 + static_cast<size_t>(c - '0');
    }
    return true;
}

// "OFFSET:TEXT": a text that fits in a firmware page after its header.
bool ParsePageText(const std::string& value, CVpdFields& fields)
{
    const size_t colon = value.find(':');
    size_t offset = 0;
    if (colon == std::string::npos || !ParseDecimal(value.substr(0, colon), 2, offset)) {
        return false;
    }
    const std::string text = value.substr(colon + 1);
    if (offset < FIRST_TEXT_OFFSET || text.empty() || offset + text.size() > FIRMWARE_PAGE_LENGTH ||
        !IsPrintable(text, true) || fields.size() >= FIRMWARE_PAGE_TEXTS) {
        return false;
    }
    fields.push_back({offset, text});
    return true;
}

bool ParseLine(const std::string& line, CFirmwareImage& image, bool& hasSize, std::string& reason)
{
    const size_t equals = line.find('=');
    if (equals == std::string::npos) {
        return Fail(reason, "header line without '=': " + line);
    }
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "family") {
        if (!image.family.empty() || !IsFamilyText(value)) {
            return Fail(reason, "bad or repeated family: " + value);
        }
        image.family = value;
    } else if (key == "level") {
        if (!image.level.empty() || value.size() != LEVEL_LENGTH || !IsPrintable(value, false)) {
            return Fail(reason, "bad or repeated level: " + value);
        }
        image.level = value;
    } else if (key == "size") {
        if (hasSize || !ParseDecimal(value, MAX_SIZE_DIGITS, image.size)) {
            return Fail(reason, "bad or repeated size: " + value);
        }
        hasSize = true;
    } else if (key == "c0" || key == "c1") {
        if (!ParsePageText(value, key == "c0" ? image.pageC0 : image.pageC1)) {
            return Fail(reason, "bad page text: " + line);
        }
    } else {
        return Fail(reason, "unknown header line: " + line);
    }
    return true;
}

}  // namespace

bool ParseFirmwareImage(const unsigned char* data, size_t length, CFirmwareImage& image, std::string& reason)
{
    image = CFirmwareImage();
    const size_t searched = std::min(length, FIRMWARE_HEADER_LIMIT);
    const unsigned char* end =
        data == nullptr ? nullptr : static_cast<const unsigned char*>(std::memchr(data, 0, searched));
    if (end == nullptr) {
        return Fail(reason, "no end of header within the first 1024 bytes");
    }
    const std::string header(reinterpret_cast<const char*>(data), static_cast<size_t>(end - data));
    if (header.find_first_of("\r\t\v\f") != std::string::npos) {
        return Fail(reason, "control character in the header");
    }

    bool first = true;
    bool hasSize = false;
    size_t start = 0;
    while (start < header.size()) {
        size_t stop = header.find('\n', start);
        if (stop == std::string::npos) {
            stop = header.size();
        }
        const std::string line = header.substr(start, stop - start);
        start = stop + 1;
        if (first) {
            if (line != FIRMWARE_IMAGE_MAGIC) {
                return Fail(reason, "not a firmware image");
            }
            first = false;
        } else if (!line.empty() && !ParseLine(line, image, hasSize, reason)) {
            return false;
        }
    }
    if (first) {
        return Fail(reason, "not a firmware image");
    }
    if (image.family.empty() || image.level.empty() || !hasSize) {
        return Fail(reason, "family, level or size missing");
    }
    if (image.size != length) {
        return Fail(reason, "image of " + std::to_string(length) + " bytes, header says " + std::to_string(image.size));
    }
    return true;
}

std::vector<unsigned char> MakeFirmwareImage(const CFirmwareImage& image)
{
    std::string header = std::string(FIRMWARE_IMAGE_MAGIC) + "\n";
    header += "family=" + image.family + "\n";
    header += "level=" + image.level + "\n";
    header += "size=" + std::to_string(image.size) + "\n";
    for (const CVpdField& field : image.pageC0) {
        header += "c0=" + std::to_string(field.offset) + ":" + field.text + "\n";
    }
    for (const CVpdField& field : image.pageC1) {
        header += "c1=" + std::to_string(field.offset) + ":" + field.text + "\n";
    }
    std::vector<unsigned char> bytes(std::max(image.size, header.size() + 1), 0);
    std::memcpy(bytes.data(), header.data(), header.size());
    return bytes;
}
