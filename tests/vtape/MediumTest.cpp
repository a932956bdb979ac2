// The cartridge's storage cost: records of one repeated block.
#include "Medium.h"
#include "VtapeTestSupport.h"

using namespace vtape_test;

TEST(VtapeMedium, TwentyGigabytesOfOneBlockStayFarUnder64MiB)
{
    // 320,000 records of 64 KiB is what a 20 GB benchmark run writes. The
    // cost per record is what is measured, so one small content serves.
    CTapeMedium medium(100000ull * 1048576);
    const CBytes block = Pattern(4096, 1);
    for (int i = 0; i < 320000; ++i) {
        ASSERT_TRUE(medium.WriteRecord(block.data(), static_cast<uint32_t>(block.size())));
    }
    EXPECT_EQ(1, medium.StoredContents());
    EXPECT_LT(medium.MemoryFootprint(), size_t(4) << 20);

    medium.Rewind();
    medium.WriteFilemark();
    EXPECT_EQ(0, medium.StoredContents());
    EXPECT_EQ(0u, medium.UsedBytes());
}
