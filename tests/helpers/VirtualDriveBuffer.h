// What a virtual drive holds in one of its READ BUFFER buffers, read whole
// from a fresh drive, so a capture file can be compared with it.
#ifndef TAPEDIAG_TEST_VIRTUALDRIVEBUFFER_H
#define TAPEDIAG_TEST_VIRTUALDRIVEBUFFER_H

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "VirtualDrive.h"

// Buffer `id` of a drive made from `device` ("MODEL[,FAULT...]"), read in
// one READ BUFFER of `mode`.
inline std::vector<unsigned char> DriveBuffer(const std::string& device, unsigned char mode, unsigned char id,
                                              uint32_t length)
{
    std::string error;
    std::unique_ptr<CVirtualDrive> drive = CVirtualDrive::Create(device, error);
    EXPECT_TRUE(drive) << error;
    if (!drive)
        return {};
    std::vector<unsigned char> data(length);
    const unsigned char cdb[10] = {0x3C,
                                   mode,
                                   id,
                                   0,
                                   0,
                                   0,
                                   static_cast<unsigned char>(length >> 16),
                                   static_cast<unsigned char>(length >> 8),
                                   static_cast<unsigned char>(length),
                                   0};
    const CVirtualReply reply = drive->Execute(cdb, 10, VDIR_IN, data.data(), static_cast<int>(length));
    EXPECT_EQ(reply.status, GOOD_STATUS);
    data.resize(static_cast<size_t>(reply.transferred));
    return data;
}

#endif
