// Forms of the command line that the option library reads otherwise on its own: they keep
// their old meaning.
#include <gtest/gtest.h>
#include "ctl/Args.h"

namespace {

TEST(ArgsFormsTest, NumbersThatBeginWithAMinusAreWordsInTheirPlace)
{
    Options o;
    std::string error;
    ASSERT_TRUE(ParseArgs({"-p", "1", "power", "-.5"}, o, error)) << error;
    EXPECT_EQ(o.value, -0.5);
    o = Options();
    ASSERT_FALSE(ParseArgs({"-p", "1", "-.5", "power"}, o, error));
    EXPECT_EQ(error, "unknown command '-.5'");
    ASSERT_FALSE(ParseArgs({"-p", "1", "power", "-1e3"}, o, error));
    EXPECT_EQ(error, "unknown option '-1e3'");
    ASSERT_FALSE(ParseArgs({"-p", "1", "--", "power", "-1e3"}, o, error));
    EXPECT_EQ(error, "power takes a decimal number, not '-1e3'");
}

TEST(ArgsFormsTest, ShortOptionsStandAloneAndTheLastValueCounts)
{
    Options o;
    std::string error;
    for (const char* arg : {"-p1", "-hp"}) {
        EXPECT_FALSE(ParseArgs({arg, "1", "info"}, o, error)) << arg;
        EXPECT_EQ(error, std::string("unknown option '") + arg + "'");
    }
    ASSERT_TRUE(ParseArgs({"-p=COM3", "info", "--timeout", "5", "--timeout=7"}, o, error));
    EXPECT_EQ(o.port, "COM3");
    EXPECT_EQ(o.timeoutMs, 7);
    EXPECT_FALSE(ParseArgs({"-p=", "info"}, o, error));
    EXPECT_EQ(error, "option '-p' needs a value");
    EXPECT_FALSE(ParseArgs({"-p", "1", "sweep", "power", "--from", "--to", "3"}, o, error));
    EXPECT_EQ(error, "--from takes a decimal number, not '--to'");
    EXPECT_FALSE(ParseArgs({"-p", "1", "serve", "--trace=1"}, o, error));
    EXPECT_EQ(error, "option '--trace' takes no value");
}

}  // namespace
