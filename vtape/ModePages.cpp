// MODE SENSE(6) and MODE SELECT(6), and the mode pages the drive can build.
// Which pages a drive has is its model's list; each page is built by its
// code from the table in FindModePage.
#include <algorithm>
#include <cstring>
#include <vector>

#include "VirtualDriveImpl.h"

namespace {

const size_t MODE_HEADER_LENGTH6 = 4;
const size_t BLOCK_DESCRIPTOR_LENGTH = 8;
const size_t COMPRESSION_PAGE_LENGTH = 16;
const size_t CAPABILITIES_PAGE_LENGTH = 20;
const size_t ELEMENT_ADDRESS_PAGE_LENGTH = 20;
const size_t CONTROL_PAGE_LENGTH = 12;
const size_t VENDOR_SETTINGS_PAGE_LENGTH = 16;
const unsigned char SPEED_MASK = 0x0F;            // mode header byte 2
const unsigned char AUTOLOAD_MASK = 0x07;         // control page byte 5
const unsigned char MAX_AUTOLOAD_MODE = 2;        // 0 load, 1 hold, 2 do not load
const unsigned char MAX_COMPRESSION_CONTROL = 2;  // 0 SCSI control, 1 always on, 2 always off
const uint32_t COMPRESSION_ALGORITHM = 0x10;

// Page control field of MODE SENSE.
const int PAGE_CONTROL_CURRENT = 0;
const int PAGE_CONTROL_CHANGEABLE = 1;
const int PAGE_CONTROL_DEFAULT = 2;
const int PAGE_CONTROL_SAVED = 3;

// Zeroes a page of `length` bytes and writes its code and page length.
void StartPage(unsigned char* out, unsigned char code, size_t length)
{
    std::memset(out, 0, length);
    out[0] = code;
    out[1] = static_cast<unsigned char>(length - 2);
}

}  // namespace

const CVirtualDriveImpl::CModePage* CVirtualDriveImpl::FindModePage(unsigned char code)
{
    static const CModePage kPages[] = {
        {MODE_PAGE_COMPRESSION, &CVirtualDriveImpl::BuildCompressionPage, &CVirtualDriveImpl::SelectCompressionPage},
        {MODE_PAGE_DEVICE_CONFIGURATION, &CVirtualDriveImpl::BuildConfigurationPage,
         &CVirtualDriveImpl::SelectConfigurationPage},
        {MODE_PAGE_CONTROL, &CVirtualDriveImpl::BuildControlPage, &CVirtualDriveImpl::SelectControlPage},
        {MODE_PAGE_ELEMENT_ADDRESS, &CVirtualDriveImpl::BuildElementAddressPage, nullptr},
        {MODE_PAGE_VENDOR_SETTINGS, &CVirtualDriveImpl::BuildVendorSettingsPage,
         &CVirtualDriveImpl::SelectVendorSettingsPage},
        {MODE_PAGE_CAPABILITIES, &CVirtualDriveImpl::BuildCapabilitiesPage, nullptr},
    };
    for (const CModePage& page : kPages) {
        if (page.code == code) {
            return &page;
        }
    }
    return nullptr;
}

const CVirtualDriveImpl::CModePage* CVirtualDriveImpl::ModelModePage(unsigned char code) const
{
    return HasModePage(code) ? FindModePage(code) : nullptr;
}

void CVirtualDriveImpl::InitialModeParameters()
{
    m_defaultMode.blockSize = m_faults.fixedBlockSize;
    m_defaultMode.compressionEnabled = m_model.compression && !m_faults.compressionOff;
    m_defaultMode.decompressionEnabled = m_model.compression;

    unsigned char* page = m_defaultMode.configurationPage;
    StartPage(page, MODE_PAGE_DEVICE_CONFIGURATION, DEVICE_CONFIGURATION_PAGE_LENGTH);
    page[4] = 0x80;                          // write buffer full ratio
    page[5] = 0x80;                          // read buffer empty ratio
    PutBig16(page + 6, 100);                 // write delay, 100 ms units
    page[8] = 0x40;                          // BIS: block identifiers supported
    page[10] = 0x18;                         // EEG, SEW
    page[14] = m_model.compression ? 1 : 0;  // select data compression algorithm

    m_defaultMode.speedCode = m_faults.speedCode;
    m_defaultMode.autoloadMode = 0;
    m_defaultMode.compressionControl = 0;

    m_mode = m_defaultMode;
}

// ------------------------------------------------------------ MODE SENSE

void CVirtualDriveImpl::ModeSense6(const CCommand& command, CVirtualReply& reply)
{
    const unsigned char* cdb = command.cdb;
    const bool disableBlockDescriptors = (cdb[1] & 0x08) != 0;
    const int pageControl = cdb[2] >> 6;
    const unsigned char code = cdb[2] & 0x3F;
    if (pageControl == PAGE_CONTROL_SAVED) {
        Fail(reply, SENSE_KEY_ILLEGAL_REQUEST, ASC_SAVING_PARAMETERS_NOT_SUPPORTED);  // saving parameters not supported
        return;
    }
    if (cdb[3] != 0) {
        Fail(reply, InvalidFieldInCdb(3));  // no subpages
        return;
    }
    if (m_modeSenseFailures.Fails(code)) {
        Fail(reply, SENSE_KEY_HARDWARE_ERROR, ASC_INTERNAL_TARGET_FAILURE);
        return;
    }
    if (code != MODE_PAGE_VENDOR && code != MODE_PAGE_ALL && ModelModePage(code) == nullptr) {
        Fail(reply, InvalidFieldInCdb(2, 5));
        return;
    }

    std::vector<unsigned char> data(MODE_HEADER_LENGTH6, 0);
    const bool changeable = pageControl == PAGE_CONTROL_CHANGEABLE;
    if (!changeable) {
        const CModeParameters& mode = pageControl == PAGE_CONTROL_DEFAULT ? m_defaultMode : m_mode;
        data[2] = mode.speedCode;
        if (m_faults.writeProtected && m_loaded) {
            data[2] |= 0x80;  // WP
        }
    }
    if (!disableBlockDescriptors && IsTapeDrive()) {
        unsigned char descriptor[BLOCK_DESCRIPTOR_LENGTH] = {};
        if (changeable) {
            descriptor[5] = descriptor[6] = descriptor[7] = 0xFF;
        } else {
            const CModeParameters& mode = pageControl == PAGE_CONTROL_DEFAULT ? m_defaultMode : m_mode;
            descriptor[0] = m_model.densityCode;
            PutBig24(descriptor + 5, mode.blockSize);
        }
        data[3] = BLOCK_DESCRIPTOR_LENGTH;
        data.insert(data.end(), descriptor, descriptor + BLOCK_DESCRIPTOR_LENGTH);
    }

    unsigned char codes[256];
    size_t count = 0;
    if (code == MODE_PAGE_ALL) {
        count = m_modePages.CopyTo(codes);
        if (m_faults.autoloader) {
            // The autoloader's page comes ahead of the drive's own pages.
            unsigned char* element = std::find(codes, codes + count, MODE_PAGE_ELEMENT_ADDRESS);
            std::rotate(codes, element, element + 1);
        }
    } else if (code != MODE_PAGE_VENDOR) {
        codes[count++] = code;
    }
    for (size_t i = 0; i < count; ++i) {
        const CModePage* page = ModelModePage(codes[i]);
        if (page != nullptr) {
            unsigned char bytes[MAX_MODE_PAGE_LENGTH];
            const size_t length = (this->*page->build)(pageControl, bytes);
            if (m_faults.saveablePages) {
                bytes[0] |= MODE_PAGE_SAVEABLE;
            }
            data.insert(data.end(), bytes, bytes + length);
        }
    }
    // The mode data length is one byte: a longer reply is cut.
    data.resize(std::min<size_t>(data.size(), 256));
    data[0] = static_cast<unsigned char>(data.size() - 1);
    SendData(command, reply, data.data(), data.size(), cdb[4]);
}

size_t CVirtualDriveImpl::BuildCompressionPage(int pageControl, unsigned char* out) const
{
    StartPage(out, MODE_PAGE_COMPRESSION, COMPRESSION_PAGE_LENGTH);
    if (pageControl == PAGE_CONTROL_CHANGEABLE) {
        if (m_model.compression && !m_faults.compressionLocked) {
            out[2] = 0x80;  // DCE
            out[3] = 0x80;  // DDE
        }
        return COMPRESSION_PAGE_LENGTH;
    }
    const CModeParameters& mode = pageControl == PAGE_CONTROL_DEFAULT ? m_defaultMode : m_mode;
    out[2] = static_cast<unsigned char>((mode.compressionEnabled ? 0x80 : 0) |
                                        (m_model.compression ? 0x40 : 0));  // DCE, DCC
    out[3] = mode.decompressionEnabled ? 0x80 : 0;
    if (m_model.compression) {
        PutBig32(out + 4, COMPRESSION_ALGORITHM);
        PutBig32(out + 8, COMPRESSION_ALGORITHM);
    }
    return COMPRESSION_PAGE_LENGTH;
}

size_t CVirtualDriveImpl::BuildConfigurationPage(int pageControl, unsigned char* out) const
{
    if (pageControl == PAGE_CONTROL_CHANGEABLE) {
        std::memset(out, 0xFF, DEVICE_CONFIGURATION_PAGE_LENGTH);
        out[0] = MODE_PAGE_DEVICE_CONFIGURATION;
        out[1] = DEVICE_CONFIGURATION_PAGE_LENGTH - 2;
    } else {
        const CModeParameters& mode = pageControl == PAGE_CONTROL_DEFAULT ? m_defaultMode : m_mode;
        std::memcpy(out, mode.configurationPage, DEVICE_CONFIGURATION_PAGE_LENGTH);
    }
    return DEVICE_CONFIGURATION_PAGE_LENGTH;
}

size_t CVirtualDriveImpl::BuildCapabilitiesPage(int pageControl, unsigned char* out) const
{
    StartPage(out, MODE_PAGE_CAPABILITIES, CAPABILITIES_PAGE_LENGTH);
    if (pageControl != PAGE_CONTROL_CHANGEABLE) {
        out[4] = (m_faults.wrongCartridge && m_loaded) ? 0x01 : 0x00;  // RO
        out[6] = 0x08;                                                 // EJECT supported
        PutBig16(out + 8, 1000);                                       // maximum speed, kB/s
        PutBig16(out + 14, 1000);                                      // current speed, kB/s
        PutBig16(out + 16, 1024);                                      // buffer size, 512-byte units
    }
    return CAPABILITIES_PAGE_LENGTH;
}

size_t CVirtualDriveImpl::BuildElementAddressPage(int pageControl, unsigned char* out) const
{
    StartPage(out, MODE_PAGE_ELEMENT_ADDRESS, ELEMENT_ADDRESS_PAGE_LENGTH);
    if (pageControl != PAGE_CONTROL_CHANGEABLE) {
        PutBig16(out + 2, 0x0000);  // medium transport: first address, count
        PutBig16(out + 4, 1);
        PutBig16(out + 6, 0x1000);  // storage elements
        PutBig16(out + 8, 8);
        PutBig16(out + 10, 0x0010);  // import/export elements
        PutBig16(out + 12, 0);
        PutBig16(out + 14, 0x0100);  // data transfer elements (the drive)
        PutBig16(out + 16, 1);
    }
    return ELEMENT_ADDRESS_PAGE_LENGTH;
}

// ----------------------------------------------------------- MODE SELECT

void CVirtualDriveImpl::ModeSelect6(const CCommand& command, CVirtualReply& reply)
{
    const unsigned char* cdb = command.cdb;
    if (cdb[1] & 0x01) {  // SP: pages cannot be saved
        Fail(reply, InvalidFieldInCdb(1, 0));
        return;
    }
    const size_t listLength = cdb[4];
    if (listLength > command.dataOutLength) {
        Fail(reply, SENSE_KEY_ILLEGAL_REQUEST, ASC_PARAMETER_LIST_LENGTH_ERROR);  // parameter list length error
        return;
    }
    if (listLength == 0) {
        return;
    }
    const unsigned char* list = command.dataOut;
    if (listLength < MODE_HEADER_LENGTH6) {
        Fail(reply, SENSE_KEY_ILLEGAL_REQUEST, ASC_PARAMETER_LIST_LENGTH_ERROR);
        return;
    }

    if (list[0] != 0) {  // the mode data length is reserved in MODE SELECT
        Fail(reply, InvalidFieldInParameterList(0));
        return;
    }

    // Everything is checked on a copy, which is kept only when the whole list
    // is accepted: a rejected list changes nothing.
    CModeParameters next = m_mode;
    const size_t descriptorLength = list[3];
    if ((descriptorLength != 0 && descriptorLength != BLOCK_DESCRIPTOR_LENGTH) ||
        (descriptorLength != 0 && !IsTapeDrive())) {
        Fail(reply, InvalidFieldInParameterList(3));
        return;
    }
    if (MODE_HEADER_LENGTH6 + descriptorLength > listLength) {
        Fail(reply, SENSE_KEY_ILLEGAL_REQUEST, ASC_PARAMETER_LIST_LENGTH_ERROR);
        return;
    }
    if (!SelectSpeed(list[2], next, reply)) {
        return;
    }
    if (descriptorLength == BLOCK_DESCRIPTOR_LENGTH) {
        next.blockSize = GetBig24(list + MODE_HEADER_LENGTH6 + 5);
    }

    size_t offset = MODE_HEADER_LENGTH6 + descriptorLength;
    while (offset < listLength) {
        if (listLength - offset < 2 || offset + 2 + list[offset + 1] > listLength) {
            Fail(reply, SENSE_KEY_ILLEGAL_REQUEST, ASC_PARAMETER_LIST_LENGTH_ERROR);
            return;
        }
        const unsigned char* bytes = list + offset;
        if (bytes[0] & MODE_PAGE_SAVEABLE) {  // PS is reserved in MODE SELECT
            Fail(reply, InvalidFieldInParameterList(static_cast<int>(offset), 7));
            return;
        }
        const size_t pageLength = 2 + static_cast<size_t>(bytes[1]);
        const CModePage* page = ModelModePage(bytes[0] & 0x3F);
        if (page == nullptr) {
            Fail(reply, InvalidFieldInParameterList(static_cast<int>(offset)));
            return;
        }
        if (m_modeSelectFailures.Fails(bytes[0] & 0x3F)) {
            Fail(reply, SENSE_KEY_HARDWARE_ERROR, ASC_INTERNAL_TARGET_FAILURE);
            return;
        }
        unsigned char reference[MAX_MODE_PAGE_LENGTH];
        if (pageLength != (this->*page->build)(PAGE_CONTROL_CURRENT, reference)) {
            Fail(reply, InvalidFieldInParameterList(static_cast<int>(offset + 1)));
            return;
        }
        if (page->select != nullptr && !(this->*page->select)(bytes, offset, next, reply)) {
            return;
        }
        offset += pageLength;
    }
    m_mode = next;
}

bool CVirtualDriveImpl::SelectCompressionPage(const unsigned char* page, size_t offset, CModeParameters& next,
                                              CVirtualReply& reply) const
{
    next.compressionEnabled = (page[2] & 0x80) != 0;
    next.decompressionEnabled = (page[3] & 0x80) != 0;
    const bool refused =
        m_faults.compressionLocked || (!m_model.compression && (next.compressionEnabled || next.decompressionEnabled));
    if (refused) {
        Fail(reply, InvalidFieldInParameterList(static_cast<int>(offset + 2), 7));
        return false;
    }
    return true;
}

bool CVirtualDriveImpl::SelectConfigurationPage(const unsigned char* page, size_t, CModeParameters& next,
                                                CVirtualReply&) const
{
    std::memcpy(next.configurationPage + 2, page + 2, DEVICE_CONFIGURATION_PAGE_LENGTH - 2);
    return true;
}

bool CVirtualDriveImpl::SelectSpeed(unsigned char deviceSpecific, CModeParameters& next, CVirtualReply& reply) const
{
    // WP and the buffered mode are not settings of this drive; the speed is,
    // and the code it reports is always taken back.
    const unsigned char code = deviceSpecific & SPEED_MASK;
    if (code != 0 && code != m_mode.speedCode && !m_model.speedCodes.Has(code)) {
        Fail(reply, InvalidFieldInParameterList(2, 0));
        return false;
    }
    next.speedCode = code;
    return true;
}

// ------------------------------------------------- control and settings

size_t CVirtualDriveImpl::BuildControlPage(int pageControl, unsigned char* out) const
{
    StartPage(out, MODE_PAGE_CONTROL, CONTROL_PAGE_LENGTH);
    if (pageControl == PAGE_CONTROL_CHANGEABLE) {
        out[5] = AUTOLOAD_MASK;
        return CONTROL_PAGE_LENGTH;
    }
    const CModeParameters& mode = pageControl == PAGE_CONTROL_DEFAULT ? m_defaultMode : m_mode;
    out[2] = 0x02;  // GLTSD: log parameters are not saved
    out[3] = 0x10;  // unrestricted reordering
    out[5] = mode.autoloadMode;
    PutBig16(out + 8, 0xFFFF);  // busy timeout period: unlimited
    PutBig16(out + 10, 180);    // extended self-test completion time, seconds
    return CONTROL_PAGE_LENGTH;
}

// The vendor settings page: byte 7 is the compression control mode; the
// other bytes are the drive's own and cannot be changed.
size_t CVirtualDriveImpl::BuildVendorSettingsPage(int pageControl, unsigned char* out) const
{
    StartPage(out, MODE_PAGE_VENDOR_SETTINGS, VENDOR_SETTINGS_PAGE_LENGTH);
    if (pageControl == PAGE_CONTROL_CHANGEABLE) {
        out[7] = 0xFF;
        return VENDOR_SETTINGS_PAGE_LENGTH;
    }
    static const unsigned char kFixed[VENDOR_SETTINGS_PAGE_LENGTH] = {0,    0,    0x05, 0x00, 0x40, 0x11, 0x02, 0,
                                                                      0x00, 0x1E, 0x00, 0x3C, 0x80, 0x00, 0x00, 0x01};
    std::memcpy(out + 2, kFixed + 2, VENDOR_SETTINGS_PAGE_LENGTH - 2);
    const CModeParameters& mode = pageControl == PAGE_CONTROL_DEFAULT ? m_defaultMode : m_mode;
    out[7] = mode.compressionControl;
    return VENDOR_SETTINGS_PAGE_LENGTH;
}

bool CVirtualDriveImpl::ChangesOnlyChangeable(size_t (CVirtualDriveImpl::*build)(int, unsigned char*) const,
                                              const unsigned char* page, size_t offset, CVirtualReply& reply) const
{
    unsigned char current[MAX_MODE_PAGE_LENGTH];
    unsigned char changeable[MAX_MODE_PAGE_LENGTH];
    const size_t length = (this->*build)(PAGE_CONTROL_CURRENT, current);
    (this->*build)(PAGE_CONTROL_CHANGEABLE, changeable);
    for (size_t i = 2; i < length; ++i) {
        if ((page[i] ^ current[i]) & ~changeable[i]) {
            Fail(reply, InvalidFieldInParameterList(static_cast<int>(offset + i)));
            return false;
        }
    }
    return true;
}

bool CVirtualDriveImpl::SelectControlPage(const unsigned char* page, size_t offset, CModeParameters& next,
                                          CVirtualReply& reply) const
{
    if (!ChangesOnlyChangeable(&CVirtualDriveImpl::BuildControlPage, page, offset, reply)) {
        return false;
    }
    const unsigned char autoload = page[5] & AUTOLOAD_MASK;
    if (autoload > MAX_AUTOLOAD_MODE) {
        Fail(reply, InvalidFieldInParameterList(static_cast<int>(offset + 5)));
        return false;
    }
    next.autoloadMode = autoload;
    return true;
}

bool CVirtualDriveImpl::SelectVendorSettingsPage(const unsigned char* page, size_t offset, CModeParameters& next,
                                                 CVirtualReply& reply) const
{
    if (!ChangesOnlyChangeable(&CVirtualDriveImpl::BuildVendorSettingsPage, page, offset, reply)) {
        return false;
    }
    if (page[7] > MAX_COMPRESSION_CONTROL) {
        Fail(reply, InvalidFieldInParameterList(static_cast<int>(offset + 7)));
        return false;
    }
    next.compressionControl = page[7];
    return true;
}
