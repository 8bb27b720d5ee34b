// The entry fields for channel and power: typing is limited to what can make up a decimal
// number (digits, one point, a leading minus sign) and backspace.
#pragma once
#include "afxwin.h"

class CNumericEdit : public CEdit {
protected:
    void OnChar(UINT nChar, UINT nRepCnt, UINT nFlags);
    DECLARE_MESSAGE_MAP()
};
