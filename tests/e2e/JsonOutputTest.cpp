// -json from the command line: standard output is one document, valid
// against tapediag-output.schema.json, carrying the verdicts, the decoded
// pages and the sense in the library's words.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ControllerRun.h"
#include "TapediagRun.h"

namespace {

using nlohmann::json;

const std::string SCHEMA = std::string(TAPEDIAG_SOURCE_DIR) + "/schema/tapediag-output.schema.json";

struct JsonRun {
    int status;
    std::string text;
    json document;
};

JsonRun RunJson(std::vector<std::string> args)
{
    args.push_back("-json");
    args.push_back("-nr");
    ChildProcess tapediag(TAPEDIAG_BIN, args);
    JsonRun run{tapediag.Finish(), tapediag.Output(), nullptr};
    run.document = json::parse(run.text, nullptr, false);
    return run;
}

// Every document, checked against the schema by python3-jsonschema.
void ExpectValid(const std::vector<JsonRun>& runs)
{
    CScratchDirectory scratch;
    std::vector<std::string> args{TAPEDIAG_SOURCE_DIR "/tests/e2e/validate_json.py", SCHEMA};
    for (size_t i = 0; i < runs.size(); ++i) {
        args.push_back(scratch.path + "/" + std::to_string(i) + ".json");
        std::ofstream(args.back()) << runs[i].text;
    }
    ChildProcess validator("/usr/bin/python3", args);
    EXPECT_EQ(validator.Finish(), 0) << validator.Output() << validator.Errors();
}

json Page(const json& pages, unsigned code)
{
    for (const json& page : pages) {
        if (page["page"] == code)
            return page;
    }
    return nullptr;
}

TEST(JsonOutput, EveryCommandGivesOneValidDocument)
{
    const JsonRun health =
        RunJson({"health", "-dev:sim:ultrium,cleaning-required", "-dev:sim:dds4,nocart,log-fail=0c"});
    const JsonRun show = RunJson({"show", "-dev:sim:ultrium", "-dev:sim:crt8000n"});
    const JsonRun logpages = RunJson({"logpages", "-dev:sim:ultrium,tapealert=20,log-fail=31", "-id:x"});
    const JsonRun rwtest = RunJson({"rwtest", "-dev:sim:ultrium,write-error=3", "-id:x", "-ts:5"});
    const JsonRun unselected = RunJson({"etest", "-dev:sim:ultrium"});
    for (const JsonRun* run : {&health, &show, &logpages, &rwtest, &unselected})
        ASSERT_FALSE(run->document.is_discarded()) << run->text;
    ExpectValid({health, show, logpages, rwtest, unselected});

    EXPECT_EQ(health.status, 0);
    EXPECT_EQ(health.document["status"], "failure");
    EXPECT_TRUE(health.document["drive"].is_null()) << "two drives were checked";
    const json& cleaning = health.document["health"][0];
    EXPECT_EQ(cleaning["drive_verdict"]["status"], "NEEDS CLEANING");
    EXPECT_EQ(cleaning["tapealert"], json::parse(R"([{"flag":20,"name":"Cleaning required","severity":"critical"}])"));
    const json& empty = health.document["health"][1];
    EXPECT_EQ(empty["cartridge_verdict"]["status"], "NONE");
    EXPECT_EQ(empty["not_ready_sense"]["asc_text"], "Medium not present");
    const json failed = Page(empty["pages"], 0x0C);
    EXPECT_EQ(failed["status"], "failed");
    EXPECT_EQ(failed["sense"]["key_text"], "Hardware Error");
    EXPECT_EQ(failed["sense"]["asc_text"], "Internal target failure");
    EXPECT_EQ(Page(empty["pages"], 0x0D)["status"], "not supported");

    EXPECT_EQ(show.document["drives"].size(), 2u);
    EXPECT_EQ(show.document["drives"][1]["model"], "CORVANE CRT8000N");

    const json& pages = logpages.document["log_pages"];
    EXPECT_EQ(Page(pages, 0)["supported_pages"], json::parse("[0,2,3,12,13,46,49]"));
    const json tapeAlert = Page(pages, 0x2E)["parameters"][19];
    EXPECT_EQ(tapeAlert, json::parse(R"({"code":20,"name":"Cleaning required","value":1})"));
    EXPECT_EQ(Page(pages, 0x31)["sense"]["ascq"], 0);
    EXPECT_EQ(logpages.document["drive"]["serial"], "HU1234567890");

    EXPECT_EQ(rwtest.document["status"], "failure");
    const json& lines = rwtest.document["output"];
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Failure on: Write Data to Drive."), lines.end()) << lines;

    EXPECT_EQ(unselected.document["drive"], nullptr);
    EXPECT_EQ(unselected.document["output"].back(), "Unable to find the associated drive with the address given.");
}

}  // namespace
