#include "afxwin.h"

namespace {

// The window property that holds the attached CWnd.
const char kWndProperty[] = "ZorvaneAfxWnd";

// The message being handled, for CWnd::Default; saved and restored around nested
// dispatches. Windows belong to the thread that created them, hence one per thread.
thread_local MSG currentMessage;

void ReadWindowText(HWND hWnd, CString& text)
{
    int length = hWnd ? ::GetWindowTextLengthA(hWnd) : 0;
    std::string buffer(static_cast<size_t>(length) + 1, '\0');
    if (length > 0)
        ::GetWindowTextA(hWnd, &buffer[0], length + 1);
    text = buffer.c_str();
}

}  // namespace

CWnd::~CWnd()
{
    if (m_hWnd && FromHandlePermanent(m_hWnd) == this)
        Detach();
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd)
{
    return hWnd ? static_cast<CWnd*>(::GetPropA(hWnd, kWndProperty)) : nullptr;
}

BOOL CWnd::SubclassWindow(HWND hWnd)
{
    if (!hWnd || m_hWnd || FromHandlePermanent(hWnd) || !::SetPropA(hWnd, kWndProperty, this))
        return FALSE;
    // The wide form keeps template-made windows Unicode; the narrow calls of the program
    // are converted by the system as for any Unicode window.
    ::SetLastError(ERROR_SUCCESS);
    LONG_PTR super =
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc));
    if (!super && ::GetLastError() != ERROR_SUCCESS) {
        // Not attached at all rather than half: the window keeps its own procedure.
        ::RemovePropA(hWnd, kWndProperty);
        return FALSE;
    }
    m_hWnd = hWnd;
    m_pfnSuper = reinterpret_cast<WNDPROC>(super);
    return TRUE;
}

void CWnd::Detach()
{
    if (!m_hWnd)
        return;
    if (m_pfnSuper &&
        reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(m_hWnd, GWLP_WNDPROC)) == &AfxWndProc)
        ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    ::RemovePropA(m_hWnd, kWndProperty);
    m_hWnd = nullptr;
    m_pfnSuper = nullptr;
    m_childWrappers.clear();
}

const AFX_MSGMAP* CWnd::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, AfxSig_end, AfxHandler()}};
    static const AFX_MSGMAP map = {nullptr, entries};
    return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const
{
    return GetThisMessageMap();
}

BOOL CWnd::PreTranslateMessage(MSG*)
{
    return FALSE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_pfnSuper)
        return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default()
{
    return DefWindowProc(currentMessage.message, currentMessage.wParam, currentMessage.lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (OnWndMsg(message, wParam, lParam, &result))
        return result;
    return DefWindowProc(message, wParam, lParam);
}

bool CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    UINT code = 0;
    UINT id = 0;
    if (message == WM_COMMAND) {
        code = HIWORD(wParam);
        id = LOWORD(wParam);
    }
    for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->base) {
        for (const AFX_MSGMAP_ENTRY* row = map->entries; row->sig != AfxSig_end; ++row) {
            if (row->message != message || row->code != code || row->id != id)
                continue;
            *result = 0;
            switch (row->sig) {
            case AfxSig_vv: (this->*row->handler.vv)(); break;
            case AfxSig_hv: *result = reinterpret_cast<LRESULT>((this->*row->handler.hv)()); break;
            case AfxSig_vt: (this->*row->handler.vt)(static_cast<UINT_PTR>(wParam)); break;
            case AfxSig_lwl: *result = (this->*row->handler.lwl)(wParam, lParam); break;
            case AfxSig_vwww:
                (this->*row->handler.vwww)(static_cast<UINT>(wParam), LOWORD(lParam),
                                           HIWORD(lParam));
                break;
            case AfxSig_end: break;
            }
            return true;
        }
    }
    return false;
}

LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* wnd = CWnd::FromHandlePermanent(hWnd);
    if (!wnd)
        return ::DefWindowProcW(hWnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        // The last message: release the window so nothing reaches the object any more.
        WNDPROC super = wnd->m_pfnSuper;
        wnd->Detach();
        return super ? ::CallWindowProcW(super, hWnd, message, wParam, lParam)
                     : ::DefWindowProcW(hWnd, message, wParam, lParam);
    }
    MSG saved = currentMessage;
    currentMessage = MSG{hWnd, message, wParam, lParam, 0, {0, 0}};
    LRESULT result = wnd->WindowProc(message, wParam, lParam);
    currentMessage = saved;
    return result;
}

void CWnd::SetWindowText(LPCSTR text)
{
    ::SetWindowTextA(m_hWnd, text);
}

void CWnd::GetWindowText(CString& text) const
{
    ReadWindowText(m_hWnd, text);
}

void CWnd::SetDlgItemText(int id, LPCSTR text)
{
    ::SetDlgItemTextA(m_hWnd, id, text);
}

UINT CWnd::GetDlgItemText(int id, CString& text) const
{
    ReadWindowText(::GetDlgItem(m_hWnd, id), text);
    return static_cast<UINT>(text.GetLength());
}

CWnd* CWnd::GetDlgItem(int id) const
{
    HWND child = ::GetDlgItem(m_hWnd, id);
    if (!child)
        return nullptr;
    if (CWnd* attached = FromHandlePermanent(child))
        return attached;
    for (const auto& wrapper : m_childWrappers)
        if (wrapper->m_hWnd == child)
            return wrapper.get();
    m_childWrappers.push_back(std::make_unique<CWnd>());
    m_childWrappers.back()->m_hWnd = child;
    return m_childWrappers.back().get();
}

BOOL CWnd::EnableWindow(BOOL enable)
{
    return ::EnableWindow(m_hWnd, enable);
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc)
{
    return ::SetTimer(m_hWnd, id, elapse, proc);
}

BOOL CWnd::KillTimer(UINT_PTR id)
{
    return ::KillTimer(m_hWnd, id);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::IsIconic() const
{
    return ::IsIconic(m_hWnd);
}

void CWnd::GetClientRect(LPRECT rect) const
{
    ::GetClientRect(m_hWnd, rect);
}

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon)
{
    return reinterpret_cast<HICON>(::SendMessageA(
        m_hWnd, WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}
