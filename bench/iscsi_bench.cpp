// Benchmark of the iSCSI path against tgt.
//
// Starts a private tgt target (scripts/tgt-target.sh; needs root) with its
// tape image in /dev/shm and prints, in the same run:
//   (a) the rate of `rwtest -ts:2000` on the tgt LUN through the iSCSI
//       backend: 2000 MiB written in 64 KiB blocks, read back and compared;
//   (b) the rate of a bare libiscsi loop writing and reading the same
//       64 KiB blocks one command at a time (the synchronous wrapper, no
//       checks), each way and together;
//   (c) the ratio a/b (goal: at least 0.80), and the client CPU time per
//       command of both.
// tgt has no LOG SELECT or LOG SENSE, without which the read/write test
// stops before it writes; a stand-in answers those two commands (three in
// the whole test) from a virtual drive, and every other command goes to tgt.
// tgt's LOAD does not rewind a cartridge that is loaded already, so the bare
// loop rewinds when it is done. Exit status 0 when the goal is met.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "Application.h"
#include "DeviceOpener.h"
#include "LinuxDriveManager.h"
#include "SimPassThrough.h"
#include "Utility.h"

#ifdef TAPEDIAG_HAVE_LIBISCSI
extern "C" {
#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>
}

namespace {

const long SIZE_MIB = 2000;
const int BLOCK = 65536;
const long BLOCKS = SIZE_MIB * 16;

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double CpuSeconds()
{
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string Run(const std::string& command)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr)
        output += line;
    pclose(pipe);
    while (!output.empty() && output.back() == '\n')
        output.pop_back();
    return output;
}

// The target, stopped however the benchmark ends.
class CTarget {
public:
    CTarget()
    {
        char pattern[] = "/dev/shm/tapediag-bench-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            return;
        m_state = pattern;
        m_url = Run("TGT_TARGET_OWNER=" + std::to_string(getpid()) + " " + Script() + " start " + m_state);
    }
    ~CTarget()
    {
        if (m_state.empty())
            return;
        Run(Script() + " stop " + m_state);
        Run("rm -rf '" + m_state + "'");
    }
    const std::string& Url() const { return m_url; }

private:
    static std::string Script() { return std::string(TAPEDIAG_SOURCE_DIR) + "/scripts/tgt-target.sh"; }
    std::string m_state;
    std::string m_url;
};

// Sends LOG SELECT and LOG SENSE to a virtual drive, everything else to the
// drive behind it.
class CLogStandIn : public CPassThrough {
public:
    CLogStandIn(std::unique_ptr<CPassThrough> drive, std::unique_ptr<CPassThrough> logs)
        : m_drive(std::move(drive)), m_logs(std::move(logs))
    {}
    long commands = 0;

protected:
    CScsiResult Send(const CScsiRequest& request) override
    {
        ++commands;
        const bool log = request.cdb[0] == 0x4C || request.cdb[0] == 0x4D;
        return (log ? m_logs : m_drive)->Execute(request);
    }

private:
    std::unique_ptr<CPassThrough> m_drive;
    std::unique_ptr<CPassThrough> m_logs;
};

struct CRate {
    double mibPerSecond = 0;
    double cpuMsPerCommand = 0;
};

CRate DiagnosticRate(const std::string& url)
{
    CApplication app;
    CUtility utility(&app);
    CLogStandIn* standIn = nullptr;
    DeviceOpenFunction opener = [&standIn](const char* device, CVString& error) {
        COpenedDevice opened = OpenDevice(device, CHostPaths(), error);
        if (!opened.device)
            return opened;
        CVString ignored;
        standIn = new CLogStandIn(std::move(opened.device), CSimPassThrough::Open("ultrium", ignored));
        opened.device.reset(standIn);
        return opened;
    };
    app.AdoptDriveManager(new CLinuxDriveManager(app, {url.c_str()}, CHostPaths(), opener));
    std::string line = "rwtest; -id:x; -nov:; -ts:" + std::to_string(SIZE_MIB) + ";";
    if (standIn == nullptr || !utility.SetParameters(line.c_str()))
        return CRate();
    const long before = standIn->commands;
    const double cpu = CpuSeconds();
    auto start = std::chrono::steady_clock::now();
    bool ok = app.RunAppl();
    CRate rate;
    const double seconds = Seconds(start);
    rate.cpuMsPerCommand = (CpuSeconds() - cpu) * 1000.0 / static_cast<double>(standIn->commands - before);
    rate.mibPerSecond = ok ? 2.0 * SIZE_MIB / seconds : 0;
    return rate;
}

bool Command(iscsi_context* context, int lun, std::vector<unsigned char> cdb, int direction, unsigned char* data,
             int length)
{
    scsi_task* task = scsi_create_task(static_cast<int>(cdb.size()), cdb.data(), direction, length);
    if (task == nullptr)
        return false;
    iscsi_data out = {static_cast<size_t>(length), data};
    if (direction == SCSI_XFER_READ)
        scsi_task_add_data_in_buffer(task, length, data);
    scsi_task* done = iscsi_scsi_command_sync(context, lun, task, direction == SCSI_XFER_WRITE ? &out : nullptr);
    const bool good = done != nullptr && task->status == SCSI_STATUS_GOOD;
    scsi_free_scsi_task(task);
    return good;
}

// Write then read rates of the bare loop, and its CPU time per command.
bool BareLoop(const std::string& url, double& write, double& read, double& cpuMs)
{
    iscsi_context* context = iscsi_create_context("iqn.2024-01.invalid.tapediag:bench");
    iscsi_url* parsed = context != nullptr ? iscsi_parse_full_url(context, url.c_str()) : nullptr;
    if (parsed == nullptr)
        return false;
    iscsi_set_targetname(context, parsed->target);
    iscsi_set_session_type(context, ISCSI_SESSION_NORMAL);
    iscsi_set_header_digest(context, ISCSI_HEADER_DIGEST_NONE_CRC32C);
    const int lun = parsed->lun;
    bool ok = iscsi_full_connect_sync(context, parsed->portal, lun) == 0;
    iscsi_destroy_url(parsed);
    std::vector<unsigned char> block(BLOCK);
    for (int i = 0; i < BLOCK; ++i)
        block[static_cast<size_t>(i)] = static_cast<unsigned char>(i * 7);
    for (int i = 0; ok && i < 3 && !Command(context, lun, {0x00, 0, 0, 0, 0, 0}, SCSI_XFER_NONE, nullptr, 0); ++i) {
    }
    ok = ok && Command(context, lun, {0x01, 0, 0, 0, 0, 0}, SCSI_XFER_NONE, nullptr, 0);
    const double cpu = CpuSeconds();
    auto start = std::chrono::steady_clock::now();
    for (long i = 0; ok && i < BLOCKS; ++i)
        ok = Command(context, lun, {0x0A, 0x00, 0x01, 0x00, 0x00, 0x00}, SCSI_XFER_WRITE, block.data(), BLOCK);
    write = 1.0 * SIZE_MIB / Seconds(start);
    ok = ok && Command(context, lun, {0x10, 0, 0, 0, 1, 0}, SCSI_XFER_NONE, nullptr, 0) &&
         Command(context, lun, {0x01, 0, 0, 0, 0, 0}, SCSI_XFER_NONE, nullptr, 0);
    start = std::chrono::steady_clock::now();
    for (long i = 0; ok && i < BLOCKS; ++i)
        ok = Command(context, lun, {0x08, 0x00, 0x01, 0x00, 0x00, 0x00}, SCSI_XFER_READ, block.data(), BLOCK);
    read = 1.0 * SIZE_MIB / Seconds(start);
    cpuMs = (CpuSeconds() - cpu) * 1000.0 / (2.0 * BLOCKS + 2);
    // tgt's LOAD leaves a loaded tape where it is: the read/write test that
    // follows must start at the beginning.
    ok = ok && Command(context, lun, {0x01, 0, 0, 0, 0, 0}, SCSI_XFER_NONE, nullptr, 0);
    iscsi_logout_sync(context);
    iscsi_destroy_context(context);
    return ok;
}

}  // namespace
#endif

int main()
{
#ifndef TAPEDIAG_HAVE_LIBISCSI
    std::printf("this build has no libiscsi: nothing to measure\n");
    return 1;
#else
    CTarget target;
    if (target.Url().empty()) {
        std::printf("tgt cannot start here (it needs root): nothing to measure\n");
        return 1;
    }
    // The bare loop runs before and after the test, and counts with the
    // mean of both, so that a drift of the machine weighs on both sides.
    double write[2] = {}, read[2] = {}, bareCpu[2] = {};
    if (!BareLoop(target.Url(), write[0], read[0], bareCpu[0])) {
        std::printf("the bare libiscsi loop failed\n");
        return 1;
    }
    const CRate diagnostic = DiagnosticRate(target.Url());
    if (!BareLoop(target.Url(), write[1], read[1], bareCpu[1])) {
        std::printf("the bare libiscsi loop failed\n");
        return 1;
    }
    double bare = 0;
    for (int i = 0; i < 2; ++i)
        bare += 0.5 * 2.0 * SIZE_MIB / (SIZE_MIB / write[i] + SIZE_MIB / read[i]);
    const double ratio = bare > 0 ? diagnostic.mibPerSecond / bare : 0;

    std::printf("tgt target %s, tape image in /dev/shm, 64 KiB blocks, one command at a time\n", target.Url().c_str());
    std::printf("rwtest -ts:%ld through the iSCSI backend: %.0f MiB/s (written plus read), %.3f ms CPU per command\n",
                SIZE_MIB, diagnostic.mibPerSecond, diagnostic.cpuMsPerCommand);
    std::printf("bare libiscsi loop, same blocks: %.0f MiB/s (before: write %.0f, read %.0f; after: write %.0f, read "
                "%.0f), %.3f ms CPU per command\n",
                bare, write[0], read[0], write[1], read[1], 0.5 * (bareCpu[0] + bareCpu[1]));
    std::printf("ratio: %.2f (goal: at least 0.80)\n", ratio);
    const bool met = ratio >= 0.8;
    std::printf("%s\n", met ? "goal met" : "GOAL NOT MET");
    return met ? 0 : 1;
#endif
}
