// The real wizard, driven as a user drives it: sheet buttons, clicks and
// selections, the common dialogs and the message boxes.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <atomic>

#include "app/Wizard.h"
#include "pages/Pages.h"
#include "res/resource.h"
#include "tests/WavTestFiles.h"
#include "tests/sim/SimMachine.h"
#include "tests/support/FakeEncoder.h"
#include "tests/support/WizardRun.h"

using namespace wizard;

namespace {

typedef std::vector<std::string> Lines;
typedef std::vector<int> Ints;

class Wizard : public ::testing::Test {
protected:
    void SetUp() override {
        simReset();
        fakeEncoder::install(c);
    }
    void TearDown() override {
        SetEvent(gate);
        c.unloadEncoder();
        CloseHandle(gate);
        simReset();
    }
    std::string wav(const char* name, size_t bytes = 4608) {
        return writeBytes(folder, name, canonicalWav(2, 44100, 16, patternBytes(bytes)));
    }
    size_t streams() {
        std::vector<EncoderCall> calls = fakeEncoder::calls();
        return std::count_if(calls.begin(), calls.end(), [](const EncoderCall& e) { return e.kind == "init"; });
    }

    Converter c;
    TempFolder folder;
    HANDLE gate = CreateEventA(nullptr, TRUE, TRUE, nullptr);
};

// '1' for each enabled control of the page or button of the sheet.
std::string enabling(WizardRun& w, Ints ids) {
    std::string state;
    for (int id : ids) {
        state += "01"[w.enabled(id)];
    }
    return state;
}

TEST_F(Wizard, NavigationFollowsTheSourceKindAndQuittingAsks) {
    ASSERT_EQ(simConfigure("G=300,300"), 1);
    c.sourceFiles.append(wav("a.wav").c_str());
    WizardRun w(c);
    // What is pressed (a sheet button or a control), and the page it leads to.
    const std::pair<int, int> steps[] = {
        {PSBTN_NEXT, IDD_WAVEFILES}, {PSBTN_NEXT, IDD_DESTINATION}, {PSBTN_BACK, IDD_WAVEFILES},
        {PSBTN_BACK, IDD_WELCOME}, {IDC_SOURCE_CD, IDD_WELCOME}, {PSBTN_NEXT, IDD_CDTRACKS},
        {PSBTN_BACK, IDD_WELCOME}, {PSBTN_NEXT, IDD_CDTRACKS}, {IDC_ADD_ALL_TRACKS, IDD_CDTRACKS},
        {PSBTN_NEXT, IDD_DESTINATION}, {PSBTN_NEXT, IDD_OPTIONS}, {PSBTN_NEXT, IDD_FINISH},
        {PSBTN_BACK, IDD_OPTIONS}, {PSBTN_BACK, IDD_DESTINATION}, {PSBTN_BACK, IDD_CDTRACKS},
        {PSBTN_BACK, IDD_WELCOME},
    };
    EXPECT_EQ(w.page(), IDD_WELCOME);
    for (auto step : steps) {
        w.press(step.first);
        ASSERT_EQ(w.page(), step.second) << "after " << step.first;
        EXPECT_EQ(w.shown(backButton), step.second != IDD_WELCOME);
    }
    // The CD choice is kept.
    EXPECT_EQ(IsDlgButtonChecked(currentPage(w.sheet), IDC_SOURCE_CD), BST_CHECKED);
    w.post(w.sheet, WM_SYSCOMMAND, SC_CLOSE);
    EXPECT_EQ(w.answerBox(IDNO), "Voulez-vous vraiment quitter Calbrune ?");
    w.post(w.sheet, WM_COMMAND, IDCANCEL);
    EXPECT_EQ(w.answerBox(IDYES), "Voulez-vous vraiment quitter Calbrune ?");
    EXPECT_TRUE(w.ended());
}

void addFiles(WizardRun& w, const Lines& entries) {
    w.press(IDC_ADD_FILES);
    fillOpenDialog(w.dialog(), entries);
    w.settle();
}

HDROP dropOf(const Lines& paths) {
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
    std::string a = wav("a.wav"), b = wav("b.wav"), notes = folder.file("notes.txt"), dir = folder.file("dir.wav");
    CreateDirectoryA(dir.c_str(), nullptr);
    writeFileContents(notes, "x");
    // The root folder of a drive already ends with its backslash.
    std::string root = "C:\\calbrune-" + std::to_string(GetCurrentProcessId()) + ".wav";
    writeFileContents(root, "x");
    std::string tooLong = folder.file(std::string(260, 'x').c_str()) + ".wav";
    WizardRun w(c);
    w.press(PSBTN_NEXT);
    EXPECT_FALSE(w.enabled(nextButton));
    addFiles(w, {"C:\\", "\"" + root.substr(3) + "\""});
    addFiles(w, {folder.path(), "\"b.wav\" \"a.wav\""});
    addFiles(w, {a});
    EXPECT_TRUE(w.enabled(nextButton));
    // Dropped from the file manager: the same rules, the user told what was left out.
    w.post(w.control(IDC_FILE_LIST), WM_DROPFILES, (WPARAM)dropOf({b, notes, dir, tooLong, a}));
    EXPECT_EQ(w.answerBox(IDOK), "Ces fichiers n'ont pas été ajoutés : leur chemin dépasse 259 caractères.\n" + tooLong);
    EXPECT_EQ(w.answerBox(IDOK), "Ces éléments n'ont pas été ajoutés : ce ne sont pas des fichiers wave "
                                 "(*.wav).\n" + notes + "\n" + dir);
    DeleteFileA(root.c_str());
    // Supprimer takes the line selected, then waits for another selection.
    Lines expected = {root, b, a, a, b, a};
    int readded = 0;
    EXPECT_FALSE(w.enabled(IDC_REMOVE_FILE));
    while (!expected.empty()) {
        Lines shown, sources;
        for (int i = 0; i < (int)ask(w.control(IDC_FILE_LIST), LB_GETCOUNT); i++) {
            char line[MAX_PATH] = "";
            ask(w.control(IDC_FILE_LIST), LB_GETTEXT, i, (LPARAM)line);
            shown.push_back(line);
            sources.push_back(c.sourceFiles.nodeAt(i) ? c.sourceFiles.nodeAt(i)->path : "");
        }
        EXPECT_EQ(shown, expected);
        EXPECT_EQ(sources, expected);
        size_t k = expected.size() / 2;
        ask(w.control(IDC_FILE_LIST), LB_SETCURSEL, k);
        w.notify(IDC_FILE_LIST, LBN_SELCHANGE);
        w.press(IDC_REMOVE_FILE);
        expected.erase(expected.begin() + k);
        EXPECT_FALSE(w.enabled(IDC_REMOVE_FILE));
        // Once, a file added after the last one was removed.
        if (expected.size() == 1 && !readded++) {
            w.post(w.control(IDC_FILE_LIST), WM_DROPFILES, (WPARAM)dropOf({b}));
            expected.push_back(b);
        }
    }
    EXPECT_EQ(c.sourceFiles.count(), 0u);
    EXPECT_FALSE(w.enabled(nextButton));
}

TEST_F(Wizard, CdTracksMoveInTrackOrderAndButtonsFollow) {
    ASSERT_EQ(simConfigure("G=300,300,300,300,300,300,300,300,300;H=3/200,200"), 1);
    WizardRun w(c);
    w.press(IDC_SOURCE_CD);
    w.press(PSBTN_NEXT);
    HWND left = w.control(IDC_DISC_TRACKS), right = w.control(IDC_CHOSEN_TRACKS);
    // Tracks selected in a list (or the second drive chosen), a button
    // clicked (0: none); then both lists and which of >, <, >>, << and Next
    // are enabled. Another drive's disc is read, the chosen tracks dropped.
    struct Step {
        int list;
        Ints selected;
        int button;
        Ints left, right;
        const char* enabled;
    };
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
    for (const Step& step : steps) {
        if (step.list == IDC_DRIVE_BOX) {
            ask(w.control(IDC_DRIVE_BOX), CB_SETCURSEL, 1);
            w.notify(IDC_DRIVE_BOX, CBN_SELCHANGE);
        } else {
            tracksIn(w.control(step.list), step.selected);
            w.settle();
        }
        if (step.button) {
            w.press(step.button);
        }
        EXPECT_EQ(tracksIn(left), step.left);
        EXPECT_EQ(tracksIn(right), step.right);
        EXPECT_EQ(enabling(w, {1023, 1024, 1025, 1026, nextButton}), step.enabled);
    }
    // What the job gets, each time the page is left with Next: the drive and
    // the tracks chosen last, once each, after any back and forth.
    auto chosen = [&] {
        w.press(PSBTN_NEXT);
        Ints tracks = {c.cdDevicePath()[4]};
        for (TrackNode* node = c.selectedTracks.first(); node; node = node->next) {
            tracks.push_back(node->trackIndex);
        }
        return tracks;
    };
    EXPECT_EQ(chosen(), Ints({'H', 0, 1}));
    w.press(PSBTN_BACK);
    EXPECT_EQ(chosen(), Ints({'H', 0, 1}));
    w.press(PSBTN_BACK);
    tracksIn(right, {0});
    w.press(IDC_REMOVE_TRACKS);
    EXPECT_EQ(chosen(), Ints({'H', 1}));
}

TEST_F(Wizard, DestinationInBothModes) {
    // Folders of long standing: the browser does not always find one made a moment ago.
    c.setDestinationFolder("C:\\windows");
    WizardRun w(c);
    w.show(IDD_DESTINATION);
    // The mark of "beside the source"; which of it, the folder and Browse
    // are enabled; the mark of the warning.
    auto state = [&] {
        HWND page = currentPage(w.sheet);
        return std::to_string(IsDlgButtonChecked(page, IDC_SAVE_BESIDE_SOURCE)) +
               enabling(w, {IDC_SAVE_BESIDE_SOURCE, IDC_DESTINATION_FOLDER, IDC_BROWSE}) +
               std::to_string(IsDlgButtonChecked(page, IDC_WARN_BEFORE_REPLACE));
    };
    EXPECT_EQ(state(), "11001");
    w.press(IDC_SAVE_BESIDE_SOURCE);
    EXPECT_EQ(state(), "01111");
    EXPECT_EQ(c.saveBesideSource(), 0);
    // The browser opens on the current folder: OK alone keeps it.
    for (std::string chosen : {"", "C:\\windows\\system32"}) {
        w.press(IDC_BROWSE);
        HWND browser = w.dialog();
        if (!chosen.empty()) {
            browseTo(GetCurrentProcess(), browser, chosen);
        }
        w.post(GetDlgItem(browser, IDOK), BM_CLICK);
        EXPECT_STREQ(c.destinationFolder(), chosen.empty() ? "C:\\windows" : chosen.c_str());
    }
    EXPECT_EQ(w.text(IDC_DESTINATION_FOLDER), "C:\\windows\\system32");
    w.press(IDC_WARN_BEFORE_REPLACE);
    EXPECT_EQ(c.replaceWithoutAsking(), 1);
    // CD tracks always go to the folder: the choice is greyed with its mark.
    w.press(IDC_SAVE_BESIDE_SOURCE);
    c.setSourceKind(1);
    w.show(IDD_OPTIONS);
    w.show(IDD_DESTINATION);
    EXPECT_EQ(state(), "10110");
}

TEST_F(Wizard, OptionsLabelsPullsAndVbrRules) {
    WizardRun w(c);
    w.show(IDD_OPTIONS);
    // A thumb dragged (0: none), then the label that follows.
    struct Pull {
        int id, position, labelId;
        const char* label;
    };
    const Pull pulls[] = {
        {0, 0, IDC_BITRATE_LABEL, "128 Kbps mpeg1\r\n 80 Kbps mpeg2"},
        {IDC_BITRATE, 0, IDC_BITRATE_LABEL, " 32 Kbps mpeg1\r\n  8 Kbps mpeg2"},
        {IDC_BITRATE, 13, IDC_BITRATE_LABEL, "320 Kbps mpeg1\r\n160 Kbps mpeg2"},
        {IDC_VBR_QUALITY, 9, IDC_VBR_QUALITY_LABEL, "Qualité VBR : 9"},
        {IDC_ABR_BITRATE, 310, IDC_ABR_LABEL, "Moyenne ABR : 310 kbps"},
        {IDC_VBR_MAX, 10, IDC_VBR_MAX_LABEL, "Maximum bitrate : 112 kbps"},
        // The minimum pulls the maximum along, and the other way round.
        {IDC_VBR_MIN, 12, IDC_VBR_MAX_LABEL, "Maximum bitrate : 144 kbps"},
        {IDC_VBR_MAX, 5, IDC_VBR_MIN_LABEL, "Minimum bitrate : 48 kbps"},
    };
    for (const Pull& p : pulls) {
        if (p.id) {
            ask(w.control(p.id), TBM_SETPOS, TRUE, p.position);
            w.post(currentPage(w.sheet), WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, p.position), (LPARAM)w.control(p.id));
        }
        EXPECT_EQ(w.text(p.labelId), p.label) << p.id << " at " << p.position;
    }
    EXPECT_EQ(ask(w.control(IDC_VBR_MIN), TBM_GETPOS), 5);

    // The CBR bitrate and its label, then the VBR controls (1051 to 1059).
    auto vbr = [&] { return enabling(w, {1040, 1041, 1051, 1052, 1053, 1054, 1055, 1056, 1057, 1058, 1059}); };
    EXPECT_EQ(vbr(), "11000000000");
    // Combo boxes and check boxes store their setting at once.
    struct Setting {
        int id, value;
        int (Converter::*stored)() const;
    };
    const Setting settings[] = {
        {IDC_VBR_ENABLED, 1, &Converter::vbrEnabled},     {IDC_SAMPLE_RATE, 2, &Converter::sampleRateIndex},
        {IDC_CHANNEL_MODE, 3, &Converter::channelModeIndex}, {IDC_QUALITY, 4, &Converter::qualityIndex},
        {IDC_PRIVATE_BIT, 1, &Converter::privateBit},     {IDC_ORIGINAL_BIT, 0, &Converter::originalBit},
        {IDC_COPYRIGHT_BIT, 1, &Converter::copyrightBit}, {IDC_VBR_METHOD, 4, &Converter::vbrMethodIndex},
    };
    for (const Setting& s : settings) {
        if (ask(w.control(s.id), CB_GETCOUNT)) {
            ask(w.control(s.id), CB_SETCURSEL, s.value);
            w.notify(s.id, CBN_SELCHANGE);
        } else {
            w.press(s.id);
        }
        EXPECT_EQ((c.*s.stored)(), s.value) << s.id;
    }
    EXPECT_EQ(vbr(), "00111110011");
    w.press(IDC_VBR_ENABLED);
    EXPECT_EQ(vbr(), "11000000000");
}

TEST_F(Wizard, CancelWaitsForTheWorkerAndNothingEndsMeanwhile) {
    c.sourceFiles.append(wav("a.wav", 4608 * 20).c_str());
    c.sourceFiles.append(wav("b.wav").c_str());
    std::atomic<int> chunks{0};
    ResetEvent(gate);
    fakeEncoder::beforeChunk = [&] {
        chunks++;
        WaitForSingleObject(gate, 10000);
    };
    WizardRun w(c);
    w.show(IDD_FINISH);
    w.press(PSBTN_FINISH);
    ASSERT_TRUE(poll([&] { return chunks > 0; }, 5000));
    // Running, then cancelled with the worker still inside a chunk: the close
    // box, Escape and Finish do nothing, and no other job may start.
    for (int cancelled = 0; cancelled < 2; cancelled++) {
        w.post(w.sheet, WM_SYSCOMMAND, SC_CLOSE);
        w.post(w.sheet, WM_COMMAND, IDCANCEL);
        w.post(w.sheet, WM_CLOSE);
        EXPECT_TRUE(w.noBox() && IsWindow(w.sheet));
        w.press(PSBTN_FINISH);
        EXPECT_TRUE(!c.jobRunning() && c.workerExists());
        EXPECT_EQ(w.text(finishButton), "Annuler");
        EXPECT_FALSE(w.shown(backButton) || w.shown(IDCANCEL));
    }
    EXPECT_EQ(c.startJob(nullptr, nullptr, nullptr, nullptr, finishPageJobDone), 0);
    SetEvent(gate);
    // Finish pressed as the end is said starts nothing.
    ASSERT_TRUE(poll([&] { return findDialog(GetCurrentProcessId(), w.sheet, messageText); }, 5000));
    w.press(PSBTN_FINISH);
    EXPECT_EQ(w.answerBox(IDOK), "Encodage interrompu!  ");
    EXPECT_TRUE(w.noBox());
    EXPECT_EQ(w.text(finishButton), "Terminer");
    EXPECT_TRUE(w.shown(backButton) && w.shown(IDCANCEL));
    EXPECT_EQ(ask(w.control(IDC_TOTAL_PROGRESS), PBM_GETPOS) + ask(w.control(IDC_FILE_PROGRESS), PBM_GETPOS), 0);
    EXPECT_EQ(streams(), 1u);
    EXPECT_FALSE(fileExists(folder.file("a.mp3")) || fileExists(folder.file("b.mp3")));
}

TEST_F(Wizard, MissingLibraryThenFailuresAreSaidAndTheWizardStaysOpen) {
    c.unloadEncoder();
    c.sourceFiles.append(wav("good.wav").c_str());
    writeFileContents(folder.file("bad.wav"), "not a wave file");
    c.sourceFiles.append(folder.file("bad.wav").c_str());
    for (int i = 0; i < 16; i++) {
        c.sourceFiles.append(folder.file(("missing" + std::to_string(i) + ".wav").c_str()).c_str());
    }
    WizardRun w(c);
    w.show(IDD_FINISH);
    for (int attempt = 0; attempt < 2; attempt++) {
        w.press(PSBTN_FINISH);
        EXPECT_EQ(w.answerBox(IDOK), " L'encodage necessite la librairie \"lame_enc.dll\" .");
        EXPECT_EQ(w.text(finishButton), "Terminer");
        EXPECT_TRUE(w.shown(backButton) && w.shown(IDCANCEL));
    }
    fakeEncoder::install(c);
    w.press(PSBTN_FINISH);
    std::string said = w.answerBox(IDOK), more = "\n... et 2 autres.";
    EXPECT_EQ(said.find("Encodage terminé, mais des fichiers n'ont pas pu être encodés.\n\nFichiers encodés : 1\n"
                        "Fichiers en échec : 17\n\n" + folder.file("bad.wav") + " : "), 0u) << said;
    EXPECT_NE(said.find(folder.file("missing13.wav") + " : "), std::string::npos);
    EXPECT_EQ(said.find(folder.file("missing14.wav")), std::string::npos);
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
    EXPECT_EQ(w.answerBox(IDOK).find("Le CD n'a pas pu être lu : aucune piste n'a été encodée.\n\n\\\\.\\G: : "), 0u);
    EXPECT_FALSE(w.ended(0));
}

// A control's text; a list's lines, the one selected in a box marked "*".
std::string shownIn(HWND control) {
    char kind[16] = "";
    GetClassNameA(control, kind, sizeof kind);
    bool box = !lstrcmpiA(kind, "ComboBox"), list = box || !lstrcmpiA(kind, "ListBox");
    std::string text = list ? "" : textOf(control);
    for (int i = 0; list && i < (int)ask(control, box ? CB_GETCOUNT : LB_GETCOUNT); i++) {
        char line[128] = "";
        ask(control, box ? CB_GETLBTEXT : LB_GETTEXT, i, (LPARAM)line);
        text += (i ? "," : "") + std::string(line) + (box && ask(control, CB_GETCURSEL) == i ? "*" : "");
    }
    return text;
}

// Every text of each page in template order ("|" between controls), and the
// header strings. The CD page lists the CD-ROM drives, with the first one
// that holds a readable disc chosen, and that disc's tracks with their
// lengths in whole seconds.
TEST_F(Wizard, TextsAreTheProgramsOwn) {
    ASSERT_EQ(simConfigure("E;G=15301,300"), 1);
    simAddDrive('C', DRIVE_FIXED);
    c.setDestinationFolder("C:\\Musique");
    const std::pair<int, const char*> texts[] = {
        {IDD_WELCOME, "Bienvenue dans Calbrune 1.0|Calbrune vous aide à convertir facilement les fichiers WAVE et les "
                      "pistes CD aux formats MP3.|Sélectionnez l'action à effectuer et cliquez sur Suivant pour "
                      "continuer.|Convertir les fichiers WAVE|Convertir les pistes CD audio|"},
        {IDD_WAVEFILES, "Sélectionnez un ou plusieurs fichiers et cliquez sur Suivant pour continuer.||Ajouter|Supprimer|"},
        {IDD_CDTRACKS, "Sélectionnez le lecteur.|E:\\,G:\\*|Sélectionnez les pistes à encoder.|Liste des pistes à "
                       "encoder:|  Piste  01      3 ' 24,  Piste  02      0 ' 04||>|<|>>|<<|"},
        {IDD_DESTINATION, "Sélectionnez un répertoire et cliquez sur Suivant pour continuer.|C:\\Musique|Parcourir|  "
                          "Convertir dans le dossier d'origine|  Avertir avant de remplacer un fichier existant|"},
        {IDD_OPTIONS, "Mode bitrate||128 Kbps mpeg1\r\n 80 Kbps mpeg2|Format audio et optimisation|Echantillonnage:| "
                      "Auto*, 48 000 Hz, 44 100 Hz, 32 000 Hz, 24 000 Hz, 22 050 Hz, 16 000 Hz|Format audio:| Auto*, "
                      "Stéreo, Joint Stéreo, Dual Channel, Mono|Qualité encodage:| Low, Voice, R3Mix, Normal*, High, "
                      "VeryHigh|Divers|  Privé|  Original|  Copyright|Mode VBR|Activer Mode VBR:| Default*, OLD, NEW, "
                      "MTRH, ABR|Minimum bitrate : 32 kbps||Maximum bitrate : 320 kbps||Qualité VBR : 4||Moyenne ABR : "
                      "128 kbps||"},
        {IDD_FINISH, "Calbrune a toutes les informations nécéssaires pour commencer l'encodage.|Cliquez sur terminer "
                     "pour lancer l'encodage.| Fermer l'application après l'encodage.| Retourner au début de page "
                     "après l'encodage.|Progression fichier...||Progression générale...||"},
        {IDS_WAVEFILES_TITLE, "Fichiers à encoder"},
        {IDS_WAVEFILES_SUBTITLE, "Sélectionnez les fichiers wave à encoder."},
        {IDS_CDTRACKS_TITLE, "Pistes à encoder"},
        {IDS_CDTRACKS_SUBTITLE, "Sélectionnez les pistes CD à encoder."},
        {IDS_DESTINATION_TITLE, "Dossier de destination"},
        {IDS_DESTINATION_SUBTITLE, "Sélectionnez un répertoire où les fichiers doivent etre placés."},
        {IDS_OPTIONS_TITLE, "Option LAME"},
        {IDS_OPTIONS_SUBTITLE, "Configurez l'option d'encodage."},
    };
    EXPECT_EQ(std::string("à"), "\xE0");  // Windows-1252, as the program shows them
    WizardRun w(c);
    for (auto text : texts) {
        std::string found;
        if (text.first <= IDD_FINISH) {
            w.show(text.first);
            EXPECT_EQ(textOf(w.sheet), "Calbrune 1.0");
            for (HWND child = GetWindow(currentPage(w.sheet), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
                found += shownIn(child) + "|";
            }
        } else {
            found.resize(128);
            found.resize(LoadStringA(GetModuleHandleA(nullptr), text.first, &found[0], 128));
        }
        EXPECT_EQ(found, text.second) << text.first;
    }
}

}  // namespace
