// The serve command's address rules and how it cuts a client's bytes into lines.
#include <gtest/gtest.h>
#include "net/Address.h"
#include "net/LineSplitter.h"

namespace {

TEST(ServeAddress, ListenTakesAnIpv4AddressAndPort)
{
    Endpoint at;
    std::string error;
    ASSERT_TRUE(ParseEndpoint("127.0.0.1:5025", at, error));
    EXPECT_EQ(at.address, 0x7F000001u);
    EXPECT_EQ(at.port, 5025);
    ASSERT_TRUE(ParseEndpoint("0.0.0.0:0", at, error));
    EXPECT_EQ(FormatEndpoint({0xC0A80A05, 65535}), "192.168.10.5:65535");
    for (const char* bad :
         {"", "5025", ":5025", "localhost:5025", "127.0.0.1", "127.0.0.1:", "127.0.0.1:65536",
          "127.0.0.1:-1", "127.0.0.1:50 25", "1.2.3:80", "1.2.3.4.5:80", "256.0.0.1:80",
          "1..2.3:80", "+1.2.3.4:80", "01234.0.0.1:80", "127.0.0.1:123456"}) {
        EXPECT_FALSE(ParseEndpoint(bad, at, error)) << bad;
        EXPECT_NE(error.find("--listen"), std::string::npos);
    }
}

TEST(ServeAddress, AllowListMatchesNetworks)
{
    AllowList allow;
    std::string error;
    ASSERT_TRUE(allow.Parse("", error));
    EXPECT_TRUE(allow.Allows(0x01020304));

    ASSERT_TRUE(allow.Parse("192.168.1.0/24,10.0.0.7,172.16.5.9/12", error));
    EXPECT_TRUE(allow.Allows(0xC0A80100));
    EXPECT_TRUE(allow.Allows(0xC0A801FF));
    EXPECT_FALSE(allow.Allows(0xC0A80200));
    EXPECT_TRUE(allow.Allows(0x0A000007));
    EXPECT_FALSE(allow.Allows(0x0A000008));
    EXPECT_TRUE(allow.Allows(0xAC1F0001));  // 172.31.0.1: host bits of the entry are ignored
    EXPECT_FALSE(allow.Allows(0xAC200001));

    ASSERT_TRUE(allow.Parse("0.0.0.0/0", error));
    EXPECT_TRUE(allow.Allows(0xFFFFFFFF));
    ASSERT_TRUE(allow.Parse("127.0.0.2/32", error));
    EXPECT_FALSE(allow.Allows(0x7F000001));

    for (const char* bad : {",", "10.0.0.1,", "10.0.0.1/33", "10.0.0.1/", "10.0.0.1/-1",
                            "10.0.0.0/8/8", "10.0.0", "10.0.0.1 ,10.0.0.2", "*"}) {
        EXPECT_FALSE(allow.Parse(bad, error)) << bad;
        EXPECT_NE(error.find("--allow"), std::string::npos);
        EXPECT_TRUE(allow.Allows(0x7F000001)) << "a refused list leaves no entry behind";
    }
}

struct Taken {
    std::string line;
    bool tooLong;
    bool operator==(const Taken& o) const { return line == o.line && tooLong == o.tooLong; }
};

std::vector<Taken> TakeAll(LineSplitter& lines)
{
    std::vector<Taken> taken;
    Taken next;
    while (lines.Next(next.line, next.tooLong))
        taken.push_back(next);
    return taken;
}

TEST(ServeLines, SplitsAtLineFeedsAcrossAnyPieces)
{
    LineSplitter lines(16);
    const std::string stream = "*IDN?\r\nCHAN 5;:POW?\n\n\r\nno end";
    size_t completed = 0;
    for (char c : stream)
        completed += lines.Feed(&c, 1);
    EXPECT_EQ(completed, 4u);
    EXPECT_EQ(
        TakeAll(lines),
        (std::vector<Taken>{{"*IDN?", false}, {"CHAN 5;:POW?", false}, {"", false}, {"", false}}));
    EXPECT_EQ(lines.Held(), 6u);  // "no end" waits for its LF
    EXPECT_EQ(lines.Feed("\n", 1), 1u);
    EXPECT_EQ(TakeAll(lines), (std::vector<Taken>{{"no end", false}}));
    EXPECT_EQ(lines.Held(), 0u);

    const std::string binary("a\0b\xff\n", 5);
    lines.Feed(binary.data(), binary.size());
    EXPECT_EQ(TakeAll(lines), (std::vector<Taken>{{std::string("a\0b\xff", 4), false}}));
}

TEST(ServeLines, DropsTooLongLinesAndHoldsLittle)
{
    LineSplitter lines(8);
    const std::string fits = "12345678\r\n12345678\n";
    EXPECT_EQ(lines.Feed(fits.data(), fits.size()), 2u);
    EXPECT_EQ(TakeAll(lines), (std::vector<Taken>{{"12345678", false}, {"12345678", false}}));

    const std::string over = "123456789\n12345678\r\r\nok\n";
    EXPECT_EQ(lines.Feed(over.data(), over.size()), 3u);
    EXPECT_EQ(TakeAll(lines), (std::vector<Taken>{{"", true}, {"", true}, {"ok", false}}));

    // A megabyte without a line feed is dropped as it comes: little is ever held.
    const std::string chunk(4096, 'x');
    for (int i = 0; i < 256; ++i) {
        lines.Feed(chunk.data(), chunk.size());
        EXPECT_LE(lines.Held(), 10u);
    }
    EXPECT_EQ(lines.Feed("\nnext\n", 6), 2u);
    EXPECT_EQ(TakeAll(lines), (std::vector<Taken>{{"", true}, {"next", false}}));
}

}  // namespace
