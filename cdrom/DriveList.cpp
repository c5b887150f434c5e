#include <shlwapi.h>

#include "cdrom/CdDevice.h"
#include "cdrom/CdRom.h"

int listCdDrives(HWND page, int driveBoxId, int trackListId) {
    DWORD mask = cdLogicalDrives();
    if (mask == 0) {
        return 0;
    }
    char root[4];
    lstrcpyA(root, "A:\\");
    int count = 0;
    int selection = 0;
    bool selected = false;
    for (; mask != 0 && root[0] <= 'Z'; mask >>= 1, root[0]++) {
        if (!(mask & 1) || cdDriveType(root) != DRIVE_CDROM) {
            continue;
        }
        SendDlgItemMessageA(page, driveBoxId, CB_ADDSTRING, 0, (LPARAM)root);
        if (!selected) {
            char devicePath[8];
            wsprintfA(devicePath, "\\\\.\\%s", root);
            PathRemoveBackslashA(devicePath);
            if (listDiscTracks(page, trackListId, devicePath, 0)) {
                selection = count;
                selected = true;
            }
        }
        count++;
    }
    if (count != 0) {
        SendDlgItemMessageA(page, driveBoxId, CB_SETCURSEL, selection, 0);
    }
    return count;
}

int listDiscTracks(HWND page, int trackListId, const char* devicePath, int clearFirst) {
    if (clearFirst) {
        SendDlgItemMessageA(page, trackListId, LB_RESETCONTENT, 0, 0);
    }
    HANDLE drive = cdOpenVolume(devicePath);
    if (drive == INVALID_HANDLE_VALUE) {
        return 0;
    }
    CDROM_TOC toc;
    int tocRead = readToc(drive, &toc);
    cdCloseVolume(drive);
    if (!tocRead) {
        return 0;
    }
    int count = tocTrackCount(&toc);
    if (!clearFirst) {
        SendDlgItemMessageA(page, trackListId, LB_RESETCONTENT, 0, 0);
    }
    for (int k = 0; k < count; k++) {
        const UCHAR* from = toc.TrackData[k].Address;
        const UCHAR* to = toc.TrackData[k + 1].Address;
        // Whole seconds of both addresses; the frames are left out.
        int seconds = (to[1] - from[1]) * 60 + (to[2] - from[2]);
        char line[64];
        wsprintfA(line, "  Piste  %02i      %i ' %02i", k + 1, seconds / 60, seconds % 60);
        LRESULT index = SendDlgItemMessageA(page, trackListId, LB_ADDSTRING, 0, (LPARAM)line);
        if (index >= 0) {
            SendDlgItemMessageA(page, trackListId, LB_SETITEMDATA, (WPARAM)index, k);
        }
    }
    return 1;
}
