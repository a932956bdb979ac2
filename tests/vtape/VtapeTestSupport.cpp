#include "VtapeTestSupport.h"

#include <algorithm>
#include <cstdio>

namespace vtape_test {

namespace {

std::string Describe(const CVirtualReply& reply)
{
    char text[96];
    if (reply.status == GOOD_STATUS) {
        std::snprintf(text, sizeof(text), "GOOD, %d bytes", reply.transferred);
    } else {
        std::snprintf(text, sizeof(text), "status %02Xh sense %02X/%02X/%02X byte2 %02Xh, %d bytes", reply.status,
                      reply.sense[2] & 0x0F, reply.sense[12], reply.sense[13], reply.sense[2], reply.transferred);
    }
    return text;
}

::testing::AssertionResult CheckSense(const CVirtualReply& reply, int byte2Mask, int byte2, int asc, int ascq)
{
    if (reply.status == CHECK_CONDITION_STATUS && reply.senseLength == 18 && (reply.sense[0] & 0x7F) == 0x70 &&
        reply.sense[7] == 10 && (reply.sense[2] & byte2Mask) == byte2 && reply.sense[12] == asc &&
        reply.sense[13] == ascq) {
        return ::testing::AssertionSuccess();
    }
    char wanted[64];
    std::snprintf(wanted, sizeof(wanted), "byte2 %02Xh (mask %02Xh) %02X/%02X", byte2, byte2Mask, asc, ascq);
    return ::testing::AssertionFailure() << "expected CHECK CONDITION " << wanted << ", got " << Describe(reply);
}

}  // namespace

::testing::AssertionResult IsGood(const CVirtualReply& reply)
{
    if (reply.status == GOOD_STATUS && reply.senseLength == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "expected GOOD, got " << Describe(reply);
}

::testing::AssertionResult HasSense(const CVirtualReply& reply, int key, int asc, int ascq)
{
    return CheckSense(reply, 0x0F, key, asc, ascq);
}

::testing::AssertionResult HasCondition(const CVirtualReply& reply, int byte2, int asc, int ascq)
{
    return CheckSense(reply, 0xEF, byte2, asc, ascq);
}

int32_t Information(const CVirtualReply& reply)
{
    const uint32_t value = (uint32_t(reply.sense[3]) << 24) | (uint32_t(reply.sense[4]) << 16) |
                           (uint32_t(reply.sense[5]) << 8) | reply.sense[6];
    return static_cast<int32_t>(value);
}

CBytes Pattern(size_t size, unsigned seed)
{
    CBytes bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (unsigned char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<unsigned char>(state >> 24);
    }
    return bytes;
}

int64_t LogParameter(const CBytes& page, unsigned code)
{
    if (page.size() < 4) {
        return -1;
    }
    const size_t end = std::min(page.size(), 4 + ((size_t(page[2]) << 8) | page[3]));
    for (size_t offset = 4; offset + 4 <= end;) {
        const unsigned parameter = (unsigned(page[offset]) << 8) | page[offset + 1];
        const size_t length = page[offset + 3];
        if (parameter == code && offset + 4 + length <= end) {
            int64_t value = 0;
            for (size_t i = 0; i < length; ++i) {
                value = (value << 8) | page[offset + 4 + i];
            }
            return value;
        }
        offset += 4 + length;
    }
    return -1;
}

CTestDrive::CTestDrive(const std::string& text)
{
    std::string error;
    m_drive = CVirtualDrive::Create(text, error);
    if (!m_drive) {
        ADD_FAILURE() << "cannot create drive '" << text << "': " << error;
        m_drive = CVirtualDrive::Create("ultrium", error);
    }
}

CBytes CTestDrive::Cdb6(unsigned char opcode, unsigned char byte1, uint32_t length24)
{
    return {opcode,
            byte1,
            static_cast<unsigned char>(length24 >> 16),
            static_cast<unsigned char>(length24 >> 8),
            static_cast<unsigned char>(length24),
            0};
}

CVirtualReply CTestDrive::Run(const CBytes& cdb)
{
    return m_drive->Execute(cdb.data(), static_cast<int>(cdb.size()), VDIR_NONE, nullptr, 0);
}

CVirtualReply CTestDrive::In(const CBytes& cdb, CBytes& buffer)
{
    return m_drive->Execute(cdb.data(), static_cast<int>(cdb.size()), VDIR_IN, buffer.data(),
                            static_cast<int>(buffer.size()));
}

CVirtualReply CTestDrive::Out(const CBytes& cdb, CBytes data)
{
    return m_drive->Execute(cdb.data(), static_cast<int>(cdb.size()), VDIR_OUT, data.data(),
                            static_cast<int>(data.size()));
}

CVirtualReply CTestDrive::Read(uint32_t length, CBytes& out)
{
    out.assign(length, 0);
    return In(Cdb6(0x08, 0, length), out);
}

CVirtualReply CTestDrive::ReadFixed(uint32_t count, uint32_t blockSize, CBytes& out)
{
    out.assign(size_t(count) * blockSize, 0);
    return In(Cdb6(0x08, 1, count), out);
}

CVirtualReply CTestDrive::Inquiry(bool evpd, unsigned char page, unsigned allocation, CBytes& out)
{
    out.assign(255, 0xEE);
    return In({0x12, static_cast<unsigned char>(evpd ? 1 : 0), page, static_cast<unsigned char>(allocation >> 8),
               static_cast<unsigned char>(allocation), 0},
              out);
}

CVirtualReply CTestDrive::ModeSense(unsigned char pageByte, unsigned char allocation, CBytes& out,
                                    bool disableBlockDescriptors)
{
    out.assign(255, 0xEE);
    return In({0x1A, static_cast<unsigned char>(disableBlockDescriptors ? 0x08 : 0), pageByte, 0, allocation, 0}, out);
}

CVirtualReply CTestDrive::LogSense(unsigned char page, unsigned allocation, CBytes& out)
{
    out.assign(512, 0xEE);
    return In({0x4D, 0, static_cast<unsigned char>(0x40 | page), 0, 0, 0, 0,
               static_cast<unsigned char>(allocation >> 8), static_cast<unsigned char>(allocation), 0},
              out);
}

CVirtualReply CTestDrive::RequestSense(unsigned char allocation, CBytes& out)
{
    out.assign(255, 0xEE);
    return In({0x03, 0, 0, 0, allocation, 0}, out);
}

CVirtualReply CTestDrive::ReadBuffer(unsigned char mode, unsigned char id, uint32_t offset, uint32_t allocation,
                                     CBytes& out)
{
    out.assign(allocation, 0);
    return In({0x3C, mode, id, static_cast<unsigned char>(offset >> 16), static_cast<unsigned char>(offset >> 8),
               static_cast<unsigned char>(offset), static_cast<unsigned char>(allocation >> 16),
               static_cast<unsigned char>(allocation >> 8), static_cast<unsigned char>(allocation), 0},
              out);
}

uint32_t CTestDrive::Position()
{
    CBytes data(20);
    const CVirtualReply reply = In({0x34, 0, 0, 0, 0, 0, 0, 0, 0, 0}, data);
    EXPECT_GOOD(reply);
    return (uint32_t(data[4]) << 24) | (uint32_t(data[5]) << 16) | (uint32_t(data[6]) << 8) | data[7];
}

}  // namespace vtape_test
