// zorvane-probe: looks at the Zorvane window from another process of the same Wine prefix
// and acts on it, for the end-to-end tests. It reads one command per line on stdin and
// answers with key=value lines followed by a line "end". Texts are UTF-8 with backslash,
// line feed and carriage return escaped as \\, \n and \r.
//
// Commands:
//   find                     window handle, process and thread of the window, if any
//   wait MS / waitgone MS    wait until the window exists / no longer exists
//   state                    every control: text, class, enabled, visible, screen rect;
//                            sliders, port list, focus, the dropped list, error boxes
//   windows                  every visible top-level window (caption, class, pid, rect)
//   devchange [WPARAM]       post WM_DEVICECHANGE (default wParam DBT_DEVNODES_CHANGED)
//   close                    post WM_SYSCOMMAND SC_CLOSE
//   click ID                 post the BN_CLICKED of that control (a click that does not
//                            come from the mouse)
//   hold N / release N       open \\.\COMN exclusively and keep it / close it again
//   exists N                 whether \\.\COMN opens with access 0, as the port list probes
//   present                  every port from 1 to 254 that exists, and the time taken
//   quit
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

const char kCaption[] = "Zorvane-D20230711";
const char kErrorCaption[] = "Application Error";
const int kPortListId = 1003;
const int kSliderIds[] = {1011, 1008};

std::string Utf8(const wchar_t* text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return std::string();
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(n - 1);
    return out;
}

std::string Escape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string WindowText(HWND hwnd)
{
    // WM_GETTEXT is marshalled across processes; the W form keeps characters that the
    // ANSI code page cannot hold.
    wchar_t buf[1024] = {};
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, (LPARAM)buf, SMTO_ABORTIFHUNG, 2000, &result))
        return std::string();
    return Escape(Utf8(buf));
}

std::string ClassOf(HWND hwnd)
{
    char buf[256] = {};
    GetClassNameA(hwnd, buf, sizeof buf);
    return buf;
}

std::string RectText(const RECT& r)
{
    char buf[96];
    snprintf(buf, sizeof buf, "%ld,%ld,%ld,%ld", r.left, r.top, r.right, r.bottom);
    return buf;
}

void Put(const std::string& key, const std::string& value)
{
    printf("%s=%s\n", key.c_str(), value.c_str());
}

void Put(const std::string& key, long long value)
{
    printf("%s=%lld\n", key.c_str(), value);
}

LRESULT Send(HWND hwnd, UINT msg, WPARAM wp = 0, LPARAM lp = 0)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG, 2000, &result))
        return -1;
    return (LRESULT)result;
}

HWND FindMain()
{
    return FindWindowA(nullptr, kCaption);
}

bool WaitFor(bool present, DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        if ((FindMain() != nullptr) == present)
            return true;
        if (GetTickCount() - start >= ms)
            return false;
        Sleep(10);
    }
}

struct TopLevel {
    HWND hwnd;
    DWORD pid;
};

BOOL CALLBACK CollectTop(HWND hwnd, LPARAM lp)
{
    auto* list = reinterpret_cast<std::vector<TopLevel>*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    list->push_back({hwnd, pid});
    return TRUE;
}

std::vector<TopLevel> TopLevels()
{
    std::vector<TopLevel> list;
    EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&list));
    return list;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM lp)
{
    reinterpret_cast<std::vector<HWND>*>(lp)->push_back(hwnd);
    return TRUE;
}

std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> all, direct;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&all));
    for (HWND h : all)
        if (GetParent(h) == parent)
            direct.push_back(h);
    return direct;
}

// Reads the ComboBoxEx's item texts through a buffer in the window's own process:
// CBEM_GETITEM carries a pointer that is not marshalled between processes.
std::vector<std::string> ComboExItems(HWND combo, int count)
{
    std::vector<std::string> items;
    DWORD pid = 0;
    GetWindowThreadProcessId(combo, &pid);
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process)
        return items;
    const SIZE_T size = 4096;
    char* remote =
        static_cast<char*>(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    if (remote) {
        for (int i = 0; i < count; ++i) {
            COMBOBOXEXITEMW item = {};
            item.mask = CBEIF_TEXT;
            item.iItem = i;
            item.pszText = reinterpret_cast<LPWSTR>(remote + 512);
            item.cchTextMax = 256;
            wchar_t text[257] = {};
            SIZE_T done = 0;
            WriteProcessMemory(process, remote, &item, sizeof item, &done);
            WriteProcessMemory(process, remote + 512, text, sizeof text, &done);
            if (Send(combo, CBEM_GETITEMW, 0, (LPARAM)remote) > 0)
                ReadProcessMemory(process, remote + 512, text, 256 * sizeof(wchar_t), &done);
            items.push_back(Escape(Utf8(text)));
        }
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return items;
}

void PutSlider(HWND slider, const std::string& prefix)
{
    Put(prefix + ".pos", (long long)Send(slider, TBM_GETPOS));
    Put(prefix + ".min", (long long)Send(slider, TBM_GETRANGEMIN));
    Put(prefix + ".max", (long long)Send(slider, TBM_GETRANGEMAX));
    LRESULT n = Send(slider, TBM_GETNUMTICS);
    Put(prefix + ".numtics", (long long)n);
    // The count includes the two end ticks; TBM_GETTIC indexes only the ones in between.
    std::string tics;
    for (LRESULT i = 0; i + 2 < n; ++i) {
        if (!tics.empty())
            tics += ",";
        tics += std::to_string((long long)Send(slider, TBM_GETTIC, (WPARAM)i));
    }
    Put(prefix + ".tics", tics);
}

void PutPortList(HWND combo)
{
    int count = (int)Send(combo, CB_GETCOUNT);
    Put("ports.count", count);
    Put("ports.sel", (long long)Send(combo, CB_GETCURSEL));
    Put("ports.dropped", (long long)Send(combo, CB_GETDROPPEDSTATE));
    std::string joined;
    for (const std::string& s : ComboExItems(combo, count)) {
        if (!joined.empty())
            joined += ",";
        joined += s;
    }
    Put("ports.items", joined);
}

// The open drop-down of the port list is a top-level "ComboLBox" of the program.
void PutDroppedList(DWORD pid)
{
    for (const TopLevel& t : TopLevels()) {
        if (t.pid != pid || !IsWindowVisible(t.hwnd) || ClassOf(t.hwnd) != "ComboLBox")
            continue;
        RECT r;
        GetWindowRect(t.hwnd, &r);
        Put("droplist.rect", RectText(r));
        RECT c;
        GetClientRect(t.hwnd, &c);
        POINT origin = {0, 0};
        ClientToScreen(t.hwnd, &origin);
        OffsetRect(&c, origin.x, origin.y);
        Put("droplist.client", RectText(c));
        Put("droplist.itemheight", (long long)Send(t.hwnd, LB_GETITEMHEIGHT));
        Put("droplist.top", (long long)Send(t.hwnd, LB_GETTOPINDEX));
        Put("droplist.count", (long long)Send(t.hwnd, LB_GETCOUNT));
        Put("droplist.cursel", (long long)Send(t.hwnd, LB_GETCURSEL));
        return;
    }
}

void PutErrorBoxes()
{
    int n = 0;
    for (const TopLevel& t : TopLevels()) {
        char caption[256] = {};
        GetWindowTextA(t.hwnd, caption, sizeof caption);
        if (strcmp(caption, kErrorCaption) != 0)
            continue;
        std::string text;
        for (HWND child : Children(t.hwnd)) {
            if (ClassOf(child) != "Static")
                continue;
            std::string part = WindowText(child);
            if (!part.empty())
                text += part;
        }
        std::string key = "errorbox." + std::to_string(n);
        Put(key + ".text", text);
        Put(key + ".pid", (long long)t.pid);
        ++n;
    }
    Put("errorbox.count", n);
}

void PutWindows()
{
    int n = 0;
    for (const TopLevel& t : TopLevels()) {
        if (!IsWindowVisible(t.hwnd))
            continue;
        std::string key = "top." + std::to_string(n++);
        Put(key + ".caption", WindowText(t.hwnd));
        Put(key + ".class", ClassOf(t.hwnd));
        Put(key + ".pid", (long long)t.pid);
        RECT r;
        GetWindowRect(t.hwnd, &r);
        Put(key + ".rect", RectText(r));
    }
    Put("top.count", n);
}

void PutFind(HWND hwnd)
{
    Put("found", hwnd ? 1 : 0);
    if (!hwnd)
        return;
    DWORD pid = 0;
    DWORD tid = GetWindowThreadProcessId(hwnd, &pid);
    char buf[32];
    snprintf(buf, sizeof buf, "%p", (void*)hwnd);
    Put("window.hwnd", buf);
    Put("window.pid", (long long)pid);
    Put("window.tid", (long long)tid);
}

void PutState()
{
    HWND dlg = FindMain();
    PutFind(dlg);
    if (dlg) {
        DWORD pid = 0;
        DWORD tid = GetWindowThreadProcessId(dlg, &pid);
        Put("window.caption", WindowText(dlg));
        Put("window.visible", IsWindowVisible(dlg) ? 1 : 0);
        Put("window.enabled", IsWindowEnabled(dlg) ? 1 : 0);
        Put("window.iconic", IsIconic(dlg) ? 1 : 0);
        Put("window.foreground", GetForegroundWindow() == dlg ? 1 : 0);
        RECT r;
        GetWindowRect(dlg, &r);
        Put("window.rect", RectText(r));
        RECT c;
        GetClientRect(dlg, &c);
        POINT origin = {0, 0};
        ClientToScreen(dlg, &origin);
        OffsetRect(&c, origin.x, origin.y);
        Put("window.client", RectText(c));

        int label = 0;
        for (HWND child : Children(dlg)) {
            int id = GetDlgCtrlID(child);
            std::string key = (id == 0xFFFF || id == -1) ? "label." + std::to_string(label++)
                                                         : "ctl." + std::to_string(id);
            Put(key + ".class", ClassOf(child));
            Put(key + ".text", WindowText(child));
            Put(key + ".enabled", IsWindowEnabled(child) ? 1 : 0);
            Put(key + ".visible", IsWindowVisible(child) ? 1 : 0);
            char style[32];
            snprintf(style, sizeof style, "0x%08lx",
                     (unsigned long)GetWindowLongA(child, GWL_STYLE));
            Put(key + ".style", style);
            GetWindowRect(child, &r);
            Put(key + ".rect", RectText(r));
        }
        for (int id : kSliderIds) {
            HWND slider = GetDlgItem(dlg, id);
            if (slider)
                PutSlider(slider, "slider." + std::to_string(id));
        }
        if (HWND combo = GetDlgItem(dlg, kPortListId))
            PutPortList(combo);

        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        if (GetGUIThreadInfo(tid, &info)) {
            // Focus may sit on a control's inner window (the port list's combo box):
            // name the dialog's direct child that holds it.
            HWND focus = info.hwndFocus;
            while (focus && GetParent(focus) && GetParent(focus) != dlg)
                focus = GetParent(focus);
            Put("focus.id", focus && focus != dlg ? GetDlgCtrlID(focus) : 0);
            Put("focus.class", info.hwndFocus ? ClassOf(info.hwndFocus) : std::string());
            Put("focus.capture", info.hwndCapture ? ClassOf(info.hwndCapture) : std::string());
        }
        PutDroppedList(pid);
    }
    PutErrorBoxes();
}

std::map<int, HANDLE> held;

void Hold(int port)
{
    char path[32];
    snprintf(path, sizeof path, "\\\\.\\COM%d", port);
    HANDLE h =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        Put("held", 0);
        Put("error", (long long)GetLastError());
        return;
    }
    if (held.count(port))
        CloseHandle(held[port]);
    held[port] = h;
    Put("held", 1);
}

bool Exists(int port)
{
    char path[32];
    snprintf(path, sizeof path, "\\\\.\\COM%d", port);
    HANDLE h = CreateFileA(path, 0, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

void Present()
{
    DWORD start = GetTickCount();
    std::string list;
    for (int port = 1; port <= 254; ++port) {
        if (!Exists(port))
            continue;
        if (!list.empty())
            list += ",";
        list += "COM" + std::to_string(port);
    }
    Put("present", list);
    Put("ms", (long long)(GetTickCount() - start));
}

void Release(int port)
{
    auto it = held.find(port);
    Put("released", it != held.end() ? 1 : 0);
    if (it == held.end())
        return;
    CloseHandle(it->second);
    held.erase(it);
}

}  // namespace

int main()
{
    char line[256];
    while (fgets(line, sizeof line, stdin)) {
        char cmd[64] = {};
        long arg = 0;
        int n = sscanf(line, "%63s %li", cmd, &arg);
        if (n < 1)
            continue;
        std::string c = cmd;
        if (c == "quit")
            break;
        if (c == "find") {
            PutFind(FindMain());
        } else if (c == "wait" || c == "waitgone") {
            bool ok = WaitFor(c == "wait", n > 1 ? (DWORD)arg : 10000);
            Put(c == "wait" ? "found" : "gone", ok ? 1 : 0);
        } else if (c == "state") {
            PutState();
        } else if (c == "windows") {
            PutWindows();
        } else if (c == "devchange" || c == "close") {
            HWND dlg = FindMain();
            BOOL ok = FALSE;
            if (dlg && c == "devchange")
                ok = PostMessageA(dlg, WM_DEVICECHANGE, n > 1 ? (WPARAM)arg : 7, 0);
            if (dlg && c == "close")
                ok = PostMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
            Put("posted", ok ? 1 : 0);
        } else if (c == "click" && n > 1) {
            HWND dlg = FindMain();
            HWND ctl = dlg ? GetDlgItem(dlg, (int)arg) : nullptr;
            BOOL ok =
                ctl && PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(arg, BN_CLICKED), (LPARAM)ctl);
            Put("posted", ok ? 1 : 0);
        } else if (c == "hold" && n > 1) {
            Hold((int)arg);
        } else if (c == "exists" && n > 1) {
            Put("exists", Exists((int)arg) ? 1 : 0);
        } else if (c == "present") {
            Present();
        } else if (c == "release" && n > 1) {
            Release((int)arg);
        } else {
            Put("error", "unknown command");
        }
        printf("end\n");
        fflush(stdout);
    }
    for (auto& h : held)
        CloseHandle(h.second);
    return 0;
}
