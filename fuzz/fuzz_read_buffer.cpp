// READ BUFFER answers as the captures read them: the trace length and the
// trace blocks of an Ultrium drive, its cartridge memory and its EEPROM, on
// a virtual drive whose READ BUFFER answers come from the input. The first
// byte picks the capture; the rest answers the commands in turn.
#include <fstream>
#include <iterator>

#include "FuzzDrive.h"
#include "ScsiData.h"

namespace {

const size_t TRACE_BLOCK = 16384;
const size_t MAX_TRACE_BLOCKS = 1024;
const size_t TRACE_LENGTH_OFFSET = 84;

using Bytes = std::vector<unsigned char>;

struct Capture {
    const char* command;
    size_t length;  // of the file; 0 for the trace, whose drive says
    const char* done;
};
const Capture CAPTURES[] = {
    {"trace", 0, "Trace completed, binary file created."},
    {"cmemory", 4096, "Cartridge Memory data successfully retrieved."},
    {"eeprom", 8192, "EEPROM data successfully retrieved."},
};

CFuzzDrive& Drive()
{
    static CFuzzDrive* drive = new CFuzzDrive("sim:ultrium,firmware=R128");
    return *drive;
}

Bytes Padded(Bytes data, size_t length)
{
    data.resize(length, 0);
    return data;
}

Bytes FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The trace file holds the blocks read after the successful length query,
// each at its own offset, as many as that answer's length asks for.
void CheckTrace(const std::vector<CFuzzCommand>& reads, const Bytes& file)
{
    FUZZ_CHECK(file.size() % TRACE_BLOCK == 0);
    const size_t blocks = file.size() / TRACE_BLOCK;
    FUZZ_CHECK(blocks <= MAX_TRACE_BLOCKS && reads.size() > blocks);
    const Bytes query = Padded(reads[reads.size() - blocks - 1].dataIn, TRACE_BLOCK);
    const uint32_t length = GetLittle32(query.data() + TRACE_LENGTH_OFFSET);
    FUZZ_CHECK(blocks == length / TRACE_BLOCK + (length % TRACE_BLOCK != 0 ? 1 : 0));
    Bytes expected;
    for (size_t i = 0; i < blocks; ++i) {
        const CFuzzCommand& read = reads[reads.size() - blocks + i];
        FUZZ_CHECK(GetBig24(read.cdb.data() + 3) == i * TRACE_BLOCK);
        const Bytes block = Padded(read.dataIn, TRACE_BLOCK);
        expected.insert(expected.end(), block.begin(), block.end());
    }
    FUZZ_CHECK(file == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CFuzzDrive& drive = Drive();
    FuzzInput input(data, size);
    const Capture& capture = CAPTURES[input.Byte() % 3];
    const std::string file = drive.directory + "/capture.bin";
    unlink(file.c_str());

    std::string output;
    const bool result =
        drive.Run(std::string(capture.command) + "; -id:x; -f:" + file + ";", input, {OP_READ_BUFFER}, output);
    const std::vector<CFuzzCommand> reads = drive.Sent(OP_READ_BUFFER);
    // A capture that fails leaves no file; one that succeeds says so.
    FUZZ_CHECK(result == (access(file.c_str(), F_OK) == 0));
    FUZZ_CHECK(result == HasLine(output, capture.done));
    if (!result)
        return 0;
    const Bytes written = FileBytes(file);
    if (capture.length == 0) {
        CheckTrace(reads, written);
    } else {
        FUZZ_CHECK(!reads.empty());
        FUZZ_CHECK(written == Padded(reads.back().dataIn, capture.length));
    }
    return 0;
}
