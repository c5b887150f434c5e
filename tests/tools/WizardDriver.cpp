// Starts the program and goes through its wizard from outside, as a user
// would, printing what it sees (UTF-8):
//   calbrune_drive PROGRAM wav|cd DESTINATION|- [OPTION...] ITEM...
// ITEMs: WAV files of one folder, or track numbers from 1; the DESTINATION is
// chosen in the folder browser. OPTIONs:
//   --return       answer the end message, then quit through Cancel (else the
//                  program closes by itself when it is done)
//   --tour         first the CD page with tracks 1 and 2 chosen, then Back
//   --shots        "shot PAGE WxH+X+Y" where the sheet is, once a page and for
//                  the end message, then a pause for a screenshot
//   --vbr METHOD   VBR on, with the method of that row (0 Default ... 4 ABR)
//   --cancel-at N  Annuler once the overall bar shows N of 1024
//   --timed        "elapsed WHAT SECONDS" at the wizard, Finish, the end message
//                  and the end, the program's peak memory; jobs of up to an hour
// Exits 0 when the program ended with exit code 0, else 1 after a line
// "calbrune_drive: ..." saying what did not happen. Every wait is bounded on
// the clock, so that the driver always ends by itself and says why. Controls
// are found by ID, whatever Wine's language.
#include "tests/support/WizardRun.h"

#include <psapi.h>
#include <stdio.h>

using namespace wizard;

namespace {

enum Page { Welcome, Files, Tracks, Destination, Options, Finish, Message };
const char* const names[] = {"bienvenue", "fichiers", "pistes", "destination", "options", "terminer", "message"};

PROCESS_INFORMATION child;
HWND sheet;
int shot[7];
bool shots, timed;
ULONGLONG started = GetTickCount64();

void say(const std::string& ansi) {
    std::wstring wide(ansi.size() + 1, L'\0');
    std::string line(ansi.size() * 3 + 1, '\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &wide[0], (int)wide.size());
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, &line[0], (int)line.size(), nullptr, nullptr);
    printf("%s\n", line.c_str());
    fflush(stdout);
}

void mark(const char* what) {
    timed ? printf("elapsed %s %.3f\n", what, (GetTickCount64() - started) / 1000.0) : 0;
}

[[noreturn]] void fail(const std::string& what) {
    say("calbrune_drive: " + what);
    TerminateProcess(child.hProcess, 99);
    exit(1);
}

bool programEnded() { return WaitForSingleObject(child.hProcess, 0) == WAIT_OBJECT_0; }

// Fails naming `what` (unless empty) when `ready` gives nothing in time: a
// busy machine slows a wizard's answers, never by as much.
template <typename F>
auto waitFor(const std::string& what, F ready, DWORD ms = 20000) {
    auto result = poll(ready, ms, programEnded);
    if (!result && !what.empty()) {
        fail((programEnded() ? "the program ended while waiting for " : "timed out waiting for ") + what);
    }
    return result;
}

HWND dialogOf(HWND owner, int control = 0) { return findDialog(child.dwProcessId, owner, control); }

void click(HWND button) {
    waitFor(textOf(button) + " to be usable", [&] { return IsWindowVisible(button) && IsWindowEnabled(button); });
    PostMessageA(button, BM_CLICK, 0, 0);
}

// With --shots, once for each page: where the sheet and `box` are, for the
// demo to photograph while we wait.
void shoot(Page page, HWND box = nullptr) {
    if (!shots || shot[page]++) {
        return;
    }
    Sleep(300);  // let the page paint
    RECT area, more;
    GetWindowRect(sheet, &area);
    box && GetWindowRect(box, &more) ? UnionRect(&area, &area, &more) : 0;
    printf("shot %s %ldx%ld+%ld+%ld\n", names[page], area.right - area.left, area.bottom - area.top, area.left, area.top);
    fflush(stdout);
    Sleep(700);
}

HWND onPage(Page page) {
    HWND shown = waitFor(std::string("page ") + names[page], [&] { return pageIndex(sheet) == page ? currentPage(sheet) : nullptr; });
    say(std::string("page ") + names[page]);
    return shown;
}

// Shoots the page after what was first done there, then presses `button`.
void leave(Page page, int button) { shoot(page), click(GetDlgItem(sheet, button)); }

// Answers OK, or Oui to a question; returns whether it was a plain message.
bool answerBox(HWND box) {
    say("message: " + textOf(GetDlgItem(box, messageText)));
    shoot(Message, box);
    bool plain = GetDlgItem(box, IDOK);
    answer(box, plain ? IDOK : IDYES);
    return plain;
}

// Forty at a time, as a user would pick them in the dialog.
void addFiles(HWND page, const std::vector<std::string>& paths) {
    std::string folder = paths[0].substr(0, paths[0].find_last_of('\\'));
    for (size_t first = 0; first < paths.size(); first += 40) {
        std::string quoted;
        for (size_t i = first; i < paths.size() && i < first + 40; i++) {
            quoted += "\"" + paths[i].substr(folder.size() + 1) + "\" ";
        }
        click(GetDlgItem(page, 1011));
        HWND dialog = waitFor("the open-file dialog", [] { return dialogOf(sheet); });
        fillOpenDialog(dialog, {folder, quoted});
        if (HWND error = dialogOf(dialog)) {
            fail("the open-file dialog says: " + textOf(GetDlgItem(error, messageText)));
        }
        LRESULT count = (LRESULT)std::min(paths.size(), first + 40);
        waitFor("the files in the list", [&] { return ask(GetDlgItem(page, 1010), LB_GETCOUNT) == count; });
    }
}

void chooseTracks(HWND page, const std::vector<std::string>& items) {
    std::vector<int> tracks;
    for (const std::string& item : items) {
        tracks.push_back(atoi(item.c_str()) - 1);
    }
    waitFor("the disc's tracks", [&] { return tracksIn(GetDlgItem(page, 1021), tracks).size(); });
    click(GetDlgItem(page, 1023));
    waitFor("the chosen tracks", [&] { return tracksIn(GetDlgItem(page, 1022)).size() == tracks.size(); });
}

void chooseDestination(HWND page, const std::string& folder) {
    HWND shown = GetDlgItem(page, 1030), beside = GetDlgItem(page, 1032);
    auto showsFolder = [&] { return !_stricmp(textOf(shown).c_str(), folder.c_str()); };
    !folder.empty() && IsWindowEnabled(beside) && ask(beside, BM_GETCHECK) ? click(beside) : (void)0;
    // Wine's browser sometimes keeps its first selection the first time; a
    // second one works.
    for (int attempt = 0; !folder.empty() && !showsFolder(); attempt++) {
        attempt == 3 ? fail("the destination shows " + textOf(shown) + ", not " + folder) : (void)0;
        click(GetDlgItem(page, 1031));
        HWND browser = waitFor("the folder browser", [] { return dialogOf(sheet); });
        browseTo(child.hProcess, browser, folder);
        click(GetDlgItem(browser, IDOK));
        waitFor("the folder browser to close", [&] { return !IsWindow(browser); });
        waitFor("", showsFolder, 500);
    }
    // The folder is greyed while the MP3 files go beside the WAV files.
    say("destination: " + textOf(shown) + (IsWindowEnabled(shown) ? "" : " (beside each WAV file)"));
}

void chooseVbr(HWND page, int method) {
    click(GetDlgItem(page, 1050));
    HWND methods = GetDlgItem(page, 1051);
    waitFor("the VBR methods", [&] { return IsWindowEnabled(methods); });
    ask(methods, CB_SETCURSEL, method);
    PostMessageA(page, WM_COMMAND, MAKEWPARAM(1051, CBN_SELCHANGE), (LPARAM)methods);
}

// While the job runs: questions answered and the cancel made in its time;
// the end message, still open, once it comes.
HWND watchJob(HWND page, long cancelAt) {
    return waitFor("the end message", [&]() -> HWND {
        if (HWND box = dialogOf(sheet, messageText)) {
            return GetDlgItem(box, IDYES) ? (answerBox(box), nullptr) : box;
        }
        if (cancelAt >= 0 && ask(GetDlgItem(page, 1065), PBM_GETPOS) >= cancelAt) {
            cancelAt = -1;
            click(GetDlgItem(sheet, finishButton));
            say("cancel");
        }
        return nullptr;
    }, timed ? 3600 * 1000 : 120000);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc), items;
    bool returning = false, tour = false;
    long vbr = -1, cancelAt = -1;
    for (size_t i = 4; i < args.size(); i++) {
        const std::string& o = args[i];
        returning |= o == "--return";
        tour |= o == "--tour";
        timed |= o == "--timed";
        shots |= o == "--shots";
        if ((o == "--vbr" || o == "--cancel-at") && i + 1 < args.size()) {
            (o == "--vbr" ? vbr : cancelAt) = atol(args[++i].c_str());
        } else if (o.compare(0, 2, "--")) {
            items.push_back(o);
        }
    }
    if (items.empty() || (args[2] != "wav" && args[2] != "cd")) {
        fputs("usage: see the top of tests/tools/WizardDriver.cpp\n", stderr);
        return 2;
    }
    bool wav = args[2] == "wav";
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessA(argv[1], nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        fail(std::string("cannot start ") + argv[1] + ", error " + std::to_string(GetLastError()));
    }
    sheet = waitFor("the wizard", [] { return dialogOf(nullptr, nextButton); }, 60000);
    mark("wizard");
    HWND page = onPage(Welcome);
    shoot(Welcome);
    if (tour) {
        click(GetDlgItem(page, 1003));
        leave(Welcome, nextButton);
        chooseTracks(onPage(Tracks), {"1", "2"});
        leave(Tracks, backButton);
        page = onPage(Welcome);
    }
    click(GetDlgItem(page, wav ? 1002 : 1003));
    leave(Welcome, nextButton);
    page = onPage(wav ? Files : Tracks);
    wav ? addFiles(page, items) : chooseTracks(page, items);
    leave(wav ? Files : Tracks, nextButton);
    chooseDestination(onPage(Destination), args[3] != "-" ? args[3] : "");
    leave(Destination, nextButton);
    page = onPage(Options);
    vbr >= 0 ? chooseVbr(page, (int)vbr) : (void)0;
    leave(Options, nextButton);
    page = onPage(Finish);
    click(GetDlgItem(page, returning ? 1061 : 1060));
    leave(Finish, finishButton);
    mark("finish");
    // Questions on the way are answered Oui. Returning, the end message is
    // answered, and Cancel quits.
    if (returning) {
        HWND box = watchJob(page, cancelAt);
        mark("done");
        PROCESS_MEMORY_COUNTERS memory = {};
        if (timed && GetProcessMemoryInfo(child.hProcess, &memory, memory.cb = sizeof(memory))) {
            printf("peak_working_set %llu\npeak_private %llu\n", (unsigned long long)memory.PeakWorkingSetSize,
                   (unsigned long long)memory.PeakPagefileUsage);
        }
        answerBox(box);
        click(GetDlgItem(sheet, IDCANCEL));
    }
    waitFor("the program to end", [&] {
        if (HWND box = dialogOf(sheet, messageText)) {
            answerBox(box);
        }
        return programEnded();
    }, timed ? 3600 * 1000 : 120000);
    mark("ended");
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    code ? fail("the program ended with exit code " + std::to_string(code)) : say("program ended, exit code 0");
    return 0;
}
