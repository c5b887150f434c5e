#include "tests/sim/SimMachine.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <memory>
#include <sstream>

#include "cdrom/CdDevice.h"
#include "cdrom/CdRom.h"
#include "core/Converter.h"

namespace {

struct Machine {
    std::vector<std::unique_ptr<SimDrive>> drives;
    SIZE_T memoryLimit = 0;
    bool configured = false;
};

std::atomic<int> openVolumes(0), trackBuffers(0);

// Set up from CALBRUNE_SIMCD on first use, unless a test sets it up first.
Machine& machine() {
    static Machine m;
    if (!m.configured) {
        m.configured = true;
        simConfigure(getenv("CALBRUNE_SIMCD"));
    }
    return m;
}

// Volume handles carry their drive letter.
const ULONG_PTR handleBase = 0x5100;

SimDrive* driveOf(HANDLE volume) {
    ULONG_PTR value = (ULONG_PTR)volume - handleBase;
    return value >= 'A' && value <= 'Z' ? simDrive((char)value) : nullptr;
}

LONG entrySector(const SimDisc& disc, size_t k) {
    const SimEntry& e = disc.entries[k];
    return e.minutes * 4500L + e.seconds * 75L + e.frames - 150L;
}

BOOL answerToc(SimDrive* drive, CDROM_TOC* toc, DWORD* returned) {
    const SimDisc& disc = drive->disc;
    if (disc.entries.empty() || drive->tocFails) {
        return FALSE;
    }
    // Only the track numbers and the addresses are read.
    memset(toc, 0, sizeof(*toc));
    size_t count = disc.entries.size() < 100 ? disc.entries.size() : 100;
    toc->FirstTrack = (UCHAR)disc.firstTrack;
    toc->LastTrack = (UCHAR)disc.lastTrack;
    for (size_t k = 0; k < count; k++) {
        memcpy(toc->TrackData[k].Address + 1, &disc.entries[k], 3);
    }
    *returned = 4 + (DWORD)count * sizeof(TRACK_DATA) - drive->tocCut;
    return TRUE;
}

BOOL answerRawRead(SimDrive* drive, const RAW_READ_INFO& r, BYTE* output, DWORD outputSize,
                   DWORD* returned) {
    const SimDisc& disc = drive->disc;
    drive->reads.push_back({r.DiskOffset.QuadPart, r.SectorCount});
    LONG first = (LONG)(r.DiskOffset.QuadPart / cdCookedSectorBytes);
    LONG end = first + (LONG)r.SectorCount;
    if (disc.entries.empty() || r.TrackMode != CDDA || r.DiskOffset.QuadPart < 0 ||
        r.DiskOffset.QuadPart % cdCookedSectorBytes != 0 || r.SectorCount == 0 || r.SectorCount > 64 ||
        end > entrySector(disc, disc.entries.size() - 1) ||
        outputSize < r.SectorCount * cdSectorBytes ||
        (drive->failReadAt >= first && drive->failReadAt < end)) {
        return FALSE;
    }
    bool cut = drive->shortReadAt >= first && drive->shortReadAt < end;
    DWORD sectors = cut ? (DWORD)(drive->shortReadAt - first) : r.SectorCount;
    simDiscAudio(disc, (DWORD)first, sectors + cut, output);
    *returned = sectors * cdSectorBytes + (cut ? cdSectorBytes / 2 : 0);
    return TRUE;
}

// One track per file of 16-bit stereo at 44100 Hz, padded with silence to
// whole sectors; no disc when a file is not of that kind.
SimDisc discFromWavs(const std::vector<std::string>& paths) {
    std::vector<DWORD> lengths;
    std::vector<BYTE> audio;
    for (const std::string& path : paths) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        // The header step leaves the file at its first sample.
        Converter c;
        BE_CONFIG config;
        DWORD size = 0, got = 0;
        bool cdAudio = file != INVALID_HANDLE_VALUE && c.prepareEncoderConfig(&config, &size, file) &&
                       config.dwSampleRate == 44100 && config.nMode == BE_MP3_MODE_JSTEREO &&
                       c.inputSamples() == Converter::InputS16;
        lengths.push_back((size + cdSectorBytes - 1) / cdSectorBytes);
        audio.resize(audio.size() + lengths.back() * cdSectorBytes);
        cdAudio = cdAudio && ReadFile(file, &audio[audio.size() - lengths.back() * cdSectorBytes],
                                      size, &got, nullptr) && got == size;
        CloseHandle(file);
        if (!cdAudio) {
            return SimDisc();
        }
    }
    SimDisc disc = simDisc(1, lengths);
    disc.audio = audio;
    return disc;
}

}  // namespace

SimDisc simDisc(int firstTrack, const std::vector<DWORD>& trackSectors, DWORD firstSector) {
    SimDisc disc = {firstTrack, firstTrack + (int)trackSectors.size() - 1, {}, {}};
    DWORD frames = firstSector + 150;
    for (size_t k = 0; k <= trackSectors.size(); k++) {
        disc.entries.push_back({(BYTE)(frames / 4500), (BYTE)(frames / 75 % 60), (BYTE)(frames % 75)});
        frames += k < trackSectors.size() ? trackSectors[k] : 0;
    }
    return disc;
}

void simDiscAudio(const SimDisc& disc, DWORD sector, DWORD count, BYTE* out) {
    for (DWORD s = sector; s < sector + count; s++, out += cdSectorBytes) {
        DWORD state = s * 2654435761u + 12345u;
        for (DWORD i = 0; i < cdSectorBytes; i++) {
            state = state * 1103515245u + 12345u;
            size_t at = (size_t)s * cdSectorBytes + i;
            out[i] = at < disc.audio.size() ? disc.audio[at] : (BYTE)(state >> 16);
        }
    }
}

std::vector<BYTE> simTrackAudio(const SimDisc& disc, int track) {
    LONG start = entrySector(disc, track), end = entrySector(disc, track + 1);
    std::vector<BYTE> audio((size_t)(end > start ? end - start : 0) * cdSectorBytes);
    simDiscAudio(disc, (DWORD)start, (DWORD)(audio.size() / cdSectorBytes), audio.data());
    return audio;
}

void simReset() {
    machine().drives.clear();
    machine().memoryLimit = 0;
    openVolumes = 0;
    trackBuffers = 0;
}

SimDrive* simAddDrive(char letter, UINT type) {
    SimDrive* drive = simDrive(letter);
    if (!drive) {
        machine().drives.emplace_back(new SimDrive());
        drive = machine().drives.back().get();
    }
    *drive = SimDrive();
    drive->letter = letter;
    drive->type = type;
    drive->failReadAt = drive->shortReadAt = -1;
    return drive;
}

SimDrive* simDrive(char letter) {
    for (auto& drive : machine().drives) {
        if (drive->letter == letter) {
            return drive.get();
        }
    }
    return nullptr;
}

void simInsertDisc(char letter, const SimDisc& disc) { simDrive(letter)->disc = disc; }
void simSetMemoryLimit(SIZE_T bytes) { machine().memoryLimit = bytes; }
int simOpenVolumes() { return openVolumes; }
int simTrackBuffers() { return trackBuffers; }

int simConfigure(const char* text) {
    simReset();
    std::istringstream items(text ? text : "");
    for (std::string item; std::getline(items, item, ';');) {
        if (!isupper((BYTE)item[0]) || (item.size() > 1 && item[1] != '=')) {
            return 0;
        }
        simAddDrive(item[0]);
        std::string spec = item.size() > 1 ? item.substr(2) : "";
        bool wavs = spec.compare(0, 4, "wav:") == 0;
        size_t slash = spec.find('/');
        int first = wavs || slash == std::string::npos ? 1 : atoi(spec.c_str());
        std::istringstream list(spec.substr(wavs ? 4 : slash + 1));
        std::vector<std::string> paths;
        std::vector<DWORD> lengths;
        for (std::string part; std::getline(list, part, wavs ? '|' : ',');) {
            paths.push_back(part);
            lengths.push_back(strtoul(part.c_str(), nullptr, 10));
        }
        SimDisc disc = wavs ? discFromWavs(paths) : simDisc(first, lengths);
        if (!spec.empty() && (disc.entries.size() < 2 || first < 1)) {
            return 0;
        }
        simInsertDisc(item[0], spec.empty() ? SimDisc() : disc);
    }
    return 1;
}

HANDLE cdOpenVolume(const char* devicePath) {
    bool named = devicePath && strlen(devicePath) == 6 && strncmp(devicePath, "\\\\.\\", 4) == 0 &&
                 devicePath[5] == ':';
    SimDrive* drive = named ? simDrive((char)toupper(devicePath[4])) : nullptr;
    if (!drive || drive->type != DRIVE_CDROM) {
        return INVALID_HANDLE_VALUE;
    }
    openVolumes++;
    return (HANDLE)(handleBase + (BYTE)drive->letter);
}

void cdCloseVolume(HANDLE volume) {
    openVolumes -= driveOf(volume) != nullptr;
}

BOOL cdDeviceIoControl(HANDLE volume, DWORD code, void* input, DWORD inputSize, void* output,
                       DWORD outputSize, DWORD* returned) {
    SimDrive* drive = driveOf(volume);
    *returned = 0;
    const BYTE msfRequest[4] = {0x80, 0, 0, 0};
    if (drive && code == IOCTL_CDROM_READ_TOC_EX && inputSize == 4 &&
        memcmp(input, msfRequest, 4) == 0 && outputSize >= sizeof(CDROM_TOC)) {
        return answerToc(drive, (CDROM_TOC*)output, returned);
    }
    if (!drive || code != IOCTL_CDROM_RAW_READ || inputSize != sizeof(RAW_READ_INFO)) {
        return FALSE;
    }
    BOOL ok = answerRawRead(drive, *(const RAW_READ_INFO*)input, (BYTE*)output, outputSize, returned);
    if (drive->afterRead) {
        drive->afterRead((int)drive->reads.size());
    }
    return ok;
}

DWORD cdLogicalDrives() {
    DWORD mask = 0;
    for (auto& drive : machine().drives) {
        mask |= 1u << (drive->letter - 'A');
    }
    return mask;
}

UINT cdDriveType(const char* rootPath) {
    bool root = rootPath && strlen(rootPath) == 3 && strcmp(rootPath + 1, ":\\") == 0;
    SimDrive* drive = root ? simDrive(rootPath[0]) : nullptr;
    return drive ? drive->type : DRIVE_NO_ROOT_DIR;
}

// The buffer ends where an inaccessible page begins, so that a write past
// its end faults at once.
BYTE* cdAllocTrackBuffer(SIZE_T size) {
    const SIZE_T page = 4096, rounded = (size + page - 1) / page * page;
    if (size == 0 || (machine().memoryLimit && size > machine().memoryLimit)) {
        return nullptr;
    }
    BYTE* base = (BYTE*)VirtualAlloc(nullptr, rounded + page, MEM_COMMIT | MEM_RESERVE,
                                     PAGE_READWRITE);
    DWORD old;
    if (!base || !VirtualProtect(base + rounded, page, PAGE_NOACCESS, &old)) {
        return nullptr;
    }
    trackBuffers++;
    return base + rounded - size;
}

void cdFreeTrackBuffer(BYTE* buffer) {
    MEMORY_BASIC_INFORMATION info;
    if (buffer && VirtualQuery(buffer, &info, sizeof(info)) &&
        VirtualFree(info.AllocationBase, 0, MEM_RELEASE)) {
        trackBuffers--;
    }
}
