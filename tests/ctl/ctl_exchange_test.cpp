// One question at a time over the fake port: which answer counts as the reply.
#include <gtest/gtest.h>
#include "link/Exchange.h"
#include "fake_port.h"

using namespace ctl_test;

namespace {

class ExchangeTest : public ::testing::Test {
protected:
    FakeClock clock;
    FakePort port{clock};
    Exchange exchange{port, clock, 100};
    std::string error;
};

TEST_F(ExchangeTest, AQueryIsAnsweredOnlyByItsOwnCode)
{
    ASSERT_EQ(exchange.ReadUntil(STAGE_READY, error), LinkResult::Answered) << error;
    port.written.clear();
    // Every power answer turns into a channel answer: applied, but no reply to the query.
    port.onAnswer = [](std::vector<uint8_t>& bytes) {
        bytes = {0x01, 0x01, 0x01, 0x00, 0x07, 0x0A};
    };
    EXPECT_EQ(exchange.Query(CMD_POWER, error), LinkResult::Silent);
    EXPECT_EQ(error, "no answer to the power query after 3 tries");
    EXPECT_EQ(exchange.State().channel, 7);
    EXPECT_EQ(port.written, std::vector<std::string>(3, "01 00 02 00 00 03"));

    port.onAnswer = nullptr;
    port.written.clear();
    ASSERT_EQ(exchange.Query(CMD_POWER, error), LinkResult::Answered) << error;
    EXPECT_EQ(port.written, std::vector<std::string>{"01 00 02 00 00 03"});
    EXPECT_EQ(exchange.State().power, 1000);
}

TEST_F(ExchangeTest, OnlyTheEightCodesCanBeQueried)
{
    for (uint8_t code : {0, 9, 255}) {
        EXPECT_EQ(exchange.Query(code, error), LinkResult::NotAsked);
        EXPECT_EQ(error, "no query of code " + std::to_string(code));
    }
    EXPECT_TRUE(port.written.empty());
}

TEST_F(ExchangeTest, AnOutputAnswerWhoseBytesDisagreeIsNoReply)
{
    port.onAnswer = [](std::vector<uint8_t>& bytes) {
        bytes = {0x01, 0x01, 0x03, 0x01, 0x00, 0x06};
    };
    EXPECT_EQ(exchange.Query(CMD_OUTPUT, error), LinkResult::Silent);
    EXPECT_EQ(port.written.size(), 3u);
}

}  // namespace
