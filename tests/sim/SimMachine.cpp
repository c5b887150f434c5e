#include "tests/sim/SimMachine.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "cdrom/CdDevice.h"
#include "cdrom/CdRom.h"

// Set up from CALBRUNE_SIMCD on first use.
SimMachine& sim() {
    static SimMachine* machine = nullptr;
    if (!machine) {
        machine = new SimMachine();
        const char* text = getenv("CALBRUNE_SIMCD");
        std::vector<DWORD> lengths;
        for (const char* at = text ? strchr(text, '=') : nullptr; at && *at; at = strchr(at, ',')) {
            lengths.push_back(strtoul(++at, nullptr, 10));
        }
        lengths.empty() ? (void)0 : (void)simAddDrive(text[0], simDisc(1, lengths));
    }
    return *machine;
}

namespace {

SimDrive* driveOf(char letter) {
    int i = (letter | 0x20) - 'a';
    return i >= 0 && i < 26 ? sim().drives[i].get() : nullptr;
}

// Volume handles carry their drive letter.
const ULONG_PTR handleBase = 0x5100;
SimDrive* driveOf(HANDLE volume) { return driveOf((char)((ULONG_PTR)volume - handleBase)); }

void discAudio(DWORD sector, DWORD count, BYTE* out) {
    for (DWORD s = sector; s < sector + count; s++, out += cdSectorBytes) {
        DWORD state = s * 2654435761u + 12345u;
        for (DWORD i = 0; i < cdSectorBytes; i++) {
            state = state * 1103515245u + 12345u;
            out[i] = (BYTE)(state >> 16);
        }
    }
}

// Only the track numbers and the MSF addresses are read.
BOOL answerToc(SimDrive* drive, CDROM_TOC* toc, DWORD* returned) {
    const SimDisc& disc = drive->disc;
    size_t count = std::min<size_t>(disc.starts.size(), 100);
    memset(toc, 0, sizeof(*toc));
    toc->FirstTrack = (UCHAR)disc.firstTrack;
    toc->LastTrack = (UCHAR)disc.lastTrack;
    for (size_t k = 0; k < count; k++) {
        DWORD frames = disc.starts[k] + 150;
        UCHAR msf[3] = {(UCHAR)(frames / 4500), (UCHAR)(frames / 75 % 60), (UCHAR)(frames % 75)};
        memcpy(toc->TrackData[k].Address + 1, msf, 3);
    }
    *returned = 4 + (DWORD)count * sizeof(TRACK_DATA) - drive->tocCut;
    return count != 0;
}

BOOL answerRawRead(SimDrive* drive, const RAW_READ_INFO& r, BYTE* output, DWORD outputSize, DWORD* returned) {
    const SimDisc& disc = drive->disc;
    drive->reads.push_back(r.SectorCount);
    LONG first = (LONG)(r.DiskOffset.QuadPart / cdCookedSectorBytes), end = first + (LONG)r.SectorCount;
    if (disc.starts.empty() || r.TrackMode != CDDA || r.DiskOffset.QuadPart < 0 ||
        r.DiskOffset.QuadPart % cdCookedSectorBytes || r.SectorCount == 0 || r.SectorCount > 64 ||
        end > (LONG)disc.starts.back() || outputSize < r.SectorCount * cdSectorBytes ||
        (drive->failReadAt >= first && drive->failReadAt < end)) {
        return FALSE;
    }
    bool cut = drive->shortReadAt >= first && drive->shortReadAt < end;
    DWORD sectors = cut ? (DWORD)(drive->shortReadAt - first) : r.SectorCount;
    discAudio((DWORD)first, sectors + cut, output);
    *returned = sectors * cdSectorBytes + (cut ? cdSectorBytes / 2 : 0);
    return TRUE;
}

}  // namespace

SimDisc simDisc(int firstTrack, const std::vector<DWORD>& trackSectors) {
    SimDisc disc = {firstTrack, firstTrack + (int)trackSectors.size() - 1, {0}};
    for (DWORD length : trackSectors) {
        disc.starts.push_back(disc.starts.back() + length);
    }
    return disc;
}

std::vector<BYTE> simTrackAudio(const SimDisc& disc, int k) {
    std::vector<BYTE> audio((size_t)(disc.starts[k + 1] - disc.starts[k]) * cdSectorBytes);
    discAudio(disc.starts[k], disc.starts[k + 1] - disc.starts[k], audio.data());
    return audio;
}

SimDrive* simAddDrive(char letter, const SimDisc& disc, UINT type) {
    SimDrive* drive = new SimDrive();
    drive->type = type, drive->disc = disc;
    sim().drives[(letter | 0x20) - 'a'].reset(drive);
    return drive;
}

HANDLE cdOpenVolume(const char* devicePath) {
    bool named = devicePath && strlen(devicePath) == 6 && strncmp(devicePath, "\\\\.\\", 4) == 0 && devicePath[5] == ':';
    SimDrive* drive = named ? driveOf(devicePath[4]) : nullptr;
    if (!drive || drive->type != DRIVE_CDROM) {
        return INVALID_HANDLE_VALUE;
    }
    sim().openVolumes++;
    return (HANDLE)(handleBase + (devicePath[4] & ~0x20));
}

void cdCloseVolume(HANDLE volume) { sim().openVolumes -= driveOf(volume) != nullptr; }

BOOL cdDeviceIoControl(HANDLE volume, DWORD code, void* input, DWORD inputSize, void* output, DWORD outputSize,
                       DWORD* returned) {
    SimDrive* drive = driveOf(volume);
    *returned = 0;
    const BYTE msfRequest[4] = {0x80, 0, 0, 0};
    if (drive && code == IOCTL_CDROM_READ_TOC_EX && inputSize == 4 && memcmp(input, msfRequest, 4) == 0 &&
        outputSize >= sizeof(CDROM_TOC)) {
        return answerToc(drive, (CDROM_TOC*)output, returned);
    }
    if (!drive || code != IOCTL_CDROM_RAW_READ || inputSize != sizeof(RAW_READ_INFO)) {
        return FALSE;
    }
    BOOL ok = answerRawRead(drive, *(const RAW_READ_INFO*)input, (BYTE*)output, outputSize, returned);
    drive->afterRead ? drive->afterRead((int)drive->reads.size()) : (void)0;
    return ok;
}

DWORD cdLogicalDrives() {
    DWORD mask = 0;
    for (int i = 0; i < 26; i++) {
        mask |= (DWORD)(sim().drives[i] != nullptr) << i;
    }
    return mask;
}

UINT cdDriveType(const char* rootPath) {
    SimDrive* drive = rootPath && strlen(rootPath) == 3 && !strcmp(rootPath + 1, ":\\") ? driveOf(rootPath[0]) : nullptr;
    return drive ? drive->type : DRIVE_NO_ROOT_DIR;
}

// The buffer ends where an inaccessible page begins: a write past its end faults at once.
BYTE* cdAllocTrackBuffer(SIZE_T size) {
    const SIZE_T page = 4096, rounded = (size + page - 1) / page * page;
    DWORD old;
    BYTE* base = size && (!sim().memoryLimit || size <= sim().memoryLimit)
                     ? (BYTE*)VirtualAlloc(nullptr, rounded + page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE) : nullptr;
    if (!base || !VirtualProtect(base + rounded, page, PAGE_NOACCESS, &old)) {
        return nullptr;
    }
    sim().trackBuffers++;
    return base + rounded - size;
}

void cdFreeTrackBuffer(BYTE* buffer) {
    MEMORY_BASIC_INFORMATION info;
    if (buffer && VirtualQuery(buffer, &info, sizeof(info)) && VirtualFree(info.AllocationBase, 0, MEM_RELEASE)) {
        sim().trackBuffers--;
    }
}
