// The pages a drive answers to the health check, as they come: the input is
// split into the unit-ready sense and the pages 00h, 02h, 03h, 0Ch, 0Dh,
// 10h and 2Eh, each decoded, judged, and written as JSON and as metrics.
// Nothing may be read outside what the drive sent.
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "HealthRules.h"
#include "JsonOutput.h"
#include "PrometheusOutput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    static CTapeDrive drive;
    CDriveHealth health;
    health.drive = &drive;
    health.unitReady = (input.Byte() & 1) != 0;
    const uint8_t key = input.Byte();
    const uint8_t asc = input.Byte();
    health.notReady = DescribeSense(key, asc, input.Byte());
    for (unsigned page : {0x00u, 0x02u, 0x03u, 0x0Cu, 0x0Du, 0x10u, 0x2Eu}) {
        const size_t length = std::min<size_t>(input.Byte() * 8u, input.Left());
        // A copy of exactly what was sent: the decoder must stay inside it.
        std::vector<unsigned char> bytes(input.Rest(), input.Rest() + length);
        for (size_t i = 0; i < length; ++i)
            input.Byte();
        CLogPageReading reading = DecodeLogPage(bytes.data(), static_cast<int>(bytes.size()));
        reading.page = page;
        for (const CLogParameterValue& parameter : reading.parameters)
            FUZZ_CHECK(parameter.numeric || parameter.bytes.size() + 4 <= bytes.size());
        health.pages.push_back(reading);
    }
    JudgeHealth(health);
    FUZZ_CHECK(health.Healthy() == (health.driveVerdict == DRIVE_OK && health.cartridgeVerdict != CARTRIDGE_REPLACE));
    const std::vector<std::string> lines;
    const CCommandReport report{{}, {health}};
    FUZZ_CHECK(!JsonDocument({"health", health.Healthy(), &drive, lines, report, nullptr}).empty());
    FUZZ_CHECK(!PrometheusText(report.health, 0).empty());
    return 0;
}
