#include "LinuxDriverInterface.h"

namespace {

const int READ_BUFFER_CDB_LENGTH = 10;

int Fd(const CTapeDrive* drive)
{
    return drive != nullptr ? drive->FileDescriptor() : -1;
}

}  // namespace

CLinuxDriverInterface::CLinuxDriverInterface() : m_driver(new CLinuxTapeDeviceDriver)
{}

CLinuxDriverInterface::~CLinuxDriverInterface()
{}

int CLinuxDriverInterface::AttachDevice(std::unique_ptr<CPassThrough> device)
{
    return m_driver->AttachDevice(std::move(device));
}

void CLinuxDriverInterface::GetSense(CTapeDrive* drive, unsigned char* buffer, int length)
{
    m_driver->GetSense(Fd(drive), buffer, length);
}

int CLinuxDriverInterface::GetTransferLength(CTapeDrive*)
{
    return m_driver->LastTransferLength();
}

bool CLinuxDriverInterface::LastCommandCompleted(CTapeDrive*)
{
    return m_driver->LastCommandCompleted();
}

bool CLinuxDriverInterface::LastCommandWorthRepeating(CTapeDrive*)
{
    return m_driver->LastCommandWorthRepeating();
}

unsigned char CLinuxDriverInterface::GetStatus(CTapeDrive*)
{
    return m_driver->LastStatus();
}

bool CLinuxDriverInterface::LoadTape(CTapeDrive* drive, bool retension)
{
    return m_driver->LoadTape(Fd(drive), retension ? 1 : 0);
}

bool CLinuxDriverInterface::UnloadTape(CTapeDrive* drive)
{
    return m_driver->UnloadTape(Fd(drive));
}

bool CLinuxDriverInterface::WriteFileMarks(CTapeDrive* drive)
{
    return m_driver->WriteFileMarks(Fd(drive));
}

bool CLinuxDriverInterface::Rewind(CTapeDrive* drive)
{
    return m_driver->Rewind(Fd(drive));
}

long CLinuxDriverInterface::GetBlockSize(CTapeDrive* drive)
{
    return m_driver->GetBlockSize(Fd(drive));
}

bool CLinuxDriverInterface::TestForUnitReady(CTapeDrive* drive)
{
    return m_driver->TestForUnitReady(Fd(drive));
}

bool CLinuxDriverInterface::WriteDataToDrive(CTapeDrive* drive, long blockSize, unsigned char* buffer, long length)
{
    return m_driver->WriteDataToDrive(Fd(drive), blockSize, buffer, length);
}

bool CLinuxDriverInterface::ReadDataFromDrive(CTapeDrive* drive, long blockSize, unsigned char* buffer, long length)
{
    return m_driver->ReadDataFromDrive(Fd(drive), blockSize, buffer, length);
}

bool CLinuxDriverInterface::ReadPosition(CTapeDrive* drive)
{
    return m_driver->ReadPosition(Fd(drive));
}

bool CLinuxDriverInterface::DriveInquiry(CTapeDrive* drive, unsigned char* buffer, int length)
{
    return m_driver->DriveInquiry(Fd(drive), buffer, length);
}

bool CLinuxDriverInterface::DriveInquiry(int fd, unsigned char* buffer, int length)
{
    return m_driver->DriveInquiry(fd, buffer, length);
}

bool CLinuxDriverInterface::ExtendedDriveInquiry(CTapeDrive* drive, int page, unsigned char* buffer, int length)
{
    return m_driver->ExtendedDriveInquiry(Fd(drive), page, buffer, length);
}

bool CLinuxDriverInterface::ModeSensePage(CTapeDrive* drive, int page, unsigned char* buffer, int length)
{
    return m_driver->ModeSensePage(Fd(drive), page, buffer, length);
}

bool CLinuxDriverInterface::ModeSelectPage(CTapeDrive* drive, int parameterLength, unsigned char* buffer, int length)
{
    return m_driver->ModeSelectPage(Fd(drive), parameterLength, buffer, length);
}

bool CLinuxDriverInterface::LogSense(CTapeDrive* drive, unsigned char* buffer, int length, int page)
{
    return m_driver->LogSense(Fd(drive), buffer, length, page);
}

bool CLinuxDriverInterface::LogSelectReset(CTapeDrive* drive)
{
    return m_driver->LogSelectReset(Fd(drive));
}

bool CLinuxDriverInterface::FastFwdToEOD(CTapeDrive* drive)
{
    return m_driver->FastFwdToEOD(Fd(drive));
}

bool CLinuxDriverInterface::SendDiagnostic(CTapeDrive* drive)
{
    return m_driver->SendDiagnostic(Fd(drive));
}

bool CLinuxDriverInterface::RequestSense(CTapeDrive* drive, unsigned char* buffer, int length)
{
    return m_driver->RequestSense(Fd(drive), buffer, length);
}

bool CLinuxDriverInterface::DownloadFirmware(CTapeDrive* drive, unsigned char* image, int length, int offset2,
                                             int offset1, int offset0)
{
    return m_driver->DownloadFirmware(Fd(drive), image, length, offset2, offset1, offset0);
}

bool CLinuxDriverInterface::IsAutoLoaderConfiguration(CTapeDrive* drive)
{
    return m_driver->IsAutoLoaderConfiguration(Fd(drive));
}

bool CLinuxDriverInterface::ParkDriveArm(CTapeDrive* drive, bool park)
{
    return m_driver->ParkDriveArm(Fd(drive), park);
}

bool CLinuxDriverInterface::ReserveDrive(CTapeDrive* drive)
{
    return m_driver->ReserveDrive(Fd(drive));
}

void CLinuxDriverInterface::ReleaseDrive(CTapeDrive* drive)
{
    m_driver->ReleaseDrive(Fd(drive));
}

bool CLinuxDriverInterface::ReadBuffer(CTapeDrive* drive, unsigned char* cdb, unsigned char* buffer, int length)
{
    return m_driver->GetDataCmd(Fd(drive), cdb, READ_BUFFER_CDB_LENGTH, buffer, length);
}

bool CLinuxDriverInterface::OpCmd(CTapeDrive* drive, unsigned char* cdb, int cdbLength)
{
    return m_driver->OpCmd(Fd(drive), cdb, cdbLength);
}

bool CLinuxDriverInterface::GetDataCmd(CTapeDrive* drive, unsigned char* cdb, int cdbLength, unsigned char* buffer,
                                       int length)
{
    return m_driver->GetDataCmd(Fd(drive), cdb, cdbLength, buffer, length);
}

bool CLinuxDriverInterface::SendDataCmd(CTapeDrive* drive, unsigned char* cdb, int cdbLength, unsigned char* buffer,
                                        int length)
{
    return m_driver->SendDataCmd(Fd(drive), cdb, cdbLength, buffer, length);
}

void CLinuxDriverInterface::SetDeviceTimeout(int fd, int seconds)
{
    m_driver->SetDeviceTimeout(fd, seconds);
}
