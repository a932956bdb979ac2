// Benchmark of the health check on eight virtual drives.
//
// Prints the time of (a) `tapediag health` over eight virtual drives (four
// Ultrium, four DDS4) as a process, from start to exit, and (b) the same
// command inside this process, discovery included, each the best of ten
// runs. Goal: (a) under 100 ms. Exit status 0 when it is met.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "Application.h"
#include "Utility.h"

namespace {

const int RUNS = 10;
const double GOAL_MS = 100.0;
const char* const DEVICES[] = {
    "sim:ultrium", "sim:ultrium,cleaning-required", "sim:ultrium,tapealert=4:30", "sim:ultrium,nocart",
    "sim:dds4",    "sim:dds4,counter=03:0006:2",    "sim:dds4,tapealert=26",      "sim:dds4,no-log-page=0c"};

double Milliseconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double ProcessRun()
{
    std::vector<std::string> args = {TAPEDIAG_BIN, "health", "-nr"};
    for (const char* device : DEVICES)
        args.push_back(std::string("-dev:") + device);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return Milliseconds(start);
}

double InProcessRun()
{
    CApplication app;
    CUtility utility(&app);
    std::string line = "health; -nov:;";
    for (const char* device : DEVICES)
        line += std::string(" -dev:") + device + ";";
    if (!utility.SetParameters(line.c_str()))
        return 1e9;
    const auto start = std::chrono::steady_clock::now();
    app.RunAppl();
    const double elapsed = Milliseconds(start);
    // Each drive's verdicts are in the report: all eight were checked.
    return app.Report().health.size() == sizeof DEVICES / sizeof DEVICES[0] ? elapsed : 1e9;
}

double Best(double (*run)())
{
    double best = 1e9;
    for (int i = 0; i < RUNS; ++i)
        best = std::min(best, run());
    return best;
}

}  // namespace

int main()
{
    const double process = Best(ProcessRun);
    const double inProcess = Best(InProcessRun);
    std::printf("health, 8 virtual drives, as a process:  %8.2f ms (goal: under %.0f ms)\n", process, GOAL_MS);
    std::printf("health, 8 virtual drives, in process:    %8.2f ms\n", inProcess);
    return process < GOAL_MS ? 0 : 1;
}
