#include "SenseText.h"

#include <cstdio>
#include <cstring>

#include <scsi/sg_lib.h>

#include "ScsiData.h"

namespace {

const int TEXT_ROOM = 160;
// The library opens every ASC/ASCQ text with this; the key beside it says
// as much.
const char* const ASC_PREFIX = "Additional sense: ";

}  // namespace

CSenseReport DescribeSense(const unsigned char* sense)
{
    CSenseReport report = DescribeSense(sense[SENSE_KEY_BYTE] & 0x0F, sense[SENSE_ASC_BYTE], sense[SENSE_ASCQ_BYTE]);
    report.deferred = IsDeferredSense(sense);
    return report;
}

CSenseReport DescribeSense(unsigned key, unsigned asc, unsigned ascq)
{
    CSenseReport report;
    report.key = key & 0x0F;
    report.asc = asc & 0xFF;
    report.ascq = ascq & 0xFF;
    char text[TEXT_ROOM];
    report.keyText = sg_get_sense_key_str(static_cast<int>(report.key), TEXT_ROOM, text);
    std::string ascText =
        sg_get_asc_ascq_str(static_cast<int>(report.asc), static_cast<int>(report.ascq), TEXT_ROOM, text);
    const size_t prefix = std::strlen(ASC_PREFIX);
    if (ascText.compare(0, prefix, ASC_PREFIX) == 0)
        ascText.erase(0, prefix);
    report.ascText = ascText;
    return report;
}

std::string SenseSummary(const CSenseReport& report)
{
    char codes[16];
    std::snprintf(codes, sizeof codes, "%02X/%02X/%02X", report.key, report.asc, report.ascq);
    return report.keyText + ", " + report.ascText + " (" + codes + ")";
}
