// Benchmark of the read/write test on a virtual drive.
//
// Prints (a) the megabytes moved per second (written plus read) by
// `rwtest -ts:2000` on a virtual Ultrium drive, (b) this machine's raw rate
// for the same bytes done as plain fill, copy and compare in one process,
// (c) the ratio a/b (goal: at least 0.5), and the peak memory of a
// `tapediag rwtest -ts:20000` process (goal: under 64 MiB).
// Exit status 0 when both goals are met.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "Application.h"
#include "Utility.h"

namespace {

const long BLOCK = 65536;
const long BLOCKS_PER_MB = 16;

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// MB per second moved by the read/write test of `megabytes` MB.
double TestRate(long megabytes)
{
    CApplication app;
    CUtility utility(&app);
    std::string line = "rwtest; -dev:sim:ultrium; -id:x; -nov:; -ts:" + std::to_string(megabytes) + ";";
    if (!utility.SetParameters(line.c_str()))
        return 0;
    auto start = std::chrono::steady_clock::now();
    bool ok = app.RunAppl();
    double seconds = Seconds(start);
    return ok ? 2.0 * megabytes / seconds : 0;
}

// The same bytes written and read back with nothing but memory operations:
// fill once, copy each block out and back, compare it, clear it.
double RawRate(long megabytes)
{
    std::unique_ptr<unsigned char[]> pattern(new unsigned char[BLOCK]);
    std::unique_ptr<unsigned char[]> medium(new unsigned char[BLOCK]);
    std::unique_ptr<unsigned char[]> block(new unsigned char[BLOCK]);
    for (long i = 0; i < BLOCK; ++i)
        pattern[i] = static_cast<unsigned char>(i);
    long blocks = megabytes * BLOCKS_PER_MB;
    long mismatches = 0;
    auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < blocks; ++i)
        std::memcpy(medium.get(), pattern.get(), BLOCK);
    for (long i = 0; i < blocks; ++i) {
        std::memcpy(block.get(), medium.get(), BLOCK);
        mismatches += std::memcmp(block.get(), pattern.get(), BLOCK) != 0;
        std::memset(block.get(), 0, BLOCK);
    }
    double seconds = Seconds(start);
    return mismatches == 0 ? 2.0 * megabytes / seconds : 0;
}

// Peak resident memory in MiB of one tapediag run, or -1.
double PeakMemory(long megabytes)
{
    pid_t pid = fork();
    if (pid == 0) {
        std::string size = "-ts:" + std::to_string(megabytes);
        execl(TAPEDIAG_BIN, "tapediag", "rwtest", "-dev:sim:ultrium", "-id:x", "-nov:", size.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage = {};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 1)
        return -1;
    return usage.ru_maxrss / 1024.0;
}

}  // namespace

int main()
{
    const long size = 2000;
    TestRate(200);  // warm up caches and the page pool
    double test = TestRate(size);
    double raw = RawRate(size);
    double ratio = raw > 0 ? test / raw : 0;
    double peak = PeakMemory(20000);

    std::printf("rwtest -ts:%ld on a virtual drive: %.0f MB/s (written plus read)\n", size, test);
    std::printf("raw fill+copy+compare, same bytes: %.0f MB/s\n", raw);
    std::printf("ratio: %.2f (goal: at least 0.50)\n", ratio);
    std::printf("peak memory of rwtest -ts:20000: %.1f MiB (goal: under 64 MiB)\n", peak);
    bool met = ratio >= 0.5 && peak > 0 && peak < 64.0;
    std::printf("%s\n", met ? "goals met" : "GOALS NOT MET");
    return met ? 0 : 1;
}
