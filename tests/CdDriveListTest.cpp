#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "cdrom/CdRom.h"
#include "tests/sim/SimMachine.h"

typedef std::vector<std::string> Lines;

// The drive box's lines, the selected one marked 1; or the track list's,
// each with its item data.
static Lines lines(HWND page, int id) {
    bool box = id == 1;
    Lines found;
    for (int i = 0; i < SendDlgItemMessageA(page, id, box ? CB_GETCOUNT : LB_GETCOUNT, 0, 0); i++) {
        char text[64] = "";
        SendDlgItemMessageA(page, id, box ? CB_GETLBTEXT : LB_GETTEXT, i, (LPARAM)text);
        LRESULT mark = SendDlgItemMessageA(page, id, box ? CB_GETCURSEL : LB_GETITEMDATA, i, 0);
        found.push_back(text + std::string(" #") + std::to_string(box ? mark == i : mark));
    }
    return found;
}

// The track page's drive box (1) and sorted track list (2), in a hidden window.
TEST(CdDriveList, TheFirstDriveWithAReadableDiscIsSelectedWithItsTracks) {
    simReset();
    HWND page = CreateWindowA("STATIC", "", 0, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
    CreateWindowA("COMBOBOX", "", WS_CHILD | CBS_DROPDOWNLIST, 0, 0, 100, 200, page, (HMENU)1,
                  nullptr, nullptr);
    CreateWindowA("LISTBOX", "", WS_CHILD | LBS_SORT, 0, 30, 300, 200, page, (HMENU)2, nullptr,
                  nullptr);
    SendDlgItemMessageA(page, 2, LB_ADDSTRING, 0, (LPARAM) "old");
    // Without a readable disc the track list is left as it was.
    EXPECT_EQ(listCdDrives(page, 1, 2), 0);
    simAddDrive('C', DRIVE_FIXED);
    simAddDrive('E');
    simInsertDisc(simAddDrive('H')->letter, simDisc(1, {100}));
    simDrive('H')->tocFails = true;
    EXPECT_EQ(listCdDrives(page, 1, 2), 2);
    EXPECT_EQ(lines(page, 1), Lines({"E:\\ #1", "H:\\ #0"}));
    EXPECT_EQ(lines(page, 2), Lines({"old #0"}));

    // Twelve tracks from 00:02:74; the second starts at 03:27:00, 3 minutes
    // 24 seconds and a frame later: the line shows the whole seconds' difference.
    std::vector<DWORD> lengths(12, 75 * 62);
    lengths[0] = 15375 - 74;
    simInsertDisc(simAddDrive('G')->letter, simDisc(7, lengths, 74));
    SendDlgItemMessageA(page, 1, CB_RESETCONTENT, 0, 0);
    EXPECT_EQ(listCdDrives(page, 1, 2), 3);
    EXPECT_EQ(lines(page, 1), Lines({"E:\\ #0", "G:\\ #1", "H:\\ #0"}));
    Lines tracks = lines(page, 2);
    ASSERT_EQ(tracks.size(), 12u);
    EXPECT_EQ(tracks[0], "  Piste  01      3 ' 25 #0");
    EXPECT_EQ(tracks[11], "  Piste  12      1 ' 02 #11");
    // Picking a drive empties the list first, disc or not.
    EXPECT_EQ(listDiscTracks(page, 2, "\\\\.\\E:", 1), 0);
    EXPECT_EQ(lines(page, 2), Lines());
    DestroyWindow(page);
    EXPECT_EQ(simOpenVolumes(), 0);
}
