#include "DriveSetup.h"

#include <cstdio>

namespace {

const uint32_t DEFAULT_BECOMING_READY = 1000000;
const uint64_t MAX_CAPACITY_MEGABYTES = 1ull << 30;  // 1 PiB
const uint32_t MAX_BLOCK_SIZE = 0xFFFFFF;            // 24-bit block length
const uint32_t MAX_SLOW_SECONDS = 86400;             // one day
const uint32_t TRACE_HEADER_LENGTH = 88;             // the length is in its bytes 84-87
const uint32_t MAX_TRACE_BLOCK = 1023;               // a 24-bit offset reaches 1024 blocks
const size_t MAX_FIRMWARE_TEXT = 18;                 // bytes 30-47 of page C0h
const unsigned char MAX_SPEED_CODE = 0x0F;
const uint32_t DEFAULT_RESET_INQUIRIES = 3;

enum EValueKind { VALUE_NONE, VALUE_REQUIRED, VALUE_OPTIONAL };

typedef bool (*CFaultApply)(const std::string& value, bool hasValue, const CDriveModel& model, CDriveFaults& faults,
                            std::string& error);

struct CFaultDefinition {
    const char* name;
    EValueKind valueKind;
    bool repeatable;
    const char* usage;
    const char* effect;
    CFaultApply apply;
};

bool ParseDecimal(const std::string& text, uint64_t maximum, uint64_t& value)
{
    if (text.empty() || text.size() > 20) {
        return false;
    }
    uint64_t result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (result > (maximum - digit) / 10) {
            return false;
        }
        result = result * 10 + digit;
    }
    value = result;
    return true;
}

bool ParseOpcode(const std::string& text, unsigned char& opcode)
{
    if (text.empty() || text.size() > 2) {
        return false;
    }
    unsigned value = 0;
    for (char c : text) {
        value <<= 4;
        if (c >= '0' && c <= '9') {
            value |= static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            value |= static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            value |= static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
    }
    opcode = static_cast<unsigned char>(value);
    return true;
}

bool BadValue(const char* name, const std::string& value, const char* expected, std::string& error)
{
    error = std::string("fault '") + name + "': bad value '" + value + "', expected " + expected;
    return false;
}

bool Decimal32(const char* name, const std::string& value, uint32_t& out, std::string& error)
{
    uint64_t parsed;
    if (!ParseDecimal(value, 0xFFFFFFFFu, parsed)) {
        return BadValue(name, value, "a decimal number 0-4294967295", error);
    }
    out = static_cast<uint32_t>(parsed);
    return true;
}

bool Record(const char* name, const std::string& value, std::vector<uint32_t>& out, std::string& error)
{
    uint32_t record;
    if (!Decimal32(name, value, record, error)) {
        return false;
    }
    out.push_back(record);
    return true;
}

// "XX", "XX@N" or "XX@N-M".
bool ParseFailRule(const std::string& value, CFailRule& rule, std::string& error)
{
    const char* expected = "XX, XX@N or XX@N-M (XX hex operation code, N and M from 1)";
    const size_t at = value.find('@');
    if (!ParseOpcode(value.substr(0, at), rule.opcode)) {
        return BadValue("fail", value, expected, error);
    }
    rule.first = 1;
    rule.last = UINT64_MAX;
    if (at == std::string::npos) {
        return true;
    }
    const std::string range = value.substr(at + 1);
    const size_t dash = range.find('-');
    if (!ParseDecimal(range.substr(0, dash), UINT32_MAX, rule.first) || rule.first == 0) {
        return BadValue("fail", value, expected, error);
    }
    rule.last = rule.first;
    if (dash != std::string::npos &&
        (!ParseDecimal(range.substr(dash + 1), UINT32_MAX, rule.last) || rule.last < rule.first)) {
        return BadValue("fail", value, expected, error);
    }
    return true;
}

// "" (at power-on), "XX" or "XX@N".
bool ParseResetRule(const std::string& value, bool has, CResetRule& rule, std::string& error)
{
    rule = CResetRule{0, 0};
    if (!has) {
        return true;
    }
    const char* expected = "XX or XX@N (XX hex operation code, N from 1), or nothing for power-on";
    const size_t at = value.find('@');
    rule.count = 1;
    if (!ParseOpcode(value.substr(0, at), rule.opcode) ||
        (at != std::string::npos && (!ParseDecimal(value.substr(at + 1), UINT32_MAX, rule.count) || rule.count == 0))) {
        return BadValue("reset", value, expected, error);
    }
    return true;
}

// "XX:SECONDS", at most once per operation code.
bool AddSlowRule(const std::string& value, std::vector<CSlowRule>& rules, std::string& error)
{
    const char* expected = "XX:SECONDS (XX hex operation code, SECONDS 0-86400)";
    const size_t colon = value.find(':');
    CSlowRule rule;
    uint64_t seconds;
    if (colon == std::string::npos || !ParseOpcode(value.substr(0, colon), rule.opcode) ||
        !ParseDecimal(value.substr(colon + 1), MAX_SLOW_SECONDS, seconds)) {
        return BadValue("slow", value, expected, error);
    }
    for (const CSlowRule& other : rules) {
        if (other.opcode == rule.opcode) {
            error = "fault 'slow' given twice for operation code " + value.substr(0, colon);
            return false;
        }
    }
    rule.seconds = static_cast<uint32_t>(seconds);
    rules.push_back(rule);
    return true;
}

// "XX:SS", at most once per operation code; SS is a status that comes
// without sense data.
bool AddStatusRule(const std::string& value, std::vector<CStatusRule>& rules, std::string& error)
{
    const char* expected = "XX:SS (XX hex operation code, SS 08 busy, 18 reservation conflict or 28 task set full)";
    const size_t colon = value.find(':');
    CStatusRule rule;
    if (colon == std::string::npos || !ParseOpcode(value.substr(0, colon), rule.opcode) ||
        !ParseOpcode(value.substr(colon + 1), rule.status) ||
        (rule.status != BUSY_STATUS && rule.status != RESERVATION_CONFLICT_STATUS &&
         rule.status != TASK_SET_FULL_STATUS)) {
        return BadValue("status", value, expected, error);
    }
    for (const CStatusRule& other : rules) {
        if (other.opcode == rule.opcode) {
            error = "fault 'status' given twice for operation code " + value.substr(0, colon);
            return false;
        }
    }
    rules.push_back(rule);
    return true;
}

// "XX" or "XX:N" (N from 1); with `countRequired`, "XX:N" only and N may
// be 0. At most one rule per code.
bool AddCodeRule(const char* name, const std::string& value, bool countRequired, uint32_t maximum,
                 std::vector<CCodeFailRule>& rules, std::string& error)
{
    const char* expected = countRequired ? "XX:N (XX hex code, N decimal)" : "XX or XX:N (XX hex code, N from 1)";
    const size_t colon = value.find(':');
    CCodeFailRule rule = {0, 0};
    if (!ParseOpcode(value.substr(0, colon), rule.code) || (countRequired && colon == std::string::npos)) {
        return BadValue(name, value, expected, error);
    }
    if (colon != std::string::npos) {
        uint64_t count;
        if (!ParseDecimal(value.substr(colon + 1), maximum, count) || (!countRequired && count == 0)) {
            return BadValue(name, value, expected, error);
        }
        rule.times = static_cast<uint32_t>(count);
    }
    for (const CCodeFailRule& other : rules) {
        if (other.code == rule.code) {
            error = std::string("fault '") + name + "' given twice for code " + value.substr(0, colon);
            return false;
        }
    }
    rules.push_back(rule);
    return true;
}

// "KK/AA/QQ", three hex bytes.
bool ParseSenseTriple(const std::string& value, CSenseTriple& sense)
{
    if (value.size() != 8 || value[2] != '/' || value[5] != '/') {
        return false;
    }
    return ParseOpcode(value.substr(0, 2), sense.key) && ParseOpcode(value.substr(3, 2), sense.asc) &&
           ParseOpcode(value.substr(6, 2), sense.ascq);
}

// Printable, no blank: it stands in a page as it is given.
bool IsFirmwareText(const std::string& text)
{
    if (text.empty() || text.size() > MAX_FIRMWARE_TEXT) {
        return false;
    }
    for (char c : text) {
        if (c <= ' ' || c > '~') {
            return false;
        }
    }
    return true;
}

bool TakesDownload(const char* name, const CDriveModel& model, std::string& error)
{
    if (model.microcode.family == nullptr) {
        error = std::string("fault '") + name + "' applies to models that take a firmware download, not '" +
                model.name + "'";
        return false;
    }
    return true;
}

// A fault about a log page needs a model that has the page.
bool HasLogPage(const char* name, const CDriveModel& model, unsigned char page, std::string& error)
{
    if (!model.logPages.Has(page)) {
        char code[8];
        std::snprintf(code, sizeof(code), "%02Xh", page);
        error =
            std::string("fault '") + name + "' applies to models with log page " + code + ", not '" + model.name + "'";
        return false;
    }
    return true;
}

// "N[:N...]", TapeAlert flags 1-64.
bool ParseTapeAlerts(const std::string& value, uint64_t& flags, std::string& error)
{
    size_t start = 0;
    for (;;) {
        const size_t colon = value.find(':', start);
        uint64_t flag;
        if (!ParseDecimal(value.substr(start, colon - start), TAPE_ALERT_FLAG_COUNT, flag) || flag == 0) {
            return BadValue("tapealert", value, "N[:N...] (TapeAlert flags 1-64)", error);
        }
        flags |= uint64_t(1) << (flag - 1);
        if (colon == std::string::npos) {
            return true;
        }
        start = colon + 1;
    }
}

// "PP:CCCC:N": error counter page 02 or 03, parameter 0000-0006 (8008 on
// models that count vendor errors), value N.
bool AddCounterPreset(const std::string& value, const CDriveModel& model, std::vector<CCounterPreset>& presets,
                      std::string& error)
{
    const char* expected = "PP:CCCC:N (page 02 or 03, parameter 0000-0006 or 8008 on DAT models, N decimal)";
    const size_t first = value.find(':');
    const size_t second = first == std::string::npos ? first : value.find(':', first + 1);
    unsigned char page = 0, high = 0, low = 0;
    CCounterPreset preset = {};
    const std::string parameter = second == std::string::npos ? "" : value.substr(first + 1, second - first - 1);
    if (second == std::string::npos || !ParseOpcode(value.substr(0, first), page) || parameter.size() != 4 ||
        !ParseOpcode(parameter.substr(0, 2), high) || !ParseOpcode(parameter.substr(2), low) ||
        !ParseDecimal(value.substr(second + 1), UINT64_MAX, preset.value)) {
        return BadValue("counter", value, expected, error);
    }
    preset.page = page;
    preset.parameter = (uint32_t(high) << 8) | low;
    const bool counterPage = page == LOG_PAGE_WRITE_ERRORS || page == LOG_PAGE_READ_ERRORS;
    const bool known = preset.parameter <= ERROR_COUNTER_TOTAL_UNCORRECTED ||
                       (preset.parameter == ERROR_COUNTER_VENDOR_DAT && model.counters.vendorParameter);
    if (!counterPage || !known) {
        return BadValue("counter", value, expected, error);
    }
    presets.push_back(preset);
    return true;
}

// save-fail, save-reset and restart each say what saving new firmware does.
bool OneSaveFault(const char* name, const CDriveModel& model, CDriveFaults& faults, std::string& error)
{
    if (!TakesDownload(name, model, error)) {
        return false;
    }
    if (faults.saveFault != nullptr) {
        error = std::string("faults '") + faults.saveFault + "' and '" + name + "' exclude each other";
        return false;
    }
    faults.saveFault = name;
    return true;
}

// clang-format off
const CFaultDefinition kFaults[] = {
    {"nocart", VALUE_NONE, false, "nocart",
     "no cartridge: TEST UNIT READY, LOAD and every medium command answer 02/3A/00",
     [](const std::string&, bool, const CDriveModel&, CDriveFaults& f, std::string&) {
         f.noCartridge = true;
         return true;
     }},
    {"becoming-ready", VALUE_OPTIONAL, false, "becoming-ready[=N]",
     "the first N TEST UNIT READY (default 1000000) answer 02/04/01; medium commands too until then",
     [](const std::string& v, bool has, const CDriveModel&, CDriveFaults& f, std::string& e) {
         f.becomingReady = DEFAULT_BECOMING_READY;
         return !has || Decimal32("becoming-ready", v, f.becomingReady, e);
     }},
    {"write-protected", VALUE_NONE, false, "write-protected",
     "cartridge write-protected: WP bit in the mode header, writes answer 07/27/00",
     [](const std::string&, bool, const CDriveModel&, CDriveFaults& f, std::string&) {
         f.writeProtected = true;
         return true;
     }},
    {"wrong-cartridge", VALUE_NONE, false, "wrong-cartridge",
     "cartridge this drive cannot write: Travan page 2Ah byte 4 bit 0 set, writes answer 07/30/05",
     [](const std::string&, bool, const CDriveModel&, CDriveFaults& f, std::string&) {
         f.wrongCartridge = true;
         return true;
     }},
    {"capacity", VALUE_REQUIRED, false, "capacity=MB",
     "cartridge capacity in MB of 1048576 bytes (default 100000); writing past it answers EOM 00/00/02",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         if (!ParseDecimal(v, MAX_CAPACITY_MEGABYTES, f.capacityMegabytes)) {
             return BadValue("capacity", v, "a decimal number of megabytes 0-1073741824", e);
         }
         return true;
     }},
    {"write-error", VALUE_REQUIRED, true, "write-error=N",
     "writing record N (0-based from the beginning) answers 03/0C/00",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         return Record("write-error", v, f.writeErrorRecords, e);
     }},
    {"read-error", VALUE_REQUIRED, true, "read-error=N",
     "reading record N (0-based from the beginning) answers 03/11/00",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         return Record("read-error", v, f.readErrorRecords, e);
     }},
    {"bad-data", VALUE_REQUIRED, true, "bad-data=N",
     "record N reads back with one byte altered and no error",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         return Record("bad-data", v, f.badDataRecords, e);
     }},
    {"read-corrected", VALUE_REQUIRED, false, "read-corrected=N",
     "log page 03h parameter 0000h (and 0003h) grows by N at the first READ after a reset",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         return Decimal32("read-corrected", v, f.readCorrected, e);
     }},
    {"read-delayed", VALUE_REQUIRED, false, "read-delayed=N",
     "log page 03h parameter 0001h (and 0003h) grows by N at the first READ after a reset",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         return Decimal32("read-delayed", v, f.readDelayed, e);
     }},
    {"read-uncorrected", VALUE_REQUIRED, false, "read-uncorrected=N",
     "log page 03h parameter 0006h grows by N at the first READ after a reset",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         return Decimal32("read-uncorrected", v, f.readUncorrected, e);
     }},
    {"write-uncorrected", VALUE_REQUIRED, false, "write-uncorrected=N",
     "log page 02h parameter 0006h grows by N at the first WRITE after a reset",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         return Decimal32("write-uncorrected", v, f.writeUncorrected, e);
     }},
    {"dat-errors", VALUE_REQUIRED, false, "dat-errors=N",
     "DAT models only: log page 03h parameter 8008h grows by N at the first READ after a reset",
     [](const std::string& v, bool, const CDriveModel& m, CDriveFaults& f, std::string& e) {
         if (!m.counters.vendorParameter) {
             e = std::string("fault 'dat-errors' applies to DAT models only, not '") + m.name + "'";
             return false;
         }
         return Decimal32("dat-errors", v, f.datErrors, e);
     }},
    {"fixed", VALUE_REQUIRED, false, "fixed=SIZE",
     "starts in fixed block mode with blocks of SIZE bytes (1-16777215)",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         uint64_t size;
         if (!ParseDecimal(v, MAX_BLOCK_SIZE, size) || size == 0) {
             return BadValue("fixed", v, "a block size 1-16777215", e);
         }
         f.fixedBlockSize = static_cast<uint32_t>(size);
         return true;
     }},
    {"compression-off", VALUE_NONE, false, "compression-off",
     "data compression (DCE) starts cleared",
     [](const std::string&, bool, const CDriveModel&, CDriveFaults& f, std::string&) {
         f.compressionOff = true;
         return true;
     }},
    {"compression-locked", VALUE_NONE, false, "compression-locked",
     "MODE SELECT of page 0Fh answers 05/26/00",
     [](const std::string&, bool, const CDriveModel&, CDriveFaults& f, std::string&) {
         f.compressionLocked = true;
         return true;
     }},
    {"saveable-pages", VALUE_NONE, false, "saveable-pages",
     "MODE SENSE reports PS (byte 0 bit 7) on every page, as a drive that can save its pages does",
     [](const std::string&, bool, const CDriveModel&, CDriveFaults& f, std::string&) {
         f.saveablePages = true;
         return true;
     }},
    {"unsupported", VALUE_REQUIRED, true, "unsupported=XX",
     "operation code XX (hex) answers 05/20/00",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         unsigned char opcode;
         if (!ParseOpcode(v, opcode)) {
             return BadValue("unsupported", v, "a hex operation code 00-ff", e);
         }
         f.unsupported.set(opcode);
         return true;
     }},
    {"fail", VALUE_REQUIRED, true, "fail=XX[@N[-M]]",
     "commands with operation code XX (hex) answer 04/44/00: all, the Nth, or the Nth to Mth",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         CFailRule rule;
         if (!ParseFailRule(v, rule, e)) {
             return false;
         }
         f.failRules.push_back(rule);
         return true;
     }},
    {"slow", VALUE_REQUIRED, true, "slow=XX:SECONDS",
     "every command with operation code XX (hex) takes SECONDS (0-86400) before it is answered",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         return AddSlowRule(v, f.slowRules, e);
     }},
    {"reset", VALUE_OPTIONAL, false, "reset[=XX[@N]]",
     "the drive resets at power-on, or once it has answered the Nth (default first) command with operation code XX "
     "(hex): the tape goes back to its beginning, and the next command but INQUIRY, REQUEST SENSE and REPORT LUNS "
     "answers 06/29/00",
     [](const std::string& v, bool has, const CDriveModel&, CDriveFaults& f, std::string& e) {
         f.resets = true;
         return ParseResetRule(v, has, f.reset, e);
     }},
    {"status", VALUE_REQUIRED, true, "status=XX:SS",
     "every command with operation code XX (hex) is turned away with status SS (08 busy, 18 reservation "
     "conflict, 28 task set full) and no sense data",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         return AddStatusRule(v, f.statusRules, e);
     }},
    {"no-vpd", VALUE_NONE, false, "no-vpd",
     "INQUIRY with EVPD=1 answers 05/24/00 (no serial number)",
     [](const std::string&, bool, const CDriveModel&, CDriveFaults& f, std::string&) {
         f.noVpd = true;
         return true;
     }},
    {"vpd-fail", VALUE_REQUIRED, false, "vpd-fail=N",
     "the first N INQUIRY for VPD pages C0h/C1h answer 04/44/00",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         return Decimal32("vpd-fail", v, f.vpdFailures, e);
     }},
    {"selftest-fail", VALUE_NONE, false, "selftest-fail",
     "SEND DIAGNOSTIC answers 04/40/80",
     [](const std::string&, bool, const CDriveModel&, CDriveFaults& f, std::string&) {
         f.selftestFail = true;
         return true;
     }},
    {"log-fail", VALUE_REQUIRED, true, "log-fail=XX[:N]",
     "LOG SENSE of page XX (hex) answers 04/44/00: always, or the first N times",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         return AddCodeRule("log-fail", v, false, UINT32_MAX, f.logFailures, e);
     }},
    {"log-short", VALUE_REQUIRED, true, "log-short=XX:BYTES",
     "LOG SENSE of page XX (hex) transfers at most BYTES while its length field claims the whole page",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         return AddCodeRule("log-short", v, true, 0xFFFF, f.logShortPages, e);
     }},
    {"buffer-fail", VALUE_REQUIRED, true, "buffer-fail=XX[:N]",
     "READ BUFFER of buffer XX (hex) answers 04/44/00: always, or the first N times",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         return AddCodeRule("buffer-fail", v, false, UINT32_MAX, f.bufferFailures, e);
     }},
    {"trace-block-fail", VALUE_REQUIRED, true, "trace-block-fail=N",
     "READ BUFFER of the trace at offset N x 16384 (N 0-1023) answers 04/44/00",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         uint64_t block;
         if (!ParseDecimal(v, MAX_TRACE_BLOCK, block)) {
             return BadValue("trace-block-fail", v, "a block number 0-1023", e);
         }
         f.traceBlockFailures.push_back(static_cast<uint32_t>(block));
         return true;
     }},
    {"trace-length", VALUE_REQUIRED, false, "trace-length=BYTES",
     "the trace buffer (07h) holds BYTES (0, or 88 and more: bytes 84-87 hold the length)",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         uint64_t length;
         if (!ParseDecimal(v, UINT32_MAX, length) || (length != 0 && length < TRACE_HEADER_LENGTH)) {
             return BadValue("trace-length", v, "0 or a length 88-4294967295", e);
         }
         f.hasTraceLength = true;
         f.traceLength = static_cast<uint32_t>(length);
         return true;
     }},
    {"firmware", VALUE_REQUIRED, false, "firmware=TEXT",
     "runs firmware TEXT (1-18 printable characters): first text of page C0h, INQUIRY revision its first 4",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         if (!IsFirmwareText(v)) {
             return BadValue("firmware", v, "1-18 printable characters without blanks", e);
         }
         f.firmware = v;
         return true;
     }},
    {"media-present", VALUE_REQUIRED, false, "media-present=KK/AA/QQ",
     "an unloaded cartridge stays in the drive: TEST UNIT READY and the park command answer KK/AA/QQ",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         if (!ParseSenseTriple(v, f.mediaPresent)) {
             return BadValue("media-present", v, "KK/AA/QQ (three hex bytes, as 02/3A/03)", e);
         }
         f.hasMediaPresent = true;
         return true;
     }},
    {"mode-sense-fail", VALUE_REQUIRED, true, "mode-sense-fail=XX[:N]",
     "MODE SENSE of page XX (hex) answers 04/44/00: always, or the first N times",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         return AddCodeRule("mode-sense-fail", v, false, UINT32_MAX, f.modeSenseFailures, e);
     }},
    {"mode-select-fail", VALUE_REQUIRED, true, "mode-select-fail=XX[:N]",
     "MODE SELECT holding page XX (hex) answers 04/44/00: always, or the first N times",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         return AddCodeRule("mode-select-fail", v, false, UINT32_MAX, f.modeSelectFailures, e);
     }},
    {"speed-code", VALUE_REQUIRED, false, "speed-code=N",
     "the mode header reports speed code N (0-15) at power-on, such as 1, which no speed setting names",
     [](const std::string& v, bool, const CDriveModel&, CDriveFaults& f, std::string& e) {
         uint64_t code;
         if (!ParseDecimal(v, MAX_SPEED_CODE, code)) {
             return BadValue("speed-code", v, "a speed code 0-15", e);
         }
         f.speedCode = static_cast<unsigned char>(code);
         return true;
     }},
    {"retension-fail", VALUE_NONE, false, "retension-fail",
     "LOAD with the retension bit answers 04/53/00 (media load or eject failed)",
     [](const std::string&, bool, const CDriveModel& m, CDriveFaults& f, std::string& e) {
         if (!m.retension) {
             e = std::string("fault 'retension-fail' applies to models that retension, not '") +
                 m.name + "'";
             return false;
         }
         f.retensionFail = true;
         return true;
     }},
    {"download-fail", VALUE_REQUIRED, false, "download-fail=N",
     "the Nth firmware download block (WRITE BUFFER mode 04h, from 1) answers 0B/47/00",
     [](const std::string& v, bool, const CDriveModel& m, CDriveFaults& f, std::string& e) {
         if (!TakesDownload("download-fail", m, e) ||
             !Decimal32("download-fail", v, f.downloadFailBlock, e)) {
             return false;
         }
         return f.downloadFailBlock != 0 || BadValue("download-fail", v, "a block number from 1", e);
     }},
    {"download-short", VALUE_REQUIRED, false, "download-short=N",
     "the Nth firmware download block (WRITE BUFFER mode 04h, from 1) takes half its data and answers GOOD",
     [](const std::string& v, bool, const CDriveModel& m, CDriveFaults& f, std::string& e) {
         if (!TakesDownload("download-short", m, e) ||
             !Decimal32("download-short", v, f.downloadShortBlock, e)) {
             return false;
         }
         return f.downloadShortBlock != 0 || BadValue("download-short", v, "a block number from 1", e);
     }},
    {"save-fail", VALUE_OPTIONAL, false, "save-fail[=SECONDS]",
     "saving downloaded firmware answers 04/44/00 after SECONDS (default 0); nothing is installed",
     [](const std::string& v, bool has, const CDriveModel& m, CDriveFaults& f, std::string& e) {
         if (!OneSaveFault("save-fail", m, f, e)) {
             return false;
         }
         f.save = SAVE_FAILS;
         uint64_t seconds = 0;
         if (has && !ParseDecimal(v, MAX_SLOW_SECONDS, seconds)) {
             return BadValue("save-fail", v, "SECONDS 0-86400", e);
         }
         f.saveSeconds = static_cast<uint32_t>(seconds);
         return true;
     }},
    {"save-reset", VALUE_OPTIONAL, false, "save-reset[=N]",
     "saving new firmware resets the drive: 06/29/00 after 15 s; it then starts the new firmware "
     "and answers 02/04/01 until it has refused N INQUIRY (default 3)",
     [](const std::string& v, bool has, const CDriveModel& m, CDriveFaults& f, std::string& e) {
         if (!OneSaveFault("save-reset", m, f, e)) {
             return false;
         }
         f.save = SAVE_RESETS;
         f.restartInquiries = DEFAULT_RESET_INQUIRIES;
         return !has || Decimal32("save-reset", v, f.restartInquiries, e);
     }},
    {"restart", VALUE_REQUIRED, false, "restart=N",
     "after saving new firmware the drive starts it and answers 02/04/01 until it has refused "
     "N INQUIRY",
     [](const std::string& v, bool, const CDriveModel& m, CDriveFaults& f, std::string& e) {
         return OneSaveFault("restart", m, f, e) && Decimal32("restart", v, f.restartInquiries, e);
     }},
    {"reset-attention", VALUE_REQUIRED, false, "reset-attention=N",
     "once new firmware starts, the drive answers its next N commands, INQUIRY included, with 06/29/00",
     [](const std::string& v, bool, const CDriveModel& m, CDriveFaults& f, std::string& e) {
         return TakesDownload("reset-attention", m, e) && Decimal32("reset-attention", v, f.resetAttentions, e);
     }},
    {"keeps-old-level", VALUE_NONE, false, "keeps-old-level",
     "saving new firmware succeeds, but the drive goes on running and reporting its old level",
     [](const std::string&, bool, const CDriveModel& m, CDriveFaults& f, std::string& e) {
         f.keepsOldLevel = true;
         return TakesDownload("keeps-old-level", m, e);
     }},
    {"autoloader", VALUE_NONE, false, "autoloader",
     "the drive sits in an autoloader: it has mode page 1Dh, first in the all-pages answer",
     [](const std::string&, bool, const CDriveModel& m, CDriveFaults& f, std::string& e) {
         if (m.deviceType != DEVICE_TYPE_TAPE) {
             e = std::string("fault 'autoloader' applies to tape drives, not '") + m.name + "'";
             return false;
         }
         f.autoloader = true;
         return true;
     }},
    {"oem", VALUE_NONE, false, "oem",
     "the drive runs OEM firmware: its firmware page C0h carries the OEM mark (-52 or -052)",
     [](const std::string&, bool, const CDriveModel& m, CDriveFaults& f, std::string& e) {
         f.oem = true;
         return TakesDownload("oem", m, e);
     }},
    {"tapealert", VALUE_REQUIRED, false, "tapealert=N[:N...]",
     "TapeAlert flags N (1-64) are raised at power-on; reading page 2Eh clears them",
     [](const std::string& v, bool, const CDriveModel& m, CDriveFaults& f, std::string& e) {
         return HasLogPage("tapealert", m, LOG_PAGE_TAPE_ALERT, e) && ParseTapeAlerts(v, f.tapeAlerts, e);
     }},
    {"cleaning-required", VALUE_NONE, false, "cleaning-required",
     "the drive needs cleaning: page 0Ch parameter 0100h is 1, and TapeAlert flag 20 is raised",
     [](const std::string&, bool, const CDriveModel& m, CDriveFaults& f, std::string& e) {
         f.cleaningRequired = true;
         return HasLogPage("cleaning-required", m, LOG_PAGE_SEQUENTIAL_ACCESS, e);
     }},
    {"temperature", VALUE_REQUIRED, false, "temperature=C",
     "page 0Dh reports the drive at C degrees Celsius (0-255; 255: cannot tell)",
     [](const std::string& v, bool, const CDriveModel& m, CDriveFaults& f, std::string& e) {
         uint64_t degrees;
         if (!ParseDecimal(v, 0xFF, degrees)) {
             return BadValue("temperature", v, "degrees Celsius 0-255", e);
         }
         f.hasTemperature = true;
         f.temperature = static_cast<unsigned char>(degrees);
         return HasLogPage("temperature", m, LOG_PAGE_TEMPERATURE, e);
     }},
    {"counter", VALUE_REQUIRED, true, "counter=PP:CCCC:N",
     "error counter page PP (02 or 03), parameter CCCC (hex) holds N at power-on",
     [](const std::string& v, bool, const CDriveModel& m, CDriveFaults& f, std::string& e) {
         return AddCounterPreset(v, m, f.counterPresets, e);
     }},
    {"no-log-page", VALUE_REQUIRED, true, "no-log-page=XX",
     "the drive lacks log page XX (hex) of its model: it is neither listed nor answered",
     [](const std::string& v, bool, const CDriveModel& m, CDriveFaults& f, std::string& e) {
         unsigned char page;
         if (!ParseOpcode(v, page) || page == LOG_PAGE_SUPPORTED || !m.logPages.Has(page)) {
             return BadValue("no-log-page", v, "a log page of the model other than 00", e);
         }
         f.missingLogPages.Add(page);
         return true;
     }},
    {"selftest-log", VALUE_NONE, false, "selftest-log",
     "the drive keeps the results of its self-tests (SEND DIAGNOSTIC) in log page 10h",
     [](const std::string&, bool, const CDriveModel& m, CDriveFaults& f, std::string& e) {
         if (m.deviceType != DEVICE_TYPE_TAPE) {
             e = std::string("fault 'selftest-log' applies to tape drives, not '") + m.name + "'";
             return false;
         }
         f.selftestLog = true;
         return true;
     }},
};
// clang-format on

const size_t FAULT_COUNT = sizeof(kFaults) / sizeof(kFaults[0]);

std::string ModelNames()
{
    size_t count;
    const CDriveModel* models = DriveModels(count);
    std::string names;
    for (size_t i = 0; i < count; ++i) {
        names += (i ? ", " : "") + std::string(models[i].name);
    }
    return names;
}

}  // namespace

bool ParseDriveSetup(const std::string& text, CDriveSetup& setup, std::string& error)
{
    setup = CDriveSetup();
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        items.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }

    setup.model = FindDriveModel(items[0]);
    if (setup.model == nullptr) {
        error = "unknown drive model '" + items[0] + "' (models: " + ModelNames() + ")";
        return false;
    }

    bool seen[FAULT_COUNT] = {};
    for (size_t i = 1; i < items.size(); ++i) {
        const std::string& item = items[i];
        if (item.empty()) {
            error = "empty fault in '" + text + "'";
            return false;
        }
        const size_t equals = item.find('=');
        const std::string name = item.substr(0, equals);
        const bool hasValue = equals != std::string::npos;
        const std::string value = hasValue ? item.substr(equals + 1) : std::string();

        size_t index = 0;
        while (index < FAULT_COUNT && name != kFaults[index].name) {
            ++index;
        }
        if (index == FAULT_COUNT) {
            error = "unknown fault '" + name + "' (see the list of faults)";
            return false;
        }
        const CFaultDefinition& fault = kFaults[index];
        if (hasValue && fault.valueKind == VALUE_NONE) {
            error = "fault '" + name + "' takes no value";
            return false;
        }
        if (!hasValue && fault.valueKind == VALUE_REQUIRED) {
            error = std::string("fault '") + name + "' needs a value: " + fault.usage;
            return false;
        }
        if (seen[index] && !fault.repeatable) {
            error = "fault '" + name + "' given twice";
            return false;
        }
        seen[index] = true;
        if (!fault.apply(value, hasValue, *setup.model, setup.faults, error)) {
            return false;
        }
    }
    error.clear();
    return true;
}

std::string DriveCatalogue()
{
    std::string text = "models:\n";
    size_t count;
    const CDriveModel* models = DriveModels(count);
    char line[160];
    for (size_t i = 0; i < count; ++i) {
        const CDriveModel& m = models[i];
        std::snprintf(line, sizeof(line), "  %-11s %-8s %-16s %-4s  %s\n", m.name, m.identity.vendor,
                      m.identity.product, m.identity.revision, m.description);
        text += line;
    }
    text += "faults (after the model, comma-separated):\n";
    for (const CFaultDefinition& fault : kFaults) {
        std::snprintf(line, sizeof(line), "  %-20s ", fault.usage);
        text += line;
        text += fault.effect;
        text += "\n";
    }
    return text;
}
