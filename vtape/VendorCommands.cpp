// Vendor operation codes, served on the models that list them: 06h parks
// (CDB byte 4 = 01h) or unparks (00h) the arm that threads the tape. A
// parked arm refuses loads until it is unparked, and the arm does not move
// while a cartridge is in the drive.
#include "VirtualDriveImpl.h"

void CVirtualDriveImpl::RegisterVendorHandlers()
{
    struct CVendorCommand {
        unsigned char opcode;
        CHandler handler;
    };
    static const CVendorCommand kCommands[] = {
        {OP_PARK_ARM, &CVirtualDriveImpl::ParkArm},
    };
    for (const CVendorCommand& command : kCommands) {
        if (m_model.vendorCommands.Has(command.opcode)) {
            m_handlers[command.opcode] = command.handler;
        }
    }
}

void CVirtualDriveImpl::ParkArm(const CCommand& command, CVirtualReply& reply)
{
    const unsigned char action = command.cdb[4];
    if (action > 1) {
        Fail(reply, InvalidFieldInCdb(4));
        return;
    }
    if (CartridgeInDrive()) {
        Fail(reply, MediaPresentSense());
        return;
    }
    m_armParked = action == 1;
}

bool CVirtualDriveImpl::CartridgeInDrive() const
{
    return m_loaded || (m_faults.hasMediaPresent && !m_faults.noCartridge);
}

CSenseData CVirtualDriveImpl::MediaPresentSense() const
{
    if (m_faults.hasMediaPresent) {
        // The fault names sense byte 2 whole: the key and its flags.
        const CSenseTriple& given = m_faults.mediaPresent;
        CSenseData sense = MakeSense(given.key & 0x0F, given.asc, given.ascq);
        sense.flags = given.key & 0xE0;
        return sense;
    }
    return MakeSense(SENSE_KEY_NOT_READY,
                     ASC_MEDIUM_NOT_PRESENT_LOADABLE);  // medium not present, loadable: still in the drive
}
