#include "tests/sim/SimMachine.h"

#include <stdlib.h>
#include <string.h>

#include <memory>
#include <mutex>

#include "cdrom/CdDevice.h"
#include "cdrom/CdRom.h"
#include "core/WavHeader.h"

namespace {

struct Machine {
    std::vector<std::unique_ptr<SimDrive>> drives;
    SIZE_T memoryLimit = 0;
    bool configured = false;
};

Machine& machine() {
    static Machine m;
    return m;
}

std::atomic<int> openVolumes(0);
std::atomic<int> trackBuffers(0);

// Volume handles carry their drive letter; never INVALID_HANDLE_VALUE.
const ULONG_PTR handleBase = 0x5100;

HANDLE handleOf(char letter) {
    return (HANDLE)(handleBase + (BYTE)letter);
}

SimDrive* driveOf(HANDLE volume) {
    ULONG_PTR value = (ULONG_PTR)volume;
    if (value < handleBase || value > handleBase + 'Z') {
        return nullptr;
    }
    return simDrive((char)(value - handleBase));
}

void ensureConfigured() {
    if (machine().configured) {
        return;
    }
    machine().configured = true;
    const char* text = getenv("CALBRUNE_SIMCD");
    if (text) {
        simConfigure(text);
    }
}

// A sample pattern that differs from sector to sector and from frame to frame.
void generatedSector(DWORD sector, BYTE* out) {
    DWORD state = sector * 2654435761u + 12345u;
    for (DWORD i = 0; i < cdSectorBytes; i++) {
        state = state * 1103515245u + 12345u;
        out[i] = (BYTE)(state >> 16);
    }
}

void setMsf(SimEntry* entry, DWORD sector) {
    DWORD frames = sector + 150;
    entry->minutes = (BYTE)(frames / 4500);
    entry->seconds = (BYTE)(frames / 75 % 60);
    entry->frames = (BYTE)(frames % 75);
    entry->data = false;
}

BOOL answerToc(SimDrive* drive, void* output, DWORD outputSize, DWORD* returned) {
    if (!drive->hasDisc || drive->tocFails || outputSize < sizeof(CDROM_TOC)) {
        SetLastError(drive->hasDisc ? ERROR_CRC : ERROR_NOT_READY);
        return FALSE;
    }
    CDROM_TOC* toc = (CDROM_TOC*)output;
    memset(toc, 0, sizeof(*toc));
    const SimDisc& disc = drive->disc;
    size_t entries = disc.entries.size() < MAXIMUM_NUMBER_TRACKS ? disc.entries.size()
                                                                   : MAXIMUM_NUMBER_TRACKS;
    DWORD length = 2 + (DWORD)entries * sizeof(TRACK_DATA);
    toc->Length[0] = (BYTE)(length >> 8);
    toc->Length[1] = (BYTE)length;
    toc->FirstTrack = (UCHAR)disc.firstTrack;
    toc->LastTrack = (UCHAR)disc.lastTrack;
    for (size_t k = 0; k < entries; k++) {
        TRACK_DATA* entry = &toc->TrackData[k];
        entry->Adr = 1;
        entry->Control = disc.entries[k].data ? 4 : 0;
        entry->TrackNumber = k + 1 == disc.entries.size() ? 0xAA : (UCHAR)(disc.firstTrack + k);
        entry->Address[1] = disc.entries[k].minutes;
        entry->Address[2] = disc.entries[k].seconds;
        entry->Address[3] = disc.entries[k].frames;
    }
    *returned = 2 + length;
    return TRUE;
}

bool inDataTrack(const SimDisc& disc, LONG sector) {
    for (size_t k = 0; k + 1 < disc.entries.size(); k++) {
        if (disc.entries[k].data && sector >= simEntrySector(disc, (int)k) &&
            sector < simEntrySector(disc, (int)k + 1)) {
            return true;
        }
    }
    return false;
}

BOOL answerRawRead(SimDrive* drive, const void* input, DWORD inputSize, void* output,
                   DWORD outputSize, DWORD* returned) {
    if (!drive->hasDisc || inputSize != sizeof(RAW_READ_INFO) || !output) {
        SetLastError(drive->hasDisc ? ERROR_INVALID_PARAMETER : ERROR_NOT_READY);
        return FALSE;
    }
    RAW_READ_INFO request;
    memcpy(&request, input, sizeof(request));
    SimRawRead record = {request.DiskOffset.QuadPart, request.SectorCount,
                         (DWORD)request.TrackMode, outputSize, false};
    LONG first = (LONG)(request.DiskOffset.QuadPart / cdCookedSectorBytes);
    LONG end = first + (LONG)request.SectorCount;
    LONG leadOut = simEntrySector(drive->disc, (int)drive->disc.entries.size() - 1);
    bool valid = request.TrackMode == CDDA && request.DiskOffset.QuadPart >= 0 &&
                 request.DiskOffset.QuadPart % cdCookedSectorBytes == 0 &&
                 request.SectorCount > 0 && request.SectorCount <= 64 && end <= leadOut &&
                 outputSize >= request.SectorCount * cdSectorBytes;
    for (LONG s = first; valid && s < end; s++) {
        if (s == drive->failReadAt || (drive->refusesDataTracks && inDataTrack(drive->disc, s))) {
            valid = false;
        }
    }
    if (!valid) {
        drive->reads.push_back(record);
        SetLastError(ERROR_CRC);
        return FALSE;
    }
    DWORD sectors = request.SectorCount;
    DWORD extra = 0;
    if (drive->shortReadAt >= first && drive->shortReadAt < end) {
        sectors = (DWORD)(drive->shortReadAt - first);
        extra = cdSectorBytes / 2;
    }
    simDiscAudio(drive->disc, (DWORD)first, sectors, (BYTE*)output);
    if (extra) {
        std::vector<BYTE> partial(cdSectorBytes);
        simDiscAudio(drive->disc, (DWORD)first + sectors, 1, partial.data());
        memcpy((BYTE*)output + sectors * cdSectorBytes, partial.data(), extra);
    }
    *returned = sectors * cdSectorBytes + extra;
    record.succeeded = true;
    drive->reads.push_back(record);
    return TRUE;
}

bool readWhole(const std::string& path, std::vector<BYTE>* bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD size = GetFileSize(file, nullptr);
    bytes->resize(size);
    DWORD got = 0;
    BOOL ok = ReadFile(file, bytes->data(), size, &got, nullptr);
    CloseHandle(file);
    return ok && got == size;
}

}  // namespace

SimDisc simDisc(int firstTrack, const std::vector<DWORD>& trackSectors, DWORD firstSector) {
    SimDisc disc;
    disc.firstTrack = firstTrack;
    disc.lastTrack = firstTrack + (int)trackSectors.size() - 1;
    disc.audioSector = 0;
    DWORD sector = firstSector;
    for (DWORD length : trackSectors) {
        SimEntry entry;
        setMsf(&entry, sector);
        disc.entries.push_back(entry);
        sector += length;
    }
    SimEntry leadOut;
    setMsf(&leadOut, sector);
    disc.entries.push_back(leadOut);
    return disc;
}

SimDisc simDiscFromWavs(const std::vector<std::string>& paths, int firstTrack) {
    SimDisc empty = simDisc(firstTrack, {});
    std::vector<DWORD> lengths;
    std::vector<BYTE> audio;
    for (const std::string& path : paths) {
        std::vector<BYTE> file;
        WavInfo info;
        if (!readWhole(path, &file) ||
            parseWavBytes(file.data(), file.size(), &info) != WavUsable ||
            info.format.channels != 2 || info.format.bitsPerSample != 16 ||
            info.format.samplesPerSec != 44100 || info.dataOffset + info.dataSize > file.size()) {
            return empty;
        }
        DWORD sectors = (info.dataSize + cdSectorBytes - 1) / cdSectorBytes;
        size_t at = audio.size();
        audio.resize(at + (size_t)sectors * cdSectorBytes, 0);
        memcpy(audio.data() + at, file.data() + info.dataOffset, info.dataSize);
        lengths.push_back(sectors);
    }
    SimDisc disc = simDisc(firstTrack, lengths);
    disc.audio = audio;
    return disc;
}

void simSetEntry(SimDisc* disc, int entry, int minutes, int seconds, int frames) {
    disc->entries[entry].minutes = (BYTE)minutes;
    disc->entries[entry].seconds = (BYTE)seconds;
    disc->entries[entry].frames = (BYTE)frames;
}

LONG simEntrySector(const SimDisc& disc, int entry) {
    if (entry < 0 || entry >= (int)disc.entries.size()) {
        return 0;
    }
    const SimEntry& e = disc.entries[entry];
    return e.minutes * 4500L + e.seconds * 75L + e.frames - 150L;
}

void simDiscAudio(const SimDisc& disc, DWORD sector, DWORD count, BYTE* out) {
    for (DWORD i = 0; i < count; i++, out += cdSectorBytes) {
        DWORD s = sector + i;
        size_t at = (size_t)(s - disc.audioSector) * cdSectorBytes;
        if (s >= disc.audioSector && at + cdSectorBytes <= disc.audio.size()) {
            memcpy(out, disc.audio.data() + at, cdSectorBytes);
        } else {
            generatedSector(s, out);
        }
    }
}

std::vector<BYTE> simTrackAudio(const SimDisc& disc, int track) {
    LONG start = simEntrySector(disc, track);
    LONG end = simEntrySector(disc, track + 1);
    std::vector<BYTE> audio(end > start ? (size_t)(end - start) * cdSectorBytes : 0);
    if (!audio.empty()) {
        simDiscAudio(disc, (DWORD)start, (DWORD)(end - start), audio.data());
    }
    return audio;
}

void simReset() {
    machine().drives.clear();
    machine().memoryLimit = 0;
    machine().configured = true;
    openVolumes = 0;
    trackBuffers = 0;
}

SimDrive* simAddDrive(char letter, UINT type) {
    machine().configured = true;
    SimDrive* drive = simDrive(letter);
    if (!drive) {
        machine().drives.emplace_back(new SimDrive());
        drive = machine().drives.back().get();
    }
    drive->letter = letter;
    drive->type = type;
    drive->hasDisc = false;
    drive->disc = SimDisc();
    drive->tocFails = false;
    drive->refusesDataTracks = false;
    drive->failReadAt = -1;
    drive->shortReadAt = -1;
    drive->reads.clear();
    drive->afterRead = nullptr;
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

void simInsertDisc(char letter, const SimDisc& disc) {
    SimDrive* drive = simDrive(letter);
    if (drive) {
        drive->disc = disc;
        drive->hasDisc = true;
    }
}

void simSetMemoryLimit(SIZE_T bytes) {
    machine().memoryLimit = bytes;
}

int simOpenVolumes() {
    return openVolumes;
}

int simTrackBuffers() {
    return trackBuffers;
}

int simConfigure(const char* text) {
    simReset();
    std::string all(text ? text : "");
    size_t at = 0;
    while (at < all.size()) {
        size_t stop = all.find(';', at);
        std::string item = all.substr(at, stop == std::string::npos ? std::string::npos : stop - at);
        at = stop == std::string::npos ? all.size() : stop + 1;
        if (item.empty() || item[0] < 'A' || item[0] > 'Z') {
            return 0;
        }
        simAddDrive(item[0]);
        if (item.size() == 1) {
            continue;
        }
        if (item[1] != '=') {
            return 0;
        }
        std::string disc = item.substr(2);
        if (disc.compare(0, 4, "wav:") == 0) {
            std::vector<std::string> paths;
            size_t p = 4;
            while (p <= disc.size()) {
                size_t bar = disc.find('|', p);
                paths.push_back(disc.substr(p, bar == std::string::npos ? std::string::npos : bar - p));
                p = bar == std::string::npos ? disc.size() + 1 : bar + 1;
            }
            SimDisc made = simDiscFromWavs(paths);
            if (made.entries.size() < 2) {
                return 0;
            }
            simInsertDisc(item[0], made);
            continue;
        }
        int first = 1;
        size_t slash = disc.find('/');
        if (slash != std::string::npos) {
            first = atoi(disc.substr(0, slash).c_str());
            disc = disc.substr(slash + 1);
        }
        std::vector<DWORD> lengths;
        const char* p = disc.c_str();
        while (*p) {
            char* end = nullptr;
            unsigned long length = strtoul(p, &end, 10);
            if (end == p || length == 0) {
                return 0;
            }
            lengths.push_back((DWORD)length);
            p = *end == ',' ? end + 1 : end;
            if (*end && *end != ',') {
                return 0;
            }
        }
        if (lengths.empty() || first < 1) {
            return 0;
        }
        simInsertDisc(item[0], simDisc(first, lengths));
    }
    return 1;
}

HANDLE cdOpenVolume(const char* devicePath) {
    ensureConfigured();
    if (!devicePath || strlen(devicePath) != 6 || strncmp(devicePath, "\\\\.\\", 4) != 0 ||
        devicePath[5] != ':') {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    char letter = devicePath[4];
    if (letter >= 'a' && letter <= 'z') {
        letter = (char)(letter - 'a' + 'A');
    }
    SimDrive* drive = simDrive(letter);
    if (!drive || drive->type != DRIVE_CDROM) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    openVolumes++;
    return handleOf(letter);
}

void cdCloseVolume(HANDLE volume) {
    if (driveOf(volume)) {
        openVolumes--;
    }
}

BOOL cdDeviceIoControl(HANDLE volume, DWORD code, void* input, DWORD inputSize, void* output,
                       DWORD outputSize, DWORD* returned) {
    SimDrive* drive = driveOf(volume);
    if (!drive || !returned) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *returned = 0;
    if (code == IOCTL_CDROM_READ_TOC_EX) {
        const BYTE msfRequest[4] = {0x80, 0, 0, 0};
        if (inputSize != sizeof(msfRequest) || memcmp(input, msfRequest, sizeof(msfRequest)) != 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return answerToc(drive, output, outputSize, returned);
    }
    if (code == IOCTL_CDROM_RAW_READ) {
        BOOL ok = answerRawRead(drive, input, inputSize, output, outputSize, returned);
        if (drive->afterRead) {
            drive->afterRead((int)drive->reads.size());
        }
        return ok;
    }
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
}

DWORD cdLogicalDrives() {
    ensureConfigured();
    DWORD mask = 0;
    for (auto& drive : machine().drives) {
        mask |= 1u << (drive->letter - 'A');
    }
    return mask;
}

UINT cdDriveType(const char* rootPath) {
    ensureConfigured();
    if (!rootPath || strlen(rootPath) != 3 || rootPath[1] != ':' || rootPath[2] != '\\') {
        return DRIVE_NO_ROOT_DIR;
    }
    SimDrive* drive = simDrive(rootPath[0]);
    return drive ? drive->type : DRIVE_NO_ROOT_DIR;
}

// The buffer ends where an inaccessible page begins, so that a write past
// its end faults at once.
BYTE* cdAllocTrackBuffer(SIZE_T size) {
    if (size == 0 || (machine().memoryLimit && size > machine().memoryLimit)) {
        return nullptr;
    }
    const SIZE_T page = 4096;
    SIZE_T rounded = (size + page - 1) / page * page;
    BYTE* base = (BYTE*)VirtualAlloc(nullptr, rounded + page, MEM_COMMIT | MEM_RESERVE,
                                     PAGE_READWRITE);
    if (!base) {
        return nullptr;
    }
    DWORD old;
    VirtualProtect(base + rounded, page, PAGE_NOACCESS, &old);
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
