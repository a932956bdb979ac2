// A pass-through that records every request and answers from a script, so
// that tests check the command layer byte for byte without a device.
#ifndef TAPEDIAG_TEST_RECORDINGPASSTHROUGH_H
#define TAPEDIAG_TEST_RECORDINGPASSTHROUGH_H

#include "PassThrough.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <iomanip>
#include <memory>
#include <ostream>
#include <vector>

typedef std::vector<unsigned char> CBytes;

struct CRecordedCommand {
    CBytes cdb;
    ScsiDirection direction;
    int dataLength;
    int timeoutSeconds;
    CBytes dataOut;  // what a data-out command sent
    CBytes dataIn;   // what a tapped device answered a data-in command with
};

// The record of one request, before it is answered.
inline CRecordedCommand Record(const CScsiRequest& request)
{
    CRecordedCommand command;
    command.cdb.assign(request.cdb, request.cdb + request.cdbLength);
    command.direction = request.direction;
    command.dataLength = request.dataLength;
    command.timeoutSeconds = request.timeoutSeconds;
    if (request.direction == SCSI_DIR_OUT && request.data != nullptr)
        command.dataOut.assign(request.data, request.data + request.dataLength);
    return command;
}

// What a test expects of one command, compared in one line:
// EXPECT_EQ(Shape(device.Last()), (CCmd{{0x01, 0, 0, 0, 0, 0}, SCSI_DIR_NONE, 0, 14000}));
struct CCmd {
    CBytes cdb;
    ScsiDirection direction;
    int dataLength;
    int timeoutSeconds;
};

inline CCmd Shape(const CRecordedCommand& command)
{
    return CCmd{command.cdb, command.direction, command.dataLength, command.timeoutSeconds};
}

inline bool operator==(const CCmd& a, const CCmd& b)
{
    return a.cdb == b.cdb && a.direction == b.direction && a.dataLength == b.dataLength &&
           a.timeoutSeconds == b.timeoutSeconds;
}

inline std::ostream& operator<<(std::ostream& out, const CCmd& command)
{
    static const char* const directions[] = {"none", "in", "out"};
    out << "{";
    for (unsigned char byte : command.cdb)
        out << std::hex << std::setw(2) << std::setfill('0') << static_cast<int>(byte) << " ";
    return out << std::dec << directions[command.direction] << " " << command.dataLength << " bytes, "
               << command.timeoutSeconds << " s}";
}

struct CScriptedReply {
    bool completed = true;
    unsigned char status = 0;
    CBytes sense;                   // first bytes of the sense data; senseLength is its size
    CBytes dataIn;                  // copied into a data-in buffer, as far as it reaches
    const char* failure = nullptr;  // why a command did not complete
    bool lost = false;              // it did not complete after it reached the drive
    int dataOutTaken = -1;          // bytes a data-out command moved; -1: all of them
};

inline CScriptedReply Good(CBytes dataIn = CBytes())
{
    CScriptedReply reply;
    reply.dataIn = dataIn;
    return reply;
}

inline CScriptedReply NotCompleted(const char* failure = nullptr)
{
    CScriptedReply reply;
    reply.completed = false;
    reply.failure = failure;
    return reply;
}

// A command that reached the drive and never came back.
inline CScriptedReply Lost(const char* failure)
{
    CScriptedReply reply = NotCompleted(failure);
    reply.lost = true;
    return reply;
}

inline CScriptedReply WithStatus(unsigned char status)
{
    CScriptedReply reply;
    reply.status = status;
    return reply;
}

// CHECK CONDITION with fixed-format sense: key in byte 2, ASC and ASCQ in
// bytes 12 and 13.
inline CScriptedReply CheckCondition(unsigned char key, unsigned char asc = 0, unsigned char ascq = 0)
{
    CScriptedReply reply;
    reply.status = 0x02;
    reply.sense = CBytes(18, 0);
    reply.sense[0] = 0x70;
    reply.sense[2] = key;
    reply.sense[7] = 10;
    reply.sense[12] = asc;
    reply.sense[13] = ascq;
    return reply;
}

class CRecordingPassThrough : public CPassThrough {
public:
    CRecordingPassThrough() {}

    // Answers the next commands in order; once the queue is empty every
    // command gets the standing reply (GOOD unless changed).
    void Queue(const CScriptedReply& reply, int times = 1)
    {
        for (int i = 0; i < times; ++i)
            m_queue.push_back(reply);
    }
    void Standing(const CScriptedReply& reply) { m_standing = reply; }
    // Runs before each command is answered (for instance to move a clock).
    void OnExecute(std::function<void(const CRecordedCommand&)> hook) { m_hook = hook; }

    const std::vector<CRecordedCommand>& Commands() const { return m_commands; }
    const CRecordedCommand& Last() const { return m_commands.back(); }
    void Clear() { m_commands.clear(); }

    CScsiResult Send(const CScsiRequest& request) override
    {
        CRecordedCommand command = Record(request);
        m_commands.push_back(command);
        if (m_hook)
            m_hook(command);

        CScriptedReply reply = m_standing;
        if (!m_queue.empty()) {
            reply = m_queue.front();
            m_queue.pop_front();
        }
        CScsiResult result = EmptyScsiResult();
        if (request.direction == SCSI_DIR_IN && request.data != nullptr) {
            size_t count = std::min(reply.dataIn.size(), static_cast<size_t>(request.dataLength));
            std::copy(reply.dataIn.begin(), reply.dataIn.begin() + static_cast<long>(count), request.data);
            result.transferred = static_cast<int>(count);
        } else if (request.direction == SCSI_DIR_OUT) {
            result.transferred = reply.dataOutTaken < 0 ? request.dataLength : reply.dataOutTaken;
        }
        result.completed = reply.completed;
        result.failure = reply.failure;
        result.lost = reply.lost;
        result.status = reply.status;
        result.senseLength = static_cast<int>(std::min(reply.sense.size(), sizeof(result.sense)));
        std::copy(reply.sense.begin(), reply.sense.begin() + result.senseLength, result.sense);
        return result;
    }

private:
    std::deque<CScriptedReply> m_queue;
    CScriptedReply m_standing;
    std::function<void(const CRecordedCommand&)> m_hook;
    std::vector<CRecordedCommand> m_commands;
};

// Passes every command to the device behind it (a virtual drive, say) and
// keeps a record of each, with what the device answered.
class CTappedPassThrough : public CPassThrough {
public:
    CTappedPassThrough(std::unique_ptr<CPassThrough> inner, std::vector<CRecordedCommand>& log)
        : m_inner(std::move(inner)), m_log(log)
    {}

protected:
    CScsiResult Send(const CScsiRequest& request) override
    {
        CRecordedCommand command = Record(request);
        const CScsiResult result = m_inner->Execute(request);
        if (request.direction == SCSI_DIR_IN && request.data != nullptr)
            command.dataIn.assign(request.data, request.data + result.transferred);
        m_log.push_back(command);
        return result;
    }

private:
    std::unique_ptr<CPassThrough> m_inner;
    std::vector<CRecordedCommand>& m_log;
};

#endif
