// Who may drive the laser from a browser: the password's comparison and its source, the
// sessions and their expiry, and the slow-down of wrong passwords per address, on a fake clock.
#include <gtest/gtest.h>
#include <cstdio>
#include <fstream>
#include <set>
#include "fake_port.h"
#include "web/Auth.h"

using ctl_test::FakeClock;

namespace {

// Distinct bytes on every call, as a real source gives.
struct CountingRandom {
    int calls = 0;
    bool works = true;
    bool operator()(uint8_t* out, size_t size)
    {
        ++calls;
        for (size_t i = 0; i < size; ++i)
            out[i] = static_cast<uint8_t>(calls * 31 + static_cast<int>(i));
        return works;
    }
};

class AuthTest : public ::testing::Test {
protected:
    FakeClock clock;
    CountingRandom random;
    Auth auth{clock, "s3cret", [this](uint8_t* out, size_t size) { return random(out, size); }};

    Auth::Outcome Try(const std::string& attempt, const std::string& address = "10.0.0.1")
    {
        return auth.TryLogin(address, attempt).outcome;
    }
};

TEST(SameSecret, MatchesOnlyTheWholeSecret)
{
    EXPECT_TRUE(SameSecret("s3cret", "s3cret"));
    EXPECT_FALSE(SameSecret("s3creT", "s3cret"));
    EXPECT_FALSE(SameSecret("s3cre", "s3cret"));
    EXPECT_FALSE(SameSecret("s3crets3cret", "s3cret"));  // the secret twice is not the secret
    EXPECT_FALSE(SameSecret("", "s3cret"));
    EXPECT_FALSE(SameSecret("", ""));  // no secret: nothing matches
    EXPECT_FALSE(SameSecret(std::string("s3cret\0", 7), "s3cret"));
}

TEST_F(AuthTest, RightPasswordOpensASessionWithAFreshRandomKey)
{
    const Auth::Login first = auth.TryLogin("10.0.0.1", "s3cret");
    ASSERT_EQ(first.outcome, Auth::Outcome::Opened);
    EXPECT_EQ(first.token.size(), Auth::TOKEN_BYTES * 2);
    EXPECT_EQ(first.token.find_first_not_of("0123456789abcdef"), std::string::npos);
    const Auth::Login second = auth.TryLogin("10.0.0.2", "s3cret");
    EXPECT_NE(first.token, second.token);
    EXPECT_TRUE(auth.Valid(first.token));
    EXPECT_TRUE(auth.Valid(second.token));
    EXPECT_FALSE(auth.Valid(""));
    EXPECT_FALSE(auth.Valid(first.token.substr(0, 63)));
    EXPECT_FALSE(auth.Valid(first.token + "0"));

    auth.Logout(first.token);
    EXPECT_FALSE(auth.Valid(first.token));
    EXPECT_TRUE(auth.Valid(second.token));
}

TEST_F(AuthTest, NoRandomSourceNoSession)
{
    random.works = false;
    EXPECT_EQ(Try("s3cret"), Auth::Outcome::Failed);
    EXPECT_FALSE(auth.Valid(std::string(64, '0')));
}

TEST_F(AuthTest, SessionsEndAfterTwelveIdleHoursAndUseKeepsThemOpen)
{
    const std::string kept = auth.TryLogin("10.0.0.1", "s3cret").token;
    const std::string idle = auth.TryLogin("10.0.0.1", "s3cret").token;
    clock.now += Auth::IDLE_MS - 1;
    EXPECT_TRUE(auth.Valid(kept));
    clock.now += 2;
    EXPECT_FALSE(auth.Valid(idle));
    EXPECT_TRUE(auth.Valid(kept));
    clock.now += Auth::IDLE_MS + 1;
    EXPECT_FALSE(auth.Valid(kept));
}

TEST_F(AuthTest, SessionsAreBoundedTheLeastRecentlyUsedGoesFirst)
{
    std::vector<std::string> tokens;
    for (size_t i = 0; i < Auth::MAX_SESSIONS; ++i) {
        tokens.push_back(auth.TryLogin("10.0.0.1", "s3cret").token);
        clock.now += 1;
    }
    EXPECT_TRUE(auth.Valid(tokens[0]));  // now the most recently used
    clock.now += 1;
    const std::string extra = auth.TryLogin("10.0.0.1", "s3cret").token;
    EXPECT_TRUE(auth.Valid(extra));
    EXPECT_TRUE(auth.Valid(tokens[0]));
    EXPECT_FALSE(auth.Valid(tokens[1]));
    EXPECT_EQ(std::set<std::string>(tokens.begin(), tokens.end()).size(), tokens.size());
}

TEST_F(AuthTest, WrongPasswordsWaitLongerAndLongerPerAddress)
{
    for (int i = 0; i < LoginThrottle::FREE_TRIES; ++i) {
        Auth::Login login = auth.TryLogin("10.0.0.1", "guess");
        EXPECT_EQ(login.outcome, Auth::Outcome::Wrong);
        EXPECT_EQ(login.retryAfterMs, 0);
    }
    const int64_t waits[] = {1000, 2000, 4000, 8000};
    for (int64_t wait : waits) {
        const Auth::Login wrong = auth.TryLogin("10.0.0.1", "guess");
        EXPECT_EQ(wrong.outcome, Auth::Outcome::Wrong);
        EXPECT_EQ(wrong.retryAfterMs, wait);
        // Within the wait even the right password is not looked at.
        clock.now += wait - 1;
        const Auth::Login early = auth.TryLogin("10.0.0.1", "s3cret");
        EXPECT_EQ(early.outcome, Auth::Outcome::Throttled);
        EXPECT_EQ(early.retryAfterMs, 1);
        clock.now += 1;
    }
    EXPECT_EQ(Try("s3cret", "10.0.0.2"), Auth::Outcome::Opened);  // another address is not slowed
    EXPECT_EQ(Try("s3cret"), Auth::Outcome::Opened);
    for (int i = 0; i < LoginThrottle::FREE_TRIES; ++i)  // and the right one starts it over
        EXPECT_EQ(Try("guess"), Auth::Outcome::Wrong);
    EXPECT_EQ(Try("s3cret"), Auth::Outcome::Opened);
}

TEST_F(AuthTest, TheWaitStopsGrowingAtFiveMinutesAndIsForgottenAfterAnHour)
{
    LoginThrottle throttle(clock);
    for (int i = 0; i < 40; ++i) {
        throttle.Failed("10.0.0.1");
        ASSERT_LE(throttle.WaitMs("10.0.0.1"), LoginThrottle::MAX_WAIT_MS);
        clock.now += throttle.WaitMs("10.0.0.1");
    }
    EXPECT_EQ(throttle.WaitMs("10.0.0.1"), 0);
    throttle.Failed("10.0.0.1");
    EXPECT_EQ(throttle.WaitMs("10.0.0.1"), LoginThrottle::MAX_WAIT_MS);
    clock.now += LoginThrottle::FORGET_MS + 1;
    throttle.Failed("10.0.0.1");  // counted from one again
    EXPECT_EQ(throttle.WaitMs("10.0.0.1"), 0);
}

TEST_F(AuthTest, TheThrottleRemembersABoundedNumberOfAddresses)
{
    LoginThrottle throttle(clock);
    for (int i = 0; i <= LoginThrottle::FREE_TRIES; ++i)
        throttle.Failed("10.0.0.1");
    clock.now += 1;
    for (size_t i = 0; i < LoginThrottle::MAX_ADDRESSES - 1; ++i)
        throttle.Failed("10.1." + std::to_string(i / 256) + "." + std::to_string(i % 256));
    EXPECT_GT(throttle.WaitMs("10.0.0.1"), 0);  // full, not over

    throttle.Failed("10.9.9.9");
    EXPECT_EQ(throttle.WaitMs("10.0.0.1"), 0);  // the longest quiet was forgotten
}

TEST(ReadOnly, NoPasswordNoLogin)
{
    FakeClock clock;
    Auth auth(clock, "", [](uint8_t*, size_t) { return true; });
    EXPECT_FALSE(auth.ControlAllowed());
    EXPECT_EQ(auth.TryLogin("10.0.0.1", "").outcome, Auth::Outcome::NoControl);
    EXPECT_EQ(auth.TryLogin("10.0.0.1", "anything").outcome, Auth::Outcome::NoControl);
}

TEST(LoadPassword, FromTheFileFirstLineElseTheEnvironment)
{
    const std::string path = ::testing::TempDir() + "zorvane_web_password";
    std::string password;
    std::string error;
    std::ofstream(path, std::ios::binary) << "pass word\r\nsecond line\n";
    ASSERT_TRUE(LoadPassword(path, "from-env", password, error)) << error;
    EXPECT_EQ(password, "pass word");

    std::ofstream(path, std::ios::binary) << "\nsecret on line two\n";
    EXPECT_FALSE(LoadPassword(path, nullptr, password, error));
    EXPECT_NE(error.find("no password"), std::string::npos) << error;
    std::remove(path.c_str());
    EXPECT_FALSE(LoadPassword(path, nullptr, password, error));
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;

    ASSERT_TRUE(LoadPassword("", "from-env", password, error));
    EXPECT_EQ(password, "from-env");
    ASSERT_TRUE(LoadPassword("", nullptr, password, error));
    EXPECT_EQ(password, "");
}

}  // namespace
