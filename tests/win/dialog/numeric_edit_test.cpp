// The entry fields on real WM_CHAR messages, as the edit control receives typed keys.
#include "dialog_fixture.h"

namespace {

class NumericEditTest : public DialogTest {
protected:
    // Sets the text (not filtered: it does not arrive as WM_CHAR) and the selection.
    void Start(const char* text, int selStart = -2, int selEnd = -2)
    {
        SetWindowTextA(edit(), text);
        int end = GetWindowTextLengthA(edit());
        SendMessageA(edit(), EM_SETSEL, selStart == -2 ? end : selStart,
                     selEnd == -2 ? end : selEnd);
    }
    std::string Type(UINT code)
    {
        SendMessageA(edit(), WM_CHAR, code, 1);
        return NarrowText(edit());
    }
    HWND edit() const { return Item(editId); }

    int editId = IDC_CHANNEL_EDIT;
};

}  // namespace

TEST_F(NumericEditTest, DigitsAndBackspaceAlwaysPass)
{
    for (int id : {IDC_CHANNEL_EDIT, IDC_POWER_EDIT}) {
        editId = id;
        Start("");
        EXPECT_EQ(Type('\b'), "");
        for (char digit = '0'; digit <= '4'; ++digit)
            Type(digit);
        EXPECT_EQ(NarrowText(edit()), "01234");
        EXPECT_EQ(Type('\b'), "0123");
        Start("");
        for (char digit = '5'; digit <= '9'; ++digit)
            Type(digit);
        EXPECT_EQ(NarrowText(edit()), "56789");
    }
}

TEST_F(NumericEditTest, PointNeedsTextWithoutAPoint)
{
    Start("");
    EXPECT_EQ(Type('.'), "");  // no value begins with a point
    Start("12");
    EXPECT_EQ(Type('.'), "12.");
    EXPECT_EQ(Type('.'), "12.");
    // The whole text counts, not what a selection would leave: 7.00 selected keeps its point.
    Start("7.00", 0, -1);
    EXPECT_EQ(Type('.'), "7.00");
    EXPECT_EQ(Type('3'), "3");
    EXPECT_EQ(Type('.'), "3.");
}

TEST_F(NumericEditTest, MinusOnlyInAnEmptyField)
{
    Start("");
    EXPECT_EQ(Type('-'), "-");
    EXPECT_EQ(Type('-'), "-");
    EXPECT_EQ(Type('.'), "-.");  // a point after a lone minus
    Start("12", 0, 0);
    EXPECT_EQ(Type('-'), "12");  // wherever the caret is
    Start("12", 0, -1);
    EXPECT_EQ(Type('-'), "12");  // and when the whole text would be replaced
}

TEST_F(NumericEditTest, EverythingElseIsDropped)
{
    Start("5");
    for (UINT code : {UINT('a'), UINT('Z'), UINT(' '), UINT('+'), UINT(','), UINT('e'),
                      0x16u /* Ctrl+V */, 0x01u /* Ctrl+A */, UINT('\r'), UINT('\t'), 0x1Bu, 0x7Fu,
                      0xB2u /* superscript 2 */, 0x300Au, 0xFF10u /* fullwidth 0 */}) {
        EXPECT_EQ(Type(code), "5") << "code " << code;
    }
}
