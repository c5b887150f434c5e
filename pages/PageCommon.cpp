#include "pages/PageCommon.h"

#include <commctrl.h>
#include <prsht.h>

#include "app/Wizard.h"
#include "core/Converter.h"

// The tool record without lpReserved.
static const UINT toolRecordSize = RECORD_SIZE(TOOLINFOA, lParam);
static_assert(sizeof(void*) == 8 || toolRecordSize == 44, "tool record size");

Converter* attachConverter(HWND page, LPARAM creationRecord) {
    Converter* c = (Converter*)((const PROPSHEETPAGEA*)creationRecord)->lParam;
    SetWindowLongPtrA(page, GWLP_USERDATA, (LONG_PTR)c);
    return c;
}

Converter* pageConverter(HWND page) {
    return (Converter*)GetWindowLongPtrA(page, GWLP_USERDATA);
}

void setWizardButtons(HWND page, DWORD buttons) {
    PostMessageA(GetParent(page), PSM_SETWIZBUTTONS, 0, (LPARAM)buttons);
}

void showSheetButton(HWND page, int button, int showCommand) {
    PostMessageA(GetParent(page), WM_SHOWSHEETBUTTON, (WPARAM)button, (LPARAM)showCommand);
}

void redrawSheet(HWND page) {
    RedrawWindow(GetParent(page), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_FRAME);
}

INT_PTR pageResult(HWND page, LONG_PTR result) {
    SetWindowLongPtrA(page, DWLP_MSGRESULT, result);
    return TRUE;
}

void addTooltips(HWND page, const Tooltip* tips, int count) {
    HWND tooltip = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr,
                                   WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, page, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
    SendMessageA(tooltip, TTM_SETMAXTIPWIDTH, 0, 250);
    for (int i = 0; i < count; i++) {
        TOOLINFOA tool = {};
        tool.cbSize = toolRecordSize;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = page;
        tool.uId = (UINT_PTR)GetDlgItem(page, tips[i].control);
        tool.lpszText = (LPSTR)tips[i].text;
        SendMessageA(tooltip, TTM_ADDTOOLA, 0, (LPARAM)&tool);
    }
}

int tellUser(HWND owner, const char* text) {
    return MessageBoxA(owner, text, programCaption, MB_ICONINFORMATION);
}

EntryListMessage::EntryListMessage(const char* heading)
    : length(0), lines(0), finished(false) {
    buffer[0] = '\0';
    append(heading);
}

void EntryListMessage::append(const char* part) {
    int room = (int)sizeof(buffer) - length;
    if (room > 1) {
        lstrcpynA(buffer + length, part, room);
        length += lstrlenA(buffer + length);
    }
}

void EntryListMessage::add(const char* line) {
    if (lines++ < shownLines) {
        append("\n");
        append(line);
    }
}

const char* EntryListMessage::text() {
    if (!finished && lines > shownLines) {
        char more[64];
        int rest = lines - shownLines;
        wsprintfA(more, rest == 1 ? "\n... et 1 autre." : "\n... et %i autres.", rest);
        append(more);
    }
    finished = true;
    return buffer;
}
