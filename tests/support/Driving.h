// Driving the wizard as a user does, from the test program and from calbrune_drive alike.
#pragma once

#include <windows.h>
#include <prsht.h>
#include <shlobj.h>

#include <algorithm>
#include <string>
#include <vector>

namespace wizard {

const int backButton = 0x3023, nextButton = 0x3024, finishButton = 0x3025, messageText = 0xFFFF;

// Asks `ready` every 10 ms until it gives something, `over` says so or `ms` pass on the clock (a
// busy program makes each asking slow); its last answer.
template <typename F>
auto poll(F ready, DWORD ms, bool (*over)() = nullptr) {
    for (ULONGLONG end = GetTickCount64() + ms;; Sleep(10)) {
        bool ending = over && over();  // first, so that `ready` sees the last state
        auto result = ready();
        if (result || ending || GetTickCount64() >= end) {
            return result;
        }
    }
}

// Bounded in time: a hung wizard fails the run instead of holding it up.
inline LRESULT ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result);
    return (LRESULT)result;
}

inline std::string textOf(HWND window) {
    std::string text(8192, '\0');
    return text.resize(ask(window, WM_GETTEXT, text.size(), (LPARAM)&text[0])), text;
}

// A visible dialog of `process` owned by `owner` (the sheet has none), holding `control` unless 0.
inline HWND findDialog(DWORD process, HWND owner, int control = 0) {
    for (HWND window = nullptr; (window = FindWindowExA(nullptr, window, "#32770", nullptr));) {
        DWORD of = 0;
        GetWindowThreadProcessId(window, &of);
        if (of == process && IsWindowVisible(window) && GetWindow(window, GW_OWNER) == owner &&
            (!control || GetDlgItem(window, control))) {
            return window;
        }
    }
    return nullptr;
}

inline HWND currentPage(HWND sheet) { return (HWND)ask(sheet, PSM_GETCURRENTPAGEHWND); }
// Counted from 0 in the sheet's order.
inline int pageIndex(HWND sheet) { return (int)ask(sheet, PSM_HWNDTOINDEX, (WPARAM)currentPage(sheet)); }

// The text of a message box, once `button` has closed it.
inline std::string answer(HWND box, int button) {
    std::string said = textOf(GetDlgItem(box, messageText));
    PostMessageA(GetDlgItem(box, button), BM_CLICK, 0, 0);
    return poll([&] { return !IsWindow(box); }, 10000), said;
}

// As a user fills it: a folder first (the dialog moves there and stays), then the quoted names.
inline void fillOpenDialog(HWND dialog, const std::vector<std::string>& entries) {
    for (const std::string& entry : entries) {
        ask(GetDlgItem(dialog, 0x47C), WM_SETTEXT, 0, (LPARAM)entry.c_str());
        ask(GetDlgItem(dialog, IDOK), BM_CLICK);
    }
}

// The path, in the browser's process, is left there: a busy browser may read it after we stop waiting.
inline void browseTo(HANDLE process, HWND browser, const std::string& folder) {
    void* path = VirtualAllocEx(process, nullptr, folder.size() + 1, MEM_COMMIT, PAGE_READWRITE);
    WriteProcessMemory(process, path, folder.c_str(), folder.size() + 1, nullptr);
    ask(browser, BFFM_SETSELECTIONA, TRUE, (LPARAM)path);
}

// The tracks (from 0) of a list of the CD page; those of `select` selected as clicks select them.
inline std::vector<int> tracksIn(HWND list, const std::vector<int>& select = {}) {
    std::vector<int> tracks;
    for (int i = 0; i < (int)ask(list, LB_GETCOUNT); i++) {
        tracks.push_back((int)ask(list, LB_GETITEMDATA, i));
        std::count(select.begin(), select.end(), tracks.back()) ? ask(list, LB_SETSEL, TRUE, i) : 0;
    }
    select.empty() ? 0 : PostMessageA(GetParent(list), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), LBN_SELCHANGE), (LPARAM)list);
    return tracks;
}

}  // namespace wizard
