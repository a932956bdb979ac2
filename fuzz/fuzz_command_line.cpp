// Command lines as typed, as argument vectors, and as sent by a remote
// client: CUtility::SetParameters on arbitrary bytes, the typed-line and the
// argument-vector conversions before it, and the -id: value parser on its own.
#include <cstring>
#include <string>
#include <vector>

#include "Application.h"
#include "FuzzCheck.h"
#include "Utility.h"

namespace {

// Every setting a command line can change.
struct Settings {
    bool accepted;
    int command, port, bus, target, lun, driveIndex, testSize, speed, compression, load;
    bool noClose, ignore, verbose, first, retension, getSpeed, getCompression, getLoad, engineering;
    std::string serial, binary, output;
    std::vector<std::string> devices;

    bool operator==(const Settings& o) const
    {
        return accepted == o.accepted && command == o.command && port == o.port && bus == o.bus && target == o.target &&
               lun == o.lun && driveIndex == o.driveIndex && testSize == o.testSize && speed == o.speed &&
               compression == o.compression && load == o.load && noClose == o.noClose && ignore == o.ignore &&
               verbose == o.verbose && first == o.first && retension == o.retension && getSpeed == o.getSpeed &&
               getCompression == o.getCompression && getLoad == o.getLoad && engineering == o.engineering &&
               serial == o.serial && binary == o.binary && output == o.output && devices == o.devices;
    }
};

CApplication& App()
{
    static CApplication* app = [] {
        CApplication* created = new CApplication;
        created->ClientServerConnection(true);  // a rejected line shows no help and waits for nothing
        return created;
    }();
    return *app;
}

Settings Parse(CUtility& utility, const char* line)
{
    CApplication& app = App();
    Settings s;
    s.accepted = utility.SetParameters(line);
    FUZZ_CHECK(utility.GetParameterCount() >= 0 && utility.GetParameterCount() <= MAX_PARAMETERS);
    CVString binary;
    app.GetFileSelected(binary);
    s.command = app.GetLatestCmd();
    s.port = app.GetPort();
    s.bus = app.GetBus();
    s.target = app.GetTarget();
    s.lun = app.GetLun();
    s.driveIndex = app.GetDriveIndex();
    s.testSize = app.GetMegaBytesSet();
    s.speed = app.GetSpeedValue();
    s.compression = app.GetCompressionValue();
    s.load = app.GetLoadValue();
    s.noClose = app.NRSwitch();
    s.ignore = app.IgnoreSwitchSet();
    s.verbose = app.Verbose();
    s.first = app.FirstDriveSelected();
    s.retension = app.IsRetensionChecked();
    s.getSpeed = app.GetSpeedFlag();
    s.getCompression = app.GetCompressionFlag();
    s.getLoad = app.GetLoadFlag();
    s.engineering = app.EngineeringMode();
    s.serial = app.GetSerialNumber();
    s.binary = static_cast<const char*>(binary);
    s.output = app.GetOutputFileName();
    for (const CVString& device : app.GetDevices())
        s.devices.push_back(static_cast<const char*>(device));

    FUZZ_CHECK(s.serial.size() <= static_cast<size_t>(MAX_FIELD_LENGTH));
    FUZZ_CHECK(s.binary.size() <= static_cast<size_t>(MAX_FIELD_LENGTH));
    FUZZ_CHECK(s.output.size() <= static_cast<size_t>(MAX_FIELD_LENGTH));
    FUZZ_CHECK(s.devices.size() <= 32);
    if (s.accepted)
        FUZZ_CHECK(s.command >= CMD_SHOW && s.command <= CMD_RETENSION);
    if (s.speed != -1)
        FUZZ_CHECK(s.speed == 0 || s.speed == 8 || s.speed == 10 || s.speed == 12 || s.speed == 14 || s.speed == 16);
    FUZZ_CHECK(s.testSize >= 0);
    return s;
}

// SetIds on the value, then on the value written back in its shortest form:
// both must name the same address.
void CheckIds(const char* param)
{
    int port, bus, target, lun;
    if (!CUtility::SetIds(param, port, bus, target, lun))
        return;
    FUZZ_CHECK(target >= 0 && port >= -1 && bus >= -1 && lun >= -1);
    std::string canonical = "-id:";
    if (port == -1) {
        FUZZ_CHECK(bus == -1 && lun == -1);
        canonical += std::to_string(target);
    } else if (lun == -1) {
        FUZZ_CHECK(bus == -1);
        canonical += std::to_string(port) + ":" + std::to_string(target);
    } else if (bus == -1) {
        canonical += std::to_string(port) + ":" + std::to_string(target) + ":" + std::to_string(lun);
    } else {
        canonical +=
            std::to_string(port) + ":" + std::to_string(bus) + ":" + std::to_string(target) + ":" + std::to_string(lun);
    }
    int port2, bus2, target2, lun2;
    FUZZ_CHECK(CUtility::SetIds(canonical.c_str(), port2, bus2, target2, lun2));
    FUZZ_CHECK(port == port2 && bus == bus2 && target == target2 && lun == lun2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string line(reinterpret_cast<const char*>(data), size);  // ends with a NUL
    CUtility utility(&App());

    const Settings direct = Parse(utility, line.c_str());
    const CVString typed = CUtility::BasicStrToDelimitedStr(line.c_str());
    Parse(utility, typed);
    // Whatever the line before it set, a line must give the same settings again.
    FUZZ_CHECK(Parse(utility, line.c_str()) == direct);

    // The same bytes as an argument vector: NUL separates the arguments.
    std::vector<std::string> arguments = NulSeparatedArguments({"tapediag"}, data, size, 64);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(&argument[0]);
    Parse(utility, CUtility::CmdLineArgsToDelimitedStr(static_cast<int>(argv.size()), argv.data()));

    CheckIds(line.c_str());
    return 0;
}
