#include "NumericEdit.h"
#include <cstring>

BEGIN_MESSAGE_MAP(CNumericEdit, CEdit)
ON_WM_CHAR()
END_MESSAGE_MAP()

// A character either goes on to the edit control unchanged or is dropped silently. The
// point and the minus sign depend on the whole text as it stands before the keystroke.
void CNumericEdit::OnChar(UINT nChar, UINT, UINT)
{
    bool pass;
    if (nChar == '.') {
        CString text;
        GetWindowText(text);
        pass = !text.IsEmpty() && std::strchr(text, '.') == nullptr;
    } else if (nChar == '-') {
        CString text;
        GetWindowText(text);
        pass = text.IsEmpty();
    } else {
        pass = (nChar >= '0' && nChar <= '9') || nChar == '\b';
    }
    if (pass)
        Default();
}
