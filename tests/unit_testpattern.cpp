// The "/D" test pattern and the program name taken from the program path.
#include "mainConv/rundriver.h"
#include "reference_pattern.h"
#include "common/runstate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

using reference::levels;
using reference::pair;

class TestPattern : public ::testing::Test {
protected:
    void SetUp() override { std::memset(outdata, 0, 1 << 20); }
    void TearDown() override { std::memset(outdata, 0, 1 << 20); }
};

TEST_F(TestPattern, FillsTheTestFileSize)
{
    EXPECT_EQ(testfill(524288), 524288);
    EXPECT_EQ(outdata[524288], 0);
}

TEST_F(TestPattern, WorkedLevels)
{
    struct Case {
        long level;
        unsigned char low, high;
    };
    const Case cases[] = {
        {0, 0x00, 0x28},     {2, 0xFE, 0x28},     {256, 0x01, 0x29},  {512, 0x02, 0x2A},
        {32768, 0x80, 0xA8}, {32770, 0x7E, 0xA8}, {-2, 0x01, 0x28},
    };
    for (const Case &c : cases)
        EXPECT_EQ(pair(c.level), (Bytes{c.low, c.high})) << "level " << c.level;

    testfill(524288);
    // On the first way up, sample k holds level 2k, so level L starts at byte L.
    const std::size_t at[][2] = {{0, 0}, {2, 2}, {256, 256}, {512, 512}, {32768, 32768}, {32770, 32770}};
    for (const auto &p : at) {
        const Bytes expected = pair(static_cast<long>(p[0]));
        EXPECT_EQ(outdata[p[1]], expected[0]) << "level " << p[0];
        EXPECT_EQ(outdata[p[1] + 1], expected[1]) << "level " << p[0];
    }
}

TEST_F(TestPattern, FileBeginsAsDocumented)
{
    testfill(524288);
    EXPECT_EQ(Bytes(outdata, outdata + 16),
              (Bytes{0x00, 0x28, 0xFE, 0x28, 0xFC, 0x28, 0xFA, 0x28, 0xF8, 0x28, 0xF6, 0x28, 0xF4,
                     0x28, 0xF2, 0x28}));
}

TEST_F(TestPattern, WholePatternFollowsTheTriangleWave)
{
    testfill(524288);
    const std::vector<long> wave = levels(262144);
    // The wave turns at both ends, so the dip to -2 is inside the file.
    EXPECT_NE(std::find(wave.begin(), wave.end(), -2), wave.end());
    for (std::size_t i = 0; i < wave.size(); ++i) {
        const Bytes expected = pair(wave[i]);
        ASSERT_EQ(outdata[2 * i], expected[0]) << "sample " << i << " level " << wave[i];
        ASSERT_EQ(outdata[2 * i + 1], expected[1]) << "sample " << i << " level " << wave[i];
    }
}

TEST_F(TestPattern, OddLengthEndsOnAWholePair)
{
    EXPECT_EQ(testfill(5), 6);
    EXPECT_EQ(outdata[5], 0x28);
    EXPECT_EQ(testfill(0), 0);
}

TEST(ProgramName, CutAfterTheLastSeparator)
{
    struct Case {
        const char *path;
        const char *name;
    };
    const Case cases[] = {
        {"C:\\tools\\conv.exe", "conv.exe"},
        {"./build/matconv", "matconv"},
        {"matconv", "matconv"},
        {"C:/mixed\\dir/tool.exe", "tool.exe"},
        {"dir\\", ""},
        {"", "matconv"},
        {nullptr, "matconv"},
    };
    for (const Case &c : cases)
        EXPECT_STREQ(programName(c.path), c.name) << (c.path ? c.path : "(null)");
}

} // namespace
