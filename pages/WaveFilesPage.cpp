#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <prsht.h>
#include <shellapi.h>
#include <shlwapi.h>

#include "core/Converter.h"
#include "pages/PageCommon.h"
#include "pages/Pages.h"
#include "res/resource.h"

// The dialog record without the Windows 2000 fields.
static const DWORD dialogRecordSize = RECORD_SIZE(OPENFILENAMEA, lpTemplateName);
static_assert(sizeof(void*) == 8 || dialogRecordSize == 76, "dialog record size");

// Room for several hundred files of one folder in one selection.
static const DWORD selectionCapacity = 65536;

static const Tooltip tooltips[] = {
    {IDC_ADD_FILES, "Permet de sélectionner les fichiers wave et de les ajouter dans la liste "
                    "des fichiers à encoder."},
    {IDC_FILE_LIST, "Liste des fichiers à encoder."},
    {IDC_REMOVE_FILE, "Permet de supprimer le fichier sélectionné dans la liste."},
};

// Runs the open-file dialog into `buffer` (`capacity` characters); 1 when
// the user confirmed a selection that fits.
static int chooseWaveFiles(HWND owner, char* buffer, DWORD capacity) {
    buffer[0] = '\0';
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = dialogRecordSize;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = "Fichier WAVE (*.wav)\0*.wav\0";
    dialog.lpstrFile = buffer;
    dialog.nMaxFile = capacity;
    dialog.lpstrDefExt = "";
    dialog.lpstrTitle = "Ajouter un fichier wave...";
    dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY;
    if (GetOpenFileNameA(&dialog)) {
        return 1;
    }
    if (CommDlgExtendedError() == FNERR_BUFFERTOOSMALL) {
        tellUser(owner, "Trop de fichiers sont sélectionnés à la fois : aucun n'a été ajouté.\n"
                        "Ajoutez-les en plusieurs fois.");
    }
    buffer[0] = '\0';
    return 0;
}

// Files that could not be added, named to the user once the adding is done.
struct Refusals {
    EntryListMessage tooLong{"Ces fichiers n'ont pas été ajoutés : leur chemin dépasse 259 "
                             "caractères."};
    EntryListMessage notWave{"Ces éléments n'ont pas été ajoutés : ce ne sont pas des fichiers "
                             "wave (*.wav)."};

    void tell(HWND page) {
        if (tooLong.count()) {
            tellUser(page, tooLong.text());
        }
        if (notWave.count()) {
            tellUser(page, notWave.text());
        }
    }
};

// The list box and the source list stay in the same order: line k is node k.
static void addFile(HWND page, Converter* c, const char* folder, const char* name,
                    Refusals* refusals) {
    char path[MAX_PATH];
    int folderLength = folder ? lstrlenA(folder) : 0;
    int separator = folderLength && folder[folderLength - 1] != '\\';
    if (folderLength + separator + lstrlenA(name) >= MAX_PATH) {
        char shown[1025];  // wsprintfA writes at most 1024 characters
        wsprintfA(shown, separator ? "%s\\%s" : "%s%s", folder ? folder : "", name);
        refusals->tooLong.add(shown);
        return;
    }
    if (folder) {
        lstrcpyA(path, folder);
        PathAppendA(path, name);
    } else {
        lstrcpyA(path, name);
    }
    if (!c->sourceFiles.append(path)) {
        return;
    }
    if (SendDlgItemMessageA(page, IDC_FILE_LIST, LB_ADDSTRING, 0, (LPARAM)path) < 0) {
        c->sourceFiles.remove(c->sourceFiles.last());
    }
}

static void updateNext(HWND page, Converter* c) {
    setWizardButtons(page, c->sourceFiles.count() ? PSWIZB_BACK | PSWIZB_NEXT : PSWIZB_BACK);
}

static void onAdd(HWND page, Converter* c) {
    char* buffer = (char*)HeapAlloc(GetProcessHeap(), 0, selectionCapacity);
    if (!buffer) {
        return;
    }
    if (chooseWaveFiles(page, buffer, selectionCapacity)) {
        Refusals refusals;
        const char* next = buffer + lstrlenA(buffer) + 1;
        if (!*next) {
            addFile(page, c, nullptr, buffer, &refusals);
        }
        for (; *next; next += lstrlenA(next) + 1) {
            addFile(page, c, buffer, next, &refusals);
        }
        updateNext(page, c);
        refusals.tell(page);
    }
    HeapFree(GetProcessHeap(), 0, buffer);
}

// Files dropped from the file manager follow the dialog's rules: existing
// .wav files only, in the order given.
static void onDrop(HWND page, Converter* c, HDROP drop) {
    Refusals refusals;
    UINT count = DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; i++) {
        char path[MAX_PATH * 4];
        if (DragQueryFileA(drop, i, path, sizeof(path)) >= MAX_PATH) {
            refusals.tooLong.add(path);
            continue;
        }
        DWORD attributes = GetFileAttributesA(path);
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
            lstrcmpiA(PathFindExtensionA(path), ".wav") != 0) {
            refusals.notWave.add(path);
            continue;
        }
        addFile(page, c, nullptr, path, &refusals);
    }
    DragFinish(drop);
    updateNext(page, c);
    refusals.tell(page);
}

static LRESULT CALLBACK fileListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam,
                                     UINT_PTR, DWORD_PTR) {
    if (message == WM_DROPFILES) {
        HWND page = GetParent(list);
        onDrop(page, pageConverter(page), (HDROP)wParam);
        return 0;
    }
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(list, fileListProc, 0);
    }
    return DefSubclassProc(list, message, wParam, lParam);
}

static void onRemove(HWND page, Converter* c) {
    LRESULT k = SendDlgItemMessageA(page, IDC_FILE_LIST, LB_GETCURSEL, 0, 0);
    if (k < 0 || (unsigned)k >= c->sourceFiles.count()) {
        return;
    }
    c->sourceFiles.remove(c->sourceFiles.nodeAt((unsigned)k));
    SendDlgItemMessageA(page, IDC_FILE_LIST, LB_DELETESTRING, (WPARAM)k, 0);
    SendDlgItemMessageA(page, IDC_FILE_LIST, LB_SETCURSEL, (WPARAM)-1, 0);
    EnableWindow(GetDlgItem(page, IDC_REMOVE_FILE), FALSE);
    if (!c->sourceFiles.count()) {
        setWizardButtons(page, PSWIZB_BACK);
    }
}

static void onCommand(HWND page, Converter* c, WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case IDC_ADD_FILES:
        onAdd(page, c);
        break;
    case IDC_REMOVE_FILE:
        onRemove(page, c);
        break;
    case IDC_FILE_LIST:
        if (HIWORD(wParam) == LBN_SELCHANGE && !IsWindowEnabled(GetDlgItem(page, IDC_REMOVE_FILE))) {
            EnableWindow(GetDlgItem(page, IDC_REMOVE_FILE), TRUE);
        }
        break;
    }
}

static INT_PTR onNotify(HWND page, Converter* c, const NMHDR* header) {
    switch (header->code) {
    case PSN_SETACTIVE:
        c->setOwnerWindow(page);
        updateNext(page, c);
        return 0;
    case PSN_WIZNEXT:
        return pageResult(page, IDD_DESTINATION);
    }
    return 0;
}

INT_PTR CALLBACK WaveFilesPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        attachConverter(page, lParam);
        addTooltips(page, tooltips, sizeof(tooltips) / sizeof(tooltips[0]));
        HWND list = GetDlgItem(page, IDC_FILE_LIST);
        SetWindowSubclass(list, fileListProc, 0, 0);
        DragAcceptFiles(list, TRUE);
        return 0;
    }
    case WM_COMMAND:
        onCommand(page, pageConverter(page), wParam);
        return 0;
    case WM_NOTIFY:
        return onNotify(page, pageConverter(page), (const NMHDR*)lParam);
    }
    return 0;
}
