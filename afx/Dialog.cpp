#include "afxwin.h"

#include <cassert>

// The dialog procedure behind the window procedure: it attaches the CDialog when the
// window is ready and otherwise leaves everything to the default dialog handling. A dialog
// that cannot be attached, or whose controls cannot, is destroyed before it is shown:
// nobody would handle its messages.
INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    CDialog* dialog = reinterpret_cast<CDialog*>(lParam);
    if (!dialog || !dialog->SubclassWindow(hWnd)) {
        assert(!"CDialog: the dialog window could not be attached");
        ::DestroyWindow(hWnd);
        return FALSE;
    }
    dialog->m_bExchangeFailed = false;
    BOOL result = dialog->OnInitDialog();
    if (dialog->m_bExchangeFailed) {
        ::DestroyWindow(hWnd);  // detaches the dialog and every control attached so far
        return FALSE;
    }
    return result;
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nIDTemplate(templateId), m_pParentWnd(parent) {}

HWND CDialog::CreateFromTemplate(HWND owner)
{
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_BAR_CLASSES | ICC_USEREX_CLASSES};
    ::InitCommonControlsEx(&classes);
    // The wide function: the narrow one would pass the UTF-16 captions through the ANSI
    // code page and lose what it cannot represent.
    return ::CreateDialogParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_nIDTemplate), owner,
                                AfxDlgProc, reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::Create(UINT templateId, CWnd* parent)
{
    m_nIDTemplate = templateId;
    m_pParentWnd = parent;
    HWND created = CreateFromTemplate(parent ? parent->m_hWnd : nullptr);
    return created && ::IsWindow(created);
}

INT_PTR CDialog::DoModal()
{
    HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    bool ownerDisabled = owner && ::IsWindowEnabled(owner);
    if (ownerDisabled)
        ::EnableWindow(owner, FALSE);

    m_bContinueModal = true;
    m_nModalResult = -1;
    if (CreateFromTemplate(owner)) {
        MSG msg;
        while (m_bContinueModal && m_hWnd) {
            BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
            if (got == -1)
                break;
            if (got == 0) {
                // Leave the quit request for the loop outside, and end this one.
                ::PostQuitMessage(static_cast<int>(msg.wParam));
                m_nModalResult = -1;
                break;
            }
            bool forDialog = msg.hwnd && (msg.hwnd == m_hWnd || ::IsChild(m_hWnd, msg.hwnd));
            if (forDialog && PreTranslateMessage(&msg))
                continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }

    if (ownerDisabled)
        ::EnableWindow(owner, TRUE);
    if (m_hWnd)
        ::DestroyWindow(m_hWnd);
    return m_nModalResult;
}

void CDialog::EndDialog(int result)
{
    m_nModalResult = result;
    m_bContinueModal = false;
    if (m_hWnd)
        ::PostMessageA(m_hWnd, WM_NULL, 0, 0);  // wakes the modal loop
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg)
{
    bool input = (pMsg->message >= WM_KEYFIRST && pMsg->message <= WM_KEYLAST) ||
                 (pMsg->message >= WM_MOUSEFIRST && pMsg->message <= WM_MOUSELAST);
    if (!input || !m_hWnd || (pMsg->hwnd != m_hWnd && !::IsChild(m_hWnd, pMsg->hwnd)))
        return FALSE;
    return ::IsDialogMessageA(m_hWnd, pMsg);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate)
{
    CDataExchange exchange(this, saveAndValidate);
    DoDataExchange(&exchange);
    if (exchange.m_bFailed)
        m_bExchangeFailed = true;
    return exchange.m_bFailed ? FALSE : TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK()
{
    if (UpdateData(TRUE))
        EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control)
{
    if (control.m_hWnd)
        return;
    if (!control.SubclassWindow(::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, id))) {
        assert(!"DDX_Control: no such control, or it is attached already");
        pDX->m_bFailed = true;
    }
}
