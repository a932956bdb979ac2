// Log pages in words: each parameter of a page the drive returned, with its
// code, its name where this program knows the page, and its value. Shared
// by the logpages command, which dumps the page as it came, and the health
// check, which judges the values.
#ifndef TAPEDIAG_LOGPAGEDECODER_H
#define TAPEDIAG_LOGPAGEDECODER_H

#include <cstdint>
#include <string>
#include <vector>

#include "SenseText.h"

struct CLogParameterValue {
    uint32_t code = 0;
    const char* name = nullptr;        // null: a parameter this program does not name
    bool numeric = false;              // a value of 1 to 8 bytes
    uint64_t value = 0;                // when numeric
    std::vector<unsigned char> bytes;  // otherwise, as they came
};

enum ELogPageStatus {
    LOG_PAGE_READ,           // the drive returned it
    LOG_PAGE_NOT_SUPPORTED,  // the drive does not list it
    LOG_PAGE_FAILED          // listed, but LOG SENSE failed: see sense
};

struct CLogPageReading {
    unsigned page = 0;
    ELogPageStatus status = LOG_PAGE_READ;
    std::vector<CLogParameterValue> parameters;
    std::vector<unsigned> listedPages;  // page 00h: the codes of the pages the drive has
    CSenseReport sense;

    // The value of parameter `code` when the page holds it as a number.
    bool Value(uint32_t code, uint64_t& value) const;
};

// A page of `length` bytes (what the drive sent) as read: its parameters,
// or for page 00h the pages listed, within the page's own length; a
// parameter that does not fit whole is left out.
CLogPageReading DecodeLogPage(const unsigned char* page, int length);

// "Write error counters"; null for a page this program does not name.
const char* LogPageName(unsigned page);

#endif
