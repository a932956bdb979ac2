// The logpages command, which prints every log page the drive lists as a
// hexadecimal dump, and the binary file the capture commands write.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "DriveManager.h"
#include "Retry.h"
#include "ScsiData.h"

namespace {

const int DIRECTORY_LENGTH = 255;
const int DIRECTORY_ATTEMPTS = 6;
const int LOG_PAGE_BUFFER = 1024;
const int BYTES_PER_LINE = 16;

}  // namespace

bool CDriveManager::PrintAllLogPages()
{
    CTapeDrive* drive = m_application->GetCurrentDriveSelected();
    OpenCommand(drive, "Issued Cmd: Print Available Log Pages.");
    Separator();
    m_driverInterface->TestForUnitReady(drive);

    unsigned char directory[DIRECTORY_LENGTH];
    const bool read = Retry(CRetryPolicy{DIRECTORY_ATTEMPTS, 0, false}, [&] {
        std::memset(directory, 0, sizeof directory);
        return m_driverInterface->LogSense(drive, directory, DIRECTORY_LENGTH, LOG_PAGE_SUPPORTED);
    });
    if (!read) {
        Line("Unable to Access Page 0, Log Page Directory.");
        return false;
    }
    // Only codes the drive actually sent are pages: a count that claims more
    // would list zero bytes as page 00h again.
    const int sent = m_driverInterface->GetTransferLength(drive);
    int count = directory[3];
    if (count > sent - LOG_HEADER_LENGTH)
        count = sent > LOG_HEADER_LENGTH ? sent - LOG_HEADER_LENGTH : 0;
    // A drive that lists pages and shows none of them has shown nothing.
    bool anyShown = count == 0;
    for (int i = 0; i < count; ++i)
        anyShown = PrintLogPage(directory[LOG_HEADER_LENGTH + i]) || anyShown;
    return anyShown;
}

bool CDriveManager::PrintLogPage(int page)
{
    CTapeDrive* drive = m_application->GetCurrentDriveSelected();
    CVString heading;
    heading.Format("Log Page %02xh", page);
    m_application->Msg(heading, true);

    unsigned char buffer[LOG_PAGE_BUFFER] = {};
    if (!m_driverInterface->LogSense(drive, buffer, LOG_PAGE_BUFFER, page)) {
        Line("Log Page Unavailable.");
        Separator();
        return false;
    }
    // The page's own length, cut to what the drive sent: a length field that
    // claims more must not show bytes the drive never returned.
    long length = LOG_HEADER_LENGTH + static_cast<long>(LogPageLength(buffer));
    const long sent = m_driverInterface->GetTransferLength(drive);
    if (length > sent)
        length = sent;
    CVString line;
    for (long i = 0; i < length; ++i) {
        CVString byte;
        byte.Format("%02x ", buffer[i]);
        line += byte;
        if ((i + 1) % BYTES_PER_LINE == 0 || i + 1 == length) {
            m_application->Msg(line, true);
            line.Empty();
        }
    }
    Separator();
    return true;
}

bool CDriveManager::OutputBinary(unsigned char* data, long length)
{
    CVString name;
    m_application->GetFileSelected(name);
    if (name.IsEmpty()) {
        Line("-f:filename must be used with binary output commands.");
        return false;
    }
    const int fd = m_application->Files().Open(name, COMMAND_FILE_BINARY, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) {
        Line("Can't open filename for binary write.");
        return false;
    }
    bool written = true;
    for (long done = 0; done < length && written;) {
        const ssize_t count = ::write(fd, data + done, static_cast<size_t>(length - done));
        if (count < 0 && errno == EINTR)
            continue;
        written = count > 0;
        done += written ? count : 0;
    }
    written = ::close(fd) == 0 && written;
    // A capture that did not reach the disk whole must not pass for one.
    if (!written)
        Line("Can't write filename for binary output.");
    return written;
}
