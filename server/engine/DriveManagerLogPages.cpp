// The logpages command, which prints every log page the drive lists as a
// hexadecimal dump, and the binary file the capture commands write.
#include <algorithm>
#include <cerrno>
#include <cstring>

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
    const bool read = RetryCommand(drive, CRetryPolicy{DIRECTORY_ATTEMPTS, 0, false}, [&] {
        std::memset(directory, 0, sizeof directory);
        return m_driverInterface->LogSense(drive, directory, DIRECTORY_LENGTH, LOG_PAGE_SUPPORTED);
    });
    if (!read) {
        m_application->Report().logPages.push_back(FailedReading(drive, LOG_PAGE_SUPPORTED));
        Line("Unable to Access Page 0, Log Page Directory.");
        return false;
    }
    // Only codes the drive actually sent are pages: a count that claims more
    // would list zero bytes as page 00h again.
    const int sent = m_driverInterface->GetTransferLength(drive);
    int count = directory[3];
    if (count > sent - LOG_HEADER_LENGTH)
        count = sent > LOG_HEADER_LENGTH ? sent - LOG_HEADER_LENGTH : 0;
    const unsigned char* listed = directory + LOG_HEADER_LENGTH;
    // The drive forgets its alerts once it has reported them; whoever reads
    // this dump must know they will not be seen again.
    if (std::find(listed, listed + count, LOG_PAGE_TAPE_ALERT) != listed + count)
        m_application->DeviceNotice("tapediag: reading log page 2Eh clears the TapeAlert flags the drive has "
                                    "pending; `tapediag health` judges them before they are gone");
    // A drive that lists pages and shows none of them has shown nothing.
    bool anyShown = count == 0;
    for (int i = 0; i < count; ++i)
        anyShown = PrintLogPage(listed[i]) || anyShown;
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
        m_application->Report().logPages.push_back(FailedReading(drive, static_cast<unsigned>(page)));
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
    CLogPageReading reading = DecodeLogPage(buffer, static_cast<int>(length));
    reading.page = static_cast<unsigned>(page);
    m_application->Report().logPages.push_back(reading);
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
    const EFileWrite outcome = m_application->Files().Replace(name, data, static_cast<size_t>(length));
    if (outcome == FILE_WRITTEN)
        return true;
    m_application->FileProblem("capture file", name, std::strerror(errno));
    // A capture that did not reach the disk whole must not pass for one.
    Line(outcome == FILE_NOT_OPENED ? "Can't open filename for binary write."
                                    : "Can't write filename for binary output.");
    return false;
}
