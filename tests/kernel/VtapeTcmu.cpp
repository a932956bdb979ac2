// vtape-tcmu: serves a virtual drive to the Linux kernel as a SCSI device,
// as the user-space backstore of the kernel's target subsystem
// (target_core_user). On the loopback fabric the st and sg drivers then see
// the virtual drive as they would see a drive on a host adapter.
//
//   vtape-tcmu /dev/uioN MODEL[,FAULT...] [LOG]
//
// /dev/uioN is the UIO node the kernel made for the backstore. With LOG, each
// command is appended to that file when it arrives ("> CDB", in hex) and when
// it is answered ("< STATUS [K/ASC/ASCQ]"), so a suite can see what the
// kernel and the diagnostic sent, how often, and what was under way. The program
// prints "ready" on standard output once it serves the ring, and runs until
// the backstore is removed (then it exits 0) or it is killed. A command that
// was in the ring when an earlier handler stopped is answered by the next
// one, as a drive that was restarted under a command would answer it; once
// the backstore's time-out (attrib/cmd_time_out) has failed it, the kernel
// drops that answer. A handler started again with the virtual drive's
// `reset` fault is a drive that comes back from a reset and reports it.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "ScsiData.h"
#include "VirtualDrive.h"

namespace {

const unsigned char STATUS_CHECK_CONDITION = 0x02;

// The ring's layout, as the kernel's target_core_user lays it out (mailbox
// version 2), read and written field by field: its header packs its
// structures for C and does not compile as C++.
const uint16_t MAILBOX_VERSION = 2;
const size_t MAILBOX_VERSION_AT = 0;
const size_t MAILBOX_RING_OFFSET_AT = 4;
const size_t MAILBOX_RING_SIZE_AT = 8;
const size_t MAILBOX_HEAD_AT = 12;
const size_t MAILBOX_TAIL_AT = 64;  // on a cache line of its own
const uint32_t ENTRY_OP_MASK = 0x7;
const uint32_t ENTRY_OP_CMD = 1;
const size_t ENTRY_UFLAGS_AT = 7;
const unsigned char UFLAG_UNKNOWN_OP = 0x1;
const unsigned char UFLAG_READ_LEN = 0x2;
const size_t REQUEST_IOV_COUNT_AT = 8;
const size_t REQUEST_CDB_OFFSET_AT = 24;  // the request's own fields keep their natural alignment
const size_t REQUEST_IOV_AT = 48;
const size_t IOV_SIZE = 16;  // a 64-bit offset into the region and a 64-bit length
const size_t RESPONSE_STATUS_AT = 8;
const size_t RESPONSE_READ_LENGTH_AT = 12;
const size_t RESPONSE_SENSE_AT = 16;
const size_t RESPONSE_SENSE_SIZE = 96;

template <typename T>
T Load(const unsigned char* at)
{
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <typename T>
void Store(unsigned char* at, T value)
{
    std::memcpy(at, &value, sizeof value);
}

// A piece of the command's data: where it lies in the region, how long.
struct CPiece {
    uint64_t offset;
    uint64_t length;
};

// The kernel does not say which way a command's data goes: the initiator
// knows, the ring does not. These operation codes carry data to the drive;
// every other command with a buffer reads from it.
bool SendsData(unsigned char opcode)
{
    static const unsigned char DATA_OUT[] = {
        0x04,  // FORMAT MEDIUM
        0x0A,  // WRITE(6)
        0x15,  // MODE SELECT(6)
        0x18,  // COPY
        0x1D,  // SEND DIAGNOSTIC
        0x2A,  // WRITE(10)
        0x3B,  // WRITE BUFFER
        0x4C,  // LOG SELECT
        0x55,  // MODE SELECT(10)
        0x8A,  // WRITE(16)
        0xA4,  // MAINTENANCE OUT
        0xB5,  // SECURITY PROTOCOL OUT
    };
    return std::find(std::begin(DATA_OUT), std::end(DATA_OUT), opcode) != std::end(DATA_OUT);
}

// The size of the region the kernel maps for the ring and the data, from
// /sys/class/uio/uioN/maps/map0/size; 0 when unknown.
size_t MapSize(const std::string& node)
{
    const std::string name = node.substr(node.rfind('/') + 1);
    std::ifstream file("/sys/class/uio/" + name + "/maps/map0/size");
    std::string text;
    if (!std::getline(file, text))
        return 0;
    return static_cast<size_t>(std::strtoull(text.c_str(), nullptr, 0));
}

class CRingServer {
public:
    CRingServer(unsigned char* base, size_t size, CVirtualDrive& drive, FILE* log)
        : m_base(base), m_size(size), m_drive(drive), m_log(log)
    {}

    // Answers every command between the tail and the head; true when the
    // kernel should be told that the tail moved.
    bool ServePending()
    {
        uint32_t* head = reinterpret_cast<uint32_t*>(m_base + MAILBOX_HEAD_AT);
        uint32_t* tail = reinterpret_cast<uint32_t*>(m_base + MAILBOX_TAIL_AT);
        const uint32_t ringOffset = Load<uint32_t>(m_base + MAILBOX_RING_OFFSET_AT);
        const uint32_t ringSize = Load<uint32_t>(m_base + MAILBOX_RING_SIZE_AT);
        bool moved = false;
        for (;;) {
            const uint32_t at = __atomic_load_n(tail, __ATOMIC_RELAXED);
            if (at == __atomic_load_n(head, __ATOMIC_ACQUIRE))
                return moved;
            unsigned char* entry = m_base + ringOffset + at;
            const uint32_t lengthAndOp = Load<uint32_t>(entry);
            // A task management notice needs no answer; a padding entry only
            // takes the room up to the end of the ring.
            if ((lengthAndOp & ENTRY_OP_MASK) == ENTRY_OP_CMD)
                Serve(entry);
            __atomic_store_n(tail, (at + (lengthAndOp & ~ENTRY_OP_MASK)) % ringSize, __ATOMIC_RELEASE);
            moved = true;
        }
    }

private:
    bool Inside(uint64_t offset, uint64_t length) const { return offset <= m_size && length <= m_size - offset; }

    void Serve(unsigned char* entry)
    {
        // The answer overlays the request in the entry: take everything the
        // request says before writing any of it.
        unsigned char cdb[16] = {};
        const uint64_t cdbOffset = Load<uint64_t>(entry + REQUEST_CDB_OFFSET_AT);
        if (!Inside(cdbOffset, 1)) {
            Refuse(entry, "CDB", cdbOffset);
            return;
        }
        // A group whose length the code does not tell is taken whole; the
        // drive refuses its operation code anyway.
        const int groupLength = CdbLengthOfGroup(m_base[cdbOffset]);
        const int cdbLength = groupLength != 0 ? groupLength : 16;
        const uint32_t pieceCount = Load<uint32_t>(entry + REQUEST_IOV_COUNT_AT);
        if (!Inside(cdbOffset, static_cast<uint64_t>(cdbLength)) ||
            !Inside(static_cast<uint64_t>(entry - m_base) + REQUEST_IOV_AT, uint64_t(pieceCount) * IOV_SIZE)) {
            Refuse(entry, "CDB or data list", pieceCount);
            return;
        }
        std::memcpy(cdb, m_base + cdbOffset, static_cast<size_t>(cdbLength));
        std::vector<CPiece> pieces(pieceCount);
        size_t total = 0;
        for (uint32_t i = 0; i < pieceCount; ++i) {
            const unsigned char* iov = entry + REQUEST_IOV_AT + i * IOV_SIZE;
            pieces[i] = {Load<uint64_t>(iov), Load<uint64_t>(iov + 8)};
            // An entry that points outside the region is refused, never
            // followed.
            if (!Inside(pieces[i].offset, pieces[i].length)) {
                Refuse(entry, "data", pieces[i].offset);
                return;
            }
            total += pieces[i].length;
        }

        if (m_log != nullptr) {
            std::fputc('>', m_log);
            for (int i = 0; i < cdbLength; ++i)
                std::fprintf(m_log, " %02X", cdb[i]);
            std::fputc('\n', m_log);
            std::fflush(m_log);
        }
        m_buffer.resize(total);
        const VDataDirection direction = total == 0 ? VDIR_NONE : SendsData(cdb[0]) ? VDIR_OUT : VDIR_IN;
        if (direction == VDIR_OUT)
            Gather(pieces);
        const CVirtualReply reply =
            m_drive.Execute(cdb, cdbLength, direction, total != 0 ? m_buffer.data() : nullptr, static_cast<int>(total));
        const size_t transferred = std::min(total, static_cast<size_t>(std::max(reply.transferred, 0)));
        if (direction == VDIR_IN)
            Scatter(pieces, transferred);

        std::memset(entry + RESPONSE_STATUS_AT, 0, RESPONSE_SENSE_AT + RESPONSE_SENSE_SIZE - RESPONSE_STATUS_AT);
        entry[RESPONSE_STATUS_AT] = reply.status;
        if (reply.status == STATUS_CHECK_CONDITION) {
            const size_t senseLength =
                std::min(static_cast<size_t>(std::max(reply.senseLength, 0)), sizeof reply.sense);
            std::memcpy(entry + RESPONSE_SENSE_AT, reply.sense, senseLength);
        }
        if (m_log != nullptr) {
            std::fprintf(m_log, "< %02X", reply.status);
            if (reply.status == STATUS_CHECK_CONDITION)
                std::fprintf(m_log, " %X/%02X/%02X", reply.sense[2] & 0x0F, reply.sense[12], reply.sense[13]);
            std::fputc('\n', m_log);
            std::fflush(m_log);
        }
        // A read shorter than the initiator's buffer (a short record, an
        // allocation length above the page) reports its length, so the
        // initiator sees the residue. The kernel takes no length of 0: a
        // CHECK CONDITION then carries no data, which is what it means.
        if (direction == VDIR_IN && transferred < total && transferred > 0) {
            entry[ENTRY_UFLAGS_AT] |= UFLAG_READ_LEN;
            Store<uint32_t>(entry + RESPONSE_READ_LENGTH_AT, static_cast<uint32_t>(transferred));
        }
    }

    // The kernel fails such a command; it is a fault of the handler or of
    // the kernel, and says where it is.
    void Refuse(unsigned char* entry, const char* what, uint64_t value) const
    {
        std::fprintf(stderr, "vtape-tcmu: an entry's %s (%llu) lies outside the %zu bytes of the ring\n", what,
                     static_cast<unsigned long long>(value), m_size);
        entry[ENTRY_UFLAGS_AT] |= UFLAG_UNKNOWN_OP;
    }

    void Gather(const std::vector<CPiece>& pieces)
    {
        size_t at = 0;
        for (const CPiece& piece : pieces) {
            std::memcpy(m_buffer.data() + at, m_base + piece.offset, piece.length);
            at += piece.length;
        }
    }

    void Scatter(const std::vector<CPiece>& pieces, size_t length)
    {
        size_t at = 0;
        for (const CPiece& piece : pieces) {
            if (at >= length)
                break;
            const size_t part = std::min<size_t>(piece.length, length - at);
            std::memcpy(m_base + piece.offset, m_buffer.data() + at, part);
            at += part;
        }
    }

    unsigned char* m_base;
    size_t m_size;
    CVirtualDrive& m_drive;
    FILE* m_log;
    std::vector<unsigned char> m_buffer;
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s /dev/uioN MODEL[,FAULT...] [LOG]\n", argv[0]);
        return 2;
    }
    const std::string node = argv[1];
    std::string error;
    std::unique_ptr<CVirtualDrive> drive = CVirtualDrive::Create(argv[2], error);
    if (!drive) {
        std::fprintf(stderr, "vtape-tcmu: %s\n", error.c_str());
        return 2;
    }
    FILE* log = nullptr;
    if (argc == 4 && (log = std::fopen(argv[3], "a")) == nullptr) {
        std::fprintf(stderr, "vtape-tcmu: %s: %s\n", argv[3], std::strerror(errno));
        return 2;
    }
    const size_t size = MapSize(node);
    const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 || size == 0) {
        std::fprintf(stderr, "vtape-tcmu: %s: %s\n", node.c_str(),
                     fd < 0 ? std::strerror(errno) : "not a UIO node with a mapped region");
        return 2;
    }
    void* region = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (region == MAP_FAILED) {
        std::fprintf(stderr, "vtape-tcmu: %s: cannot map the ring: %s\n", node.c_str(), std::strerror(errno));
        return 2;
    }
    unsigned char* base = static_cast<unsigned char*>(region);
    if (Load<uint16_t>(base + MAILBOX_VERSION_AT) != MAILBOX_VERSION) {
        std::fprintf(stderr, "vtape-tcmu: %s: ring version %u, not %u\n", node.c_str(),
                     Load<uint16_t>(base + MAILBOX_VERSION_AT), MAILBOX_VERSION);
        return 2;
    }
    CRingServer server(base, size, *drive, log);
    std::printf("ready\n");
    std::fflush(stdout);
    // The UIO node counts the kernel's notices from the moment it was
    // opened, so a command queued while the ring was being served wakes
    // the next read at once.
    for (;;) {
        if (server.ServePending()) {
            const uint32_t kick = 0;
            if (::write(fd, &kick, sizeof kick) != static_cast<ssize_t>(sizeof kick))
                return errno == ENODEV || errno == EIO ? 0 : 1;
        }
        uint32_t events;
        const ssize_t got = ::read(fd, &events, sizeof events);
        if (got < 0 && errno == EINTR)
            continue;
        if (got != static_cast<ssize_t>(sizeof events))
            return 0;  // the backstore was removed
    }
}
