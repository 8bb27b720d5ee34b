// Measures the link's receive path over a virtual line: the latency from a byte written at
// the module's end to its WM_LINK_RXCHAR handled in the owner window, and the sustained
// rate of handled bytes under a flood. Run: with_ports.sh zorvane_serial_bench.exe
// ("... latency" measures the latency alone). At 9600 baud, 8N1, a real line carries one
// byte per 1.04 ms.
// "zorvane_serial_bench.exe idle SECONDS" instead holds the link open on a silent line for
// that long, for idle_bench.sh to watch its memory and CPU.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "link_harness.h"

namespace {

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Summarise(const char* what, const char* unit, std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    auto at = [&](double q) {
        return values[static_cast<size_t>(q * static_cast<double>(values.size() - 1))];
    };
    printf("%-22s n=%zu  median %.3f  p10 %.3f  p90 %.3f  min %.3f  max %.3f %s\n", what,
           values.size(), at(0.5), at(0.1), at(0.9), values.front(), values.back(), unit);
}

}  // namespace

int main(int argc, char** argv)
{
    OwnerWindow owner;
    ModulePort module(MODULE_PORT);
    CSerialLink link;
    if (!module.IsOpen() || OpenLikePortPanel(link, &owner.wnd, LINK_PORT) != 1 || !link.Start()) {
        fprintf(stderr, "cannot open the line (run under with_ports.sh)\n");
        return 1;
    }
    // The worker purges the port as it starts: let a first byte through before measuring.
    link.Send("?", 1);
    if (module.Read(1) != "?") {
        fprintf(stderr, "the worker did not start\n");
        return 1;
    }

    if (argc == 3 && strcmp(argv[1], "idle") == 0) {
        printf("idling\n");
        fflush(stdout);
        // The window's thread blocks in its message loop, as the dialog's does.
        const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(atoi(argv[2])) * 1000;
        for (ULONGLONG now; (now = GetTickCount64()) < end;) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now),
                                      QS_ALLINPUT);
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
        }
        link.Stop();
        printf("idled %s s\n", argv[2]);
        return 0;
    }

    double handledAt = 0;
    owner.onMessage = [&](const LinkMessage&) { handledAt = Now(); };
    std::vector<double> latencies;
    for (int i = 0; i < 300; i++) {
        const size_t before = owner.messages.size();
        const double sentAt = Now();
        module.Write(std::string(1, static_cast<char>(i)));
        if (!PumpUntil([&] { return owner.messages.size() > before; })) {
            fprintf(stderr, "byte %d lost\n", i);
            return 1;
        }
        latencies.push_back((handledAt - sentAt) * 1000);
        Sleep(2);
    }
    Summarise("latency per byte", "ms", latencies);
    if (argc == 2 && strcmp(argv[1], "latency") == 0) {
        link.Stop();
        return 0;
    }

    owner.onMessage = nullptr;
    std::vector<double> rates;
    std::vector<double> perByte;
    const size_t floodSize = 20000;
    for (int run = 0; run < 5; run++) {
        owner.messages.clear();
        const double start = Now();
        std::thread writer([&] { module.Write(std::string(floodSize, 'f')); });
        const bool all = PumpUntil([&] { return owner.messages.size() >= floodSize; }, 60000);
        const double seconds = Now() - start;
        writer.join();
        if (!all) {
            fprintf(stderr, "flood %d: only %zu bytes\n", run, owner.messages.size());
            return 1;
        }
        rates.push_back(floodSize / seconds);
        perByte.push_back(seconds * 1000 / floodSize);
    }
    Summarise("flood rate", "bytes/s", rates);
    Summarise("flood time per byte", "ms", perByte);
    printf("9600 baud 8N1: 960 bytes/s, 1.042 ms per byte\n");
    link.Stop();
    return 0;
}
