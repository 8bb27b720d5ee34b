// A small application framework on plain Win32, offering the handful of MFC-style
// classes and calls the program is written against. It knows nothing of the program.
//
// Text is narrow: member names such as GetWindowText or DefWindowProc become their "A"
// forms through <windows.h>, as the program's own calls do. Windows made from a dialog
// template stay Unicode windows, so that their UTF-16 captions are kept intact.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <memory>
#include <string>
#include <vector>

// A small narrow string.
class CString {
public:
    CString() = default;
    CString(const char* text) : text_(text ? text : "") {}
    CString& operator=(const char* text);
    // printf-style formatting into this string.
    void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
    int GetLength() const { return static_cast<int>(text_.size()); }
    bool IsEmpty() const { return text_.empty(); }
    const char* c_str() const { return text_.c_str(); }
    operator LPCSTR() const { return text_.c_str(); }

private:
    std::string text_;
};

class CWnd;
class CDataExchange;

// Message maps: per class a static array of rows, searched in row order, then the base
// class's map. A row names the message, for WM_COMMAND the notification code and control
// id, and the handler with the kind of its signature.
enum AfxSig {
    AfxSig_end,   // end of the rows
    AfxSig_vv,    // void ()
    AfxSig_hv,    // HCURSOR ()                 WM_QUERYDRAGICON
    AfxSig_vt,    // void (UINT_PTR id)         WM_TIMER
    AfxSig_lwl,   // LRESULT (WPARAM, LPARAM)   ON_MESSAGE
    AfxSig_vwww,  // void (UINT, UINT, UINT)    WM_CHAR: code, repeat count, flags
};

union AfxHandler {
    constexpr AfxHandler() : vv(nullptr) {}
    constexpr AfxHandler(void (CWnd::*f)()) : vv(f) {}
    constexpr AfxHandler(HCURSOR (CWnd::*f)()) : hv(f) {}
    constexpr AfxHandler(void (CWnd::*f)(UINT_PTR)) : vt(f) {}
    constexpr AfxHandler(LRESULT (CWnd::*f)(WPARAM, LPARAM)) : lwl(f) {}
    constexpr AfxHandler(void (CWnd::*f)(UINT, UINT, UINT)) : vwww(f) {}
    void (CWnd::*vv)();
    HCURSOR (CWnd::*hv)();
    void (CWnd::*vt)(UINT_PTR);
    LRESULT (CWnd::*lwl)(WPARAM, LPARAM);
    void (CWnd::*vwww)(UINT, UINT, UINT);
};

struct AFX_MSGMAP_ENTRY {
    UINT message;
    UINT code;  // WM_COMMAND rows: notification code
    UINT id;    // WM_COMMAND rows: control id
    AfxSig sig;
    AfxHandler handler;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* base;
    const AFX_MSGMAP_ENTRY* entries;
};

// The message-map macros are laid out as the tables they build.
// clang-format off
#define DECLARE_MESSAGE_MAP()                          \
protected:                                             \
    static const AFX_MSGMAP* GetThisMessageMap();      \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                            \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }     \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                     \
        typedef theClass ThisClass;                                                       \
        typedef baseClass TheBaseClass;                                                   \
        static const AFX_MSGMAP_ENTRY entries[] = {

#define END_MESSAGE_MAP()                                                                 \
            {0, 0, 0, AfxSig_end, AfxHandler()}};                                         \
        static const AFX_MSGMAP map = {TheBaseClass::GetThisMessageMap(), entries};       \
        return &map;                                                                      \
    }

#define ON_WM_PAINT() \
    {WM_PAINT, 0, 0, AfxSig_vv, static_cast<void (CWnd::*)()>(&ThisClass::OnPaint)},
#define ON_WM_QUERYDRAGICON() \
    {WM_QUERYDRAGICON, 0, 0, AfxSig_hv, static_cast<HCURSOR (CWnd::*)()>(&ThisClass::OnQueryDragIcon)},
#define ON_WM_TIMER() \
    {WM_TIMER, 0, 0, AfxSig_vt, static_cast<void (CWnd::*)(UINT_PTR)>(&ThisClass::OnTimer)},
#define ON_WM_CHAR() \
    {WM_CHAR, 0, 0, AfxSig_vwww, static_cast<void (CWnd::*)(UINT, UINT, UINT)>(&ThisClass::OnChar)},
#define ON_MESSAGE(message, memberFxn) \
    {message, 0, 0, AfxSig_lwl, static_cast<LRESULT (CWnd::*)(WPARAM, LPARAM)>(&ThisClass::memberFxn)},
#define ON_COMMAND(id, memberFxn) \
    {WM_COMMAND, BN_CLICKED, static_cast<UINT>(id), AfxSig_vv, static_cast<void (CWnd::*)()>(&ThisClass::memberFxn)},
// clang-format on
#define ON_BN_CLICKED(id, memberFxn) ON_COMMAND(id, memberFxn)

// A window object. Attaching it to a window (creation from a template, or DDX_Control)
// routes the window's messages through the object's message map; messages it does not
// handle go to the window's previous procedure. The window is released when it is
// destroyed or when the object is, whichever comes first.
class CWnd {
public:
    HWND m_hWnd = nullptr;
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    // The object attached to a window, or nullptr.
    static CWnd* FromHandlePermanent(HWND hWnd);

    // Attaches this object to an existing window and takes over its messages.
    BOOL SubclassWindow(HWND hWnd);

    // Called for every queued message meant for this window before it is dispatched;
    // TRUE means the message has been handled and is not dispatched.
    virtual BOOL PreTranslateMessage(MSG* pMsg);

    // The default processing: the window's previous procedure.
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The message being handled, passed unchanged to DefWindowProc.
    LRESULT Default();

    void SetWindowText(LPCSTR text);
    void GetWindowText(CString& text) const;
    void SetDlgItemText(int id, LPCSTR text);
    UINT GetDlgItemText(int id, CString& text) const;
    // The object attached to the child with this id; for a child no object is attached to,
    // a plain wrapper kept by this object. nullptr when there is no such child.
    CWnd* GetDlgItem(int id) const;
    BOOL EnableWindow(BOOL enable = TRUE);
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc = nullptr);
    BOOL KillTimer(UINT_PTR id);
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL IsIconic() const;
    void GetClientRect(LPRECT rect) const;
    HICON SetIcon(HICON icon, BOOL bigIcon);

protected:
    virtual const AFX_MSGMAP* GetMessageMap() const;
    static const AFX_MSGMAP* GetThisMessageMap();
    // Dispatches through the message maps, then to DefWindowProc.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    void Detach();

private:
    friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
    bool OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    WNDPROC m_pfnSuper = nullptr;
    mutable std::vector<std::unique_ptr<CWnd>> m_childWrappers;
};

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

class CDataExchange {
public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog)
    {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
    bool m_bFailed = false;  // a control could not be attached
};

// Attaches control to the dialog's child with this id, once. A child that does not exist
// or cannot be attached is a fault of the program: it asserts in debug builds, and in
// every build it fails the exchange, so that the dialog is not shown half-wired.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

// A dialog made from a template resource of the executable. The template's captions are
// UTF-16 and are kept so: the window is created with the wide function.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);

    // Runs the dialog in its own modal loop until EndDialog; returns its result, or -1
    // when the window could not be created or the loop was ended by WM_QUIT (which is
    // posted again for the caller's loop).
    virtual INT_PTR DoModal();
    // Creates the dialog modeless; the caller pumps its messages and destroys it. Fails,
    // leaving no window, when the dialog or one of its controls cannot be attached.
    BOOL Create(UINT templateId, CWnd* parent = nullptr);
    void EndDialog(int result);

    virtual BOOL OnInitDialog();
    BOOL PreTranslateMessage(MSG* pMsg) override;
    // FALSE when a control could not be attached.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void OnOK();
    virtual void OnCancel();
    DECLARE_MESSAGE_MAP()

private:
    friend INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM);
    HWND CreateFromTemplate(HWND owner);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
    bool m_bContinueModal = false;
    int m_nModalResult = -1;
    bool m_bExchangeFailed = false;
};

// Control wrappers: the control's window with a few of its messages.
class CStatic : public CWnd {};
class CButton : public CWnd {};
class CEdit : public CWnd {};

class CSliderCtrl : public CWnd {
public:
    void SetRange(int minPos, int maxPos, BOOL redraw = FALSE);
    int GetPos() const;
    void SetPos(int pos);
    void ClearTics(BOOL redraw = FALSE);
    BOOL SetTic(int pos);
};

class CComboBoxEx : public CWnd {
public:
    int InsertItem(const COMBOBOXEXITEMA* item);
    void ResetContent();
    int GetCurSel() const;
    int SetCurSel(int index);
};

// Painting of a window between BeginPaint and EndPaint.
class CPaintDC {
public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }

    HDC m_hDC;
    PAINTSTRUCT m_ps;

private:
    HWND m_hWnd;
};

// The application object: exactly one, constructed as a process-wide object.
class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Returns FALSE to end the program; TRUE runs a message loop until WM_QUIT.
    virtual BOOL InitInstance();
    // An icon group of the executable, in the system's large-icon size.
    HICON LoadIcon(UINT id) const;
    // Kept for the classic start-up sequence; the system draws controls in 3D itself.
    BOOL Enable3dControls() { return TRUE; }

    CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetResourceHandle();
// Kept for the classic start-up sequence; no ActiveX controls are hosted here.
inline void AfxEnableControlContainer() {}
int AfxWinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showCommand);

// A worker thread started by AfxBeginThread; deleted by AfxEndThread(code, TRUE).
class CWinThread {
public:
    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
};

typedef UINT (*AFX_THREADPROC)(LPVOID);

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority = THREAD_PRIORITY_NORMAL,
                           UINT stackSize = 0, DWORD createFlags = 0,
                           LPSECURITY_ATTRIBUTES security = nullptr);
// Ends the calling thread, which must have been started by AfxBeginThread.
void AfxEndThread(UINT exitCode, BOOL deleteThread = TRUE);
