// End-to-end runs of the converter on raw sources, the table file, the
// command line and the destination writer.
#include "e2e_support.h"

#include <gtest/gtest.h>

using e2e::Bytes;
using e2e::Scratch;

TEST(RawRun, WorkedFourByteRun)
{
    Scratch s("worked");
    s.write("materialmap.raw", Bytes{1, 2, 3, 4});
    const e2e::RunResult r = s.run({});
    EXPECT_EQ(r.out,
              "materialmap.raw is the inpath\n"
              "HeightmapPrimary.mat is the outpath\n"
              "didn't find conversiontable.hex,using built-in\n"
              "found 1 file to open\n"
              "filesize is 4\n"
              "1 2 3 4 0 0 0 0 0 0 0 0 \n"
              "1 6 5 8 0 0 0 0 0 0 0 0 0 0 0 0 4 bytes written\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(s.read("HeightmapPrimary.mat"), (Bytes{1, 6, 5, 8}));
    EXPECT_EQ(s.listing(), (std::vector<std::string>{"HeightmapPrimary.mat", "materialmap.raw"}));
}
