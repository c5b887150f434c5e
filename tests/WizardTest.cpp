// The real wizard, driven as a user drives it: sheet buttons, clicks and
// selections, the common dialogs and the message boxes.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <prsht.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "app/Wizard.h"
#include "jobs/JobFrame.h"
#include "res/resource.h"
#include "tests/WavTestFiles.h"
#include "tests/sim/SimMachine.h"
#include "tests/support/FakeEncoder.h"
#include "tests/support/WizardRun.h"

namespace {

const int backButton = 0x3023, nextButton = 0x3024, finishButton = 0x3025;
typedef std::vector<std::string> Lines;

Lines listLines(HWND list) {
    Lines found;
    int count = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        char text[MAX_PATH] = "";
        SendMessageA(list, LB_GETTEXT, i, (LPARAM)text);
        found.push_back(text);
    }
    return found;
}

Lines sourcePaths(const Converter& c) {
    Lines found;
    for (SourceFileNode* node = c.sourceFiles.first(); node; node = node->next) {
        found.push_back(node->path);
    }
    return found;
}

std::vector<int> chosenTracks(const Converter& c) {
    std::vector<int> found;
    for (TrackNode* node = c.selectedTracks.first(); node; node = node->next) {
        found.push_back(node->trackIndex);
    }
    return found;
}

bool enabled(HWND window) {
    return IsWindowEnabled(window) != FALSE;
}

// '1' for each enabled control of the page (or button of the sheet) named.
std::string enabling(WizardRun& w, std::initializer_list<int> ids) {
    std::string state;
    for (int id : ids) {
        state += enabled(id >= backButton ? w.button(id) : w.control(id)) ? '1' : '0';
    }
    return state;
}

// The track (item data) of each line of a list.
std::vector<int> tracksIn(HWND list) {
    std::vector<int> found;
    int count = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        found.push_back((int)SendMessageA(list, LB_GETITEMDATA, i, 0));
    }
    return found;
}

class Wizard : public ::testing::Test {
protected:
    void SetUp() override { simReset(); }
    void TearDown() override { simReset(); }

    std::string wav(const char* name, size_t bytes = 4608) {
        return writeBytes(folder, name, canonicalWav(2, 44100, 16, patternBytes(bytes)));
    }

    Converter c;
    TempFolder folder;
};

TEST_F(Wizard, NavigationFollowsTheSourceKind) {
    ASSERT_EQ(simConfigure("G=300,300"), 1);
    c.sourceFiles.append(wav("a.wav").c_str());
    WizardRun w(c);
    ASSERT_TRUE(w.sheet());
    EXPECT_EQ(w.page(), IDD_WELCOME);
    EXPECT_FALSE(IsWindowVisible(w.button(backButton)));
    EXPECT_TRUE(enabled(w.button(nextButton)));

    // Each step: a button (or a click on the welcome page's CD choice), and
    // the page it leads to.
    struct Step {
        int press;  // PSBTN_* or a control to click
        int page;
    };
    const Step steps[] = {
        {PSBTN_NEXT, IDD_WAVEFILES},    {PSBTN_NEXT, IDD_DESTINATION},
        {PSBTN_BACK, IDD_WAVEFILES},    {PSBTN_BACK, IDD_WELCOME},
        {IDC_SOURCE_CD, IDD_WELCOME},   {PSBTN_NEXT, IDD_CDTRACKS},
        {PSBTN_BACK, IDD_WELCOME},      {PSBTN_NEXT, IDD_CDTRACKS},
        {IDC_ADD_ALL_TRACKS, IDD_CDTRACKS}, {PSBTN_NEXT, IDD_DESTINATION},
        {PSBTN_BACK, IDD_CDTRACKS},     {PSBTN_NEXT, IDD_DESTINATION},
        {PSBTN_NEXT, IDD_OPTIONS},      {PSBTN_BACK, IDD_DESTINATION},
        {PSBTN_NEXT, IDD_OPTIONS},      {PSBTN_NEXT, IDD_FINISH},
        {PSBTN_BACK, IDD_OPTIONS},
    };
    for (const Step& step : steps) {
        if (step.press >= 1000) {
            w.click(step.press);
        } else {
            w.press(step.press);
        }
        ASSERT_EQ(w.page(), step.page) << "after " << step.press;
        EXPECT_EQ(IsWindowVisible(w.button(backButton)) != FALSE, step.page != IDD_WELCOME);
    }
    EXPECT_EQ(c.sourceKind(), 1);
    // Back on the welcome page, the CD choice is still the one checked.
    w.show(IDD_WELCOME);
    EXPECT_EQ(IsDlgButtonChecked((HWND)SendMessageA(w.sheet(), PSM_GETCURRENTPAGEHWND, 0, 0),
                                 IDC_SOURCE_CD),
              BST_CHECKED);
}

TEST_F(Wizard, QuitQuestionAndSheetButtons) {
    WizardRun w(c);
    ASSERT_TRUE(w.sheet());
    w.press(PSBTN_NEXT);
    w.post(w.sheet(), WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(w.answerBox(IDNO), "Voulez-vous vraiment quitter Calbrune ?");
    EXPECT_EQ(w.page(), IDD_WAVEFILES);

    // Selectors other than one button's pass on unchanged: nothing hidden.
    w.post(w.sheet(), WM_SHOWSHEETBUTTON, 3, SW_HIDE);
    w.post(w.sheet(), WM_SHOWSHEETBUTTON, 8, SW_HIDE);
    EXPECT_TRUE(IsWindowVisible(w.button(backButton)));
    EXPECT_TRUE(IsWindowVisible(w.button(nextButton)));
    w.post(w.sheet(), WM_SHOWSHEETBUTTON, SheetNext, SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(w.button(nextButton)));
    w.post(w.sheet(), WM_SHOWSHEETBUTTON, SheetCancel, SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(w.button(IDCANCEL)));

    w.post(w.sheet(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(w.answerBox(IDYES), "Voulez-vous vraiment quitter Calbrune ?");
    EXPECT_TRUE(w.ended());
}

// The open-file dialog, filled as a user fills it: a folder first (the
// dialog moves there and stays), then the names.
void chooseFiles(WizardRun& w, const Lines& entries) {
    w.click(IDC_ADD_FILES);
    HWND dialog = w.waitDialog("Ajouter un fichier wave...", 0);
    ASSERT_TRUE(dialog);
    for (size_t i = 0; i < entries.size(); i++) {
        SendMessageA(GetDlgItem(dialog, 0x47C), WM_SETTEXT, 0, (LPARAM)entries[i].c_str());
        if (i + 1 < entries.size()) {
            SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        } else {
            PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
        }
    }
    for (int i = 0; i < 500 && IsWindow(dialog); i++) {
        Sleep(10);
    }
    w.settle();
}

HDROP dropOf(const Lines& paths) {
    size_t size = sizeof(DROPFILES) + 1;
    for (const std::string& p : paths) {
        size += p.size() + 1;
    }
    HGLOBAL memory = GlobalAlloc(GHND, size);
    DROPFILES* drop = (DROPFILES*)GlobalLock(memory);
    drop->pFiles = sizeof(DROPFILES);
    char* next = (char*)(drop + 1);
    for (const std::string& p : paths) {
        lstrcpyA(next, p.c_str());
        next += p.size() + 1;
    }
    GlobalUnlock(memory);
    return (HDROP)memory;
}

TEST_F(Wizard, WaveFilesAreAddedAndRemovedInListOrder) {
    std::string a = wav("a.wav"), b = wav("b.wav");
    CreateDirectoryA(folder.file("dir.wav").c_str(), nullptr);
    writeFileContents(folder.file("notes.txt"), "x");
    // The root folder of a drive already ends with its backslash.
    char root[MAX_PATH];
    wsprintfA(root, "C:\\calbrune-%lu.wav", GetCurrentProcessId());
    writeFileContents(root, "x");
    std::string tooLong = folder.file(std::string(260, 'x').c_str()) + ".wav";

    WizardRun w(c);
    w.press(PSBTN_NEXT);
    ASSERT_EQ(w.page(), IDD_WAVEFILES);
    EXPECT_FALSE(enabled(w.button(nextButton)));
    chooseFiles(w, {a});
    chooseFiles(w, {folder.path(), "\"b.wav\" \"a.wav\""});
    chooseFiles(w, {"C:\\", std::string("\"") + (root + 3) + "\""});
    Lines expected = {a, b, a, root};
    EXPECT_EQ(listLines(w.control(IDC_FILE_LIST)), expected);
    EXPECT_EQ(sourcePaths(c), expected);
    EXPECT_TRUE(enabled(w.button(nextButton)));

    // Dropped from the file manager: the same rules, the user told what was left out.
    w.post(w.control(IDC_FILE_LIST), WM_DROPFILES,
           (WPARAM)dropOf({b, folder.file("notes.txt"), folder.file("dir.wav"), tooLong, a}), 0);
    EXPECT_EQ(w.answerBox(IDOK), "Ces fichiers n'ont pas été ajoutés : leur chemin dépasse 259 "
                                 "caractères.\n" + tooLong);
    EXPECT_EQ(w.answerBox(IDOK), "Ces éléments n'ont pas été ajoutés : ce ne sont pas des "
                                 "fichiers wave (*.wav).\n" + folder.file("notes.txt") + "\n" +
                                 folder.file("dir.wav"));
    expected.push_back(b);
    expected.push_back(a);
    EXPECT_EQ(sourcePaths(c), expected);
    EXPECT_EQ(listLines(w.control(IDC_FILE_LIST)), expected);

    // Supprimer: only after a selection, which it clears; nothing without one.
    EXPECT_FALSE(enabled(w.control(IDC_REMOVE_FILE)));
    w.notify(IDC_REMOVE_FILE, BN_CLICKED);
    EXPECT_EQ(c.sourceFiles.count(), 6u);
    SendMessageA(w.control(IDC_FILE_LIST), LB_SETCURSEL, 1, 0);
    w.notify(IDC_FILE_LIST, LBN_SELCHANGE);
    w.click(IDC_REMOVE_FILE);
    expected.erase(expected.begin() + 1);
    EXPECT_EQ(sourcePaths(c), expected);
    EXPECT_EQ(listLines(w.control(IDC_FILE_LIST)), expected);
    EXPECT_EQ(SendMessageA(w.control(IDC_FILE_LIST), LB_GETCURSEL, 0, 0), LB_ERR);
    EXPECT_FALSE(enabled(w.control(IDC_REMOVE_FILE)));
    while (c.sourceFiles.count()) {
        SendMessageA(w.control(IDC_FILE_LIST), LB_SETCURSEL, 0, 0);
        w.notify(IDC_FILE_LIST, LBN_SELCHANGE);
        w.click(IDC_REMOVE_FILE);
    }
    EXPECT_FALSE(enabled(w.button(nextButton)));
    EXPECT_TRUE(enabled(w.button(backButton)));
    DeleteFileA(root);
}

TEST_F(Wizard, CdTracksMoveInTrackOrderAndButtonsFollow) {
    ASSERT_EQ(simConfigure("G=300,300,300,300,300,300,300,300,300;H=3/200,200"), 1);
    WizardRun w(c);
    w.click(IDC_SOURCE_CD);
    w.press(PSBTN_NEXT);
    ASSERT_EQ(w.page(), IDD_CDTRACKS);
    HWND left = w.control(IDC_DISC_TRACKS), right = w.control(IDC_CHOSEN_TRACKS);
    // >, <, >>, <<, Next
    auto buttons = [&] { return enabling(w, {1023, 1024, 1025, 1026, nextButton}); };
    auto pick = [&](HWND list, int listId, int k) {
        std::vector<int> tracks = tracksIn(list);
        SendMessageA(list, LB_SETSEL, TRUE, std::find(tracks.begin(), tracks.end(), k) - tracks.begin());
        w.notify(listId, LBN_SELCHANGE);
    };
    EXPECT_EQ(tracksIn(left).size(), 9u);
    EXPECT_EQ(buttons(), "00100");

    for (int k : {4, 1, 8}) {
        pick(left, IDC_DISC_TRACKS, k);
        EXPECT_TRUE(enabled(w.control(IDC_ADD_TRACKS)));
        w.click(IDC_ADD_TRACKS);
    }
    EXPECT_EQ(tracksIn(right), std::vector<int>({1, 4, 8}));
    EXPECT_EQ(buttons(), "00111");
    w.press(PSBTN_NEXT);
    EXPECT_EQ(chosenTracks(c), std::vector<int>({1, 4, 8}));
    EXPECT_STREQ(c.cdDevicePath(), "\\\\.\\G:");

    w.press(PSBTN_BACK);
    pick(right, IDC_CHOSEN_TRACKS, 4);
    w.click(IDC_REMOVE_TRACKS);
    EXPECT_EQ(tracksIn(left), std::vector<int>({0, 2, 3, 4, 5, 6, 7}));
    w.press(PSBTN_NEXT);
    EXPECT_EQ(chosenTracks(c), std::vector<int>({1, 8}));
    w.press(PSBTN_BACK);

    w.click(IDC_ADD_ALL_TRACKS);
    EXPECT_EQ(tracksIn(left).size(), 0u);
    EXPECT_EQ(buttons(), "00011");
    w.click(IDC_REMOVE_ALL_TRACKS);
    EXPECT_EQ(tracksIn(left).size(), 9u);
    EXPECT_EQ(buttons(), "00100");
    pick(left, IDC_DISC_TRACKS, 0);
    w.click(IDC_ADD_TRACKS);
    pick(right, IDC_CHOSEN_TRACKS, 0);
    w.click(IDC_REMOVE_TRACKS);
    EXPECT_EQ(buttons(), "00100");

    // Another drive: its disc is read, the chosen tracks dropped.
    w.click(IDC_ADD_ALL_TRACKS);
    SendMessageA(w.control(IDC_DRIVE_BOX), CB_SETCURSEL, 1, 0);
    w.notify(IDC_DRIVE_BOX, CBN_SELCHANGE);
    EXPECT_EQ(tracksIn(left), std::vector<int>({0, 1}));
    EXPECT_EQ(tracksIn(right).size(), 0u);
    EXPECT_EQ(buttons(), "00100");
    w.click(IDC_ADD_ALL_TRACKS);
    w.press(PSBTN_NEXT);
    EXPECT_STREQ(c.cdDevicePath(), "\\\\.\\H:");
}

TEST_F(Wizard, DestinationInBothModes) {
    ASSERT_EQ(simConfigure("G=300"), 1);
    // Folders of long standing: the browser does not always find one made
    // a moment ago.
    const char* first = "C:\\windows";
    const char* other = "C:\\windows\\system32";
    c.setDestinationFolder(first);
    c.sourceFiles.append(wav("a.wav").c_str());
    WizardRun w(c);
    w.press(PSBTN_NEXT);
    w.press(PSBTN_NEXT);
    ASSERT_EQ(w.page(), IDD_DESTINATION);
    // The check mark of 1032, then which of 1032, 1030 and 1031 are enabled.
    auto state = [&] {
        return std::to_string(SendMessageA(w.control(IDC_SAVE_BESIDE_SOURCE), BM_GETCHECK, 0, 0)) +
               enabling(w, {IDC_SAVE_BESIDE_SOURCE, IDC_DESTINATION_FOLDER, IDC_BROWSE});
    };
    EXPECT_EQ(state(), "1100");
    EXPECT_EQ(IsDlgButtonChecked(GetParent(w.control(IDC_BROWSE)), IDC_WARN_BEFORE_REPLACE), 1u);
    EXPECT_EQ(w.text(IDC_DESTINATION_FOLDER), first);
    w.click(IDC_SAVE_BESIDE_SOURCE);
    EXPECT_EQ(state(), "0111");
    EXPECT_EQ(c.saveBesideSource(), 0);

    // The browser opens on the current folder: OK alone keeps it.
    w.click(IDC_BROWSE);
    HWND browser = w.waitDialog(nullptr, 0x3741);
    ASSERT_TRUE(browser);
    PostMessageA(GetDlgItem(browser, IDOK), BM_CLICK, 0, 0);
    w.settle();
    EXPECT_STREQ(c.destinationFolder(), first);
    w.click(IDC_BROWSE);
    browser = w.waitDialog(nullptr, 0x3741);
    ASSERT_TRUE(browser);
    SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, (LPARAM)other);
    PostMessageA(GetDlgItem(browser, IDOK), BM_CLICK, 0, 0);
    w.settle();
    EXPECT_STREQ(c.destinationFolder(), other);
    EXPECT_EQ(w.text(IDC_DESTINATION_FOLDER), other);
    w.click(IDC_WARN_BEFORE_REPLACE);
    EXPECT_EQ(c.replaceWithoutAsking(), 1);

    // CD tracks always go to the folder: the choice is greyed with its mark.
    w.click(IDC_SAVE_BESIDE_SOURCE);
    w.show(IDD_WELCOME);
    w.click(IDC_SOURCE_CD);
    w.press(PSBTN_NEXT);
    w.click(IDC_ADD_ALL_TRACKS);
    w.press(PSBTN_NEXT);
    ASSERT_EQ(w.page(), IDD_DESTINATION);
    EXPECT_EQ(state(), "1011");
    EXPECT_EQ(IsDlgButtonChecked(GetParent(w.control(IDC_BROWSE)), IDC_WARN_BEFORE_REPLACE), 0u);
}

// A user's drag of a track bar's thumb.
void drag(WizardRun& w, int id, int position) {
    SendMessageA(w.control(id), TBM_SETPOS, TRUE, position);
    w.post(GetParent(w.control(id)), WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position),
           (LPARAM)w.control(id));
}

TEST_F(Wizard, OptionsLabelsPullsAndVbrRules) {
    WizardRun w(c);
    w.show(IDD_OPTIONS);
    ASSERT_EQ(w.page(), IDD_OPTIONS);
    EXPECT_EQ(w.text(IDC_BITRATE_LABEL), "128 Kbps mpeg1\r\n 80 Kbps mpeg2");
    struct Pull {
        int id, position;
        const char* label;
        int labelId;
    };
    const Pull pulls[] = {
        {IDC_BITRATE, 0, " 32 Kbps mpeg1\r\n  8 Kbps mpeg2", IDC_BITRATE_LABEL},
        {IDC_BITRATE, 13, "320 Kbps mpeg1\r\n160 Kbps mpeg2", IDC_BITRATE_LABEL},
        {IDC_VBR_QUALITY, 9, "Qualité VBR : 9", IDC_VBR_QUALITY_LABEL},
        {IDC_ABR_BITRATE, 310, "Moyenne ABR : 310 kbps", IDC_ABR_LABEL},
        {IDC_VBR_MAX, 10, "Maximum bitrate : 112 kbps", IDC_VBR_MAX_LABEL},
        // The minimum pulls the maximum along, and the other way round.
        {IDC_VBR_MIN, 12, "Maximum bitrate : 144 kbps", IDC_VBR_MAX_LABEL},
        {IDC_VBR_MAX, 5, "Minimum bitrate : 48 kbps", IDC_VBR_MIN_LABEL},
    };
    for (const Pull& p : pulls) {
        drag(w, p.id, p.position);
        EXPECT_EQ(w.text(p.labelId), p.label) << p.id << " at " << p.position;
    }
    EXPECT_EQ(c.bitrateIndex(), 13);
    EXPECT_EQ(c.vbrQuality(), 9);
    EXPECT_EQ(c.abrBitrate(), 310);
    EXPECT_EQ(c.vbrMinBitrateIndex(), 5);
    EXPECT_EQ(c.vbrMaxBitrateIndex(), 5);
    EXPECT_EQ(SendMessageA(w.control(IDC_VBR_MIN), TBM_GETPOS, 0, 0), 5);
    EXPECT_EQ(SendMessageA(w.control(IDC_ABR_BITRATE), TBM_GETRANGEMIN, 0, 0), 8);
    EXPECT_EQ(SendMessageA(w.control(IDC_ABR_BITRATE), TBM_GETRANGEMAX, 0, 0), 310);

    auto vbrState = [&] {
        return enabling(w, {1040, 1041, 1051, 1052, 1053, 1054, 1055, 1056, 1057, 1058, 1059});
    };
    EXPECT_EQ(vbrState(), "11000000000");
    w.click(IDC_VBR_ENABLED);
    EXPECT_EQ(c.vbrEnabled(), 1);
    EXPECT_EQ(vbrState(), "00111111100");
    SendMessageA(w.control(IDC_VBR_METHOD), CB_SETCURSEL, 4, 0);
    w.notify(IDC_VBR_METHOD, CBN_SELCHANGE);
    EXPECT_EQ(c.vbrMethodIndex(), 4);
    EXPECT_EQ(vbrState(), "00111110011");
    w.click(IDC_VBR_ENABLED);
    EXPECT_EQ(vbrState(), "11000000000");

    SendMessageA(w.control(IDC_SAMPLE_RATE), CB_SETCURSEL, 2, 0);
    w.notify(IDC_SAMPLE_RATE, CBN_SELCHANGE);
    w.click(IDC_PRIVATE_BIT);
    w.click(IDC_ORIGINAL_BIT);
    EXPECT_EQ(c.sampleRateIndex(), 2);
    EXPECT_EQ(c.privateBit(), 1);
    EXPECT_EQ(c.originalBit(), 0);
}

// The stand-in encoder, held at its next chunk while the gate is closed.
BEENCODECHUNK realEncode;
HANDLE gate;
std::atomic<int> encodeCalls;

BE_ERR __cdecl gatedEncode(HBE_STREAM stream, DWORD samples, SHORT* in, BYTE* out,
                           DWORD* outBytes) {
    encodeCalls++;
    WaitForSingleObject(gate, 10000);
    return realEncode(stream, samples, in, out, outBytes);
}

class FinishPageTest : public Wizard {
protected:
    void SetUp() override {
        Wizard::SetUp();
        fakeEncoder::install(c);
        realEncode = c.beEncodeChunk;
        gate = CreateEventA(nullptr, TRUE, TRUE, nullptr);
        encodeCalls = 0;
    }
    void TearDown() override {
        SetEvent(gate);
        c.unloadEncoder();
        CloseHandle(gate);
        Wizard::TearDown();
    }
    size_t streams() {
        size_t found = 0;
        for (const EncoderCall& call : fakeEncoder::calls()) {
            found += call.kind == "init";
        }
        return found;
    }
    bool shown(WizardRun& w, int id) { return IsWindowVisible(w.button(id)) != FALSE; }
};

TEST_F(FinishPageTest, SuccessClosesTheProgramOrReturnsToTheStart) {
    c.sourceFiles.append(wav("a.wav").c_str());
    c.sourceFiles.append(wav("b.wav").c_str());
    {
        WizardRun w(c);
        w.show(IDD_FINISH);
        EXPECT_EQ(IsDlgButtonChecked((HWND)SendMessageA(w.sheet(), PSM_GETCURRENTPAGEHWND, 0, 0),
                                     IDC_CLOSE_WHEN_DONE), 1u);
        w.press(PSBTN_FINISH);
        EXPECT_TRUE(w.ended());
        EXPECT_TRUE(w.noBox());
    }
    EXPECT_TRUE(fileExists(folder.file("a.mp3")) && fileExists(folder.file("b.mp3")));
    EXPECT_EQ(streams(), 2u);

    c.setReplaceWithoutAsking(1);
    WizardRun w(c);
    w.show(IDD_FINISH);
    w.click(IDC_RETURN_WHEN_DONE);
    EXPECT_EQ(c.closeWhenDone(), 0);
    w.press(PSBTN_FINISH);
    EXPECT_EQ(w.answerBox(IDOK), "Encodage reussi!  ");
    EXPECT_EQ(w.page(), IDD_WELCOME);
    EXPECT_FALSE(shown(w, backButton));
    EXPECT_TRUE(shown(w, IDCANCEL));
    // Once more through the wizard: the same list again.
    w.show(IDD_FINISH);
    EXPECT_EQ(w.text(w.button(finishButton)), "Terminer");
    w.press(PSBTN_FINISH);
    EXPECT_EQ(w.answerBox(IDOK), "Encodage reussi!  ");
    EXPECT_EQ(streams(), 6u);
}

TEST_F(FinishPageTest, CancelWaitsForTheWorkerAndNothingEndsMeanwhile) {
    c.sourceFiles.append(wav("a.wav", 4608 * 20).c_str());
    c.sourceFiles.append(wav("b.wav").c_str());
    c.beEncodeChunk = gatedEncode;
    ResetEvent(gate);
    WizardRun w(c);
    w.show(IDD_FINISH);
    w.press(PSBTN_FINISH);
    for (int i = 0; i < 500 && !encodeCalls; i++) {
        Sleep(10);
    }
    ASSERT_GT(encodeCalls, 0);
    EXPECT_EQ(w.text(w.button(finishButton)), "Annuler");
    EXPECT_FALSE(shown(w, backButton));
    EXPECT_FALSE(shown(w, IDCANCEL));

    // Running, then cancelling with the worker still inside a chunk: the
    // close box, Escape and Finish do nothing.
    for (int cancelled = 0; cancelled < 2; cancelled++) {
        w.post(w.sheet(), WM_SYSCOMMAND, SC_CLOSE, 0);
        w.post(w.sheet(), WM_COMMAND, IDCANCEL, 0);
        w.post(w.sheet(), WM_CLOSE, 0, 0);
        EXPECT_TRUE(w.noBox());
        EXPECT_TRUE(IsWindow(w.sheet()));
        w.press(PSBTN_FINISH);
        EXPECT_EQ(c.jobRunning(), 0);
        EXPECT_TRUE(c.workerExists());
        EXPECT_EQ(w.text(w.button(finishButton)), "Annuler");
        EXPECT_FALSE(shown(w, IDCANCEL));
    }
    SetEvent(gate);
    EXPECT_EQ(w.answerBox(IDOK), "Encodage interrompu!  ");
    EXPECT_TRUE(w.noBox());
    EXPECT_EQ(w.text(w.button(finishButton)), "Terminer");
    EXPECT_TRUE(shown(w, backButton));
    EXPECT_TRUE(shown(w, IDCANCEL));
    EXPECT_EQ(SendMessageA(w.control(IDC_TOTAL_PROGRESS), PBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(SendMessageA(w.control(IDC_FILE_PROGRESS), PBM_GETPOS, 0, 0), 0);
    EXPECT_EQ(streams(), 1u);
    EXPECT_FALSE(fileExists(folder.file("a.mp3")) || fileExists(folder.file("b.mp3")));
}

TEST_F(FinishPageTest, MissingLibraryLeavesThePageUsable) {
    c.unloadEncoder();
    c.sourceFiles.append(wav("a.wav").c_str());
    WizardRun w(c);
    w.show(IDD_FINISH);
    for (int attempt = 0; attempt < 2; attempt++) {
        w.press(PSBTN_FINISH);
        EXPECT_EQ(w.answerBox(IDOK), " L'encodage necessite la librairie \"lame_enc.dll\" .");
        EXPECT_EQ(w.text(w.button(finishButton)), "Terminer");
        EXPECT_TRUE(shown(w, backButton));
        EXPECT_TRUE(shown(w, IDCANCEL));
        EXPECT_EQ(w.page(), IDD_FINISH);
    }
}

TEST_F(FinishPageTest, FailuresAreListedAndTheWizardStaysOpen) {
    c.sourceFiles.append(wav("good.wav").c_str());
    writeFileContents(folder.file("bad.wav"), "not a wave file");
    c.sourceFiles.append(folder.file("bad.wav").c_str());
    for (int i = 0; i < 16; i++) {
        c.sourceFiles.append(folder.file(("missing" + std::to_string(i) + ".wav").c_str()).c_str());
    }
    WizardRun w(c);
    w.show(IDD_FINISH);
    w.press(PSBTN_FINISH);
    std::string said = w.answerBox(IDOK);
    EXPECT_EQ(said.find("Encodage terminé, mais des fichiers n'ont pas pu être encodés.\n\n"
                        "Fichiers encodés : 1\nFichiers en échec : 17\n\n" +
                        folder.file("bad.wav") + " : "),
              0u)
        << said;
    EXPECT_NE(said.find(folder.file("missing13.wav") + " : "), std::string::npos);
    EXPECT_EQ(said.find(folder.file("missing14.wav")), std::string::npos);
    const std::string more = "\n... et 2 autres.";
    EXPECT_EQ(said.substr(said.size() - more.size()), more);
    EXPECT_EQ(w.page(), IDD_WELCOME);
    EXPECT_TRUE(fileExists(folder.file("good.mp3")));

    // A CD job that found no disc says so in the same box.
    ASSERT_EQ(simConfigure("G"), 1);
    c.setSourceKind(1);
    c.setCdDevicePath("\\\\.\\G:");
    int track = 0;
    c.selectedTracks.append(&track);
    w.show(IDD_FINISH);
    w.press(PSBTN_FINISH);
    EXPECT_EQ(w.answerBox(IDOK).find("Le CD n'a pas pu être lu : aucune piste n'a été encodée.\n\n"
                                     "\\\\.\\G: : "),
              0u);
    EXPECT_FALSE(w.ended(0));
}

// Every text of every page in template order, the header strings and the
// tooltips, read back from the windows.
TEST_F(Wizard, TextsAreTheProgramsOwn) {
    ASSERT_EQ(simConfigure("G=300"), 1);
    c.setDestinationFolder("C:\\Musique");
    struct PageTexts {
        int page;
        Lines texts;
        std::vector<std::pair<int, std::string>> tips;
    };
    const PageTexts pages[] = {
        {IDD_WELCOME,
         {"Bienvenue dans Calbrune 1.0",
          "Calbrune vous aide à convertir facilement les fichiers WAVE et les pistes CD aux "
          "formats MP3.",
          "Sélectionnez l'action à effectuer et cliquez sur Suivant pour continuer.",
          "Convertir les fichiers WAVE", "Convertir les pistes CD audio"},
         {}},
        {IDD_WAVEFILES,
         {"Sélectionnez un ou plusieurs fichiers et cliquez sur Suivant pour continuer.", "",
          "Ajouter", "Supprimer"},
         {{IDC_ADD_FILES, "Permet de sélectionner les fichiers wave et de les ajouter dans la "
                          "liste des fichiers à encoder."},
          {IDC_FILE_LIST, "Liste des fichiers à encoder."},
          {IDC_REMOVE_FILE, "Permet de supprimer le fichier sélectionné dans la liste."}}},
        {IDD_CDTRACKS,
         {"Sélectionnez le lecteur.", "G:\\", "Sélectionnez les pistes à encoder.",
          "Liste des pistes à encoder:", "", "", ">", "<", ">>", "<<"},
         {{IDC_DRIVE_BOX, "Sélectionnez le lecteur où se trouve le CD à extraire."},
          {IDC_ADD_TRACKS, "Permet d'ajouter les pistes sélectionnés dans la liste des pistes "
                           "à encoder."},
          {IDC_REMOVE_TRACKS, "Permet de retirer les pistes sélectionnés dans la liste des "
                              "pistes à encoder."},
          {IDC_ADD_ALL_TRACKS, "Permet d'ajouter toutes les pistes dans la liste des pistes à "
                               "encoder."},
          {IDC_REMOVE_ALL_TRACKS, "Permet de retirer toutes les pistes dans la liste des "
                                  "pistes à encoder."}}},
        {IDD_DESTINATION,
         {"Sélectionnez un répertoire et cliquez sur Suivant pour continuer.", "C:\\Musique",
          "Parcourir", "  Convertir dans le dossier d'origine",
          "  Avertir avant de remplacer un fichier existant"},
         {{IDC_DESTINATION_FOLDER, "Editez le répertoire où les fichiers doivent être "
                                   "copiés.\r\nSi le dossier n'existe pas Calbrune le crée "
                                   "automatiquement."},
          {IDC_BROWSE, "Permet d'afficher la liste des dossiers à sélectionner."},
          {IDC_SAVE_BESIDE_SOURCE, "En cochant cette case, les fichiers convertis sont placés "
                                   "dans le répertoire où se trouve les fichiers d'origine."}}},
        {IDD_OPTIONS,
         {"Mode bitrate", "", "128 Kbps mpeg1\r\n 80 Kbps mpeg2", "Format audio et optimisation",
          "Echantillonnage:", " Auto", "Format audio:", " Auto", "Qualité encodage:", " Normal",
          "Divers", "  Privé", "  Original", "  Copyright", "Mode VBR", "Activer Mode VBR:",
          " Default", "Minimum bitrate : 32 kbps", "", "Maximum bitrate : 320 kbps", "",
          "Qualité VBR : 4", "", "Moyenne ABR : 128 kbps", ""},
         {}},
        {IDD_FINISH,
         {"Calbrune a toutes les informations nécéssaires pour commencer l'encodage.",
          "Cliquez sur terminer pour lancer l'encodage.",
          " Fermer l'application après l'encodage.",
          " Retourner au début de page après l'encodage.", "Progression fichier...", "",
          "Progression générale...", ""},
         {}},
    };
    WizardRun w(c);
    for (const PageTexts& p : pages) {
        w.show(p.page);
        ASSERT_EQ(w.page(), p.page);
        EXPECT_EQ(w.text(w.sheet()), "Calbrune 1.0");
        HWND page = (HWND)SendMessageA(w.sheet(), PSM_GETCURRENTPAGEHWND, 0, 0);
        Lines found;
        for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            found.push_back(w.text(child));
        }
        EXPECT_EQ(found, p.texts) << p.page;
        std::vector<std::pair<int, std::string>> tips = p.tips;
        for (auto& tip : tips) {
            tip.second.resize(std::min<size_t>(tip.second.size(), 80));
        }
        EXPECT_EQ(tooltipTexts(page), tips) << p.page;
    }
    const char* headers[] = {
        "Fichiers à encoder", "Sélectionnez les fichiers wave à encoder.",
        "Pistes à encoder", "Sélectionnez les pistes CD à encoder.",
        "Dossier de destination",
        "Sélectionnez un répertoire où les fichiers doivent etre placés.",
        "Option LAME", "Configurez l'option d'encodage.",
    };
    for (int id = IDS_WAVEFILES_TITLE; id <= IDS_OPTIONS_SUBTITLE; id++) {
        char text[128] = "";
        LoadStringA(GetModuleHandleA(nullptr), id, text, sizeof(text));
        EXPECT_STREQ(text, headers[id - IDS_WAVEFILES_TITLE]);
    }
    EXPECT_EQ(headers[0][9], '\xE0');  // Windows-1252, as the program shows them
}

}  // namespace
