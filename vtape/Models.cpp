#include "Models.h"

namespace {

const CDriveModel kModels[] = {
    {"travan3200", "MORLEN", "MTQS  3200", "7.00", 0x01, 0x80, FAMILY_TRAVAN,
     "Travan, retension", nullptr, false, true, 0x45, false, {}, {}},
    {"crt8000n", "CORVANE", "CRT8000N", "4.01", 0x01, 0x80, FAMILY_TRAVAN,
     "Travan, SCSI, compression, retension", nullptr, true, true, 0x46, false, {}, {}},
    {"crt8000a", "CORVANE", "CRT8000A", "5.02", 0x01, 0x80, FAMILY_TRAVAN,
     "Travan, ATAPI, retension", nullptr, false, true, 0x46, false, {}, {}},
    {"crt20000n", "CORVANE", "CRT20000N", "7.10", 0x01, 0x80, FAMILY_TRAVAN,
     "Travan, SCSI, compression, retension", nullptr, true, true, 0x47, false, {}, {}},
    {"dat", "CORVANE", "DAT 12GB", "A120", 0x01, 0x80, FAMILY_DAT,
     "DAT, compression", "DT12345678", true, false, 0x24, true,
     {{5, "A120"}, {}}, {{5, "A120"}, {}}},
    {"dds3", "CORVANE", "DAT24 DDS3", "7480", 0x01, 0x80, FAMILY_DAT,
     "DAT, compression", "DT12345678", true, false, 0x25, true,
     {{5, "7480"}, {17, "0110"}}, {{5, "7480"}, {17, "0110"}}},
    {"dds4", "CORVANE", "DAT40 DDS4", "9C23", 0x01, 0x80, FAMILY_DAT,
     "DAT, compression", "DT12345678", true, false, 0x26, true,
     {{5, "9C23"}, {19, "A7F1"}}, {{5, "9C23"}, {19, "A7F1"}}},
    {"ultrium", "TESSARA", "ULTRIUM 2", "2A17", 0x01, 0x80, FAMILY_ULTRIUM,
     "Ultrium, compression", "HU1234567890ABC", true, false, 0x42, true,
     {{30, "2A17-5RC4"}, {}}, {{30, "BOOT 1.2"}, {}}},
    {"changer", "CORVANE", "AUTOLOADER", "1.00", 0x08, 0x00, FAMILY_CHANGER,
     "medium changer, not a tape drive", "AL12345678", false, false, 0x00, false, {}, {}},
};

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
