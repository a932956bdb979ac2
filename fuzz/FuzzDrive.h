// A virtual drive behind the real command layer and engine, whose answers
// to chosen operation codes come from the fuzz input instead: a target runs
// a real command line and checks what the program made of those answers.
// Every command is recorded with the data it carried; the clock is a fake,
// so the engine's pauses and retries cost nothing.
#ifndef TAPEDIAG_FUZZ_FUZZDRIVE_H
#define TAPEDIAG_FUZZ_FUZZDRIVE_H

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "Application.h"
#include "FakeClock.h"
#include "FuzzCheck.h"
#include "LinuxDriveManager.h"
#include "SimPassThrough.h"
#include "Utility.h"

// One command as the drive saw it, and what it answered.
struct CFuzzCommand {
    std::vector<unsigned char> cdb;
    std::vector<unsigned char> dataOut;  // what a data-out command carried
    std::vector<unsigned char> dataIn;   // what a data-in command got back
    bool fromInput;                      // answered from the fuzz input
    bool completed;
    unsigned char status;
    std::vector<unsigned char> sense;  // as the device sent it
};

// Answers the chosen operation codes from the input, one answer per
// command: a flag byte (bit 0: not completed; bits 1-2: GOOD, CHECK
// CONDITION, BUSY or a status byte of its own), a sense length and the
// sense data, a two-byte data length and the data. An input used up answers
// GOOD with no data.
class CAnsweringPassThrough : public CPassThrough {
public:
    CAnsweringPassThrough(std::unique_ptr<CPassThrough> drive, std::vector<CFuzzCommand>& log)
        : m_drive(std::move(drive)), m_log(log)
    {}
    void AnswerFrom(FuzzInput* input, std::set<unsigned char> opcodes)
    {
        m_input = input;
        m_opcodes = std::move(opcodes);
    }

protected:
    CScsiResult Send(const CScsiRequest& request) override
    {
        CFuzzCommand command{{request.cdb, request.cdb + request.cdbLength}, {}, {}, false, true, GOOD_STATUS, {}};
        if (request.direction == SCSI_DIR_OUT && request.data != nullptr)
            command.dataOut.assign(request.data, request.data + request.dataLength);
        CScsiResult result;
        if (m_input != nullptr && m_opcodes.count(request.cdb[0]) != 0) {
            result = Answer(request);
            command.fromInput = true;
        } else {
            result = m_drive->Execute(request);
        }
        if (request.direction == SCSI_DIR_IN && request.data != nullptr && result.completed)
            command.dataIn.assign(request.data, request.data + result.transferred);
        command.completed = result.completed;
        command.status = result.status;
        command.sense.assign(result.sense, result.sense + result.senseLength);
        m_log.push_back(command);
        return result;
    }

private:
    CScsiResult Answer(const CScsiRequest& request)
    {
        static const unsigned char statuses[] = {GOOD_STATUS, CHECK_CONDITION_STATUS, 0x08};
        CScsiResult result = EmptyScsiResult();
        const uint8_t flags = m_input->Byte();
        result.completed = (flags & 1) == 0;
        result.failure = result.completed ? nullptr : "fuzzed";
        const int choice = (flags >> 1) & 3;
        result.status = choice < 3 ? statuses[choice] : m_input->Byte();
        result.senseLength = static_cast<int>(m_input->Take(result.sense, m_input->Byte() % 64));
        size_t length = m_input->Byte();
        length = (length << 8) | m_input->Byte();
        if (request.direction == SCSI_DIR_IN && request.data != nullptr && result.completed) {
            const size_t room = static_cast<size_t>(request.dataLength);
            result.transferred = static_cast<int>(m_input->Take(request.data, length < room ? length : room));
        }
        return result;
    }

    std::unique_ptr<CPassThrough> m_drive;
    std::vector<CFuzzCommand>& m_log;
    FuzzInput* m_input = nullptr;
    std::set<unsigned char> m_opcodes;
};

class CFuzzDrive {
public:
    // `device` is a virtual drive's text, "sim:MODEL[,FAULT...]".
    explicit CFuzzDrive(const char* device) : m_utility(&m_app)
    {
        CClock::Set(&m_clock);
        m_app.ClientServerConnection(true);  // a rejected line shows no help and waits for nothing
        DeviceOpenFunction open = [this](const char* text, CVString& error) {
            COpenedDevice opened;
            std::unique_ptr<CSimPassThrough> drive = CSimPassThrough::Open(text + 4, error);
            if (drive) {
                auto answering = std::make_unique<CAnsweringPassThrough>(std::move(drive), sent);
                m_device = answering.get();
                opened.device = std::move(answering);
            }
            return opened;
        };
        Captured(STDOUT_FILENO, [&] {
            m_app.AdoptDriveManager(new CLinuxDriveManager(m_app, {CVString(device)}, CHostPaths(), open));
        });
        FUZZ_CHECK(m_device != nullptr);
        directory = ScratchDirectory();
    }

    // Runs `line` (delimited form) with the answers to `opcodes` taken from
    // input; the command's result, its output in `output`.
    bool Run(const std::string& line, FuzzInput& input, std::set<unsigned char> opcodes, std::string& output)
    {
        sent.clear();
        m_device->AnswerFrom(&input, std::move(opcodes));
        bool result = false;
        output = Captured(STDOUT_FILENO, [&] { result = m_utility.SetParameters(line.c_str()) && m_app.RunAppl(); });
        m_device->AnswerFrom(nullptr, {});
        return result;
    }

    // Commands of one operation code, in the order sent.
    std::vector<CFuzzCommand> Sent(unsigned char opcode) const
    {
        std::vector<CFuzzCommand> matching;
        for (const CFuzzCommand& command : sent) {
            if (!command.cdb.empty() && command.cdb[0] == opcode)
                matching.push_back(command);
        }
        return matching;
    }

    std::vector<CFuzzCommand> sent;
    std::string directory;  // for the files of a command

private:
    CFakeClock m_clock;
    CApplication m_app;
    CUtility m_utility;
    CAnsweringPassThrough* m_device = nullptr;
};

// Whether `output` holds `line` as a whole line.
inline bool HasLine(const std::string& output, const std::string& line)
{
    return ("\n" + output).find("\n" + line + "\n") != std::string::npos;
}

#endif
