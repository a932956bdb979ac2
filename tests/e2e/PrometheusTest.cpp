// health -prom: against the real monitoring engine: promtool accepts the
// file, and node_exporter's textfile collector, listening on loopback,
// serves its metrics with their values.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "ControllerRun.h"
#include "LoopbackPort.h"
#include "TapediagRun.h"

namespace {

// The body of GET /metrics from 127.0.0.1:port, or "" when nothing answers.
std::string Scrape(int port)
{
    const int connection = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    std::string reply;
    if (connect(connection, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (send(connection, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
            char buffer[65536];
            for (ssize_t count; (count = recv(connection, buffer, sizeof buffer, 0)) > 0;)
                reply.append(buffer, static_cast<size_t>(count));
        }
    }
    close(connection);
    const size_t body = reply.find("\r\n\r\n");
    return body == std::string::npos ? "" : reply.substr(body + 4);
}

using Labels = std::map<std::string, std::string>;

const Labels ULTRIUM = {{"device", "sim:ultrium,cleaning-required,temperature=41"},
                        {"address", "0:0:0"},
                        {"model", "TESSARA ULTRIUM 2"},
                        {"serial", "HU1234567890"}};
const Labels DDS4 = {
    {"device", "sim:dds4,tapealert=4"}, {"address", "0:1:0"}, {"model", "CORVANE DAT40 DDS4"}, {"serial", "DT12345"}};

// A sample as node_exporter serves it: labels in the order of their names.
std::string Sample(const std::string& name, Labels labels, const Labels& more, const std::string& value)
{
    labels.insert(more.begin(), more.end());
    std::string text = name;
    for (const auto& label : labels)
        text += (text == name ? "{" : ",") + label.first + "=\"" + label.second + "\"";
    return text + "} " + value;
}

TEST(Prometheus, NodeExporterServesWhatHealthWroteAndPromtoolAcceptsIt)
{
    CScratchDirectory textfiles;
    const std::string file = textfiles.path + "/tapediag.prom";
    TapediagRun run = RunTapediag({"health", "-dev:sim:ultrium,cleaning-required,temperature=41",
                                   "-dev:sim:dds4,tapealert=4", "-prom:" + file, "-nr"});
    EXPECT_EQ(run.status, 0) << "neither drive is OK";
    EXPECT_EQ(run.lines.back(), "Metrics written to " + file + ".");
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(textfiles.path))
        entries += entry.path() == file;
    EXPECT_EQ(entries, 1u) << "only the file itself, no temporary left";

    std::ifstream written(file);
    std::stringstream metrics;
    metrics << written.rdbuf();
    ChildProcess promtool("/usr/bin/promtool", {"check", "metrics"});
    ASSERT_TRUE(promtool.Started());
    promtool.Write(metrics.str());
    promtool.CloseStdin();
    EXPECT_EQ(promtool.Finish(), 0) << promtool.Output() << promtool.Errors();
    EXPECT_EQ(promtool.Output() + promtool.Errors(), "") << "no lint problems";

    const int port = FreeLoopbackPort();
    ASSERT_GT(port, 0);
    ChildProcess exporter("/usr/bin/prometheus-node-exporter",
                          {"--web.listen-address=127.0.0.1:" + std::to_string(port), "--collector.disable-defaults",
                           "--collector.textfile", "--collector.textfile.directory=" + textfiles.path});
    ASSERT_TRUE(exporter.Started());
    ASSERT_TRUE(exporter.WaitForError("Listening on", 30000)) << exporter.Errors();
    const std::string served = Scrape(port);
    exporter.Kill(SIGTERM);
    exporter.Finish();

    const std::string expected[] = {
        Sample("tapediag_drive_status", ULTRIUM, {{"status", "NEEDS CLEANING"}}, "1"),
        Sample("tapediag_drive_status", ULTRIUM, {{"status", "OK"}}, "0"),
        Sample("tapediag_cleaning_required", ULTRIUM, {}, "1"),
        Sample("tapediag_temperature_celsius", ULTRIUM, {}, "41"),
        Sample("tapediag_cartridge_status", DDS4, {{"status", "REPLACE"}}, "1"),
        Sample("tapediag_tapealert_flag", DDS4, {{"flag", "4"}, {"name", "Media"}, {"severity", "critical"}}, "1"),
        Sample("tapediag_errors_uncorrected_total", DDS4, {{"direction", "read"}}, "0"),
        "node_textfile_scrape_error 0",
    };
    for (const std::string& line : expected)
        EXPECT_NE(served.find(line + "\n"), std::string::npos) << line << "\nin:\n" << served;
}

}  // namespace
