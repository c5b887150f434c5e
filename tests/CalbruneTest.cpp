// The real wizard, driven as a user drives it, and the jobs it starts, with an encoder inside the
// test program (or LAME's own DLL) and the CD job on the simulated drive D:; then the parts of the
// core that need no window, the WAV header and the first destination.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <shlwapi.h>
#include <dlgs.h>

#include <math.h>

#include <atomic>
#include <functional>
#include <set>

#include "app/Wizard.h"
#include "jobs/EncodeLoop.h"
#include "pages/Pages.h"
#include "res/resource.h"
#include "tests/sim/SimMachine.h"
#include "tests/support/FakeEncoder.h"
#include "tests/support/Files.h"
#include "tests/support/Driving.h"

using namespace wizard;
using fakeEncoder::count;

namespace {

// A crash on any thread ends the test program at once, failed, not waiting for a debugger.
LONG WINAPI endTheRun(EXCEPTION_POINTERS*) { ExitProcess(3); }
LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = SetUnhandledExceptionFilter(endTheRun);

// What the finish page's bars and captions were sent during a job: PBM_SETPOS, PBM_SETRANGE32 or WM_SETTEXT.
enum Control { FileBar, TotalBar, FileLabel, TotalLabel };
struct ControlEvent { Control control; UINT message; WPARAM wParam; LPARAM lParam; std::string text; };
class WizardRun;
const UINT syncMessage = WM_APP + 0x3A7;
std::atomic<LONG> syncsBegun, syncsHandled;
WNDPROC sheetProcBelow, controlProcsBelow[4];
WizardRun* recording;
const int finishControls[] = {IDC_FILE_PROGRESS, IDC_TOTAL_PROGRESS, IDC_FILE_CAPTION, IDC_TOTAL_CAPTION};
HWND controlsSeen[4];

// Above the sheet's own procedure: counts the test's flushing messages, which hold it wParam ms.
LRESULT CALLBACK syncProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return message == syncMessage ? syncsBegun++, Sleep((DWORD)wParam), syncsHandled++ : CallWindowProcA(sheetProcBelow, window, message, wParam, lParam);
}

DWORD WINAPI wizardThread(LPVOID c) { return runWizard(GetModuleHandleA(nullptr), (Converter*)c), 0; }

// The real wizard on a thread of the test program, driven as a user does.
class WizardRun {
public:
    explicit WizardRun(Converter& converter) : c(converter) {
        thread = CreateThread(nullptr, 0, wizardThread, &c, 0, nullptr);
        sheet = poll([] { return findDialog(GetCurrentProcessId(), nullptr, nextButton); }, 10000);
        sheetProcBelow = (WNDPROC)SetWindowLongPtrA(sheet, GWLP_WNDPROC, (LONG_PTR)syncProc);
        settle();
    }
    // Quits through Cancel and Yes when the wizard is still open.
    ~WizardRun() {
        if (IsWindow(sheet)) {
            PostMessageA(sheet, WM_COMMAND, IDCANCEL, 0), answerBox(IDYES);
        }
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
        recording = nullptr;
    }
    bool ended(DWORD ms = 10000) { return WaitForSingleObject(thread, ms) == WAIT_OBJECT_0; }
    int page() { return 100 + pageIndex(sheet); }
    HWND control(int id) { return GetDlgItem(currentPage(sheet), id); }
    HWND button(int id) { return GetDlgItem(sheet, id); }
    std::string text(int id) { return textOf(id >= backButton ? button(id) : control(id)); }
    bool enabled(int id) { return IsWindowEnabled(id >= backButton ? button(id) : control(id)); }
    bool shown(int id) { return IsWindowVisible(button(id)); }
    // Every message posted so far, and what handling them posted, handled.
    void settle() {
        for (int round = 0; round < 3 && IsWindow(sheet); round++) {
            LONG target = syncsHandled + 1;
            PostMessageA(sheet, syncMessage, 0, 0);
            for (int waited = 0; syncsHandled < target && IsWindow(sheet) && waited < 5000; waited++) {
                Sleep(1);
            }
        }
    }
    void post(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) { PostMessageA(window, message, wParam, lParam), settle(); }
    // PSBTN_BACK, PSBTN_NEXT, PSBTN_FINISH, or a control of the page to click.
    void press(int what) { what < 1000 ? post(sheet, PSM_PRESSBUTTON, what) : post(control(what), BM_CLICK); }
    // A control's notification to its page, as a user's action sends it.
    void notify(int id, int code) { post(currentPage(sheet), WM_COMMAND, MAKEWPARAM(id, code), (LPARAM)control(id)); }
    void show(int pageId) { ask(sheet, PSM_SETCURSELID, 0, pageId), settle(); }
    // A box's text, marked where it lacks the program's caption or the information icon.
    static std::string reply(HWND box, int button) {
        bool own = textOf(box) == programCaption && (HICON)SendDlgItemMessageA(box, stc1, STM_GETICON, 0, 0) == LoadIconA(nullptr, IDI_INFORMATION);
        return answer(box, button) + (own ? "" : " (caption, icon)");
    }
    // The text of the next message box, after pressing `button`; "" when none came.
    std::string answerBox(int button, DWORD ms = 10000) {
        HWND box = poll([&] { return findDialog(GetCurrentProcessId(), sheet, messageText); }, ms);
        std::string said = box ? reply(box, button) : "";
        return settle(), said;
    }
    bool noBox() { return settle(), !findDialog(GetCurrentProcessId(), sheet, messageText); }
    // The dialog over the page: file chooser, folder browser.
    HWND dialog() { return poll([&] { return findDialog(GetCurrentProcessId(), sheet); }, 10000); }

    // Finish, then every box answered (questions with No) until the job's end has been shown:
    // `boxes` holds what they said, `events` what the bars and captions were sent meanwhile.
    bool runJob(DWORD ms = 30000) {
        show(IDD_FINISH);
        for (int i = 0; i < 4; i++) {
            HWND control = GetDlgItem(currentPage(sheet), finishControls[i]);
            controlsSeen[i] != control ? controlProcsBelow[i] = (WNDPROC)SetWindowLongPtrA(controlsSeen[i] = control, GWLP_WNDPROC, (LONG_PTR)controlProc) : 0;
        }
        events.clear(), boxes.clear();
        recording = this;
        press(PSBTN_FINISH);
        auto answered = [&] {
            HWND box = findDialog(GetCurrentProcessId(), sheet, messageText);
            box ? boxes.push_back(reply(box, GetDlgItem(box, IDYES) ? IDNO : IDOK)) : (void)0;
            return box != nullptr;
        };
        // Ended once the worker's handle is closed, the end said and Finish back, or the wizard closed.
        bool ended = poll([&] {
            return !answered() && !c.workerExists() && (!IsWindow(sheet) || textOf(button(finishButton)) == "Terminer");
        }, ms);
        return settle(), ended;
    }
    // A caption's texts, or the positions a bar was sent, in order.
    template <typename T>
    std::vector<T> sent(Control control, UINT message, T ControlEvent::*field) const {
        std::vector<T> found;
        for (const ControlEvent& e : events) {
            e.control == control && e.message == message ? found.push_back(e.*field) : (void)0;
        }
        return found;
    }
    std::vector<std::string> texts(Control control) const { return sent(control, WM_SETTEXT, &ControlEvent::text); }
    std::vector<WPARAM> positions(Control control) const { return sent(control, PBM_SETPOS, &ControlEvent::wParam); }
    std::string lastBox() const { return boxes.empty() ? "" : boxes.back(); }

    std::vector<std::string> boxes;
    std::vector<ControlEvent> events;
    HWND sheet;

private:
    // Above the finish page's bars and captions.
    static LRESULT CALLBACK controlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        int which = (int)(std::find(controlsSeen, controlsSeen + 4, window) - controlsSeen);
        if (recording && (message == PBM_SETPOS || message == PBM_SETRANGE32 || message == WM_SETTEXT)) {
            recording->events.push_back({(Control)which, message, wParam, lParam, message == WM_SETTEXT ? (const char*)lParam : ""});
        }
        return CallWindowProcA(controlProcsBelow[which], window, message, wParam, lParam);
    }

    Converter& c;
    HANDLE thread;
};

const DWORD chunkBytes = 4608;  // one chunk of 16-bit stereo at 44.1 kHz
typedef std::vector<std::string> Strings;
typedef std::vector<int> Ints;
typedef std::vector<WPARAM> Positions;

class Wizard : public ::testing::Test {
protected:
    void SetUp() override {
        fakeEncoder::install(c);
        c.setReplaceWithoutAsking(1), c.setCloseWhenDone(0), c.setDestinationFolder(folder.path());
        c.setCdDevicePath("\\\\.\\D:");
        sim() = SimMachine(), drive = simAddDrive('D');
    }
    // No temporary file, drive, track buffer or encoder stream is left.
    void TearDown() override {
        writeOutput = WriteFile, readInput = ReadFile, flushOutput = FlushFileBuffers;
        EXPECT_EQ(Ints({pendingOutputFiles(folder.path()), sim().openVolumes, sim().trackBuffers, fakeEncoder::streamsAlive()}),
                  Ints(4, 0));
    }
    // A 16-bit stereo file of `dataBytes`, appended to the list unless told otherwise.
    std::string addWav(const char* name, size_t dataBytes = chunkBytes, bool listed = true) {
        std::string path = writeBytes(folder, name, canonicalWav(2, 44100, 16, patternBytes(dataBytes, name[0])));
        return listed ? c.sourceFiles.append(path.c_str()) : nullptr, path;
    }
    std::string mp3(const std::string& name) const { return folder.file(name.c_str()); }
    bool runTracks(Ints tracks) {
        c.setSourceKind(1), c.selectedTracks.clear();
        for (int k : tracks) {
            c.selectedTracks.append(&k);
        }
        return w.runJob();
    }

    Converter c;
    TempFolder folder;
    WizardRun w{c};
    SimDrive* drive;
};

// '1' for each enabled control of the page or button of the sheet.
std::string enabling(WizardRun& w, Ints ids) {
    std::string state;
    for (int id : ids) {
        state += "01"[w.enabled(id)];
    }
    return state;
}

// A combo box's row, a check box's mark or a thumb's position, set as a user sets it.
void choose(WizardRun& w, int id, int value) {
    char kind[32] = "";
    GetClassNameA(w.control(id), kind, sizeof kind);
    if (!lstrcmpiA(kind, "ComboBox")) {
        ask(w.control(id), CB_SETCURSEL, value), w.notify(id, CBN_SELCHANGE);
    } else if (!lstrcmpiA(kind, TRACKBAR_CLASSA)) {
        ask(w.control(id), TBM_SETPOS, TRUE, value);
        w.post(currentPage(w.sheet), WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, value), (LPARAM)w.control(id));
    } else if ((int)IsDlgButtonChecked(currentPage(w.sheet), id) != value) {
        w.press(id);
    }
}

// A control's text; a list's lines; the one selected in a box, or a button checked, marked "*".
std::string shownIn(HWND control) {
    char kind[16] = "";
    GetClassNameA(control, kind, sizeof kind);
    bool box = !lstrcmpiA(kind, "ComboBox"), list = box || !lstrcmpiA(kind, "ListBox");
    std::string text = list ? "" : textOf(control) + (ask(control, BM_GETCHECK) == BST_CHECKED ? "*" : "");
    for (int i = 0; list && i < (int)ask(control, box ? CB_GETCOUNT : LB_GETCOUNT); i++) {
        char line[MAX_PATH] = "";
        ask(control, box ? CB_GETLBTEXT : LB_GETTEXT, i, (LPARAM)line);
        text += (i ? "," : "") + std::string(line) + (box && ask(control, CB_GETCURSEL) == i ? "*" : "");
    }
    return text;
}

// The pages follow the source, back and forth; quitting asks. Each page shows its texts in template
// order at its first visit: the CD-ROM drives, the first readable disc chosen, its tracks' lengths.
TEST_F(Wizard, PagesFollowTheSourceAndShowTheProgramsOwnTexts) {
    sim() = SimMachine();
    simAddDrive('C', SimDisc(), DRIVE_FIXED), simAddDrive('E'), simAddDrive('G', simDisc(1, {15301, 300}));
    c.setDestinationFolder("C:\\Musique");
    c.setCloseWhenDone(1), c.setReplaceWithoutAsking(0);  // the defaults
    addWav("a.wav");
    const std::map<int, const char*> texts = {
        {IDD_WELCOME, "Bienvenue dans Calbrune 1.0|Calbrune vous aide à convertir facilement les fichiers WAVE et les "
                      "pistes CD aux formats MP3.|Sélectionnez l'action à effectuer et cliquez sur Suivant pour "
                      "continuer.|Convertir les fichiers WAVE*|Convertir les pistes CD audio|"},
        {IDD_WAVEFILES, "Sélectionnez un ou plusieurs fichiers et cliquez sur Suivant pour continuer.||Ajouter|Supprimer|"},
        {IDD_CDTRACKS, "Sélectionnez le lecteur.|E:\\,G:\\*|Sélectionnez les pistes à encoder.|Liste des pistes à "
                       "encoder:|  Piste  01      3 ' 24,  Piste  02      0 ' 04||>|<|>>|<<|"},
        {IDD_DESTINATION, "Sélectionnez un répertoire et cliquez sur Suivant pour continuer.|C:\\Musique|Parcourir|  "
                          "Convertir dans le dossier d'origine*|  Avertir avant de remplacer un fichier existant*|"},
        {IDD_OPTIONS, "Mode bitrate||128 Kbps mpeg1\r\n 80 Kbps mpeg2|Format audio et optimisation|Echantillonnage:| "
                      "Auto*, 48 000 Hz, 44 100 Hz, 32 000 Hz, 24 000 Hz, 22 050 Hz, 16 000 Hz|Format audio:| Auto*, "
                      "Stéreo, Joint Stéreo, Dual Channel, Mono|Qualité encodage:| Low, Voice, R3Mix, Normal*, High, "
                      "VeryHigh|Divers|  Privé|  Original*|  Copyright|Mode VBR|Activer Mode VBR:| Default*, OLD, NEW, "
                      "MTRH, ABR|Minimum bitrate : 32 kbps||Maximum bitrate : 320 kbps||Qualité VBR : 4||Moyenne ABR : "
                      "128 kbps||"},
        {IDD_FINISH, "Calbrune a toutes les informations nécéssaires pour commencer l'encodage.|Cliquez sur terminer "
                     "pour lancer l'encodage.| Fermer l'application après l'encodage.*| Retourner au début de page "
                     "après l'encodage.|Progression fichier...||Progression générale...||"},
        {IDS_WAVEFILES_TITLE, "Fichiers à encoder|Sélectionnez les fichiers wave à encoder.|Pistes à encoder|Sélectionnez "
                              "les pistes CD à encoder.|Dossier de destination|Sélectionnez un répertoire où les fichiers "
                              "doivent etre placés.|Option LAME|Configurez l'option d'encodage.|"},  // the headers
    };
    EXPECT_EQ(std::string("à"), "\xE0");  // Windows-1252, as the program shows them
    std::set<int> seen;
    auto shownOnce = [&] {
        std::string found;
        for (HWND child = GetWindow(currentPage(w.sheet), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            found += shownIn(child) + "|";
        }
        EXPECT_EQ(textOf(w.sheet), "Calbrune 1.0");
        if (seen.insert(w.page()).second) {
            EXPECT_EQ(found, texts.at(w.page())) << w.page();
        }
    };
    // What is pressed (a sheet button or a control), and the page it leads to.
    const std::pair<int, int> steps[] = {
        {PSBTN_NEXT, IDD_WAVEFILES}, {PSBTN_NEXT, IDD_DESTINATION}, {PSBTN_BACK, IDD_WAVEFILES},
        {PSBTN_BACK, IDD_WELCOME}, {IDC_SOURCE_CD, IDD_WELCOME}, {PSBTN_NEXT, IDD_CDTRACKS},
        {PSBTN_BACK, IDD_WELCOME}, {PSBTN_NEXT, IDD_CDTRACKS}, {IDC_ADD_ALL_TRACKS, IDD_CDTRACKS},
        {PSBTN_NEXT, IDD_DESTINATION}, {PSBTN_NEXT, IDD_OPTIONS}, {PSBTN_NEXT, IDD_FINISH},
        {PSBTN_BACK, IDD_OPTIONS}, {PSBTN_BACK, IDD_DESTINATION}, {PSBTN_BACK, IDD_CDTRACKS},
        {PSBTN_BACK, IDD_WELCOME}, {IDC_SOURCE_WAVE, IDD_WELCOME}, {PSBTN_NEXT, IDD_WAVEFILES},
    };
    shownOnce();
    for (auto step : steps) {
        w.press(step.first);
        ASSERT_EQ(w.page(), step.second) << "after " << step.first;
        EXPECT_EQ(w.shown(backButton) && w.enabled(backButton), step.second != IDD_WELCOME);
        shownOnce();
    }
    std::string headers;
    for (int k = 2; k < 10; k++) {  // the four inner pages' titles and subtitles
        char text[128] = "";
        int id = k % 2 ? pageTable[k / 2].subtitle : pageTable[k / 2].title;
        headers += std::string(text, LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof text)) + "|";
    }
    EXPECT_EQ(Strings({std::to_string(seen.size()), headers}), Strings({"6", texts.at(IDS_WAVEFILES_TITLE)}));
    EXPECT_EQ(c.sourceKind(), 0);  // WAV files again, after the CD
    w.post(w.sheet, WM_SYSCOMMAND, SC_CLOSE);
    EXPECT_EQ(w.answerBox(IDNO), "Voulez-vous vraiment quitter Calbrune ?");
    w.post(w.sheet, WM_COMMAND, IDCANCEL);
    EXPECT_EQ(w.answerBox(IDYES), "Voulez-vous vraiment quitter Calbrune ?");
    EXPECT_TRUE(w.ended());
}

// Files dropped from the file manager, as a list of paths.
HDROP dropOf(const Strings& paths) {
    std::string names;
    for (const std::string& path : paths) {
        names += path + '\0';
    }
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + names.size() + 1);
    DROPFILES* drop = (DROPFILES*)GlobalLock(memory);
    drop->pFiles = sizeof(DROPFILES);
    memcpy(drop + 1, names.data(), names.size());
    GlobalUnlock(memory);
    return (HDROP)memory;
}

TEST_F(Wizard, WaveFilesAreAddedAndRemovedInListOrder) {
    std::string a = addWav("a.wav", chunkBytes, false), b = addWav("b.wav", chunkBytes, false), upper = addWav("C.WAV", 4, false);
    std::string notes = folder.file("notes.txt"), dir = folder.file("dir.wav");
    CreateDirectoryA(dir.c_str(), nullptr);
    writeFileContents(notes, "x");
    // The root folder of a drive already ends with its backslash.
    std::string root = "C:\\calbrune-" + std::to_string(GetCurrentProcessId()) + ".wav";
    writeFileContents(root, "x");
    std::string tooLong = folder.file(std::string(255 - strlen(folder.path()), 'x').c_str()) + ".wav";  // 260 characters
    w.press(PSBTN_NEXT);
    EXPECT_FALSE(w.enabled(nextButton));
    for (Strings entries : {Strings{"C:\\", "\"" + root.substr(3) + "\""}, {folder.path(), "\"b.wav\" \"a.wav\""}, {a}}) {
        w.press(IDC_ADD_FILES);
        fillOpenDialog(w.dialog(), entries);
        w.settle();
    }
    EXPECT_TRUE(w.enabled(nextButton));
    // Dropped from the file manager: the same rules, the user told what was left out.
    w.post(w.control(IDC_FILE_LIST), WM_DROPFILES, (WPARAM)dropOf({b, notes, dir, tooLong, upper, a}));
    EXPECT_EQ(w.answerBox(IDOK), "Ces fichiers n'ont pas été ajoutés : leur chemin dépasse 259 caractères.\n" + tooLong);
    EXPECT_EQ(w.answerBox(IDOK), "Ces éléments n'ont pas été ajoutés : ce ne sont pas des fichiers wave "
                                 "(*.wav).\n" + notes + "\n" + dir);
    DeleteFileA(root.c_str());
    // Supprimer takes the line selected, then waits for another; once, a file comes after the last went.
    EXPECT_FALSE(w.enabled(IDC_REMOVE_FILE));
    int readded = 0;
    for (Strings expected = {root, b, a, a, b, upper, a}; !expected.empty();) {
        std::string lines, sources;
        for (unsigned i = 0; i < std::max<size_t>(expected.size(), c.sourceFiles.count()); i++) {
            lines += (i ? "," : "") + (i < expected.size() ? expected[i] : "");
            sources += (i ? "," : "") + std::string(c.sourceFiles.nodeAt(i) ? c.sourceFiles.nodeAt(i)->path : "");
        }
        EXPECT_EQ(shownIn(w.control(IDC_FILE_LIST)) + "|" + sources, lines + "|" + lines);
        size_t k = expected.size() / 2;
        ask(w.control(IDC_FILE_LIST), LB_SETCURSEL, k);
        w.notify(IDC_FILE_LIST, LBN_SELCHANGE);
        w.press(IDC_REMOVE_FILE);
        EXPECT_FALSE(w.enabled(IDC_REMOVE_FILE));
        expected.erase(expected.begin() + k);
        if (expected.size() == 1 && !readded++) {
            w.post(w.control(IDC_FILE_LIST), WM_DROPFILES, (WPARAM)dropOf({b}));
            expected.push_back(b);
        }
    }
    EXPECT_TRUE(c.sourceFiles.count() == 0 && !w.enabled(nextButton));
}
// Tracks move in track order, the buttons that can act enabled; another drive drops the chosen ones.
TEST_F(Wizard, CdTracksMoveInTrackOrderAndButtonsFollow) {
    drive->disc = simDisc(1, std::vector<DWORD>(9, 300));
    simAddDrive('H', simDisc(3, {200, 200}));
    w.press(IDC_SOURCE_CD);
    w.press(PSBTN_NEXT);
    HWND left = w.control(IDC_DISC_TRACKS), right = w.control(IDC_CHOSEN_TRACKS);
    // Selected (or the second drive chosen), a button (0: none); both lists, which of >, <, >>, <<, Next act.
    struct Step { int list; Ints selected; int button; Ints left, right; const char* enabled; };
    const Ints all = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    const Step steps[] = {
        {IDC_DISC_TRACKS, {}, 0, all, {}, "00100"},
        {IDC_DISC_TRACKS, {8, 1, 4}, IDC_ADD_TRACKS, {0, 2, 3, 5, 6, 7}, {1, 4, 8}, "00111"},
        {IDC_CHOSEN_TRACKS, {4}, IDC_REMOVE_TRACKS, {0, 2, 3, 4, 5, 6, 7}, {1, 8}, "00111"},
        {IDC_DISC_TRACKS, {}, IDC_ADD_ALL_TRACKS, {}, all, "00011"},
        {IDC_DISC_TRACKS, {}, IDC_REMOVE_ALL_TRACKS, all, {}, "00100"},
        {IDC_DISC_TRACKS, {0}, IDC_ADD_TRACKS, {1, 2, 3, 4, 5, 6, 7, 8}, {0}, "00111"},
        {IDC_CHOSEN_TRACKS, {0}, IDC_REMOVE_TRACKS, all, {}, "00100"},
        {IDC_DISC_TRACKS, {}, IDC_ADD_ALL_TRACKS, {}, all, "00011"},
        {IDC_DRIVE_BOX, {}, 0, {0, 1}, {}, "00100"},
        {IDC_DISC_TRACKS, {1, 0}, IDC_ADD_TRACKS, {}, {0, 1}, "00011"},
    };
    for (const Step& s : steps) {
        s.list == IDC_DRIVE_BOX ? choose(w, IDC_DRIVE_BOX, 1) : (void)(tracksIn(w.control(s.list), s.selected), w.settle());
        s.button ? w.press(s.button) : (void)0;
        EXPECT_EQ(std::make_tuple(tracksIn(left), tracksIn(right), enabling(w, {1023, 1024, 1025, 1026, nextButton})),
                  std::make_tuple(s.left, s.right, std::string(s.enabled)));
    }
    // What the job gets after any back and forth (the third time with track 1 taken back).
    for (int pass = 0; pass < 3; pass++) {
        pass == 2 ? tracksIn(right, {0}), w.press(IDC_REMOVE_TRACKS) : (void)0;
        w.press(PSBTN_NEXT);
        Ints tracks = {c.cdDevicePath()[4]};
        for (TrackNode* node = c.selectedTracks.first(); node; node = node->next) {
            tracks.push_back(node->trackIndex);
        }
        EXPECT_EQ(tracks, pass < 2 ? Ints({'H', 0, 1}) : Ints({'H', 1}));
        w.press(PSBTN_BACK);
    }
}

// "Beside the source" greys the folder; the browser opens on it; CD tracks always go to the folder.
TEST_F(Wizard, DestinationInBothModes) {
    c.setDestinationFolder("C:\\windows");  // the browser does not always find a folder made a moment ago
    c.setReplaceWithoutAsking(0);
    w.show(IDD_DESTINATION);
    // The mark of "beside the source", which of it, the folder and Browse act, the warning's mark.
    auto state = [&] {
        HWND page = currentPage(w.sheet);
        return std::to_string(IsDlgButtonChecked(page, IDC_SAVE_BESIDE_SOURCE)) +
               enabling(w, {IDC_SAVE_BESIDE_SOURCE, IDC_DESTINATION_FOLDER, IDC_BROWSE}) +
               std::to_string(IsDlgButtonChecked(page, IDC_WARN_BEFORE_REPLACE));
    };
    EXPECT_EQ(state() + (GetWindowLongA(w.control(IDC_DESTINATION_FOLDER), GWL_STYLE) & ES_READONLY ? "" : " typed into"), "11001");
    w.press(IDC_SAVE_BESIDE_SOURCE);
    EXPECT_EQ(state() + std::to_string(c.saveBesideSource()), "011110");
    for (std::string chosen : {"", "C:\\windows\\system32"}) {  // OK alone keeps the folder
        w.press(IDC_BROWSE);
        HWND browser = w.dialog();
        chosen.empty() ? (void)0 : browseTo(GetCurrentProcess(), browser, chosen);
        w.post(GetDlgItem(browser, IDOK), BM_CLICK);
        EXPECT_STREQ(c.destinationFolder(), chosen.empty() ? "C:\\windows" : chosen.c_str());
    }
    w.press(IDC_WARN_BEFORE_REPLACE);
    EXPECT_EQ(w.text(IDC_DESTINATION_FOLDER) + std::to_string(c.replaceWithoutAsking()), "C:\\windows\\system321");
    w.press(IDC_SAVE_BESIDE_SOURCE);
    c.setSourceKind(1);
    w.show(IDD_OPTIONS), w.show(IDD_DESTINATION);
    EXPECT_EQ(state(), "10110");
}

// Labels follow their thumbs; the VBR minimum and maximum pull each other; VBR swaps the controls.
TEST_F(Wizard, OptionsLabelsPullsAndVbrRules) {
    w.show(IDD_OPTIONS);
    // A thumb dragged (0: none), then the label that follows.
    struct Pull { int id, position, labelId; const char* label; };
    const Pull pulls[] = {
        {0, 0, IDC_BITRATE_LABEL, "128 Kbps mpeg1\r\n 80 Kbps mpeg2"},
        {IDC_BITRATE, 0, IDC_BITRATE_LABEL, " 32 Kbps mpeg1\r\n  8 Kbps mpeg2"},
        {IDC_BITRATE, 13, IDC_BITRATE_LABEL, "320 Kbps mpeg1\r\n160 Kbps mpeg2"},
        {IDC_VBR_QUALITY, 9, IDC_VBR_QUALITY_LABEL, "Qualité VBR : 9"},
        {IDC_ABR_BITRATE, 400, IDC_ABR_LABEL, "Moyenne ABR : 310 kbps"},  // dragged past its end
        {IDC_VBR_MAX, 10, IDC_VBR_MAX_LABEL, "Maximum bitrate : 112 kbps"},
        {IDC_VBR_MIN, 12, IDC_VBR_MAX_LABEL, "Maximum bitrate : 144 kbps"},
        {IDC_VBR_MAX, 5, IDC_VBR_MIN_LABEL, "Minimum bitrate : 48 kbps"},
    };
    for (const Pull& p : pulls) {
        p.id ? choose(w, p.id, p.position) : (void)0;
        EXPECT_EQ(w.text(p.labelId), p.label) << p.id << " at " << p.position;
        EXPECT_LE(ask(w.control(IDC_VBR_MIN), TBM_GETPOS), ask(w.control(IDC_VBR_MAX), TBM_GETPOS));
    }
    EXPECT_EQ(ask(w.control(IDC_VBR_MIN), TBM_GETPOS), 5);
    // The CBR bitrate and its label, then the VBR controls (1051 to 1059).
    auto vbr = [&] { return enabling(w, {1040, 1041, 1051, 1052, 1053, 1054, 1055, 1056, 1057, 1058, 1059}); };
    EXPECT_EQ(vbr(), "11000000000");
    choose(w, IDC_VBR_ENABLED, 1), choose(w, IDC_VBR_METHOD, 4);
    EXPECT_EQ(vbr(), "00111110011");
    w.press(IDC_VBR_ENABLED);
    EXPECT_EQ(vbr(), "11000000000");
}

// A cancel in the fifth chunk of the second of three files bites at the next chunk, keeping the files;
// until the end message, closing, Escape and Finish do nothing, nor Finish as the end is said.
TEST_F(Wizard, ACancelTakesEffectAtTheNextChunkAndNothingEndsMeanwhile) {
    addWav("a.wav", 20 * chunkBytes), addWav("b.wav", 20 * chunkBytes), addWav("c.wav");
    writeFileContents(mp3("b.mp3"), "earlier b");
    HANDLE gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> held{false};
    fakeEncoder::beforeChunk = [&] {
        count("init") == 2 && count("encode") == 20 + 4 ? held = true, WaitForSingleObject(gate, 10000) : 0;
    };
    w.show(IDD_FINISH);
    w.press(PSBTN_FINISH);
    ASSERT_TRUE(poll([&] { return held.load(); }, 5000));
    for (int cancelled = 0; cancelled < 2; cancelled++) {
        w.post(w.sheet, WM_SYSCOMMAND, SC_CLOSE), w.post(w.sheet, WM_COMMAND, IDCANCEL), w.post(w.sheet, WM_CLOSE);
        EXPECT_TRUE(w.noBox() && IsWindow(w.sheet));
        w.press(PSBTN_FINISH);
        EXPECT_TRUE(!c.jobRunning() && c.workerExists() && w.text(finishButton) == "Annuler" && !w.shown(backButton) &&
                    !w.shown(IDCANCEL));
    }
    EXPECT_EQ(c.startJob(nullptr, nullptr, nullptr, nullptr, finishPageJobDone), 0);
    SetEvent(gate);
    ASSERT_TRUE(poll([&] { return findDialog(GetCurrentProcessId(), w.sheet, messageText); }, 5000));
    w.press(PSBTN_FINISH);
    EXPECT_EQ(w.answerBox(IDOK), "Encodage interrompu!  ");
    EXPECT_TRUE(w.noBox() && w.text(finishButton) == "Terminer" && w.shown(backButton) && w.shown(IDCANCEL));
    EXPECT_EQ(ask(w.control(IDC_TOTAL_PROGRESS), PBM_GETPOS) + ask(w.control(IDC_FILE_PROGRESS), PBM_GETPOS), 0);
    EXPECT_EQ(w.text(IDC_TOTAL_CAPTION), "Progression générale ...( 2/3 )");
    EXPECT_EQ(Positions({count("init"), count("encode"), count("deinit"), count("close")}), Positions({2, 25, 2, 2}));
    EXPECT_TRUE(fileExists(mp3("a.mp3")) && !fileExists(mp3("c.mp3")) && fileContents(mp3("b.mp3")) == "earlier b");
    CloseHandle(gate);
}

// The failures that the end message names, one a line.
std::string failures(const WizardRun& w) { return w.lastBox().substr(w.lastBox().rfind("\n\n") + 2); }

// With "close when done" ticked too: the program closes only after a job without failures.
TEST_F(Wizard, FailuresAreSaidAndTheWizardStaysOpen) {
    c.setCloseWhenDone(1);
    // No disc, or a table of contents not to be trusted (addresses, an answer cut short).
    const SimDisc discs[] = {SimDisc(), {1, 2, {0, 900, 300}}, {1, 2, {0, 300, 300}}, {1, 2, {0, 300, 449850}}, simDisc(1, {30})};
    for (const SimDisc& disc : discs) {
        drive->disc = disc, drive->tocCut = &disc == discs + 4;
        ASSERT_TRUE(runTracks({0}));
        EXPECT_EQ(w.lastBox().find("Le CD n'a pas pu être lu : aucune piste n'a été encodée.\n\n\\\\.\\D: : "), 0u);
    }
    // MP3 names by the rules; a path that would not fit, no WAV, 15 missing: 15 named, others counted.
    c.setSourceKind(0);
    for (const char* name : {"concert.live.wav", "prise", "caf\xE9.WAV"}) {
        addWav(name);
    }
    std::string tooLong = folder.file(std::string(MAX_PATH - 3 - strlen(folder.path()), 'n').c_str());
    writeFileContents(tooLong, fileContents(mp3("prise")));
    writeFileContents(mp3("bad.wav"), "not a wave file");
    for (int i = -2; i < 15; i++) {
        c.sourceFiles.append(i == -2 ? tooLong.c_str() : mp3(i < 0 ? "bad.wav" : "missing" + std::to_string(i) + ".wav").c_str());
    }
    ASSERT_TRUE(w.runJob());
    std::string said = w.lastBox(), more = "\n... et 2 autres.";
    EXPECT_EQ(said.find("Encodage terminé, mais des fichiers n'ont pas pu être encodés.\n\nFichiers encodés : 3\nFichiers en échec : 17\n\n" +
                        tooLong + " : le chemin du fichier MP3 est trop long\n" + mp3("bad.wav") + " : "), 0u) << said;
    EXPECT_TRUE(said.find(mp3("missing12.wav") + " : ") != said.npos && said.find(mp3("missing13.wav")) == said.npos);
    EXPECT_TRUE(said.substr(said.size() - more.size()) == more && w.page() == IDD_WELCOME && fileExists(mp3("concert.live.mp3")) &&
                fileExists(mp3("prise.mp3")) && fileExists(mp3("caf\xE9.mp3")));
    c.sourceFiles.clear();
    addWav("good.wav");
    EXPECT_FALSE(w.ended(0));
    ASSERT_TRUE(w.runJob());
    EXPECT_TRUE(w.boxes.empty() && w.ended());
}

// The fake's MP3 of a file's data: samples scaled to 16 bits, rounded half up and clamped, channels
// changed as asked (an 8-bit pair averages exactly, a wider one halves each side first), "END".
std::string mp3Of(const Bytes& data, int channels, int bits, bool mono, bool isFloat = false) {
    std::vector<SHORT> v, out;
    for (size_t at = 0; at < data.size(); at += bits / 8) {
        int64_t x = 0;
        for (int b = 0; b < bits / 8; b++) {
            x |= (int64_t)data[at + b] << (8 * b);
        }
        x -= bits == 8 ? 128 : x >> (bits - 1) << bits;
        float f = 0;
        memcpy(&f, &data[at], isFloat ? 4 : 0);
        double scaled = isFloat ? (f != f ? 0 : f * 32768.0) : x * 65536.0 / (1LL << bits);
        v.push_back((SHORT)std::max(-32768.0, std::min(32767.0, floor(scaled + 0.5))));
    }
    for (size_t i = 0; i < v.size(); i += channels) {
        int left = v[i], right = v[i + channels - 1];
        mono ? out.push_back((SHORT)(channels == 1 ? left : bits == 8 ? (left + right) / 2 : left / 2 + right / 2))
             : (void)out.insert(out.end(), {(SHORT)left, (SHORT)right});
    }
    return std::string((const char*)out.data(), out.size() * 2) + "END";
}

// Every channel mode against every input format, chunk by chunk as the encoder asks; a file that is
// no WAV, or whose MP3 would replace it, fails with its reason and costs no file.
TEST_F(Wizard, EncoderGetsTheConvertedAudioOfEachFormat) {
    std::string text = folder.file("text.wav");
    writeFileContents(text, "this is not a wave file at all");
    writeFileContents(mp3("text.mp3"), "earlier");
    Bytes oddWav = canonicalWav(1, 44100, 16, patternBytes(2000));
    std::string odd = writeBytes(folder, "odd.mp3", oddWav), noFormat = writeBytes(folder, "noformat.wav", riffOf({{"data", Bytes(40)}}));
    struct Format { const char* name; uint16_t channels, bits, tag; } const formats[] = {
        {"s16", 2, 16, 1}, {"m16", 1, 16, 1}, {"m8", 1, 8, 1}, {"s8", 2, 8, 1}, {"m24", 1, 24, 1}, {"s32", 2, 32, 1},
        {"f32", 2, 32, 3}};
    for (int mode : {0, 1, 4}) {  // Auto, Stéreo, Mono
        fakeEncoder::install(c);
        c.sourceFiles.clear();
        c.sourceFiles.append(text.c_str()), c.sourceFiles.append(odd.c_str()), c.sourceFiles.append(noFormat.c_str());
        c.setChannelModeIndex(mode);
        std::vector<Bytes> data;
        for (const Format& f : formats) {
            data.push_back(patternBytes((3 * 1152 + 100) * f.channels * f.bits / 8, f.channels * 100 + f.bits + mode));
            for (int b = 0; b < f.bits / 8; b++) {  // the first sample at the top of its range, to be clamped
                data.back()[b] = f.tag == 3 ? "\0\0\x80\x3F"[b] : b + 1 < f.bits / 8 ? 0xFF : 0x7F;
            }
            Bytes wav = wavOf(formatBody(f.tag, f.channels, 44100, f.bits), data.back());
            c.sourceFiles.append(writeBytes(folder, (std::string(f.name) + ".wav").c_str(), wav).c_str());
        }
        ASSERT_TRUE(w.runJob());
        EXPECT_EQ(failures(w), text + " : ce n'est pas un fichier WAV\n" + odd + " : le fichier MP3 remplacerait le fichier source\n" +
                                   noFormat + " : le format audio est introuvable");
        EXPECT_TRUE(w.lastBox().find("Fichiers encodés : 7\n") != std::string::npos && fileContents(mp3("text.mp3")) == "earlier" &&
                    readWholeFile(odd) == oddWav);
        EXPECT_EQ(fakeEncoder::modes(), mode == 4 ? "3333333" : mode == 1 ? "0000000" : "1331311");
        EXPECT_EQ(count("encode"), 7 * 4u);  // whole chunks but the last of each file
        for (size_t i = 0; i < data.size(); i++) {
            const Format& f = formats[i];
            EXPECT_EQ(fileContents(mp3(f.name + std::string(".mp3"))),
                      mp3Of(data[i], f.channels, f.bits, mode == 4 || (mode == 0 && f.channels == 1), f.tag == 3))
                << f.name << " mode " << mode;
        }
    }
}

bool isStep(const ControlEvent& e) { return e.control == FileBar && e.message == PBM_SETPOS && e.wParam > 0; }
WPARAM last(const Positions& p) { return p.empty() ? ~(WPARAM)0 : p.back(); }

// Captions, counters, each entry's share of 1024, a declined entry; data of 2 to 4 GiB; steps at most
// every 25 ms, and after one that held the interface thread 400 ms, the next at most 250 ms later.
TEST_F(Wizard, TheBarsAndCaptionsFollowEachEntryEvenAfterAStalledUpdate) {
    addWav("a.wav", 10 * chunkBytes), addWav("b.wav", 10 * chunkBytes), addWav("c.wav", 10 * chunkBytes);
    writeFileContents(mp3("b.mp3"), "earlier b");
    c.setReplaceWithoutAsking(0);
    ASSERT_TRUE(w.runJob());
    EXPECT_EQ(w.boxes, Strings({mp3("b.mp3") + " existe déjà.\nVoulez-vous le remplacer?", "Encodage reussi!  "}));
    EXPECT_EQ(fileContents(mp3("b.mp3")), "earlier b");
    EXPECT_EQ(w.texts(TotalLabel), Strings({"Progression générale ...( 1/3 )", "Progression générale ...( 2/3 )",
                                          "Progression générale ...( 3/3 )"}));
    EXPECT_EQ(w.texts(FileLabel), Strings({mp3("a.mp3"), mp3("c.mp3")}));
    std::vector<Positions> totals(1);  // the overall bar's positions, entry by entry
    for (const ControlEvent& e : w.events) {
        e.control == TotalLabel ? (void)totals.emplace_back() : e.control == TotalBar && e.message == PBM_SETPOS ? totals.back().push_back(e.wParam) : (void)0;
    }
    ASSERT_EQ(totals.size(), 4u);
    EXPECT_EQ(Positions({last(totals[1]), totals[2].size(), !totals[3].empty() && totals[3][0] >= 682, last(totals[3])}),
              Positions({341, 0, 1, 1024}));
    // The file bar: its ranges, its last position and its times at 0 (the job's start, each entry).
    Positions file = w.positions(FileBar);
    EXPECT_EQ(w.sent(FileBar, PBM_SETRANGE32, &ControlEvent::lParam), std::vector<LPARAM>(2, 10 * chunkBytes));
    EXPECT_EQ(Positions({last(file), (WPARAM)std::count(file.begin(), file.end(), 0), (WPARAM)SendMessageA(c.totalProgressBar(), PBM_GETRANGE, FALSE, 0)}),
              Positions({10 * chunkBytes, 4, 1024}));
    w.show(IDD_FINISH);  // again: the captions start anew
    bool middle = (GetWindowLongA(w.control(IDC_FILE_CAPTION), GWL_STYLE) & SS_ELLIPSISMASK) == SS_PATHELLIPSIS;  // of a long path
    EXPECT_EQ(w.text(IDC_FILE_CAPTION) + "|" + w.text(IDC_TOTAL_CAPTION) + (middle ? "" : " cut at the end"), "Progression fichier...|Progression générale...");
    HWND bar = c.fileProgressBar();
    JobFrame frame(&c);
    frame.begin(1);
    for (DWORD size : {0x80000000u, 0xFFFFFFFFu}) {
        frame.setEntryRange(size);
        frame.stepDone(size / 2, 0.5f, true, false);
        WPARAM half = SendMessageA(bar, PBM_GETPOS, 0, 0), top = SendMessageA(bar, PBM_GETRANGE, FALSE, 0);
        frame.setEntryPosition(size);
        EXPECT_EQ(Positions({half, (WPARAM)SendMessageA(bar, PBM_GETPOS, 0, 0)}), Positions({top / 2, top})) << size;
    }
    frame.setEntryRange(100);
    // The first step is sent once the interface thread is held, not before it gets there.
    LONG begun = syncsBegun;
    PostMessageA(w.sheet, syncMessage, 400, 0);
    poll([&] { return syncsBegun > begun; }, 5000), w.events.clear();
    for (DWORD step = 1; step <= 50; step++) {
        frame.stepDone(step, 0.5f, step == 1, false);
    }
    Positions steps = w.positions(FileBar);
    EXPECT_TRUE(steps.size() >= 2 && steps.size() < 10 && steps[0] == 1 && steps[1] == 2) << steps.size();
}

bool shortCount;
int calls;

// A disk that fills up after the first write: half of the next one goes in.
BOOL WINAPI fullDisk(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED) {
    BOOL done = WriteFile(file, bytes, calls++ ? count / 2 : count, written, nullptr);
    return SetLastError(ERROR_DISK_FULL), done && (calls == 1 || shortCount);
}

// A file cut short while it is read: the third read gets half of what it asks.
BOOL WINAPI cutShort(HANDLE file, LPVOID bytes, DWORD count, LPDWORD got, LPOVERLAPPED) {
    return ReadFile(file, bytes, ++calls == 3 ? count / 2 : count, got, nullptr);
}

BOOL WINAPI failingFlush(HANDLE) { return SetLastError(ERROR_DISK_FULL), FALSE; }

// A failure is said and keeps the earlier MP3, no partial or user's file touched; every stream is freed
// (without a header, by lame_close); the VBR header goes into the closed temporary file, once.
TEST_F(Wizard, WhatFailsAStartedEntryKeepsTheEarlierFile) {
    // What fails, VBR (2: with no lame_close); the failure or the new MP3's end; the calls.
    struct Case { std::string failAt; int vbr; const char* outcome; size_t encodes, closes, frees; } const cases[] = {
        {"init", 0, "l'encodeur refuse ces réglages (erreur 2)", 0, 1, 0},
        {"init", 1, "l'encodeur refuse ces réglages (erreur 2)", 0, 0, 1},
        {"encode:3", 0, "erreur de l'encodeur (erreur 1)", 3, 1, 0},
        {"encode:3", 1, "erreur de l'encodeur (erreur 1)", 3, 0, 1},
        {"encode:3", 2, "erreur de l'encodeur (erreur 1)", 3, 1, 0},
        {"deinit", 0, "erreur de l'encodeur (erreur 1)", 5, 1, 0},
        {"vbrheader", 1, "erreur de l'encodeur (erreur 1)", 5, 1, 0},
        {"samples:0", 0, "erreur de l'encodeur", 0, 1, 0},
        {"samples:100000", 1, "erreur de l'encodeur", 0, 0, 1},
        {"disk full", 0, "erreur d'écriture ou disque plein", 2, 1, 0},
        {"short write", 1, "erreur d'écriture ou disque plein", 2, 0, 1},
        {"short read", 0, "erreur de lecture du fichier à l'octet 9260", 2, 1, 0},  // 44 + 2 chunks
        {"flush", 0, "erreur d'écriture ou disque plein", 5, 1, 0},
        {"flush", 1, "erreur d'écriture ou disque plein", 5, 1, 0},
        {"held", 0, "le fichier MP3 ne peut pas être créé", 5, 1, 0},  // by another program
        {"", 0, "END", 5, 1, 0},
        {"", 1, "VBR", 5, 1, 0},
        {"", 2, "END", 5, 1, 0},
    };
    std::string source = addWav("song.wav", 5 * chunkBytes);
    writeFileContents(mp3("song.~cb"), "the user's own");
    for (const Case& k : cases) {
        SCOPED_TRACE(k.failAt + " " + std::to_string(k.vbr));
        fakeEncoder::install(c);
        fakeEncoder::failAt(k.failAt.c_str());
        shortCount = k.failAt == "short write", calls = 0;
        writeOutput = shortCount || k.failAt == "disk full" ? fullDisk : WriteFile;
        readInput = k.failAt == "short read" ? cutShort : ReadFile;
        flushOutput = k.failAt == "flush" ? failingFlush : FlushFileBuffers;
        c.setVbrEnabled(k.vbr != 0);
        k.vbr == 2 ? (void)(c.lameClose = nullptr) : (void)0;
        writeFileContents(mp3("song.mp3"), "the earlier song");
        HANDLE held = k.failAt != "held" ? INVALID_HANDLE_VALUE
                                         : CreateFileA(mp3("song.mp3").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_TRUE(w.runJob());
        CloseHandle(held);
        std::string content = fileContents(mp3("song.mp3"));
        EXPECT_EQ(strlen(k.outcome) == 3 ? content.substr(content.size() - 3) : failures(w) + "|" + content,
                  strlen(k.outcome) == 3 ? k.outcome : source + " : " + k.outcome + "|the earlier song");
        EXPECT_EQ(Positions({count("encode"), count("close"), count("free"), (size_t)fakeEncoder::streamsAlive(),
                             count("vbrheader"), (size_t)pendingOutputFiles(folder.path())}),
                  Positions({k.encodes, k.closes, k.frees, 0, k.closes && k.vbr == 1, 1}));
    }
    EXPECT_EQ(fileContents(mp3("song.~cb")), "the user's own");
    DeleteFileA(mp3("song.~cb").c_str());
}

// A missing folder is made, or why not said; the library comes only from the program's folder and
// whole, or no job starts; an end message that no worker sent changes nothing.
TEST_F(Wizard, AJobThatCannotStartSaysWhy) {
    addWav("a.wav");
    c.setSaveBesideSource(0);
    writeFileContents(mp3("file"), "a file, not a folder");
    c.setDestinationFolder(mp3("file\\sub").c_str());
    ASSERT_TRUE(w.runJob());
    std::string said = "Le dossier de destination n'a pas pu être créé :\n" + mp3("file\\sub") + "\n\n";
    EXPECT_TRUE(w.boxes.size() == 1 && w.lastBox().find(said) == 0 && w.lastBox().size() > said.size() &&
                w.text(finishButton) == "Terminer" && w.shown(backButton) && w.shown(IDCANCEL)) << w.lastBox();
    c.setDestinationFolder(mp3("new\\deeper").c_str());
    ASSERT_TRUE(w.runJob());
    EXPECT_TRUE(fileExists(mp3("new\\deeper\\a.mp3")));
    // CD tracks go to the folder, even with "beside the source" still ticked under its grey.
    c.setSaveBesideSource(1);
    c.setDestinationFolder(mp3("cd").c_str());
    drive->disc = simDisc(1, {30});
    ASSERT_TRUE(runTracks({0}));
    EXPECT_TRUE(fileExists(mp3("cd\\Piste1.mp3")));
    c.setSourceKind(0);
    c.unloadEncoder();
    char before[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, before);
    ASSERT_TRUE(CopyFileA(CALBRUNE_BUILD_DIR "\\lame_enc.dll", mp3("lame_enc.dll").c_str(), FALSE));
    SetCurrentDirectoryA(folder.path());
    EXPECT_TRUE(!c.loadEncoder() && !GetModuleHandleA("lame_enc.dll"));
    SetCurrentDirectoryA(before);
    c.encoderLibrary = LoadLibraryA(CALBRUNE_BUILD_DIR "\\noclose\\lame_enc.dll");
    EXPECT_TRUE(c.encoderLibrary && !c.loadEncoder() && !c.encoderLibrary);
    ASSERT_TRUE(w.runJob());
    EXPECT_EQ(w.boxes, Strings({" L'encodage necessite la librairie \"lame_enc.dll\" ."}));
    EXPECT_EQ(count("init"), 2u);
    c.setCloseWhenDone(1);
    w.show(IDD_FINISH);
    w.post(currentPage(w.sheet), finishPageJobDone, JobCompleted);
    EXPECT_TRUE(IsWindow(w.sheet) && w.noBox());
}

// Tracks, whole or to mono, named by position; reading fills a fifth of the bars, encoding the rest.
// A failed track is named and keeps its MP3, the others go on; a cancel stops the reading at once.
TEST_F(Wizard, TracksReachTheEncoderOrSayWhyNot) {
    drive->disc = simDisc(1, {60, 30, 100, 30, 30, 30, 30, 30, 30, 30, 30, 55});
    ASSERT_TRUE(runTracks({2, 11}));
    EXPECT_EQ(Strings({fileContents(mp3("Piste3.mp3")), fileContents(mp3("Piste12.mp3")), fileContents(mp3("Piste1.mp3"))}),
              Strings({mp3Of(simTrackAudio(drive->disc, 2), 2, 16, false), mp3Of(simTrackAudio(drive->disc, 11), 2, 16, false), ""}));
    EXPECT_EQ(w.texts(FileLabel), Strings({mp3("Piste3.mp3"), mp3("Piste12.mp3")}));
    EXPECT_EQ(w.texts(TotalLabel), Strings({"Progression générale ...( 1/2 )", "Progression générale ...( 2/2 )"}));
    // At each range set: the range, the overall bar and the file bar's last step; then the last.
    Positions ranges, starts, ends;
    WPARAM overall = 0, entry = 0;
    for (const ControlEvent& e : w.events) {
        overall = e.control == TotalBar ? e.wParam : overall;
        entry = isStep(e) ? e.wParam : entry;
        if (e.message == PBM_SETRANGE32) {
            ranges.push_back((DWORD)e.lParam), starts.push_back(overall), ends.push_back(entry);
        }
    }
    ends.push_back(entry), starts.push_back(overall);
    EXPECT_EQ(std::vector<Positions>({ranges, starts, ends}),
              std::vector<Positions>({{125 * 2352, 125 * 2352, 55 * 2940, 55 * 2940}, {0, 102, 512, 614, 1024},
                                      {0, 100 * 588, 100 * 2940, 55 * 588, 55 * 2940}}));
    // Requests of 27 sectors, then ever smaller ones for the tail.
    EXPECT_EQ(drive->reads, std::vector<DWORD>({27, 27, 27, 13, 6, 27, 27, 1}));
    c.setChannelModeIndex(4);
    ASSERT_TRUE(runTracks({0}));
    EXPECT_EQ(fileContents(mp3("Piste1.mp3")), mp3Of(simTrackAudio(drive->disc, 0), 2, 16, true));

    c.setChannelModeIndex(0);
    drive->disc = simDisc(1, {80, 90, 40, 200, 60});
    drive->shortReadAt = 0, drive->failReadAt = 80 + 60, sim().memoryLimit = 100 * 2352;
    fakeEncoder::failAt("encode:2");
    writeFileContents(mp3("Piste2.mp3"), "old");
    DeleteFileA(mp3("Piste1.mp3").c_str()), DeleteFileA(mp3("Piste3.mp3").c_str());
    ASSERT_TRUE(runTracks({0, 1, 7, 3, 2}));
    EXPECT_EQ(failures(w), "Piste1.mp3 : erreur de lecture\nPiste2.mp3 : erreur de lecture au secteur 134\nPiste8.mp3 : "
                           "cette piste n'est pas sur le disque présent\nPiste4.mp3 : mémoire insuffisante\nPiste3.mp3 : "
                           "erreur de l'encodeur (erreur 1)");
    EXPECT_TRUE(fileContents(mp3("Piste2.mp3")) == "old" && !fileExists(mp3("Piste1.mp3")) && !fileExists(mp3("Piste3.mp3")));
    drive->reads.clear(), sim().memoryLimit = 0;
    drive->afterRead = [&](int done) { done == 2 ? c.setJobRunning(0) : (void)0; };
    ASSERT_TRUE(runTracks({3}));
    EXPECT_EQ(Strings({w.lastBox(), std::to_string(drive->reads.size())}), Strings({"Encodage interrompu!  ", "2"}));
}

// LAME's own DLL, built beside the program, gets what the options page asks: it shows in the MP3.
TEST_F(Wizard, TheOptionsReachLamesOwnDllAsMeant) {
    c.unloadEncoder();
    c.encoderLibrary = LoadLibraryA(CALBRUNE_BUILD_DIR "\\lame_enc.dll");
    ASSERT_EQ(c.loadEncoder(), 1);
    addWav("a.wav", 4 * 44100);
    drive->disc = simDisc(1, {100});
    // The options; the first frame's header bits under the mask, or the ABR in LAME's tag.
    struct Case { int rate, bitrate, mode, quality, privateBit, copyright, original, abr; unsigned header, mask; } const cases[] = {
        {0, 13, 3, 3, 1, 1, 0, 0, 0xFBE188, 0xFFFFCF},  // 320 kbps, dual channel, private, copyright, a copy
        {0, 8, 0, 3, 0, 0, 1, 0, 0xFB9044, 0xFFFFCF},   // 128 kbps joint stereo, original
        {3, 8, 0, 3, 0, 0, 1, 0, 0xFB9844, 0xFFFFCF},   // made 32 kHz, still MPEG-1: 128 kbps
        {1, 8, 0, 3, 0, 0, 1, 0, 0xFB9444, 0xFFFFCF},   // made 48 kHz
        {4, 8, 0, 3, 0, 0, 1, 0, 0xF39444, 0xFFFFCF},   // made 24, 22.05 and 16 kHz: MPEG-2, 80 kbps
        {5, 8, 0, 3, 0, 0, 1, 0, 0xF39044, 0xFFFFCF},
        {6, 8, 0, 3, 0, 0, 1, 0, 0xF39844, 0xFFFFCF},
        {0, 8, 0, 1, 0, 0, 1, 0, 0xC0, 0xC0},           // the voice preset, of varying bitrate: mono
        {0, 8, 0, 3, 0, 0, 1, 200, 200, 0},             // ABR at 200 kbps
        {0, 8, 0, 3, 0, 0, 1, 0, 0xFB9044, 0xFFFFCF},   // a CD track: 44.1 kHz stereo, as above
    };
    for (const Case& k : cases) {
        w.show(IDD_OPTIONS);
        const int settings[][2] = {{IDC_SAMPLE_RATE, k.rate}, {IDC_BITRATE, k.bitrate}, {IDC_CHANNEL_MODE, k.mode},
                                   {IDC_QUALITY, k.quality}, {IDC_PRIVATE_BIT, k.privateBit}, {IDC_COPYRIGHT_BIT, k.copyright},
                                   {IDC_ORIGINAL_BIT, k.original}, {IDC_VBR_ENABLED, k.abr != 0}, {IDC_VBR_METHOD, 4},
                                   {IDC_ABR_BITRATE, k.abr}};
        for (int i = 0; i < (k.abr ? 10 : 8); i++) {  // the VBR method and ABR only where VBR is on
            choose(w, settings[i][0], settings[i][1]);
        }
        bool track = &k == cases + 9;
        ASSERT_TRUE(track ? runTracks({0}) : w.runJob());
        EXPECT_EQ(w.boxes, Strings({"Encodage reussi!  "}));
        std::string out = fileContents(mp3(track ? "Piste1.mp3" : "a.mp3"));
        size_t at = std::min(out.find("\xFF\xFB"), out.find("\xFF\xF3")), tag = out.find("LAME3.100");
        unsigned header = at == std::string::npos ? 0 : (BYTE)out[at + 1] << 16 | (BYTE)out[at + 2] << 8 | (BYTE)out[at + 3];
        EXPECT_EQ(k.mask ? header & k.mask : tag < 200 ? (BYTE)out[tag + 20] : 0, k.header) << k.header;
    }
}

typedef std::vector<uint64_t> Values;

TEST(WavHeader, BuiltAndDamagedFiles) {
    Bytes format = formatBody(1, 2, 44100, 16);
    Bytes stereo = canonicalWav(2, 44100, 16, patternBytes(1001));
    stereo.pop_back();  // 1001 bytes of data, no pad byte
    Bytes extensible = readWholeFile(testDataPath("ffmpeg-s16-stereo-96000-extensible.wav"));
    std::vector<Chunk> many(6002, {"pad ", {}});
    many.front() = {"fmt ", format}, many.back() = {"data", patternBytes(40)};
    struct Case {
        Bytes file;
        WavStatus status;
        uint32_t dataOffset = 0, dataSize = 0;
    };
    const Case cases[] = {
        // Data sizes that lie give the whole frames the file holds; 0 (a recorder stopped early) the rest.
        {edited(stereo, 40, 0xFFFFFFFF), WavUsable, 44, 1000},
        {edited(stereo, 40, 999), WavUsable, 44, 996},
        {edited(stereo, 40, 0), WavUsable, 44, 1000},
        {edited(stereo, 4, 0), WavUsable, 44, 1000},
        {canonicalWav(2, 44100, 24, patternBytes(47)), WavUsable, 44, 42},
        // Odd chunks are padded; a data chunk followed by another, even empty, keeps its size.
        {riffOf({{"junk", Bytes(5)}, {"fmt ", format}, {"LIST", Bytes(3)}, {"data", Bytes(20)},
                 {"LIST", Bytes(8)}}), WavUsable, 70, 20},
        {riffOf({{"fmt ", format}, {"data", {}}, {"LIST", Bytes(30)}}), WavUsable, 44, 0},
        {riffOf({{"data", Bytes(100)}, {"fmt ", format}}), WavUsable, 20, 100},
        // The walk stops after 4096 chunks, and at a size that runs past the end.
        {riffOf(many), WavNoDataChunk},
        {riffOf({{"fmt ", format}, {"LIST", {}, 0xFFFFFFF7}, {"data", Bytes(40)}}), WavNoDataChunk},
        {riffOf({{"fmt ", format}}), WavNoDataChunk},
        {riffOf({{"data", Bytes(40)}}), WavNoFormatChunk},
        {Bytes(stereo.begin(), stereo.begin() + 30), WavNoFormatChunk},
        {Bytes(stereo.begin(), stereo.begin() + 11), WavNotRiffWave},
        {edited(stereo, 8, 0x20495641), WavNotRiffWave},  // "AVI "
        {edited(stereo, 20, 0, 2), WavNotPcm},
        {edited(stereo, 22, 3, 2), WavBadChannelCount},
        {extensible, WavUsable, 102, 17640},
        {edited(extensible, 59, 0), WavNotPcm},   // the sub-format's GUID
        {edited(extensible, 16, 18), WavNotPcm},  // an extensible format cut short
        {edited(stereo, 34, 20, 2), WavBadSampleSize},
        {edited(edited(stereo, 20, 3, 2), 34, 64, 2), WavBadFloatSize},
        // 24 bits padded to 4 bytes, said by the block size only, is noise; 16 bits are read packed.
        {edited(canonicalWav(2, 44100, 24, Bytes(48)), 32, 8, 2), WavBadBlockAlign},
        {edited(stereo, 32, 8, 2), WavUsable, 44, 1000},
        {edited(stereo, 24, 7999), WavBadSampleRate},
        {edited(stereo, 24, 192001), WavBadSampleRate},
        {edited(stereo, 24, 192000), WavUsable, 44, 1000}, {edited(stereo, 24, 8000), WavUsable, 44, 1000},
    };
    for (const Case& k : cases) {
        WavInfo info = {};
        WavStatus status = parseWavBytes(k.file.data(), k.file.size(), &info);
        EXPECT_EQ(Values({status, status == WavUsable ? info.dataOffset : 0, info.dataSize}),
                  Values({k.status, k.dataOffset, k.dataSize})) << &k - cases;
    }
}

// The first destination: the program's folder where a file can be made (the probe leaving nothing
// behind), else the user's Music folder, wherever it was moved.
TEST(Converter, TheFirstDestinationIsTheProgramsFolderWhereItCanWrite) {
    char program[MAX_PATH];
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    PathRemoveFileSpecA(program);
    EXPECT_STREQ(Converter().destinationFolder(), program);
    TempFolder music;
    EXPECT_TRUE(folderWritable(music.path()) && !folderWritable(music.file("none").c_str()));
    EXPECT_TRUE(RemoveDirectoryA(music.path())) << "the probe left a file";
    CreateDirectoryA(music.path(), nullptr);
    const char* shellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    char before[MAX_PATH] = "";
    DWORD size = sizeof(before);
    bool had = !RegGetValueA(HKEY_CURRENT_USER, shellFolders, "My Music", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr,
                             before, &size);
    RegSetKeyValueA(HKEY_CURRENT_USER, shellFolders, "My Music", REG_EXPAND_SZ, music.path(), lstrlenA(music.path()) + 1);
    int (*probe)(const char*) = folderWritable;
    folderWritable = [](const char*) { return 0; };
    EXPECT_STREQ(Converter().destinationFolder(), music.path());
    folderWritable = probe;
    had ? RegSetKeyValueA(HKEY_CURRENT_USER, shellFolders, "My Music", REG_EXPAND_SZ, before, size)
        : RegDeleteKeyValueA(HKEY_CURRENT_USER, shellFolders, "My Music");
}

}  // namespace
