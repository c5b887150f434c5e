#include <windows.h>
#include <commctrl.h>
#include <prsht.h>

#include "cdrom/CdRom.h"
#include "core/Converter.h"
#include "pages/PageCommon.h"
#include "pages/Pages.h"
#include "res/resource.h"

static const Tooltip tooltips[] = {
    {IDC_DRIVE_BOX, "Sélectionnez le lecteur où se trouve le CD à extraire."},
    {IDC_ADD_TRACKS, "Permet d'ajouter les pistes sélectionnés dans la liste des pistes à "
                     "encoder."},
    {IDC_REMOVE_TRACKS, "Permet de retirer les pistes sélectionnés dans la liste des pistes à "
                        "encoder."},
    {IDC_ADD_ALL_TRACKS, "Permet d'ajouter toutes les pistes dans la liste des pistes à "
                         "encoder."},
    {IDC_REMOVE_ALL_TRACKS, "Permet de retirer toutes les pistes dans la liste des pistes à "
                            "encoder."},
};

static HWND item(HWND page, int id) {
    return GetDlgItem(page, id);
}

static int itemCount(HWND page, int listId) {
    LRESULT count = SendDlgItemMessageA(page, listId, LB_GETCOUNT, 0, 0);
    return count > 0 ? (int)count : 0;
}

static void updateWizardButtons(HWND page) {
    setWizardButtons(page, itemCount(page, IDC_CHOSEN_TRACKS) ? PSWIZB_BACK | PSWIZB_NEXT
                                                              : PSWIZB_BACK);
}

// "\\.\D:" from the first two characters of the drive box.
static void chosenDevicePath(HWND page, char* path) {
    char drive[3];
    GetDlgItemTextA(page, IDC_DRIVE_BOX, drive, sizeof(drive));
    wsprintfA(path, "\\\\.\\%s", drive);
}

// Moves line `index` of one list into the other, text and track together;
// the sorted target puts it in track order.
static void moveTrack(HWND source, HWND target, int index) {
    char text[64];
    if (SendMessageA(source, LB_GETTEXTLEN, index, 0) >= (LRESULT)sizeof(text)) {
        return;
    }
    SendMessageA(source, LB_GETTEXT, index, (LPARAM)text);
    LRESULT track = SendMessageA(source, LB_GETITEMDATA, index, 0);
    LRESULT added = SendMessageA(target, LB_ADDSTRING, 0, (LPARAM)text);
    if (added < 0) {
        return;  // left where it was rather than lost
    }
    SendMessageA(target, LB_SETITEMDATA, added, track);
    SendMessageA(source, LB_DELETESTRING, index, 0);
}

// Moves the selected lines, the last first so that no index still to move
// shifts; 0 when nothing was selected.
static int moveSelected(HWND page, int sourceId, int targetId) {
    int selected[256];
    LRESULT count = SendDlgItemMessageA(page, sourceId, LB_GETSELITEMS, 256, (LPARAM)selected);
    if (count <= 0) {
        return 0;
    }
    for (int k = (int)count - 1; k >= 0; k--) {
        moveTrack(item(page, sourceId), item(page, targetId), selected[k]);
    }
    SendDlgItemMessageA(page, sourceId, LB_SETSEL, FALSE, -1);
    return 1;
}

static int moveAll(HWND page, int sourceId, int targetId) {
    int count = itemCount(page, sourceId);
    for (int k = count - 1; k >= 0; k--) {
        moveTrack(item(page, sourceId), item(page, targetId), k);
    }
    return count > 0;
}

static void disable(HWND page, int id) {
    EnableWindow(item(page, id), FALSE);
}

// Enables a button that was disabled; 1 when it was.
static int enableIfDisabled(HWND page, int id) {
    if (IsWindowEnabled(item(page, id))) {
        return 0;
    }
    EnableWindow(item(page, id), TRUE);
    return 1;
}

static void addSelectedTracks(HWND page) {
    disable(page, IDC_ADD_TRACKS);
    if (!moveSelected(page, IDC_DISC_TRACKS, IDC_CHOSEN_TRACKS)) {
        return;
    }
    if (enableIfDisabled(page, IDC_REMOVE_ALL_TRACKS)) {
        setWizardButtons(page, PSWIZB_BACK | PSWIZB_NEXT);
    }
    if (!itemCount(page, IDC_DISC_TRACKS)) {
        disable(page, IDC_ADD_ALL_TRACKS);
    }
}

static void addAllTracks(HWND page) {
    disable(page, IDC_ADD_TRACKS);
    disable(page, IDC_ADD_ALL_TRACKS);
    if (moveAll(page, IDC_DISC_TRACKS, IDC_CHOSEN_TRACKS) &&
        enableIfDisabled(page, IDC_REMOVE_ALL_TRACKS)) {
        setWizardButtons(page, PSWIZB_BACK | PSWIZB_NEXT);
    }
}

static void removeSelectedTracks(HWND page) {
    disable(page, IDC_REMOVE_TRACKS);
    if (!moveSelected(page, IDC_CHOSEN_TRACKS, IDC_DISC_TRACKS)) {
        return;
    }
    enableIfDisabled(page, IDC_ADD_ALL_TRACKS);
    if (!itemCount(page, IDC_CHOSEN_TRACKS)) {
        disable(page, IDC_REMOVE_ALL_TRACKS);
        setWizardButtons(page, PSWIZB_BACK);
    }
}

static void removeAllTracks(HWND page) {
    disable(page, IDC_REMOVE_TRACKS);
    disable(page, IDC_REMOVE_ALL_TRACKS);
    if (moveAll(page, IDC_CHOSEN_TRACKS, IDC_DISC_TRACKS)) {
        enableIfDisabled(page, IDC_ADD_ALL_TRACKS);
        setWizardButtons(page, PSWIZB_BACK);
    }
}

static void onDriveChange(HWND page) {
    char path[8];
    chosenDevicePath(page, path);
    listDiscTracks(page, IDC_DISC_TRACKS, path, 1);
    SendDlgItemMessageA(page, IDC_CHOSEN_TRACKS, LB_RESETCONTENT, 0, 0);
    EnableWindow(item(page, IDC_ADD_ALL_TRACKS), itemCount(page, IDC_DISC_TRACKS) > 0);
    disable(page, IDC_REMOVE_ALL_TRACKS);
    disable(page, IDC_ADD_TRACKS);
    disable(page, IDC_REMOVE_TRACKS);
    updateWizardButtons(page);
}

static void onCommand(HWND page, WPARAM wParam) {
    int code = HIWORD(wParam);
    switch (LOWORD(wParam)) {
    case IDC_DRIVE_BOX:
        if (code == CBN_SELCHANGE) {
            onDriveChange(page);
        }
        break;
    case IDC_DISC_TRACKS:
        if (code == LBN_SELCHANGE) {
            enableIfDisabled(page, IDC_ADD_TRACKS);
        }
        break;
    case IDC_CHOSEN_TRACKS:
        if (code == LBN_SELCHANGE) {
            enableIfDisabled(page, IDC_REMOVE_TRACKS);
        }
        break;
    case IDC_ADD_TRACKS:
        addSelectedTracks(page);
        break;
    case IDC_REMOVE_TRACKS:
        removeSelectedTracks(page);
        break;
    case IDC_ADD_ALL_TRACKS:
        addAllTracks(page);
        break;
    case IDC_REMOVE_ALL_TRACKS:
        removeAllTracks(page);
        break;
    }
}

// The right-hand list, in track order, becomes the job's list.
static void storeChoice(HWND page, Converter* c) {
    char path[8];
    chosenDevicePath(page, path);
    c->setCdDevicePath(path);
    c->selectedTracks.clear();
    int count = itemCount(page, IDC_CHOSEN_TRACKS);
    for (int k = 0; k < count; k++) {
        int track = (int)SendDlgItemMessageA(page, IDC_CHOSEN_TRACKS, LB_GETITEMDATA, k, 0);
        c->selectedTracks.append(&track);
    }
}

static INT_PTR onNotify(HWND page, Converter* c, const NMHDR* header) {
    switch (header->code) {
    case PSN_SETACTIVE:
        updateWizardButtons(page);
        return 0;
    case PSN_WIZBACK:
        return pageResult(page, IDD_WELCOME);
    case PSN_WIZNEXT:
        storeChoice(page, c);
        return 0;
    }
    return 0;
}

INT_PTR CALLBACK CdTracksPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        attachConverter(page, lParam);
        listCdDrives(page, IDC_DRIVE_BOX, IDC_DISC_TRACKS);
        EnableWindow(item(page, IDC_ADD_ALL_TRACKS), itemCount(page, IDC_DISC_TRACKS) > 0);
        addTooltips(page, tooltips, sizeof(tooltips) / sizeof(tooltips[0]));
        return 0;
    case WM_COMMAND:
        onCommand(page, wParam);
        return 0;
    case WM_NOTIFY:
        return onNotify(page, pageConverter(page), (const NMHDR*)lParam);
    }
    return 0;
}
