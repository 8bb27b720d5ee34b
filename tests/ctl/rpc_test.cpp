// ONC RPC as the VXI-11 door speaks it: XDR on hand-made bytes, the replies to every kind of
// call, records cut anywhere or claiming too much, and the portmapper.
#include <gtest/gtest.h>
#include <random>
#include "net/OncRpc.h"
#include "net/Portmapper.h"

namespace {

// Big-endian 32-bit words, as XDR writes them.
std::string Words(std::initializer_list<uint32_t> words)
{
    std::string bytes;
    for (uint32_t w : words) {
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes += static_cast<char>(w >> shift & 0xFF);
    }
    return bytes;
}

std::vector<uint32_t> ToWords(const std::string& bytes)
{
    std::vector<uint32_t> words;
    XdrReader in(bytes);
    uint32_t w = 0;
    while (in.U32(w))
        words.push_back(w);
    EXPECT_EQ(bytes.size() % 4, 0u);
    return words;
}

TEST(Xdr, WritesBigEndianWordsAndPadsData)
{
    XdrWriter out;
    out.U32(0x01020304);
    out.I32(-2);
    out.Bool(true);
    out.Opaque("abcde");
    out.Opaque("");
    out.Fixed("xy");
    EXPECT_EQ(out.Bytes(), Words({0x01020304, 0xFFFFFFFE, 1, 5}) + "abcde" + std::string(3, '\0') +
                               Words({0}) + "xy" + std::string(2, '\0'));
}

TEST(Xdr, ReadsWhatFitsAndFailsForGoodPastTheEnd)
{
    const std::string bytes =
        Words({0xFFFFFFFE, 1, 5}) + "abcde" + std::string(3, '\0') + Words({2, 4}) + "wxyz";
    XdrReader in(bytes);
    int32_t i = 0;
    bool b = false;
    std::string data;
    EXPECT_TRUE(in.I32(i));
    EXPECT_EQ(i, -2);
    EXPECT_TRUE(in.Bool(b));
    EXPECT_TRUE(b);
    EXPECT_TRUE(in.Opaque(data, 5));
    EXPECT_EQ(data, "abcde");
    EXPECT_FALSE(in.Bool(b)) << "a boolean is 0 or 1";
    uint32_t w = 0;
    EXPECT_FALSE(in.U32(w)) << "a failure sticks";
    EXPECT_FALSE(in.Ok());

    const std::string five = Words({5}) + "abcde" + std::string(3, '\0');
    XdrReader limited(five);
    EXPECT_FALSE(limited.Opaque(data, 4)) << "longer than its bound";

    // Lengths that claim more than there is, up to the largest, and padding that is missing.
    for (uint32_t claim : {9u, 0x7FFFFFFFu, 0xFFFFFFFDu, 0xFFFFFFFFu}) {
        const std::string claimed = Words({claim}) + "abcdefgh";
        XdrReader short_(claimed);
        EXPECT_FALSE(short_.Opaque(data, SIZE_MAX)) << claim;
    }
    const std::string unpaddedBytes = Words({5}) + "abcde";
    XdrReader unpadded(unpaddedBytes);
    EXPECT_FALSE(unpadded.Opaque(data, 100));
    XdrReader partial("\0\0\0", 3);
    EXPECT_FALSE(partial.U32(w));
    XdrReader empty("", 0);
    EXPECT_FALSE(empty.Skip(1));
    EXPECT_TRUE(XdrReader("", 0).Skip(0));
}

// A call's header: xid, CALL, RPC version, program, version, procedure, then credentials and
// verifier (AUTH_NONE unless given).
std::string CallHead(uint32_t xid, uint32_t prog, uint32_t vers, uint32_t proc,
                     const std::string& auth = Words({0, 0, 0, 0}), uint32_t rpcVersion = 2)
{
    return Words({xid, 0, rpcVersion, prog, vers, proc}) + auth;
}

class RpcTest : public ::testing::Test {
protected:
    RpcDispatcher rpc;
    std::vector<uint32_t> seen;  // procedures handled

    void SetUp() override
    {
        // Program 7: versions 2 to 4, procedure 1 takes one word and answers it doubled.
        for (uint32_t vers : {2u, 4u, 3u}) {
            rpc.Add(
                7, vers,
                [this](const RpcContext&, const RpcCall& call, XdrReader& args, XdrWriter& out) {
                    seen.push_back(call.procedure);
                    uint32_t w = 0;
                    if (call.procedure == 2)
                        return RpcDispatcher::Status::Deferred;
                    if (call.procedure != 1)
                        return RpcDispatcher::Status::ProcUnavail;
                    if (!args.U32(w))
                        return RpcDispatcher::Status::GarbageArgs;
                    out.U32(w * 2);
                    return RpcDispatcher::Status::Done;
                });
        }
    }

    std::vector<uint32_t> Reply(const std::string& message)
    {
        const RpcOutcome outcome = rpc.Handle(message, RpcContext{});
        EXPECT_FALSE(outcome.later);
        return ToWords(outcome.reply);
    }
};

// xid, REPLY, MSG_ACCEPTED, verifier AUTH_NONE, then the accept status and what follows.
std::vector<uint32_t> Accepted(uint32_t xid, std::initializer_list<uint32_t> rest)
{
    std::vector<uint32_t> words = {xid, 1, 0, 0, 0};
    words.insert(words.end(), rest);
    return words;
}

TEST_F(RpcTest, AnswersEveryKindOfCall)
{
    EXPECT_EQ(Reply(CallHead(11, 7, 3, 1) + Words({21})), Accepted(11, {0, 42}));
    EXPECT_EQ(Reply(CallHead(12, 7, 2, 0)), Accepted(12, {0})) << "NULL needs no handler";
    EXPECT_EQ(Reply(CallHead(13, 8, 1, 0)), Accepted(13, {1})) << "PROG_UNAVAIL, NULL too";
    EXPECT_EQ(Reply(CallHead(14, 7, 5, 1)), Accepted(14, {2, 2, 4})) << "PROG_MISMATCH 2-4";
    EXPECT_EQ(Reply(CallHead(15, 7, 1, 0)), Accepted(15, {2, 2, 4}));
    EXPECT_EQ(Reply(CallHead(16, 7, 2, 9)), Accepted(16, {3})) << "PROC_UNAVAIL";
    EXPECT_EQ(Reply(CallHead(17, 7, 2, 1) + "ab"), Accepted(17, {4})) << "GARBAGE_ARGS";
    EXPECT_EQ(Reply(CallHead(18, 7, 2, 1, Words({0, 0, 0, 0}), 3)),
              (std::vector<uint32_t>{18, 1, 1, 0, 2, 2}))
        << "RPC_MISMATCH 2-2";
    EXPECT_EQ(Reply(CallHead(18, 7, 2, 1, Words({0, 0, 0, 0}), 1)),
              (std::vector<uint32_t>{18, 1, 1, 0, 2, 2}));

    const RpcOutcome later = rpc.Handle(CallHead(19, 7, 4, 2), RpcContext{});
    EXPECT_TRUE(later.later);
    EXPECT_EQ(later.reply, "");
    EXPECT_EQ(seen, (std::vector<uint32_t>{1, 9, 1, 2}));
}

TEST_F(RpcTest, CredentialsAreSkippedWithinTheirBound)
{
    // AUTH_SYS: stamp, machine name, uid, gid, two groups; AUTH_SHORT as the verifier.
    const std::string sys = Words({1, 32, 1234, 4}) + "host" + Words({0, 0, 2, 10, 20});
    const std::string verifier = Words({2, 8, 0xAA, 0xBB});
    EXPECT_EQ(Reply(CallHead(21, 7, 2, 1, sys + verifier) + Words({5})), Accepted(21, {0, 10}));
    // A body of 400 bytes is the most.
    const std::string big = Words({1, 400}) + std::string(400, 'x');
    EXPECT_EQ(Reply(CallHead(22, 7, 2, 1, big + big) + Words({5})), Accepted(22, {0, 10}));
    const std::string tooBig = Words({1, 404}) + std::string(404, 'x');
    EXPECT_EQ(Reply(CallHead(23, 7, 2, 1, tooBig + big)), (std::vector<uint32_t>{23, 1, 1, 1, 1}))
        << "AUTH_ERROR, AUTH_BADCRED";
    EXPECT_EQ(Reply(CallHead(24, 7, 2, 1, big + Words({0, 0xFFFFFFFF}))),
              (std::vector<uint32_t>{24, 1, 1, 1, 3}))
        << "AUTH_ERROR, AUTH_BADVERF";
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(RpcTest, WhatIsNoCallGetsNoReply)
{
    const std::string call = CallHead(31, 7, 2, 1, Words({1, 8, 0, 0, 0, 0})) + Words({5});
    for (size_t cut = 0; cut < call.size() - 4; ++cut)
        EXPECT_EQ(rpc.Handle(call.substr(0, cut), RpcContext{}).reply, "") << cut;
    // A reply, and a call whose credentials claim more than the message holds.
    EXPECT_EQ(rpc.Handle(Words({32, 1, 0, 0, 0, 0}), RpcContext{}).reply, "");
    EXPECT_EQ(rpc.Handle(CallHead(33, 7, 2, 1, Words({1, 200, 0})), RpcContext{}).reply, "");
    EXPECT_EQ(seen, std::vector<uint32_t>{});
    EXPECT_EQ(Reply(call.substr(0, call.size() - 4)), Accepted(31, {4})) << "no arguments";
}

TEST_F(RpcTest, RandomMessagesNeverReachPastTheirBytes)
{
    std::mt19937 rng(7);
    const std::string call = CallHead(41, 7, 2, 1, Words({1, 12, 1, 2, 3})) + Words({5});
    for (int i = 0; i < 20000; ++i) {
        std::string message = call;
        for (int flips = 1 + static_cast<int>(rng() % 4); flips > 0; --flips)
            message[rng() % message.size()] = static_cast<char>(rng());
        message.resize(rng() % (message.size() + 1));
        // Sanitizers watch the reads; the reply, if any, is well formed.
        const std::string reply = rpc.Handle(message, RpcContext{}).reply;
        EXPECT_TRUE(reply.empty() || reply.size() >= 12) << i;
    }
}

TEST_F(RpcTest, ClientsReadTheResultsOfTheirOwnCall)
{
    const std::string message = RpcCallMessage({51, 7, 2, 1}, Words({8}));
    EXPECT_EQ(message, CallHead(51, 7, 2, 1) + Words({8}));
    std::string results;
    ASSERT_TRUE(RpcResults(rpc.Handle(message, RpcContext{}).reply, 51, results));
    EXPECT_EQ(results, Words({16}));
    EXPECT_FALSE(RpcResults(rpc.Handle(message, RpcContext{}).reply, 52, results));
    EXPECT_FALSE(RpcResults(rpc.Handle(CallHead(53, 8, 1, 1), RpcContext{}).reply, 53, results))
        << "PROG_UNAVAIL has no results";
}

std::string Fragment(const std::string& data, bool last)
{
    return Words({static_cast<uint32_t>(data.size()) | (last ? 0x80000000u : 0)}) + data;
}

std::vector<std::string> Records(RecordReader& reader)
{
    std::vector<std::string> records;
    std::string record;
    while (reader.Next(record))
        records.push_back(record);
    return records;
}

TEST(RpcRecords, FragmentsJoinWhereverTheStreamIsCut)
{
    const std::string stream = Fragment("abc", false) + Fragment("", false) +
                               Fragment("defg", true) + Fragment("", true) + MarkRecord("hij");
    EXPECT_EQ(MarkRecord("hij"), Fragment("hij", true));
    for (size_t piece = 1; piece <= stream.size(); ++piece) {
        RecordReader reader(16);
        for (size_t at = 0; at < stream.size(); at += piece)
            ASSERT_TRUE(reader.Feed(stream.data() + at, std::min(piece, stream.size() - at)));
        EXPECT_EQ(Records(reader), (std::vector<std::string>{"abcdefg", "", "hij"})) << piece;
        EXPECT_TRUE(reader.Empty());
    }
}

TEST(RpcRecords, ClaimsBeyondTheLimitBreakTheStream)
{
    RecordReader fits(16);
    const std::string sixteen = Fragment(std::string(16, 'x'), true);
    EXPECT_TRUE(fits.Feed(sixteen.data(), sixteen.size()));
    EXPECT_EQ(Records(fits).size(), 1u);

    for (const std::string& bad : {Words({0xFFFFFFFF}), Words({0x80000011}), Words({0x7FFFFFFF}),
                                   Fragment(std::string(10, 'x'), false) + Words({0x80000007})}) {
        RecordReader reader(16);
        EXPECT_FALSE(reader.Feed(bad.data(), bad.size()));
        EXPECT_FALSE(reader.Feed("", 0)) << "broken for good";
        EXPECT_TRUE(reader.Empty());
    }

    // Fragments that never end, even empty ones, use up the record's allowance.
    RecordReader endless(64);
    const std::string empty = Fragment("", false);
    int taken = 0;
    while (endless.Feed(empty.data(), empty.size()))
        ASSERT_LT(++taken, 100);
    EXPECT_EQ(taken, 16);
}

TEST(Portmapper, ListsOurProgramsAndRefusesOthers)
{
    Portmapper pmap;
    pmap.Map({PMAP_PROGRAM, PMAP_VERSION, PMAP_TCP, 111});
    pmap.Map({PMAP_PROGRAM, PMAP_VERSION, PMAP_UDP, 111});
    pmap.Map({0x0607AF, 1, PMAP_TCP, 40123});
    RpcDispatcher rpc;
    pmap.Serve(rpc);
    auto reply = [&rpc](uint32_t proc, const std::string& args) {
        return ToWords(rpc.Handle(CallHead(9, 100000, 2, proc) + args, RpcContext{}).reply);
    };
    EXPECT_EQ(reply(3, Words({0x0607AF, 1, 6, 0})), Accepted(9, {0, 40123}));
    EXPECT_EQ(reply(3, Words({0x0607AF, 1, 17, 0})), Accepted(9, {0, 0})) << "not on UDP";
    EXPECT_EQ(reply(3, Words({0x0607AF, 2, 6, 0})), Accepted(9, {0, 0}));
    EXPECT_EQ(reply(3, Words({100000, 2, 17, 0})), Accepted(9, {0, 111}));
    EXPECT_EQ(reply(4, ""), Accepted(9, {0, 1, 100000, 2, 6, 111, 1, 100000, 2, 17, 111, 1,
                                         0x0607AF, 1, 6, 40123, 0}));
    EXPECT_EQ(reply(1, Words({0x0607AF, 1, 6, 999})), Accepted(9, {0, 0})) << "SET refused";
    EXPECT_EQ(reply(2, Words({0x0607AF, 1, 6, 0})), Accepted(9, {0, 0})) << "UNSET refused";
    EXPECT_EQ(reply(3, Words({0x0607AF, 1, 6})), Accepted(9, {4}));
    EXPECT_EQ(reply(5, Words({0x0607AF, 1, 1, 0})), Accepted(9, {3})) << "no CALLIT";
    EXPECT_EQ(reply(3, Words({0x0607AF, 1, 6, 0})), Accepted(9, {0, 40123})) << "still there";
}

TEST(Portmapper, RegistersWithAnotherOne)
{
    EXPECT_EQ(PmapRegisterCall(5, {0x0607AF, 1, PMAP_TCP, 40123}, true),
              CallHead(5, 100000, 2, 1) + Words({0x0607AF, 1, 6, 40123}));
    EXPECT_EQ(PmapRegisterCall(6, {0x0607AF, 1, PMAP_TCP, 0}, false),
              CallHead(6, 100000, 2, 2) + Words({0x0607AF, 1, 6, 0}));
    bool answer = false;
    EXPECT_TRUE(PmapAnswer(Words({5, 1, 0, 0, 0, 0, 1}), 5, answer));
    EXPECT_TRUE(answer);
    EXPECT_TRUE(PmapAnswer(Words({5, 1, 0, 1, 4, 0xAB, 0, 0}), 5, answer))
        << "a verifier of any flavour";
    EXPECT_FALSE(answer);
    EXPECT_FALSE(PmapAnswer(Words({4, 1, 0, 0, 0, 0, 1}), 5, answer)) << "another call's";
    EXPECT_FALSE(PmapAnswer(Words({5, 1, 1, 1, 1}), 5, answer)) << "denied";
    EXPECT_FALSE(PmapAnswer(Words({5, 1, 0, 0, 0, 1}), 5, answer)) << "PROG_UNAVAIL";
    EXPECT_FALSE(PmapAnswer(Words({5, 1, 0, 0, 0, 0}), 5, answer)) << "no answer in it";
    EXPECT_FALSE(PmapAnswer(Words({5, 1, 0, 0, 0, 0, 2}), 5, answer)) << "no boolean";
}

}  // namespace
