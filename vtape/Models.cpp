#include "Models.h"

namespace {

// VPD pages: 00h supported pages, 80h serial number, C0h and C1h firmware.
// Mode pages: 0Fh data compression, 10h device configuration,
// 1Dh element address assignment, 2Ah capabilities.
// Mode pages: 0Ah control (autoload mode), 21h vendor settings.
// Log pages: 00h supported pages, 02h write and 03h read error counters,
// 0Ch sequential-access device, 0Dh temperature, 2Eh TapeAlert, 31h tape
// capacity (vendor).
// Buffers: 07h trace (read in mode 04h), 54h cartridge memory and 55h EEPROM
// (mode 01h).
constexpr CCounterLayout kPlainCounters = {{}, false};
constexpr CCounterLayout kDatCounters = {{}, true};
constexpr CCounterLayout kUltriumCounters = {{0x06}, false};

// Firmware download: family, buffer offset, largest image, OEM mark on page
// C0h. The DDS3 family takes its image at buffer offset 100000h.
const uint32_t MICROCODE_CAPACITY = 16u * 1024 * 1024;
constexpr CMicrocodeData kDds3Microcode = {"dds3", 0x100000, MICROCODE_CAPACITY, {17, "-052"}};
constexpr CMicrocodeData kDds4Microcode = {"dds4", 0, MICROCODE_CAPACITY, {19, "-052"}};
constexpr CMicrocodeData kUltriumMicrocode = {"ultrium", 0, MICROCODE_CAPACITY, {34, "-52  "}};

// Each model:
//   name, catalogue line,
//   {vendor, product, revision, serial, firmware page C0h texts, C1h texts},
//   device type, removable, compression, retension, density code,
//   VPD pages, mode pages, log pages, error counter layout,
//   and where a model has them: READ BUFFER buffers, vendor operation codes,
//   speed codes, firmware download (microcode).
// clang-format off
constexpr CDriveModel kModels[] = {
    {"travan3200", "Travan, retension",
     {"MORLEN", "MTQS  3200", "7.00", "", {}, {}},
     DEVICE_TYPE_TAPE, 0x80, false, true, 0x45,
     {}, {0x0F, 0x10, 0x2A}, {0x00, 0x02, 0x03}, kPlainCounters},
    {"crt8000n", "Travan, SCSI, compression, retension",
     {"CORVANE", "CRT8000N", "4.01", "", {}, {}},
     DEVICE_TYPE_TAPE, 0x80, true, true, 0x46,
     {}, {0x0F, 0x10, 0x2A}, {0x00, 0x02, 0x03}, kPlainCounters},
    {"crt8000a", "Travan, ATAPI, retension",
     {"CORVANE", "CRT8000A", "5.02", "", {}, {}},
     DEVICE_TYPE_TAPE, 0x80, false, true, 0x46,
     {}, {0x0F, 0x10, 0x2A}, {0x00, 0x02, 0x03}, kPlainCounters},
    {"crt20000n", "Travan, SCSI, compression, retension",
     {"CORVANE", "CRT20000N", "7.10", "", {}, {}},
     DEVICE_TYPE_TAPE, 0x80, true, true, 0x47,
     {}, {0x0F, 0x10, 0x2A}, {0x00, 0x02, 0x03}, kPlainCounters},
    {"dat", "DAT, compression",
     {"CORVANE", "DAT 12GB", "A120", "DT12345678", {{5, "A120"}, {}}, {{5, "A120"}, {}}},
     DEVICE_TYPE_TAPE, 0x80, true, false, 0x24,
     {0x00, 0x80, 0xC0, 0xC1}, {0x0F, 0x10}, {0x00, 0x02, 0x03}, kDatCounters},
    {"dds3", "DAT, compression",
     {"CORVANE", "DAT24 DDS3", "7480", "DT12345678", {{5, "7480"}, {17, "0110"}},
      {{5, "7480"}, {17, "0110"}}},
     DEVICE_TYPE_TAPE, 0x80, true, false, 0x25,
     {0x00, 0x80, 0xC0, 0xC1}, {0x0F, 0x10}, {0x00, 0x02, 0x03, 0x0C, 0x2E, 0x31}, kDatCounters,
     {}, {}, {}, kDds3Microcode},
    {"dds4", "DAT, compression",
     {"CORVANE", "DAT40 DDS4", "9C23", "DT12345678", {{5, "9C23"}, {19, "A7F1"}},
      {{5, "9C23"}, {19, "A7F1"}}},
     DEVICE_TYPE_TAPE, 0x80, true, false, 0x26,
     {0x00, 0x80, 0xC0, 0xC1}, {0x0F, 0x10}, {0x00, 0x02, 0x03, 0x0C, 0x2E, 0x31}, kDatCounters,
     {{0x07, 0x04, 65536, false}}, {}, {}, kDds4Microcode},
    {"ultrium", "Ultrium, compression, retension",
     {"TESSARA", "ULTRIUM 2", "117A", "HU1234567890ABC", {{30, "117A-5RC4"}, {}},
      {{30, "BOOT 1.2"}, {}}},
     DEVICE_TYPE_TAPE, 0x80, true, true, 0x42,
     {0x00, 0x80, 0xC0, 0xC1}, {0x0A, 0x0F, 0x10, 0x21}, {0x00, 0x02, 0x03, 0x0C, 0x0D, 0x2E, 0x31},
     kUltriumCounters,
     {{0x07, 0x04, 40000, false}, {0x54, 0x01, 4096, true}, {0x55, 0x01, 8192, false}},
     {0x06}, {0x00, 0x03, 0x04, 0x05, 0x06, 0x07}, kUltriumMicrocode},
    {"changer", "medium changer, not a tape drive",
     {"CORVANE", "AUTOLOADER", "1.00", "AL12345678", {}, {}},
     DEVICE_TYPE_CHANGER, 0x00, false, false, 0x00,
     {0x00, 0x80}, {0x1D}, {0x00}, kPlainCounters},
};
// clang-format on

}  // namespace

const CDriveModel* DriveModels(size_t& count)
{
    count = sizeof(kModels) / sizeof(kModels[0]);
    return kModels;
}

const CDriveModel* FindDriveModel(const std::string& name)
{
    for (const CDriveModel& model : kModels) {
        if (name == model.name) {
            return &model;
        }
    }
    return nullptr;
}
