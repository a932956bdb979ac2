// The settings an Ultrium drive reports in its mode pages, as get shows
// them and set writes them back, on a virtual drive whose MODE SENSE answers
// come from the input. The first byte picks get or set and the setting, the
// second the value set; the rest answers the commands in turn.
#include "FuzzDrive.h"

namespace {

struct Setting {
    const char* getSwitch;
    const char* setSwitches[3];
    int values[3];
    size_t byte;  // in the mode data
    unsigned char mask;
    const char* issued;
};
// clang-format off
const Setting SETTINGS[] = {
    {"-speed", {"-speed:0", "-speed:12", "-speed:16"}, {0, 5, 7}, 2, 0x0F, "Issued Cmd: Get Drive Speed."},
    {"-compdefault", {"-compdefault:scsi", "-compdefault:on", "-compdefault:off"}, {0, 1, 2}, 11, 0xFF,
     "Issued Cmd: Get Compression Mode Setting."},
    {"-load", {"-load:on", "-load:hold", "-load:off"}, {0, 1, 2}, 9, 0x07, "Issued Cmd: Get Load Parameter Setting."},
};
// clang-format on

CFuzzDrive& Drive()
{
    static CFuzzDrive* drive = new CFuzzDrive("sim:ultrium");
    return *drive;
}

// The line get shows after its "Issued Cmd:" line.
std::string LineAfter(const std::string& output, const std::string& line)
{
    const size_t at = output.find(line + "\n");
    if (at == std::string::npos)
        return "";
    const size_t start = at + line.size() + 1;
    return output.substr(start, output.find('\n', start) - start);
}

// A value is shown only when the drive's last answer held its byte, and it
// is the value that byte holds.
void CheckShown(const Setting& setting, const std::string& shown, const CFuzzCommand& last)
{
    if (shown.rfind("Unable to retrieve", 0) == 0)
        return;
    FUZZ_CHECK(last.dataIn.size() > setting.byte);
    const int value = last.dataIn[setting.byte] & setting.mask;
    if (setting.byte == 2) {
        static const char* const speeds[] = {"Auto Select (0).", "",           "",           "8 MB/Sec.",
                                             "10 MB/Sec.",       "12 MB/Sec.", "14 MB/Sec.", "16 MB/Sec."};
        FUZZ_CHECK(value < 8 && shown == std::string("Drive speed currently set to ") + speeds[value]);
    } else if (value > 2) {
        FUZZ_CHECK(shown.empty());
    } else {
        FUZZ_CHECK(!shown.empty());
    }
}

// Every byte but the field goes back as the drive sent it, the reserved
// header bytes, WP and each page's PS cleared, and exactly the mode data
// the drive sent (mode data length + 1 bytes), no more.
void CheckWritten(const Setting& setting, int value, const std::vector<CFuzzCommand>& sent)
{
    std::vector<unsigned char> read;
    for (const CFuzzCommand& command : sent) {
        if (command.cdb[0] == OP_MODE_SENSE6) {
            read = command.dataIn;
            continue;
        }
        if (command.cdb[0] != OP_MODE_SELECT6)
            continue;
        FUZZ_CHECK(!read.empty() && read.size() > setting.byte);
        FUZZ_CHECK(command.cdb[4] == read[0] + 1 && command.cdb[4] <= read.size());
        FUZZ_CHECK(command.dataOut.size() == command.cdb[4]);
        std::vector<unsigned char> expected(read.begin(), read.begin() + command.cdb[4]);
        expected[0] = expected[1] = 0;
        expected[2] &= 0x7F;
        for (size_t page = 4 + expected[3]; page + 1 < expected.size(); page += 2 + expected[page + 1])
            expected[page] &= 0x7F;
        expected[setting.byte] =
            static_cast<unsigned char>((expected[setting.byte] & ~setting.mask) | (value & setting.mask));
        FUZZ_CHECK(command.dataOut == expected);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFuzzDrive& drive = Drive();
    FuzzInput input(data, size);
    const uint8_t choice = input.Byte();
    const Setting& setting = SETTINGS[(choice >> 1) % 3];
    const int valueChoice = input.Byte() % 3;
    std::string output;
    if ((choice & 1) == 0) {
        drive.Run(std::string("get; ") + setting.getSwitch + "; -id:x;", input, {OP_MODE_SENSE6}, output);
        const std::vector<CFuzzCommand> reads = drive.Sent(OP_MODE_SENSE6);
        FUZZ_CHECK(!reads.empty() && reads.size() <= 11);
        CheckShown(setting, LineAfter(output, setting.issued), reads.back());
    } else {
        drive.Run(std::string("set; ") + setting.setSwitches[valueChoice] + "; -id:x;", input, {OP_MODE_SENSE6},
                  output);
        CheckWritten(setting, setting.values[valueChoice], drive.sent);
    }
    return 0;
}
