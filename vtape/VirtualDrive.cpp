#include "VirtualDrive.h"

#include "DriveSetup.h"
#include "VirtualDriveImpl.h"

std::unique_ptr<CVirtualDrive> CVirtualDrive::Create(const std::string& text, std::string& error)
{
    CDriveSetup parsed;
    if (!ParseDriveSetup(text, parsed, error)) {
        return nullptr;
    }
    return std::unique_ptr<CVirtualDrive>(
        new CVirtualDrive(std::unique_ptr<CVirtualDriveImpl>(new CVirtualDriveImpl(parsed))));
}

CVirtualDrive::CVirtualDrive(std::unique_ptr<CVirtualDriveImpl> impl) : m_impl(std::move(impl))
{}

CVirtualDrive::~CVirtualDrive() = default;

CVirtualReply CVirtualDrive::Execute(const unsigned char* cdb, int cdbLength, VDataDirection direction,
                                     unsigned char* data, int dataLength)
{
    return m_impl->Execute(cdb, cdbLength, direction, data, dataLength);
}

long CVirtualDrive::StoredBlockContents() const
{
    return m_impl->StoredBlockContents();
}

std::string CVirtualDrive::Catalogue()
{
    return DriveCatalogue();
}
