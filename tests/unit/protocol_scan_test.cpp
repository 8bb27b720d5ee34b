// ScanResponseByte: the window's accumulator, telling what each byte did.
#include <gtest/gtest.h>
#include <vector>
#include "protocol/ResponseParser.h"

namespace {

TEST(ScanResponseByteTest, TellsWhatEachByteDid)
{
    using R = ScanResult;
    const std::vector<std::pair<uint8_t, R>> stream = {
        {0x00, R::Skipped}, {0x7F, R::Skipped},   {0x01, R::Pending}, {0x05, R::Abandoned},
        {0x01, R::Pending}, {0x01, R::Pending},   {0x01, R::Pending}, {0x00, R::Pending},
        {0x05, R::Pending}, {0x08, R::Frame},     {0x01, R::Pending}, {0x01, R::Pending},
        {0x02, R::Pending}, {0x02, R::Pending},   {0xBC, R::Pending}, {0xC1, R::BadChecksum},
        {0x01, R::Pending}, {0x00, R::Abandoned},
    };
    ResponseParserRecord parser;
    for (size_t i = 0; i < stream.size(); ++i) {
        EXPECT_EQ(ScanResponseByte(parser, stream[i].first), stream[i].second) << "byte " << i;
        if (stream[i].second == R::Frame) {
            EXPECT_EQ(HexBytes(parser.buffer, FRAME_LENGTH), "01 01 01 00 05 08");
        } else if (stream[i].second == R::BadChecksum) {
            EXPECT_EQ(HexBytes(parser.buffer, FRAME_LENGTH), "01 01 02 02 BC C1");
        } else if (stream[i].second == R::Abandoned) {
            EXPECT_EQ(parser.buffer[0], 0x01);  // the two dropped bytes lead the buffer
        }
    }
    EXPECT_EQ(parser.index, 0);
}

}  // namespace
