// The conversion of loaded source bytes into destination samples.
#include "conversion/conversion.h"
#include "common/runstate.h"

#include "fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

const Bytes &builtIn = fixtures::builtinTable;

struct ConversionCase {
    const char *what;
    Bytes source;
    Bytes expected;
};

class Conversion : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::memcpy(savedTable, Translate, sizeof savedTable);
        clearBuffers(64);
    }
    void TearDown() override { std::memcpy(Translate, savedTable, sizeof savedTable); }

    // Zeroes the first n bytes of both buffers, as at process start.
    static void clearBuffers(std::size_t n)
    {
        std::memset(indata, 0, n);
        std::memset(outdata, 0, n);
    }

    static std::int32_t convert(const Bytes &source, int bits)
    {
        std::copy(source.begin(), source.end(), indata);
        inputbufSize = static_cast<std::int32_t>(source.size());
        depth = bits;
        return process();
    }

    static Bytes output(std::size_t n) { return Bytes(outdata, outdata + n); }

    unsigned char savedTable[256];
};

TEST_F(Conversion, BuiltInTableHoldsTheMaterialCodes)
{
    EXPECT_EQ(Bytes(Translate, Translate + 16), builtIn);
    for (int code = 16; code < 256; ++code)
        EXPECT_EQ(Translate[code], 0) << "code " << code;
}

TEST_F(Conversion, EightBitCases)
{
    const ConversionCase cases[] = {
        {"edge codes", {0x00, 0x01, 0x02, 0x03, 0x0F, 0x10, 0xFF}, {0x00, 0x01, 0x06, 0x05, 0x04, 0x00, 0x00}},
        {"every meaningful code", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, builtIn},
        {"one byte", {2}, {6}},
        {"repeats keep their place", {15, 15, 2, 15}, {4, 4, 6, 4}},
    };
    for (const ConversionCase &c : cases) {
        clearBuffers(64);
        const std::int32_t n = convert(c.source, 8);
        EXPECT_EQ(n, static_cast<std::int32_t>(c.source.size())) << c.what;
        EXPECT_EQ(output(c.expected.size()), c.expected) << c.what;
        // The byte past the output stays untouched.
        EXPECT_EQ(outdata[c.expected.size()], 0) << c.what;
    }
}

TEST_F(Conversion, TwentyFourBitCases)
{
    const ConversionCase cases[] = {
        {"green alone survives", {0x10, 0x20, 0x30}, {0x00, 0x20}},
        {"pixels in file order", {0x11, 0x22, 0x33, 0x44, 0x55, 0x66}, {0x00, 0x22, 0x00, 0x55}},
        {"short last pixel with green", {0x11, 0x22, 0x33, 0x44, 0x55}, {0x00, 0x22, 0x00, 0x55}},
        {"short last pixel without green", {0x11, 0x22, 0x33, 0x44}, {0x00, 0x22, 0x00, 0x00}},
        {"one lone byte", {0x99}, {0x00, 0x00}},
        {"codes are not translated", {0x02, 0x02, 0x02}, {0x00, 0x02}},
    };
    for (const ConversionCase &c : cases) {
        clearBuffers(64);
        // Junk past the loaded bytes must not be taken for a missing green.
        indata[c.source.size()] = 0xEE;
        indata[c.source.size() + 1] = 0xEE;
        const std::int32_t n = convert(c.source, 24);
        EXPECT_EQ(n, static_cast<std::int32_t>(c.expected.size())) << c.what;
        EXPECT_EQ(output(c.expected.size()), c.expected) << c.what;
    }
}

TEST_F(Conversion, NothingLoadedConvertsNothing)
{
    for (int bits : {8, 24}) {
        for (std::int32_t size : {0, -1, -2147483647 - 1}) {
            indata[0] = 5;
            inputbufSize = size;
            depth = bits;
            EXPECT_EQ(process(), 0) << bits << " bits, size " << size;
            EXPECT_EQ(outdata[0], 0);
        }
    }
}

TEST_F(Conversion, TableEntriesReplaceTheBuiltInOnes)
{
    Translate[0] = 7;
    const Bytes source = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    ASSERT_EQ(convert(source, 8), 16);
    EXPECT_EQ(output(16), (Bytes{7, 1, 6, 5, 8, 8, 9, 7, 3, 3, 2, 2, 12, 2, 8, 4}));

    for (int i = 0; i < 256; ++i)
        Translate[i] = static_cast<unsigned char>(255 - i);
    ASSERT_EQ(convert({0x00, 0x10, 0x80, 0xFF}, 8), 4);
    EXPECT_EQ(output(4), (Bytes{0xFF, 0xEF, 0x7F, 0x00}));
}

// A full buffer of 24-bit data ends in a one-byte pixel (67,108,864 is not a
// multiple of 3); its green byte would lie past the buffer.
TEST_F(Conversion, FullBufferOfTwentyFourBitNeverReadsPastIt)
{
    std::memset(indata, 0x5A, bufferSize);
    inputbufSize = bufferSize;
    depth = 24;
    const std::int32_t n = process();
    EXPECT_EQ(n, 2 * ((bufferSize + 2) / 3));
    EXPECT_EQ(outdata[n - 4], 0x00);
    EXPECT_EQ(outdata[n - 3], 0x5A);
    EXPECT_EQ(outdata[n - 2], 0x00);
    EXPECT_EQ(outdata[n - 1], 0x00);
    EXPECT_EQ(outdata[n], 0x00);
    std::memset(indata, 0, bufferSize);
    std::memset(outdata, 0, static_cast<std::size_t>(n));
}

TEST_F(Conversion, FullBufferOfEightBitConvertsEveryByte)
{
    for (std::int32_t i = 0; i < bufferSize; ++i)
        indata[i] = static_cast<unsigned char>(i % 17);
    inputbufSize = bufferSize;
    depth = 8;
    ASSERT_EQ(process(), bufferSize);
    for (std::int32_t i : {0, 1, 2, 16, 17, bufferSize - 2, bufferSize - 1}) {
        const int code = i % 17;
        EXPECT_EQ(outdata[i], code < 16 ? builtIn[static_cast<std::size_t>(code)] : 0) << "byte " << i;
    }
    std::memset(indata, 0, bufferSize);
    std::memset(outdata, 0, bufferSize);
}

} // namespace
