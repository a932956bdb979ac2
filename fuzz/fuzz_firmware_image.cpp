// Reading a firmware image file for an upgrade: a virtual Ultrium drive is
// upgraded (-i) from an image file whose length and bytes come from the
// input. The first two bytes give the length in units of 2 bytes; the rest
// is repeated to fill the file.
#include <fstream>

#include "FuzzDrive.h"

namespace {

const size_t BLOCK = 16384;          // of the file
const size_t DOWNLOAD_BLOCK = 8192;  // of each WRITE BUFFER

CFuzzDrive& Drive()
{
    static CFuzzDrive* drive = new CFuzzDrive("sim:ultrium");
    return *drive;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFuzzDrive& drive = Drive();
    FuzzInput input(data, size);
    size_t length = input.Byte();
    length = ((length << 8) | input.Byte()) * 2;
    std::string image(length, '\0');
    for (size_t i = 0; i < length && input.Left() > 0; ++i)
        image[i] = static_cast<char>(input.Rest()[i % input.Left()]);
    const std::string file = drive.directory + "/u120B-fw.bin";
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(image.data(), static_cast<std::streamsize>(length));

    std::string output;
    FuzzInput none(nullptr, 0);
    const bool upgraded = drive.Run("upgrade; -id:x; -f:" + file + "; -i;", none, {}, output);
    // Only the file's whole blocks are sent, in order (the drive's first
    // 8 KiB twice, as the download sequence has it), and nothing from a file
    // that holds none.
    std::string sent;
    for (const CFuzzCommand& write : drive.Sent(OP_WRITE_BUFFER))
        sent.append(write.dataOut.begin(), write.dataOut.end());
    const std::string whole = image.substr(0, length / BLOCK * BLOCK);
    const std::string expected = whole.empty() ? "" : whole.substr(0, DOWNLOAD_BLOCK) + whole;
    FUZZ_CHECK(expected.compare(0, sent.size(), sent) == 0);
    if (upgraded)
        FUZZ_CHECK(sent == expected);
    if (length < BLOCK)
        FUZZ_CHECK(!upgraded && sent.empty());
    return 0;
}
