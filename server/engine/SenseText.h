// Sense data in words: the sense key and the additional sense code with its
// qualifier, as T10 names them. The texts come from the sg3_utils library,
// which keeps them current; this program keeps no table of its own.
#ifndef TAPEDIAG_SENSETEXT_H
#define TAPEDIAG_SENSETEXT_H

#include <string>

struct CSenseReport {
    unsigned key = 0;  // the low four bits of byte 2
    unsigned asc = 0;
    unsigned ascq = 0;
    bool deferred = false;  // the report is about an earlier command
    std::string keyText;    // "Medium Error"
    std::string ascText;    // "Unrecovered read error"
};

// Describes fixed-format sense data (at least 18 bytes, as the driver
// interface hands it over).
CSenseReport DescribeSense(const unsigned char* sense);
// Describes a sense key with its ASC and ASCQ, as a page reports them.
CSenseReport DescribeSense(unsigned key, unsigned asc, unsigned ascq);

// "Medium Error, Unrecovered read error (03/11/00)".
std::string SenseSummary(const CSenseReport& report);

#endif
