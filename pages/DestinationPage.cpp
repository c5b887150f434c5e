#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <prsht.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "core/Converter.h"
#include "pages/PageCommon.h"
#include "pages/Pages.h"
#include "res/resource.h"

static const Tooltip tooltips[] = {
    {IDC_DESTINATION_FOLDER, "Editez le répertoire où les fichiers doivent être copiés.\r\n"
                             "Si le dossier n'existe pas Calbrune le crée automatiquement."},
    {IDC_BROWSE, "Permet d'afficher la liste des dossiers à sélectionner."},
    {IDC_SAVE_BESIDE_SOURCE, "En cochant cette case, les fichiers convertis sont placés dans le "
                             "répertoire où se trouve les fichiers d'origine."},
};

// Opens the browser on the current destination folder.
static int CALLBACK browseCallback(HWND window, UINT message, LPARAM, LPARAM data) {
    if (message == BFFM_INITIALIZED && data) {
        SendMessageA(window, BFFM_SETSELECTIONA, TRUE, data);
    }
    return 0;
}

// 1 with `path` holding the existing folder the user chose; 0 with `path`
// empty otherwise.
static int browseForFolder(HWND owner, char* path) {
    path[0] = '\0';
    CoInitialize(nullptr);
    IMalloc* allocator = nullptr;
    SHGetMalloc(&allocator);
    char displayName[MAX_PATH];
    BROWSEINFOA browse = {};
    browse.hwndOwner = owner;
    browse.pszDisplayName = displayName;
    browse.lpszTitle = "Choisir un dossier :";
    browse.ulFlags = BIF_DONTGOBELOWDOMAIN | BIF_NEWDIALOGSTYLE;
    browse.lpfn = browseCallback;
    browse.lParam = (LPARAM)pageConverter(owner)->destinationFolder();
    LPITEMIDLIST chosen = SHBrowseForFolderA(&browse);
    CoUninitialize();
    int result = 0;
    if (chosen) {
        if (SHGetPathFromIDListA(chosen, path) && PathIsDirectoryA(path)) {
            result = 1;
        } else {
            path[0] = '\0';
        }
        if (allocator) {
            allocator->Free(chosen);
        }
    }
    if (allocator) {
        allocator->Release();
    }
    return result;
}

static void enableFolderChoice(HWND page, BOOL enable) {
    EnableWindow(GetDlgItem(page, IDC_DESTINATION_FOLDER), enable);
    EnableWindow(GetDlgItem(page, IDC_BROWSE), enable);
}

static void onCommand(HWND page, Converter* c, WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case IDC_SAVE_BESIDE_SOURCE: {
        int beside = IsDlgButtonChecked(page, IDC_SAVE_BESIDE_SOURCE);
        enableFolderChoice(page, !beside);
        c->setSaveBesideSource(beside);
        break;
    }
    case IDC_BROWSE: {
        char folder[MAX_PATH];
        if (browseForFolder(page, folder)) {
            SetDlgItemTextA(page, IDC_DESTINATION_FOLDER, folder);
            c->setDestinationFolder(folder);
        }
        break;
    }
    case IDC_WARN_BEFORE_REPLACE:
        c->setReplaceWithoutAsking(!IsDlgButtonChecked(page, IDC_WARN_BEFORE_REPLACE));
        break;
    }
}

static void onSetActive(HWND page, Converter* c) {
    c->setOwnerWindow(page);
    setWizardButtons(page, PSWIZB_BACK | PSWIZB_NEXT);
    if (c->sourceKind() != 0) {
        // CD tracks always go to the destination folder.
        EnableWindow(GetDlgItem(page, IDC_SAVE_BESIDE_SOURCE), FALSE);
        enableFolderChoice(page, TRUE);
    } else {
        EnableWindow(GetDlgItem(page, IDC_SAVE_BESIDE_SOURCE), TRUE);
        CheckDlgButton(page, IDC_SAVE_BESIDE_SOURCE,
                       c->saveBesideSource() ? BST_CHECKED : BST_UNCHECKED);
        enableFolderChoice(page, !c->saveBesideSource());
    }
    CheckDlgButton(page, IDC_WARN_BEFORE_REPLACE,
                   c->replaceWithoutAsking() ? BST_UNCHECKED : BST_CHECKED);
    SetDlgItemTextA(page, IDC_DESTINATION_FOLDER, c->destinationFolder());
}

static INT_PTR onNotify(HWND page, Converter* c, const NMHDR* header) {
    switch (header->code) {
    case PSN_SETACTIVE:
        onSetActive(page, c);
        return 0;
    case PSN_WIZBACK:
        if (c->sourceKind() == 0) {
            return pageResult(page, IDD_WAVEFILES);
        }
        return 0;
    }
    return 0;
}

INT_PTR CALLBACK DestinationPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        attachConverter(page, lParam);
        addTooltips(page, tooltips, sizeof(tooltips) / sizeof(tooltips[0]));
        return 0;
    case WM_COMMAND:
        onCommand(page, pageConverter(page), wParam);
        return 0;
    case WM_NOTIFY:
        return onNotify(page, pageConverter(page), (const NMHDR*)lParam);
    }
    return 0;
}
