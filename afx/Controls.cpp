#include "afxwin.h"

void CSliderCtrl::SetRange(int minPos, int maxPos, BOOL redraw)
{
    // Two messages rather than TBM_SETRANGE, which packs both ends into 16 bits.
    SendMessage(TBM_SETRANGEMIN, FALSE, minPos);
    SendMessage(TBM_SETRANGEMAX, redraw, maxPos);
}

int CSliderCtrl::GetPos() const
{
    return static_cast<int>(::SendMessageA(m_hWnd, TBM_GETPOS, 0, 0));
}

void CSliderCtrl::SetPos(int pos)
{
    SendMessage(TBM_SETPOS, TRUE, pos);
}

void CSliderCtrl::ClearTics(BOOL redraw)
{
    SendMessage(TBM_CLEARTICS, redraw, 0);
}

BOOL CSliderCtrl::SetTic(int pos)
{
    return static_cast<BOOL>(SendMessage(TBM_SETTIC, 0, pos));
}

int CComboBoxEx::InsertItem(const COMBOBOXEXITEMA* item)
{
    return static_cast<int>(SendMessage(CBEM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(item)));
}

void CComboBoxEx::ResetContent()
{
    SendMessage(CB_RESETCONTENT, 0, 0);
}

int CComboBoxEx::GetCurSel() const
{
    return static_cast<int>(::SendMessageA(m_hWnd, CB_GETCURSEL, 0, 0));
}

int CComboBoxEx::SetCurSel(int index)
{
    return static_cast<int>(SendMessage(CB_SETCURSEL, index, 0));
}

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd->m_hWnd)
{
    m_hDC = ::BeginPaint(m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC()
{
    ::EndPaint(m_hWnd, &m_ps);
}
