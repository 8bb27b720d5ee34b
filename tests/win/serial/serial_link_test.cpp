// CSerialLink over real virtual lines (see with_ports.sh): the link holds one end, the test
// plays the module on the other with plain blocking calls.
#include <gtest/gtest.h>
#include <winternl.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "link_harness.h"

// The link's choices that tests make for themselves.
struct SerialLinkSeam {
    static void WaitByReading(CSerialLink& link, bool byReading) { link.waitByReading = byReading; }
    static void CreateEventsWith(decltype(&CreateEventA) create)
    {
        CSerialLink::createEvent = create;
    }
    static void SetTimeoutsWith(decltype(&SetCommTimeouts) set)
    {
        CSerialLink::setCommTimeouts = set;
    }
    // Changes whenever the lock is initialised.
    static const void* LockRecord(const CSerialLink& link) { return link.lock.DebugInfo; }
    // Bytes received on the link's port and not read yet.
    static DWORD Unread(CSerialLink& link)
    {
        DWORD errors = 0;
        COMSTAT status{};
        return ClearCommError(link.portHandle, &errors, &status) ? status.cbInQue : ~0u;
    }
};

namespace {

const std::string FRAME("\x01\x01\x01\x00\x05\x08", 6);
const std::string OTHER_FRAME("\x00\x01\x02\x02\xBC\xC1", 6);

// Closes every "Application Error" box that appears, keeping its text.
class BoxWatcher {
public:
    BoxWatcher() : worker([this] { Watch(); }) {}
    ~BoxWatcher()
    {
        stop = true;
        worker.join();
    }
    // The texts seen so far, forgotten once taken.
    std::vector<std::string> Take()
    {
        std::lock_guard<std::mutex> hold(mutex);
        return std::move(texts);
    }

private:
    static BOOL CALLBACK CollectStatic(HWND child, LPARAM param)
    {
        char className[16] = "";
        char text[512] = "";
        GetClassNameA(child, className, sizeof className);
        GetWindowTextA(child, text, sizeof text);
        if (lstrcmpiA(className, "Static") == 0 && text[0])
            *reinterpret_cast<std::string*>(param) = text;
        return TRUE;
    }
    void Watch()
    {
        while (!stop) {
            HWND box = FindWindowA("#32770", "Application Error");
            if (!box) {
                Sleep(5);
                continue;
            }
            std::string text;
            EnumChildWindows(box, CollectStatic, reinterpret_cast<LPARAM>(&text));
            {
                std::lock_guard<std::mutex> hold(mutex);
                texts.push_back(text);
            }
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            while (IsWindow(box))
                Sleep(5);
        }
    }

    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::vector<std::string> texts;
    std::thread worker;
};

bool EndsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

BOOL WINAPI NoTimeouts(HANDLE, LPCOMMTIMEOUTS)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

HANDLE WINAPI NoEvent(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR)
{
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return nullptr;
}

// The handles this process holds (Wine's GetProcessHandleCount gives 0; the system-wide
// handle list is kept).
DWORD HandleCount()
{
    struct Entry {
        ULONG process;
        BYTE type;
        BYTE flags;
        USHORT value;
        PVOID object;
        ULONG access;
    };
    struct List {
        ULONG count;
        Entry entries[1];
    };
    std::vector<ULONGLONG> buffer(1 << 17);
    ULONG length = 0;
    const auto systemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);
    if (NtQuerySystemInformation(systemHandleInformation, buffer.data(),
                                 static_cast<ULONG>(buffer.size() * sizeof buffer[0]),
                                 &length) != 0) {
        ADD_FAILURE() << "cannot list the process's handles";
        return 0;
    }
    const List* list = reinterpret_cast<const List*>(buffer.data());
    DWORD count = 0;
    for (ULONG i = 0; i < list->count; i++) {
        if (list->entries[i].process == GetCurrentProcessId())
            count++;
    }
    return count;
}

class SerialLinkTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        link.Stop();
        EXPECT_EQ(boxes.Take(), std::vector<std::string>()) << "unexpected error boxes";
    }
    // Opens and starts the link on LINK_PORT; the module side is on MODULE_PORT. The worker
    // purges the port when it starts: a first frame through the line shows it has.
    void Run()
    {
        ASSERT_TRUE(module.IsOpen());
        ASSERT_EQ(OpenLikePortPanel(link, &owner.wnd, LINK_PORT), 1);
        ASSERT_TRUE(link.Start());
        ASSERT_TRUE(link.Send("?", 1));
        ASSERT_EQ(module.Read(1), "?");
    }
    // Wine does not refuse a second handle to a port, so a closed port shows as the
    // process's handle count falling back to what it was with the link closed. One run of
    // the link first lets Wine make the handles it keeps after a first thread or port.
    DWORD CountWithoutPort()
    {
        EXPECT_EQ(OpenLikePortPanel(link, &owner.wnd, LINK_PORT), 1);
        EXPECT_TRUE(link.Start());
        link.Stop();
        EXPECT_EQ(OpenLikePortPanel(link, &owner.wnd, ABSENT_PORT), 0);
        // The ended worker's thread handle goes a moment after Stop: wait for 50 ms of calm.
        DWORD count = HandleCount();
        while (PumpUntil([&] { return HandleCount() != count; }, 50))
            count = HandleCount();
        return count;
    }
    ::testing::AssertionResult HandleCountFallsTo(DWORD count)
    {
        if (PumpUntil([&] { return HandleCount() == count; }, 1000))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << HandleCount() << " handles, " << count << " without the port";
    }
    bool ReceivedCount(size_t n, DWORD timeoutMs = 3000)
    {
        return PumpUntil([&] { return owner.Bytes().size() >= n; }, timeoutMs);
    }
    // Waits until a worker is blocked handing a message to this thread.
    static bool DeliveryPending()
    {
        const ULONGLONG end = GetTickCount64() + 3000;
        while (!(GetQueueStatus(QS_SENDMESSAGE) & (QS_SENDMESSAGE << 16))) {
            if (GetTickCount64() >= end)
                return false;
            Sleep(1);
        }
        return true;
    }

    BoxWatcher boxes;
    OwnerWindow owner;
    ModulePort module{MODULE_PORT};
    CSerialLink link;
};

// The worker's behaviour holds whichever way it waits for the port: with comm events (as on
// Windows) or with a one-byte read (as under Wine).
class WorkerTest : public SerialLinkTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override { SerialLinkSeam::WaitByReading(link, GetParam()); }
};

// cppcheck-suppress syntaxError ; its googletest library expects a prefix before the comma
INSTANTIATE_TEST_SUITE_P(, WorkerTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "ByteReads" : "CommEvents";
                         });

TEST_P(WorkerTest, DeliversEveryByteInOrderWithThePortNumber)
{
    Run();
    ASSERT_TRUE(module.Write(FRAME));
    ASSERT_TRUE(ReceivedCount(6));
    EXPECT_EQ(owner.Bytes(), FRAME);
    for (const LinkMessage& m : owner.messages) {
        EXPECT_EQ(m.message, WM_LINK_RXCHAR);
        EXPECT_EQ(m.lParam, static_cast<LPARAM>(LINK_PORT));
    }
    EXPECT_EQ(WM_LINK_RXCHAR, 0x407u);
}

// Bytes that come while the window handles one are read in the same pass: no new port
// event announces bytes that were already queued when the worker looked.
TEST_P(WorkerTest, BytesArrivingDuringHandlingAreDeliveredToo)
{
    Run();
    owner.onMessage = [&](const LinkMessage&) {
        if (owner.messages.size() == 1) {
            module.Write(FRAME.substr(1));
            Sleep(50);  // let them cross the line while the worker still waits for us
        }
    };
    ASSERT_TRUE(module.Write(FRAME.substr(0, 1)));
    ASSERT_TRUE(ReceivedCount(6, 2000)) << "got " << owner.Bytes().size();
    EXPECT_EQ(owner.Bytes(), FRAME);
}

TEST_P(WorkerTest, SendWritesTheWholeFrame)
{
    Run();
    ASSERT_TRUE(link.Send(FRAME.data(), 6));
    EXPECT_EQ(module.Read(6), FRAME);
    ASSERT_TRUE(link.Send(OTHER_FRAME.data(), 6));
    EXPECT_EQ(module.Read(6), OTHER_FRAME);
}

// While the worker waits for the window, two frames are handed over: only the second
// is written, once.
TEST_P(WorkerTest, TheLatestOfTwoSendsIsWrittenOnce)
{
    Run();
    owner.onMessage = [&](const LinkMessage&) {
        link.Send(FRAME.data(), 6);
        link.Send(OTHER_FRAME.data(), 6);
    };
    ASSERT_TRUE(module.Write("x"));
    ASSERT_TRUE(ReceivedCount(1));
    EXPECT_EQ(module.Read(12, 300), OTHER_FRAME);
}

// A frame replaced while the worker is still writing the one before (the line is full and
// the write waits part-way): the rest of the earlier frame must still be the earlier
// frame, and the new one is written whole after it. The purge before the second write may
// drop the tail of the first, never add to it.
TEST_P(WorkerTest, AFrameReplacedWhileBeingWrittenIsNotTorn)
{
    const int size = 512 * 1024;  // far more than the ptys and socat hold
    ASSERT_EQ(link.Open(&owner.wnd, LINK_PORT, 9600, 'N', 8, 0, EV_RXCHAR, size, 1000, 1000, 1000,
                        1000, 1000),
              1);
    ASSERT_TRUE(link.Start());
    ASSERT_TRUE(link.Send("?", 1));
    ASSERT_EQ(module.Read(1), "?");

    const std::string first(size, 'a');
    const std::string second(size, 'b');
    ASSERT_TRUE(link.Send(first.data(), size));
    // Once bytes of it arrive the write has begun, and it cannot end before we read.
    ASSERT_TRUE(PumpUntil([&] { return module.Queued() > 0; })) << "the first write never began";
    ASSERT_TRUE(link.Send(second.data(), size));
    const std::string line = module.Read(size_t{2} * size, 500);

    const size_t firstBytes = std::count(line.begin(), line.end(), 'a');
    EXPECT_EQ(line.find_first_not_of('a'), firstBytes) << "the first frame has foreign bytes";
    EXPECT_EQ(line.size() - firstBytes, static_cast<size_t>(size))
        << "the second frame is not written once, whole";
}

// Each frame's reply comes back whole, though it follows the write closely (the waiting
// read may take its first byte while the worker is still writing).
TEST_P(WorkerTest, EveryReplyToAFrameArrivesWhole)
{
    Run();
    std::string replies;
    for (char round = 0; round < 20; round++) {
        ASSERT_TRUE(link.Send(FRAME.data(), 6));
        ASSERT_EQ(module.Read(6), FRAME);
        const std::string reply = OTHER_FRAME.substr(0, 5) + round;
        ASSERT_TRUE(module.Write(reply));
        replies += reply;
        ASSERT_TRUE(ReceivedCount(replies.size())) << "round " << int(round);
    }
    EXPECT_EQ(owner.Bytes(), replies);
}

// Bytes keep coming while frames are written: the purge before each write may drop what
// is queued, but what reaches the window keeps the line's order, each byte once, and all
// that comes after the last write arrives.
TEST_P(WorkerTest, AStreamCutByWritesKeepsItsOrder)
{
    Run();
    std::atomic<bool> streamed{false};
    std::thread line([&] {
        for (int i = 1; i < 250; i++) {
            module.Write(std::string(1, static_cast<char>(i)));
            Sleep(1);
        }
        streamed = true;
    });
    PumpUntil([&] { return link.Send(FRAME.data(), 6) && streamed; }, 10000);
    line.join();
    // The worker may still be delivering the stream: keep handling it while the line is read.
    ASSERT_TRUE(link.Send(OTHER_FRAME.data(), 6));
    std::string written;
    std::atomic<bool> read{false};
    std::thread reader([&] {
        const ULONGLONG end = GetTickCount64() + 3000;
        while (!EndsWith(written, OTHER_FRAME) && GetTickCount64() < end)
            written += module.Read(1, 100);
        read = true;
    });
    PumpUntil([&] { return read.load(); });
    reader.join();
    ASSERT_TRUE(EndsWith(written, OTHER_FRAME)) << "the last frame was not written";

    ASSERT_TRUE(module.Write(FRAME));
    ASSERT_TRUE(PumpUntil([&] { return EndsWith(owner.Bytes(), FRAME); }))
        << "the bytes after the last write did not all arrive";
    const std::string streamPart = owner.Bytes().substr(0, owner.Bytes().size() - 6);
    for (size_t i = 1; i < streamPart.size(); i++) {
        ASSERT_LT(static_cast<BYTE>(streamPart[i - 1]), static_cast<BYTE>(streamPart[i]))
            << "byte " << i << " is out of order or repeated";
    }
}

TEST_F(SerialLinkTest, SendRefusesLengthsOutsideTheBuffer)
{
    char big[600] = {};
    EXPECT_FALSE(link.Send(FRAME.data(), 6)) << "before any Open there is no buffer";
    ASSERT_EQ(OpenLikePortPanel(link, &owner.wnd, LINK_PORT), 1);
    EXPECT_FALSE(link.Send(FRAME.data(), -1));
    EXPECT_FALSE(link.Send(big, 513));
    EXPECT_FALSE(link.Send(nullptr, 6));
    ASSERT_TRUE(link.Start());
    EXPECT_EQ(module.Read(1, 200), "") << "a refused Send wrote something";
    ASSERT_TRUE(link.Send(big, 512));
    EXPECT_EQ(module.Read(512).size(), 512u);
    ASSERT_TRUE(link.Send(FRAME.data(), 6));
    EXPECT_EQ(module.Read(6), FRAME);
}

// Shutdown and a frame signalled together: shutdown wins and nothing is written. The
// worker is held in the window's handler while a Send and a Stop (from another thread,
// which cannot pump this window) are both made.
TEST_P(WorkerTest, ShutdownWinsOverAPendingWrite)
{
    Run();
    std::atomic<bool> stopping{false};
    std::atomic<bool> stopped{false};
    std::thread stopper;
    owner.onMessage = [&](const LinkMessage&) {
        link.Send(FRAME.data(), 6);
        stopper = std::thread([&] {
            stopping = true;
            link.Stop();
            stopped = true;
        });
        while (!stopping)
            Sleep(1);
        Sleep(100);  // Stop signals at once and then waits for the worker
    };
    ASSERT_TRUE(module.Write("x"));
    EXPECT_TRUE(PumpUntil([&] { return stopped.load(); }));
    stopper.join();
    EXPECT_EQ(module.Read(1, 300), "");
}

// With only EV_TXEMPTY enabled, which leads to nothing, the worker leaves received bytes
// queued; the purge before a write throws them away. What is left queued is seen after
// Stop from a fresh handle.
TEST_F(SerialLinkTest, UnreadInputIsDiscardedBeforeAWrite)
{
    auto runWithoutReading = [&] {
        ASSERT_EQ(link.Open(&owner.wnd, LINK_PORT, 9600, 'N', 8, 0, EV_TXEMPTY, 512, 1000, 1000,
                            1000, 1000, 1000),
                  1);
        ASSERT_TRUE(link.Start());
        ASSERT_TRUE(link.Send("?", 1));
        ASSERT_EQ(module.Read(1), "?");
        ASSERT_TRUE(module.Write("stale"));
        Sleep(50);
    };
    runWithoutReading();
    link.Stop();
    {
        ModulePort reopened(LINK_PORT);
        ASSERT_TRUE(reopened.IsOpen());
        ASSERT_EQ(reopened.Queued(), 5u) << "queued bytes must outlive the handle for this test";
        PurgeComm(reopened.handle, PURGE_RXCLEAR);
    }

    runWithoutReading();
    ASSERT_TRUE(link.Send(FRAME.data(), 6));
    EXPECT_EQ(module.Read(6), FRAME);
    link.Stop();
    ModulePort reopened(LINK_PORT);
    EXPECT_EQ(reopened.Queued(), 0u);
}

// The worker is in SendMessageA when Stop begins: Stop must let the byte be handled, and
// then find the worker gone and close the port.
TEST_P(WorkerTest, StopWhileAByteIsBeingDelivered)
{
    const DWORD withoutPort = CountWithoutPort();
    Run();
    ASSERT_TRUE(module.Write("x"));
    ASSERT_TRUE(DeliveryPending());
    link.Stop();
    EXPECT_EQ(owner.Bytes(), "x");
    EXPECT_TRUE(HandleCountFallsTo(withoutPort));
}

// Open and the destructor wait for the worker as Stop does: one that is handing a byte to
// this thread's window gets it handled, and ends.
TEST_F(SerialLinkTest, OpenAndDestructionLetADeliveryFinish)
{
    Run();
    ASSERT_TRUE(module.Write("x"));
    ASSERT_TRUE(DeliveryPending());
    ASSERT_EQ(OpenLikePortPanel(link, &owner.wnd, LINK_PORT), 1);
    EXPECT_EQ(owner.Bytes(), "x");

    ModulePort module2(MODULE_PORT_2);
    {
        CSerialLink dying;
        ASSERT_EQ(OpenLikePortPanel(dying, &owner.wnd, LINK_PORT_2), 1);
        ASSERT_TRUE(dying.Start());
        ASSERT_TRUE(dying.Send("?", 1));
        ASSERT_EQ(module2.Read(1), "?");
        ASSERT_TRUE(module2.Write("y"));
        ASSERT_TRUE(DeliveryPending());
    }
    EXPECT_EQ(owner.Bytes(), "xy");
}

// Open cannot run a worker without its events: it fails and holds no port. The next Open
// makes them and works, and the lock it initialised the first time is left alone.
TEST_F(SerialLinkTest, AnOpenWithoutEventsFailsAndTheNextOneWorks)
{
    const DWORD withoutPort = CountWithoutPort();
    CSerialLink fresh;
    SerialLinkSeam::CreateEventsWith(NoEvent);
    const int failed = OpenLikePortPanel(fresh, &owner.wnd, LINK_PORT);
    SerialLinkSeam::CreateEventsWith(CreateEventA);
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(HandleCount(), withoutPort) << "the port is held";
    EXPECT_FALSE(fresh.Start());

    const void* lockRecord = SerialLinkSeam::LockRecord(fresh);
    ASSERT_EQ(OpenLikePortPanel(fresh, &owner.wnd, LINK_PORT), 1);
    EXPECT_EQ(SerialLinkSeam::LockRecord(fresh), lockRecord) << "the lock was initialised again";
    ASSERT_TRUE(fresh.Start());
    ASSERT_TRUE(fresh.Send("?", 1));
    ASSERT_EQ(module.Read(1), "?");
    ASSERT_TRUE(module.Write(FRAME));
    ASSERT_TRUE(ReceivedCount(6));
    EXPECT_EQ(owner.Bytes(), FRAME);
    fresh.Stop();
}

TEST_F(SerialLinkTest, StopWithoutStartReturnsAtOnceAndClosesThePort)
{
    const DWORD withoutPort = CountWithoutPort();
    ASSERT_EQ(OpenLikePortPanel(link, &owner.wnd, LINK_PORT), 1);
    const ULONGLONG start = GetTickCount64();
    link.Stop();
    EXPECT_LT(GetTickCount64() - start, 100u);
    EXPECT_EQ(HandleCount(), withoutPort);
}

// A Stop right after Start, before the worker has run, must still wait for it; a worker
// left behind would find the port closed and report its wait failing.
TEST_P(WorkerTest, StopRightAfterStartEndsTheWorker)
{
    const DWORD withoutPort = CountWithoutPort();
    for (int i = 0; i < 20; i++) {
        ASSERT_EQ(OpenLikePortPanel(link, &owner.wnd, LINK_PORT), 1);
        ASSERT_TRUE(link.Start());
        link.Stop();
    }
    EXPECT_TRUE(HandleCountFallsTo(withoutPort));
    Sleep(100);  // a worker left running would report its failing wait by now
}

// The dialog may end, and its window object go, before the link is stopped: the worker
// drops the bytes that come meanwhile and the link still stops and reopens normally.
TEST_P(WorkerTest, BytesForAnOwnerThatIsGoneAreDropped)
{
    auto gone = std::make_unique<OwnerWindow>();
    ASSERT_EQ(OpenLikePortPanel(link, &gone->wnd, LINK_PORT), 1);
    ASSERT_TRUE(link.Start());
    ASSERT_TRUE(link.Send("?", 1));
    ASSERT_EQ(module.Read(1), "?");
    gone.reset();
    ASSERT_TRUE(module.Write(FRAME));
    // The worker reads them all and hands them to nobody: the line does not stall.
    EXPECT_TRUE(PumpUntil([&] { return SerialLinkSeam::Unread(link) == 0; }, 2000));
    link.Stop();

    Run();
    ASSERT_TRUE(module.Write(FRAME));
    ASSERT_TRUE(ReceivedCount(6));
    EXPECT_EQ(owner.Bytes(), FRAME);
}

TEST_F(SerialLinkTest, AnAbsentPortGivesZeroWithoutABoxAndAnotherOpensAtOnce)
{
    EXPECT_EQ(OpenLikePortPanel(link, &owner.wnd, ABSENT_PORT), 0);
    EXPECT_EQ(boxes.Take().size(), 0u);
    Run();
    ASSERT_TRUE(module.Write(FRAME));
    ASSERT_TRUE(ReceivedCount(6));
    EXPECT_EQ(owner.messages[0].lParam, static_cast<LPARAM>(LINK_PORT));
}

TEST_F(SerialLinkTest, ASecondOpenLetsGoOfTheFirstPort)
{
    ModulePort module2(MODULE_PORT_2);
    const DWORD withoutPort = CountWithoutPort();
    ASSERT_EQ(OpenLikePortPanel(link, &owner.wnd, LINK_PORT), 1);
    EXPECT_EQ(HandleCount(), withoutPort + 1);
    ASSERT_EQ(OpenLikePortPanel(link, &owner.wnd, LINK_PORT_2), 1);
    EXPECT_EQ(HandleCount(), withoutPort + 1) << "the first port is still open";
    ASSERT_TRUE(link.Start());
    ASSERT_TRUE(link.Send("?", 1));
    ASSERT_EQ(module2.Read(1), "?");
    ASSERT_TRUE(module2.Write(FRAME));
    ASSERT_TRUE(ReceivedCount(6));
    EXPECT_EQ(owner.messages[0].lParam, static_cast<LPARAM>(LINK_PORT_2));
    ASSERT_TRUE(link.Send(OTHER_FRAME.data(), 6));
    EXPECT_EQ(module2.Read(6), OTHER_FRAME);
}

// The settings stay on the line after the link closes it; they are read back from a fresh
// handle after the line was first set to something else. A pty keeps the baud rate and
// the stop bits; it forces 8 data bits and no parity, so the parity table is checked alone.
DCB SettingsAfterOpen(CSerialLink& link, CWnd* owner, int stopBits)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    {
        ModulePort before(LINK_PORT);
        GetCommState(before.handle, &dcb);
        dcb.BaudRate = 19200;
        dcb.StopBits = stopBits == 2 ? ONESTOPBIT : TWOSTOPBITS;
        SetCommState(before.handle, &dcb);
    }
    EXPECT_EQ(link.Open(owner, LINK_PORT, 9600, 'N', 8, stopBits, EV_RXCHAR, 512, 1000, 1000, 1000,
                        1000, 1000),
              1);
    link.Stop();
    ModulePort after(LINK_PORT);
    dcb = DCB{};
    dcb.DCBlength = sizeof dcb;
    EXPECT_TRUE(GetCommState(after.handle, &dcb));
    return dcb;
}

TEST_F(SerialLinkTest, LineSettingsLandOnTheLine)
{
    const DCB dcb = SettingsAfterOpen(link, &owner.wnd, 0);
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(SettingsAfterOpen(link, &owner.wnd, 2).StopBits, TWOSTOPBITS);
}

TEST(SerialSettingsTest, ParityLettersAreUpperCaseOnly)
{
    EXPECT_EQ(ParityFromLetter('N'), NOPARITY);
    EXPECT_EQ(ParityFromLetter('E'), EVENPARITY);
    EXPECT_EQ(ParityFromLetter('O'), ODDPARITY);
    EXPECT_EQ(ParityFromLetter('M'), MARKPARITY);
    EXPECT_EQ(ParityFromLetter('S'), SPACEPARITY);
    EXPECT_EQ(ParityFromLetter('e'), NOPARITY);
    EXPECT_EQ(ParityFromLetter('o'), NOPARITY);
    EXPECT_EQ(ParityFromLetter('\0'), NOPARITY);
    EXPECT_EQ(StopBitsFromCode(0), ONESTOPBIT);
    EXPECT_EQ(StopBitsFromCode(1), ONE5STOPBITS);
    EXPECT_EQ(StopBitsFromCode(2), TWOSTOPBITS);
    EXPECT_EQ(StopBitsFromCode(-1), ONESTOPBIT);
}

// A device that opens but is no serial port fails the first configuration step: one box
// names it, the rest are skipped, and Open lets the port go and reports it not opened.
TEST_F(SerialLinkTest, AFailingSettingIsReportedInABox)
{
    // The first box makes handles that Wine keeps; the second open shows whether the port
    // stays held.
    EXPECT_EQ(OpenLikePortPanel(link, &owner.wnd, NOT_SERIAL_PORT), 0);
    boxes.Take();
    const DWORD withoutPort = CountWithoutPort();
    EXPECT_EQ(OpenLikePortPanel(link, &owner.wnd, NOT_SERIAL_PORT), 0);
    EXPECT_TRUE(link.SettingsRefused());
    EXPECT_TRUE(HandleCountFallsTo(withoutPort)) << "the port is held";
    const std::vector<std::string> texts = boxes.Take();
    ASSERT_EQ(texts.size(), 1u);
    const std::string& text = texts[0];
    EXPECT_EQ(text.rfind("WARNING:  SetCommTimeouts() Failed with the following error: \n", 0), 0u)
        << text;
    EXPECT_EQ(text.substr(text.size() - 10), "\nPort: 45\n") << text;
}

// The waiting read cannot run without its time-outs: the worker says so in a box, as for
// any failed port operation, instead of waiting another way; it still writes, and after
// the next write it tries again.
TEST_F(SerialLinkTest, AWaitingReadWithoutItsTimeoutsIsReported)
{
    SerialLinkSeam::WaitByReading(link, true);
    ASSERT_EQ(OpenLikePortPanel(link, &owner.wnd, LINK_PORT), 1);
    SerialLinkSeam::SetTimeoutsWith(NoTimeouts);
    ASSERT_TRUE(link.Start());
    std::vector<std::string> texts;
    const bool shown = PumpUntil([&] {
        for (std::string& text : boxes.Take())
            texts.push_back(text);
        return !texts.empty();
    });
    SerialLinkSeam::SetTimeoutsWith(SetCommTimeouts);
    ASSERT_TRUE(shown) << "no box";
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].rfind("WARNING:  SetCommTimeouts() Failed", 0), 0u) << texts[0];

    // The box takes a moment to close on a bare X server; the worker writes after it.
    ASSERT_TRUE(link.Send("?", 1));
    ASSERT_EQ(module.Read(1, 5000), "?");
    ASSERT_TRUE(module.Write(FRAME));
    ASSERT_TRUE(ReceivedCount(6));
    EXPECT_EQ(owner.Bytes(), FRAME);
}

class ErrorBoxTest : public SerialLinkTest {
protected:
    // The one box shown for `operation` with `code` as the last error, on ABSENT_PORT.
    std::string Report(const char* operation, DWORD code)
    {
        EXPECT_EQ(OpenLikePortPanel(link, &owner.wnd, ABSENT_PORT), 0);
        SetLastError(code);
        link.ReportError(operation);
        const std::vector<std::string> texts = boxes.Take();
        EXPECT_EQ(texts.size(), 1u);
        return texts.empty() ? std::string() : texts[0];
    }
};

TEST_F(ErrorBoxTest, NamesTheOperationTheSystemTextAndThePort)
{
    const std::string text = Report("WriteFile()", ERROR_ACCESS_DENIED);
    char system[200] = "";
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0x0400, system,
                   sizeof system, nullptr);
    EXPECT_EQ(text, "WARNING:  WriteFile() Failed with the following error: \n" +
                        std::string(system) + "\nPort: 49\n");
}

TEST_F(ErrorBoxTest, ACodeWithoutSystemTextIsStillShown)
{
    const std::string text = Report("ReadFile()", 0x2000BEEF);
    EXPECT_EQ(text, "WARNING:  ReadFile() Failed with the following error: \n"
                    "Error 536919791 (no description).\nPort: 49\n");
}

// The message is built in 200 bytes; a long text is cut short, the port line kept.
TEST_F(ErrorBoxTest, ALongMessageIsCutBeforeThePortLine)
{
    const std::string operation(300, 'x');
    const std::string text = Report(operation.c_str(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(text.size(), 199u);
    EXPECT_EQ(text.rfind("WARNING:  xxx", 0), 0u);
    EXPECT_EQ(text.substr(text.size() - 11), "x\nPort: 49\n");
}

}  // namespace
