// The result of the drive's own self-test, as etest reads it: a virtual
// Ultrium drive whose answer to SEND DIAGNOSTIC (status and sense data in
// any format) comes from the input.
#include "FuzzDrive.h"

namespace {

CFuzzDrive& Drive()
{
    static CFuzzDrive* drive = new CFuzzDrive("sim:ultrium");
    return *drive;
}

std::string Catalogue(int id)
{
    CVString text;
    text.LdString(id);
    return static_cast<const char*>(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFuzzDrive& drive = Drive();
    FuzzInput input(data, size);
    std::string output;
    const bool passed = drive.Run("etest; -id:x;", input, {OP_SEND_DIAGNOSTIC}, output);
    const std::vector<CFuzzCommand> tests = drive.Sent(OP_SEND_DIAGNOSTIC);
    FUZZ_CHECK(tests.size() == 1);
    const CFuzzCommand& test = tests[0];
    // A drive that turned the test away (busy, reserved, its task set full)
    // gave no verdict, and none is said.
    const bool turnedAway =
        test.completed && (test.status == BUSY_STATUS || test.status == RESERVATION_CONFLICT_STATUS ||
                           test.status == TASK_SET_FULL_STATUS);
    if (turnedAway) {
        FUZZ_CHECK(!passed && HasLine(output, "Drive Diagnostic Test not run."));
        FUZZ_CHECK(!HasLine(output, Catalogue(CAT_DIAGNOSTIC_PASS)) &&
                   !HasLine(output, Catalogue(CAT_DIAGNOSTIC_FAIL)));
        return 0;
    }
    // Otherwise the verdict is said, and it is the drive's: never a pass for
    // a test that did not complete or ended with a status other than GOOD or
    // CHECK CONDITION.
    FUZZ_CHECK(HasLine(output, Catalogue(passed ? CAT_DIAGNOSTIC_PASS : CAT_DIAGNOSTIC_FAIL)));
    FUZZ_CHECK(!HasLine(output, Catalogue(passed ? CAT_DIAGNOSTIC_FAIL : CAT_DIAGNOSTIC_PASS)));
    if (!test.completed || (test.status != GOOD_STATUS && test.status != CHECK_CONDITION_STATUS))
        FUZZ_CHECK(!passed);
    if (test.completed && test.status == GOOD_STATUS && test.sense.empty())
        FUZZ_CHECK(passed);
    return 0;
}
