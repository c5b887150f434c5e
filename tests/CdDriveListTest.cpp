#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "cdrom/CdRom.h"
#include "tests/sim/SimMachine.h"

namespace {

const int driveBoxId = 1020;
const int trackListId = 1021;

// The track page's two controls in a hidden window: a drop-down list and a
// sorted list box.
class CdDriveList : public ::testing::Test {
protected:
    void SetUp() override {
        simReset();
        page = CreateWindowA("STATIC", "", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                             nullptr, GetModuleHandleA(nullptr), nullptr);
        CreateWindowA("COMBOBOX", "", WS_CHILD | CBS_DROPDOWNLIST, 0, 0, 100, 200, page,
                      (HMENU)(INT_PTR)driveBoxId, GetModuleHandleA(nullptr), nullptr);
        CreateWindowA("LISTBOX", "", WS_CHILD | LBS_SORT, 0, 30, 300, 200, page,
                      (HMENU)(INT_PTR)trackListId, GetModuleHandleA(nullptr), nullptr);
    }
    void TearDown() override {
        DestroyWindow(page);
        EXPECT_EQ(simOpenVolumes(), 0);
    }

    std::vector<std::string> drives() const {
        std::vector<std::string> items;
        int count = (int)SendDlgItemMessageA(page, driveBoxId, CB_GETCOUNT, 0, 0);
        for (int i = 0; i < count; i++) {
            char text[16] = "";
            SendDlgItemMessageA(page, driveBoxId, CB_GETLBTEXT, i, (LPARAM)text);
            items.push_back(text);
        }
        return items;
    }
    int selectedDrive() const {
        return (int)SendDlgItemMessageA(page, driveBoxId, CB_GETCURSEL, 0, 0);
    }
    std::vector<std::string> tracks() const {
        std::vector<std::string> items;
        int count = (int)SendDlgItemMessageA(page, trackListId, LB_GETCOUNT, 0, 0);
        for (int i = 0; i < count; i++) {
            char text[64] = "";
            SendDlgItemMessageA(page, trackListId, LB_GETTEXT, i, (LPARAM)text);
            items.push_back(text);
        }
        return items;
    }
    LRESULT trackData(int item) const {
        return SendDlgItemMessageA(page, trackListId, LB_GETITEMDATA, item, 0);
    }
    void addOldTrackLine() {
        SendDlgItemMessageA(page, trackListId, LB_ADDSTRING, 0, (LPARAM)"old");
    }

    HWND page;
};

}  // namespace

TEST_F(CdDriveList, TheFirstDriveWithAReadableDiscIsListedAndSelected) {
    simAddDrive('C', DRIVE_FIXED);
    simAddDrive('E');
    simAddDrive('G');
    simInsertDisc('G', simDisc(1, {75 * 61, 75 * 5}));
    EXPECT_EQ(listCdDrives(page, driveBoxId, trackListId), 2);
    EXPECT_EQ(drives(), std::vector<std::string>({"E:\\", "G:\\"}));
    EXPECT_EQ(selectedDrive(), 1);
    EXPECT_EQ(tracks(), std::vector<std::string>({"  Piste  01      1 ' 01",
                                                  "  Piste  02      0 ' 05"}));
}

TEST_F(CdDriveList, WithTwoDiscsOnlyTheFirstDrivesTracksAreListed) {
    simAddDrive('E');
    simAddDrive('G');
    simInsertDisc('E', simDisc(1, {75 * 10}));
    simInsertDisc('G', simDisc(1, {75 * 20, 75 * 30}));
    EXPECT_EQ(listCdDrives(page, driveBoxId, trackListId), 2);
    EXPECT_EQ(drives(), std::vector<std::string>({"E:\\", "G:\\"}));
    EXPECT_EQ(selectedDrive(), 0);
    EXPECT_EQ(tracks(), std::vector<std::string>({"  Piste  01      0 ' 10"}));
}

TEST_F(CdDriveList, WithoutAReadableDiscTheListIsLeftAsItWas) {
    addOldTrackLine();
    EXPECT_EQ(listCdDrives(page, driveBoxId, trackListId), 0) << "no drive at all";
    simAddDrive('C', DRIVE_FIXED);
    simAddDrive('F', DRIVE_REMOTE);
    EXPECT_EQ(listCdDrives(page, driveBoxId, trackListId), 0) << "no CD-ROM drive";
    EXPECT_TRUE(drives().empty());
    EXPECT_EQ(selectedDrive(), CB_ERR);

    simAddDrive('E');
    simAddDrive('H');
    simInsertDisc('H', simDisc(1, {100}));
    simDrive('H')->tocFails = true;
    EXPECT_EQ(listCdDrives(page, driveBoxId, trackListId), 2);
    EXPECT_EQ(drives(), std::vector<std::string>({"E:\\", "H:\\"}));
    EXPECT_EQ(selectedDrive(), 0);
    EXPECT_EQ(tracks(), std::vector<std::string>({"old"}));

    // Picking a drive empties the list first, disc or not.
    EXPECT_EQ(listDiscTracks(page, trackListId, "\\\\.\\E:", 1), 0);
    EXPECT_TRUE(tracks().empty());
    addOldTrackLine();
    EXPECT_EQ(listDiscTracks(page, trackListId, "\\\\.\\E:", 0), 0);
    EXPECT_EQ(tracks(), std::vector<std::string>({"old"}));
}

TEST_F(CdDriveList, TrackLinesShowPositionAndWholeSecondDuration) {
    simAddDrive('D');
    std::vector<DWORD> lengths(12, 75 * 62);
    lengths[0] = 15375 - 74;
    SimDisc disc = simDisc(7, lengths, 74);
    ASSERT_EQ(disc.entries[0].seconds, 2);
    ASSERT_EQ(disc.entries[0].frames, 74);
    ASSERT_EQ(disc.entries[1].minutes, 3);
    ASSERT_EQ(disc.entries[1].seconds, 27);
    ASSERT_EQ(disc.entries[1].frames, 0);
    simInsertDisc('D', disc);
    addOldTrackLine();
    ASSERT_EQ(listDiscTracks(page, trackListId, "\\\\.\\D:", 0), 1);
    std::vector<std::string> lines = tracks();
    ASSERT_EQ(lines.size(), 12u);
    // 00:02:74 to 03:27:00 is 3 minutes 24 seconds and a frame; the line
    // shows the difference of the whole seconds.
    EXPECT_EQ(lines[0], "  Piste  01      3 ' 25");
    EXPECT_EQ(lines[2], "  Piste  03      1 ' 02");
    EXPECT_EQ(lines[11], "  Piste  12      1 ' 02");
    // Sorted by the list box, the lines stay in disc order with their index.
    for (int item = 0; item < 12; item++) {
        EXPECT_EQ(trackData(item), item);
    }

    SimDisc second = simDisc(1, {100});
    simSetEntry(&second, 0, 0, 2, 0);
    simSetEntry(&second, 1, 4, 35, 10);
    simInsertDisc('D', second);
    ASSERT_EQ(listDiscTracks(page, trackListId, "\\\\.\\D:", 1), 1);
    EXPECT_EQ(tracks(), std::vector<std::string>({"  Piste  01      4 ' 33"}));

    std::vector<DWORD> many(99, 75 * 2);
    simInsertDisc('D', simDisc(1, many));
    ASSERT_EQ(listDiscTracks(page, trackListId, "\\\\.\\D:", 1), 1);
    lines = tracks();
    ASSERT_EQ(lines.size(), 99u);
    EXPECT_EQ(lines[98], "  Piste  99      0 ' 02");
    EXPECT_EQ(trackData(98), 98);
}
