// sgio-probe: asks the kernel to pass single CDBs to a drive through SG_IO,
// to learn which commands a user's node and capabilities let through, and
// where the tape stands.
//
//   sgio-probe [-r] NODE CDB[:in=N|:out=N]...
//       One line per CDB (hex): "CDB sent status SS [sense K/ASC/ASCQ]"
//       when the drive answered, "CDB refused ERRNO-NAME" when the kernel
//       did not pass it on ("refused-open ERRNO-NAME" when NODE does not open). A buffer of N zero bytes goes with :in=
//       or :out=; what an :in= command read follows as "data HEX" (at most 32 bytes). -r opens NODE read-only (the
//       diagnostic opens it read/write). Exits 0 when every CDB was at least tried.
#include <scsi/sg.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

const char* ErrnoName(int error)
{
    switch (error) {
    case EPERM:
        return "EPERM";
    case EACCES:
        return "EACCES";
    case EBUSY:
        return "EBUSY";
    case EIO:
        return "EIO";
    case EINVAL:
        return "EINVAL";
    case ENOTTY:
        return "ENOTTY";
    default:
        return std::strerror(error);
    }
}

bool ParseHex(const std::string& text, std::vector<unsigned char>& bytes)
{
    if (text.empty() || text.size() % 2 != 0 || text.size() > 32)
        return false;
    for (size_t i = 0; i < text.size(); i += 2) {
        char* end = nullptr;
        const std::string pair = text.substr(i, 2);
        const unsigned long value = std::strtoul(pair.c_str(), &end, 16);
        if (end != pair.c_str() + 2)
            return false;
        bytes.push_back(static_cast<unsigned char>(value));
    }
    return true;
}

// "CDB", "CDB:in=N" or "CDB:out=N".
bool ParseRequest(const std::string& text, std::vector<unsigned char>& cdb, int& direction, unsigned& length)
{
    const size_t colon = text.find(':');
    direction = SG_DXFER_NONE;
    length = 0;
    if (colon != std::string::npos) {
        const std::string buffer = text.substr(colon + 1);
        if (buffer.compare(0, 3, "in=") == 0)
            direction = SG_DXFER_FROM_DEV;
        else if (buffer.compare(0, 4, "out=") == 0)
            direction = SG_DXFER_TO_DEV;
        else
            return false;
        length = static_cast<unsigned>(std::strtoul(buffer.c_str() + buffer.find('=') + 1, nullptr, 10));
    }
    return ParseHex(text.substr(0, colon), cdb);
}

}  // namespace

int main(int argc, char** argv)
{
    const bool readOnly = argc > 1 && std::strcmp(argv[1], "-r") == 0;
    if (readOnly) {
        --argc;
        ++argv;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: sgio-probe [-r] NODE CDB[:in=N|:out=N]...\n");
        return 2;
    }
    const int fd = ::open(argv[1], (readOnly ? O_RDONLY : O_RDWR) | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // One line per CDB all the same, so that tables stay aligned.
        const int error = errno;
        for (int i = 2; i < argc; ++i)
            std::printf("%s refused-open %s\n", std::string(argv[i]).substr(0, std::string(argv[i]).find(':')).c_str(),
                        ErrnoName(error));
        return 1;
    }
    for (int i = 2; i < argc; ++i) {
        std::vector<unsigned char> cdb;
        int direction;
        unsigned length;
        if (!ParseRequest(argv[i], cdb, direction, length)) {
            std::fprintf(stderr, "sgio-probe: not a CDB: %s\n", argv[i]);
            return 2;
        }
        std::vector<unsigned char> data(length);
        unsigned char sense[32] = {};
        sg_io_hdr_t header = {};
        header.interface_id = 'S';
        header.dxfer_direction = length == 0 ? SG_DXFER_NONE : direction;
        header.cmd_len = static_cast<unsigned char>(cdb.size());
        header.cmdp = cdb.data();
        header.dxfer_len = length;
        header.dxferp = length == 0 ? nullptr : data.data();
        header.mx_sb_len = sizeof sense;
        header.sbp = sense;
        header.timeout = 20000;
        const std::string name = std::string(argv[i]).substr(0, std::string(argv[i]).find(':'));
        if (::ioctl(fd, SG_IO, &header) != 0) {
            std::printf("%s refused %s\n", name.c_str(), ErrnoName(errno));
            continue;
        }
        std::printf("%s sent status %02X", name.c_str(), header.status);
        if (header.sb_len_wr >= 14)
            std::printf(" sense %X/%02X/%02X", sense[2] & 0x0F, sense[12], sense[13]);
        const int got = static_cast<int>(length) - header.resid;
        if (direction == SG_DXFER_FROM_DEV && header.status == 0 && got > 0) {
            std::printf(" data ");
            for (int at = 0; at < got && at < 32; ++at)
                std::printf("%02X", data[static_cast<size_t>(at)]);
        }
        std::printf("\n");
    }
    return 0;
}
