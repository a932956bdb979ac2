// Helpers for the virtual drive tests: a drive wrapper issuing CDBs and
// one-line outcome checks.
#ifndef TESTS_VTAPE_VTAPETESTSUPPORT_H
#define TESTS_VTAPE_VTAPETESTSUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "VirtualDrive.h"

namespace vtape_test {

typedef std::vector<unsigned char> CBytes;

::testing::AssertionResult IsGood(const CVirtualReply& reply);
// CHECK CONDITION with this sense key and ASC/ASCQ.
::testing::AssertionResult HasSense(const CVirtualReply& reply, int key, int asc, int ascq);
// CHECK CONDITION with this whole sense byte 2 (flags | key) and ASC/ASCQ.
::testing::AssertionResult HasCondition(const CVirtualReply& reply, int byte2, int asc, int ascq);

// Signed information field (sense bytes 3-6).
int32_t Information(const CVirtualReply& reply);

// A block of `size` bytes whose content depends on `seed`.
CBytes Pattern(size_t size, unsigned seed);

// Value of log parameter `code` in a LOG SENSE page, or -1 when absent.
int64_t LogParameter(const CBytes& page, unsigned code);

class CTestDrive {
public:
    explicit CTestDrive(const std::string& text);

    CVirtualDrive* operator->() { return m_drive.get(); }

    CVirtualReply Run(const CBytes& cdb);
    // Data-in command; `buffer` keeps its size, the reply tells what moved.
    CVirtualReply In(const CBytes& cdb, CBytes& buffer);
    CVirtualReply Out(const CBytes& cdb, CBytes data);

    CVirtualReply TestUnitReady() { return Run({0x00, 0, 0, 0, 0, 0}); }
    CVirtualReply Rewind() { return Run({0x01, 0, 0, 0, 0, 0}); }
    CVirtualReply LoadUnload(unsigned char flags) { return Run({0x1B, 0, 0, 0, flags, 0}); }
    CVirtualReply WriteFilemarks(uint32_t count) { return Run(Cdb6(0x10, 0, count)); }
    CVirtualReply Space(unsigned char code, int32_t count)
    {
        return Run(Cdb6(0x11, code, static_cast<uint32_t>(count) & 0xFFFFFF));
    }
    CVirtualReply Write(const CBytes& record) { return Out(Cdb6(0x0A, 0, Length(record)), record); }
    CVirtualReply WriteFixed(const CBytes& blocks, uint32_t count) { return Out(Cdb6(0x0A, 1, count), blocks); }
    // Variable READ of `length` bytes into a buffer of that size.
    CVirtualReply Read(uint32_t length, CBytes& out);
    CVirtualReply ReadFixed(uint32_t count, uint32_t blockSize, CBytes& out);
    CVirtualReply Inquiry(bool evpd, unsigned char page, unsigned allocation, CBytes& out);
    CVirtualReply ModeSense(unsigned char pageByte, unsigned char allocation, CBytes& out,
                            bool disableBlockDescriptors = false);
    CVirtualReply ModeSelect(const CBytes& list)
    {
        return Out({0x15, 0x10, 0, 0, static_cast<unsigned char>(list.size()), 0}, list);
    }
    CVirtualReply LogSense(unsigned char page, unsigned allocation, CBytes& out);
    CVirtualReply ResetLogs() { return Run({0x4C, 0x02, 0, 0, 0, 0, 0, 0, 0, 0}); }
    CVirtualReply RequestSense(unsigned char allocation, CBytes& out);
    // READ BUFFER into a buffer of `allocation` bytes.
    CVirtualReply ReadBuffer(unsigned char mode, unsigned char id, uint32_t offset, uint32_t allocation, CBytes& out);
    // The vendor arm command: 01h parks, 00h unparks.
    CVirtualReply Park(unsigned char action) { return Run({0x06, 0, 0, 0, action, 0}); }
    // First block location from READ POSITION (records and filemarks count).
    uint32_t Position();

    static CBytes Cdb6(unsigned char opcode, unsigned char byte1, uint32_t length24);

private:
    static uint32_t Length(const CBytes& bytes) { return static_cast<uint32_t>(bytes.size()); }
    std::unique_ptr<CVirtualDrive> m_drive;
};

}  // namespace vtape_test

#define EXPECT_GOOD(reply) EXPECT_TRUE(vtape_test::IsGood(reply))
#define ASSERT_GOOD(reply) ASSERT_TRUE(vtape_test::IsGood(reply))
#define EXPECT_SENSE(reply, key, asc, ascq) EXPECT_TRUE(vtape_test::HasSense(reply, key, asc, ascq))
#define EXPECT_CONDITION(reply, byte2, asc, ascq) EXPECT_TRUE(vtape_test::HasCondition(reply, byte2, asc, ascq))

#endif
