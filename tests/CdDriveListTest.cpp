#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "cdrom/CdRom.h"
#include "tests/sim/SimMachine.h"

namespace {

const int driveBoxId = 1020;
const int trackListId = 1021;
typedef std::vector<std::string> Lines;

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

    Lines items(int id, UINT countMessage, UINT textMessage) const {
        Lines found;
        int count = (int)SendDlgItemMessageA(page, id, countMessage, 0, 0);
        for (int i = 0; i < count; i++) {
            char text[64] = "";
            SendDlgItemMessageA(page, id, textMessage, i, (LPARAM)text);
            found.push_back(text);
        }
        return found;
    }
    Lines drives() const { return items(driveBoxId, CB_GETCOUNT, CB_GETLBTEXT); }
    Lines tracks() const { return items(trackListId, LB_GETCOUNT, LB_GETTEXT); }
    int selectedDrive() const {
        return (int)SendDlgItemMessageA(page, driveBoxId, CB_GETCURSEL, 0, 0);
    }
    LRESULT trackData(int item) const {
        return SendDlgItemMessageA(page, trackListId, LB_GETITEMDATA, item, 0);
    }
    void addOldTrackLine() {
        SendDlgItemMessageA(page, trackListId, LB_ADDSTRING, 0, (LPARAM)"old");
    }
    int listDrives() { return listCdDrives(page, driveBoxId, trackListId); }
    int listTracks(const char* device, int clearFirst) {
        return listDiscTracks(page, trackListId, device, clearFirst);
    }

    HWND page;
};

}  // namespace

TEST_F(CdDriveList, TheFirstDriveWithAReadableDiscIsListedAndSelected) {
    simAddDrive('C', DRIVE_FIXED);
    simAddDrive('E');
    simAddDrive('G');
    simInsertDisc('G', simDisc(1, {75 * 61, 75 * 5}));
    EXPECT_EQ(listDrives(), 2);
    EXPECT_EQ(drives(), Lines({"E:\\", "G:\\"}));
    EXPECT_EQ(selectedDrive(), 1);
    EXPECT_EQ(tracks(), Lines({"  Piste  01      1 ' 01", "  Piste  02      0 ' 05"}));
}

TEST_F(CdDriveList, WithTwoDiscsOnlyTheFirstDrivesTracksAreListed) {
    simAddDrive('E');
    simAddDrive('G');
    simInsertDisc('E', simDisc(1, {75 * 10}));
    simInsertDisc('G', simDisc(1, {75 * 20, 75 * 30}));
    EXPECT_EQ(listDrives(), 2);
    EXPECT_EQ(selectedDrive(), 0);
    EXPECT_EQ(tracks(), Lines({"  Piste  01      0 ' 10"}));
}

TEST_F(CdDriveList, WithoutAReadableDiscTheListIsLeftAsItWas) {
    addOldTrackLine();
    EXPECT_EQ(listDrives(), 0) << "no drive at all";
    simAddDrive('C', DRIVE_FIXED);
    simAddDrive('F', DRIVE_REMOTE);
    EXPECT_EQ(listDrives(), 0) << "no CD-ROM drive";
    EXPECT_TRUE(drives().empty());
    EXPECT_EQ(selectedDrive(), CB_ERR);

    simAddDrive('E');
    simAddDrive('H');
    simInsertDisc('H', simDisc(1, {100}));
    simDrive('H')->tocFails = true;
    EXPECT_EQ(listDrives(), 2);
    EXPECT_EQ(drives(), Lines({"E:\\", "H:\\"}));
    EXPECT_EQ(selectedDrive(), 0);
    EXPECT_EQ(tracks(), Lines({"old"}));

    // Picking a drive empties the list first, disc or not.
    EXPECT_EQ(listTracks("\\\\.\\E:", 1), 0);
    EXPECT_TRUE(tracks().empty());
    addOldTrackLine();
    EXPECT_EQ(listTracks("\\\\.\\E:", 0), 0);
    EXPECT_EQ(tracks(), Lines({"old"}));
}

TEST_F(CdDriveList, TrackLinesShowPositionAndWholeSecondDuration) {
    simAddDrive('D');
    // Twelve tracks from 00:02:74; the second starts at 03:27:00.
    std::vector<DWORD> lengths(12, 75 * 62);
    lengths[0] = 15375 - 74;
    simInsertDisc('D', simDisc(7, lengths, 74));
    addOldTrackLine();
    ASSERT_EQ(listTracks("\\\\.\\D:", 0), 1);
    Lines lines = tracks();
    ASSERT_EQ(lines.size(), 12u);
    // 3 minutes 24 seconds and a frame; the line shows the difference of the
    // whole seconds.
    EXPECT_EQ(lines[0], "  Piste  01      3 ' 25");
    EXPECT_EQ(lines[11], "  Piste  12      1 ' 02");
    // Sorted by the list box, the lines stay in disc order with their index.
    for (int item = 0; item < 12; item++) {
        EXPECT_EQ(trackData(item), item);
    }

    SimDisc second = simDisc(1, {100});
    simSetEntry(&second, 0, 0, 2, 0);
    simSetEntry(&second, 1, 4, 35, 10);
    simInsertDisc('D', second);
    ASSERT_EQ(listTracks("\\\\.\\D:", 1), 1);
    EXPECT_EQ(tracks(), Lines({"  Piste  01      4 ' 33"}));

    simInsertDisc('D', simDisc(1, std::vector<DWORD>(99, 75 * 2)));
    ASSERT_EQ(listTracks("\\\\.\\D:", 1), 1);
    lines = tracks();
    ASSERT_EQ(lines.size(), 99u);
    EXPECT_EQ(lines[98], "  Piste  99      0 ' 02");
    EXPECT_EQ(trackData(98), 98);
}
