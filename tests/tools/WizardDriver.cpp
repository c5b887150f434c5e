// Starts the program and goes through its wizard from outside, as a user
// would, printing what it sees.
//
//   calbrune_drive PROGRAM wav|cd DESTINATION|- SCREENSHOTS|- [--return] [--tour] [--timed] ITEM...
//
// ITEMs are WAV files of one folder (wav) or track numbers from 1 (cd).
// DESTINATION (cd only) is chosen in the folder browser; "-" leaves the page
// as it is. SCREENSHOTS receives NN-page.bmp for each page and for the end
// message. --return: go back to the first page after the conversion, then
// quit through Cancel. --tour: first show the CD page with tracks 1 and 2
// chosen, then go Back. --timed: print "elapsed WHAT SECONDS" from this
// program's start when the wizard shows, at Finish and at the program's end,
// and wait as long as the conversion takes.
//
// Exits 0 when the program ended with exit code 0; 1 otherwise, after a line
// that says what did not happen. Controls are found by ID, never by text: the
// sheet's own buttons follow Wine's language.
#include <windows.h>
#include <prsht.h>
#include <shlobj.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

const DWORD stepWait = 5000;
const int backButton = 0x3023, nextButton = 0x3024, finishButton = 0x3025, messageText = 0xFFFF;

// In the sheet's order, named as in the screenshots.
enum Page { Welcome, Files, Tracks, Destination, Options, Finish };
const char* const pageNames[] = {"bienvenue", "fichiers", "pistes", "destination", "options", "terminer"};

PROCESS_INFORMATION child;
HWND sheet;
const char* shotFolder;
int shotCount;
bool timed;
LARGE_INTEGER started;

// The program's text is ANSI; the log is UTF-8.
void say(const std::string& ansi) {
    wchar_t wide[1024];
    char line[4096];
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide, 1024);
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, line, sizeof(line), nullptr, nullptr);
    printf("%s\n", line);
    fflush(stdout);
}

// With --timed, the seconds since this program started.
void mark(const char* what) {
    if (!timed) {
        return;
    }
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    printf("elapsed %s %.3f\n", what, (double)(now.QuadPart - started.QuadPart) / (double)frequency.QuadPart);
    fflush(stdout);
}

[[noreturn]] void fail(const std::string& what) {
    say("calbrune_drive: " + what);
    TerminateProcess(child.hProcess, 99);
    exit(1);
}

bool programEnded() { return WaitForSingleObject(child.hProcess, 0) == WAIT_OBJECT_0; }

// Polls `ready` until it gives something, the program ends or `ms` pass;
// then fails naming `what`, unless `what` is empty.
template <typename F>
auto waitFor(const std::string& what, F ready, DWORD ms = stepWait) {
    for (DWORD waited = 0;; waited += 20) {
        bool ended = programEnded();  // first, so that `ready` sees the last state
        auto result = ready();
        if (result || ended || waited >= ms) {
            if (!result && !what.empty()) {
                fail((ended ? "the program ended while waiting for " : "timed out waiting for ") + what);
            }
            return result;
        }
        Sleep(20);
    }
}

// Bounded in time: a hung program fails the run instead of holding it up.
LRESULT ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, stepWait, &result)) {
        fail("no answer to message " + std::to_string(message));
    }
    return (LRESULT)result;
}

std::string textOf(HWND window) {
    char text[1024] = "";
    ask(window, WM_GETTEXT, sizeof(text), (LPARAM)text);
    return text;
}

// A visible dialog of the program owned by `owner` (the sheet has none),
// holding `control` unless that is 0.
HWND findDialog(HWND owner, int control = 0) {
    for (HWND window = nullptr; (window = FindWindowExA(nullptr, window, "#32770", nullptr));) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == child.dwProcessId && IsWindowVisible(window) && GetWindow(window, GW_OWNER) == owner &&
            (!control || GetDlgItem(window, control))) {
            return window;
        }
    }
    return nullptr;
}

void click(HWND button) {
    waitFor(textOf(button) + " to be usable", [&] { return IsWindowVisible(button) && IsWindowEnabled(button); });
    PostMessageA(button, BM_CLICK, 0, 0);
}

void check(HWND radio) {
    click(radio);
    waitFor(textOf(radio) + " to be checked", [&] { return ask(radio, BM_GETCHECK) == BST_CHECKED; });
}

// The sheet, with `box` when given, as NN-name.bmp.
void shoot(const char* name, HWND box = nullptr) {
    if (!shotFolder) {
        return;
    }
    Sleep(300);  // let the page paint
    RECT area, more;
    GetWindowRect(sheet, &area);
    if (box && GetWindowRect(box, &more)) {
        UnionRect(&area, &area, &more);
    }
    int width = area.right - area.left, height = area.bottom - area.top;
    BITMAPINFOHEADER header = {sizeof(header), width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, (BITMAPINFO*)&header, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    GdiFlush();
    // Rows of 24-bit pixels, each padded to whole words, bottom row first.
    DWORD imageBytes = ((width * 3 + 3) & ~3) * height;
    DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof(header);
    BITMAPFILEHEADER file = {0x4D42, offset + imageBytes, 0, 0, offset};
    char path[MAX_PATH];
    wsprintfA(path, "%s\\%02d-%s.bmp", shotFolder, ++shotCount, name);
    FILE* out = fopen(path, "wb");
    if (!out) {
        fail(std::string("cannot write ") + path);
    }
    fwrite(&file, sizeof(file), 1, out);
    fwrite(&header, sizeof(header), 1, out);
    fwrite(bits, imageBytes, 1, out);
    fclose(out);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

HWND expectPage(Page page) {
    HWND shown = waitFor(std::string("page ") + pageNames[page], [&] {
        HWND current = (HWND)ask(sheet, PSM_GETCURRENTPAGEHWND);
        return current && ask(sheet, PSM_HWNDTOINDEX, (WPARAM)current) == page ? current : nullptr;
    });
    say(std::string("page ") + pageNames[page]);
    return shown;
}

// Answers OK, or Oui to a question; returns whether it was a plain message.
bool answer(HWND box, bool shot) {
    say("message: " + textOf(GetDlgItem(box, messageText)));
    if (shot) {
        shoot("message", box);
    }
    HWND ok = GetDlgItem(box, IDOK);
    click(ok ? ok : GetDlgItem(box, IDYES));
    waitFor("the message box to close", [&] { return !IsWindow(box); });
    return ok != nullptr;
}

// Through one open-file dialog: the folder first, then the quoted names.
void addFiles(HWND page, const std::vector<std::string>& paths) {
    std::string folder = paths[0].substr(0, paths[0].find_last_of('\\'));
    std::string names;
    for (const std::string& path : paths) {
        names += "\"" + path.substr(folder.size() + 1) + "\" ";
    }
    HWND list = GetDlgItem(page, 1010);
    int before = (int)ask(list, LB_GETCOUNT);
    click(GetDlgItem(page, 1011));
    HWND dialog = waitFor("the open-file dialog", [] { return findDialog(sheet); });
    HWND field = GetDlgItem(dialog, 0x47C);
    ask(field, WM_SETTEXT, 0, (LPARAM)folder.c_str());
    click(GetDlgItem(dialog, IDOK));
    // The dialog empties the field once it has changed folder.
    waitFor("the open-file dialog to change folder", [&] { return textOf(field).empty(); });
    ask(field, WM_SETTEXT, 0, (LPARAM)names.c_str());
    click(GetDlgItem(dialog, IDOK));
    waitFor("the open-file dialog to close", [&] {
        if (HWND error = findDialog(dialog)) {
            fail("the open-file dialog says: " + textOf(GetDlgItem(error, messageText)));
        }
        return !IsWindow(dialog);
    });
    waitFor("the files in the list", [&] { return ask(list, LB_GETCOUNT) == before + (LRESULT)paths.size(); });
    say("added " + std::to_string(paths.size()) + " file(s) from " + folder);
}

// Selects the tracks in the disc's list as a click would, and moves them
// with ">".
void chooseTracks(HWND page, const std::vector<std::string>& tracks) {
    HWND disc = GetDlgItem(page, 1021), chosen = GetDlgItem(page, 1022);
    int count = waitFor("the disc's tracks", [&] { return (int)ask(disc, LB_GETCOUNT); });
    LRESULT expected = ask(chosen, LB_GETCOUNT) + tracks.size();
    for (int index = 0; index < count; index++) {
        std::string track = std::to_string(ask(disc, LB_GETITEMDATA, index) + 1);
        if (std::count(tracks.begin(), tracks.end(), track)) {
            ask(disc, LB_SETSEL, TRUE, index);
        }
    }
    PostMessageA(page, WM_COMMAND, MAKEWPARAM(1021, LBN_SELCHANGE), (LPARAM)disc);
    click(GetDlgItem(page, 1023));
    waitFor("the chosen tracks", [&] { return ask(chosen, LB_GETCOUNT) == expected; });
    say(std::to_string(expected) + " of " + std::to_string(count) + " tracks to encode");
}

// Chooses `folder` in the folder browser, which takes the path as a string of
// the program's own process.
void chooseDestination(HWND page, const std::string& folder) {
    HWND shown = GetDlgItem(page, 1030);
    auto showsFolder = [&] { return !_stricmp(textOf(shown).c_str(), folder.c_str()); };
    // When the path runs through a busy folder such as /tmp, Wine's browser
    // often keeps its first selection the first time; a second one works.
    for (int attempt = 0; !folder.empty() && !showsFolder(); attempt++) {
        if (attempt == 3) {
            fail("the destination shows " + textOf(shown) + ", not " + folder);
        }
        click(GetDlgItem(page, 1031));
        HWND browser = waitFor("the folder browser", [] { return findDialog(sheet); });
        SIZE_T size = folder.size() + 1;
        void* remote = VirtualAllocEx(child.hProcess, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        WriteProcessMemory(child.hProcess, remote, folder.c_str(), size, nullptr);
        ask(browser, BFFM_SETSELECTIONA, TRUE, (LPARAM)remote);
        click(GetDlgItem(browser, IDOK));
        waitFor("the folder browser to close", [&] { return !IsWindow(browser); });
        VirtualFreeEx(child.hProcess, remote, 0, MEM_RELEASE);
        waitFor("", showsFolder, 500);
    }
    // The folder is greyed while the MP3 files go beside the WAV files.
    say("destination: " + (IsWindowEnabled(shown) ? textOf(shown) : "beside each WAV file"));
}

// What is done on a page, then the sheet button pressed (0: none).
struct Step {
    Page page;
    std::function<void(HWND)> act;
    int button;
};

}  // namespace

int main(int argc, char** argv) {
    QueryPerformanceCounter(&started);
    bool returning = false, tour = false;
    int first = 5;
    for (; first < argc && !strncmp(argv[first], "--", 2); first++) {
        returning |= !strcmp(argv[first], "--return");
        tour |= !strcmp(argv[first], "--tour");
        timed |= !strcmp(argv[first], "--timed");
    }
    if (first >= argc || (strcmp(argv[2], "wav") && strcmp(argv[2], "cd"))) {
        fputs("usage: calbrune_drive PROGRAM wav|cd DESTINATION|- SCREENSHOTS|- [--return] [--tour] [--timed] "
              "ITEM...\n",
              stderr);
        return 2;
    }
    bool wav = !strcmp(argv[2], "wav");
    std::string destination = strcmp(argv[3], "-") ? argv[3] : "";
    shotFolder = strcmp(argv[4], "-") ? argv[4] : nullptr;
    std::vector<std::string> items(argv + first, argv + argc);

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessA(argv[1], nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        fail(std::string("cannot start ") + argv[1] + ", error " + std::to_string(GetLastError()));
    }
    sheet = waitFor("the wizard", [] { return findDialog(nullptr, nextButton); }, 3 * stepWait);
    mark("wizard");

    auto choose = [](int radio) { return [radio](HWND page) { check(GetDlgItem(page, radio)); }; };
    std::vector<Step> steps = {{Welcome, nullptr, 0}};
    if (tour) {
        steps.push_back({Welcome, choose(1003), nextButton});
        steps.push_back({Tracks, [](HWND page) { chooseTracks(page, {"1", "2"}); }, backButton});
    }
    steps.insert(steps.end(), {
        {Welcome, choose(wav ? 1002 : 1003), nextButton},
        {wav ? Files : Tracks, [&](HWND page) { wav ? addFiles(page, items) : chooseTracks(page, items); }, nextButton},
        {Destination, [&](HWND page) { chooseDestination(page, destination); }, nextButton},
        {Options, nullptr, nextButton},
        {Finish, choose(returning ? 1061 : 1060), finishButton},
    });
    // Each page is shot once, after what is first done there.
    int visits[6] = {};
    HWND page = nullptr;
    for (const Step& step : steps) {
        if (!page) {
            page = expectPage(step.page);
        }
        if (step.act) {
            step.act(page);
        }
        if (!visits[step.page]++) {
            shoot(pageNames[step.page]);
        }
        if (step.button) {
            click(GetDlgItem(sheet, step.button));
            if (step.button == finishButton) {
                mark("finish");
            }
            page = nullptr;
        }
    }

    // Questions on the way are answered Oui. Returning, the end message
    // leads to the first page, and Cancel quits.
    if (returning) {
        waitFor("the end message", [] {
            HWND box = findDialog(sheet, messageText);
            return box && answer(box, true);
        }, 30000);
        expectPage(Welcome);
        click(GetDlgItem(sheet, IDCANCEL));
    }
    waitFor("the program to end", [&] {
        if (HWND box = findDialog(sheet, messageText)) {
            answer(box, !returning);
        }
        return programEnded();
    }, timed ? 3600 * 1000 : 30000);
    mark("ended");
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    say("program ended, exit code " + std::to_string(code));
    return code != 0;
}
