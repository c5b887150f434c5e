// Audio CDs through the CD-ROM class driver: drives, the table of contents
// and whole tracks read as raw digital audio.
#pragma once

#include <windows.h>
#include <winioctl.h>
#include <ntddcdrm.h>

#include <stddef.h>

class Converter;

static_assert(sizeof(CDROM_READ_TOC_EX) == 4, "CDROM_READ_TOC_EX layout");
static_assert(offsetof(CDROM_READ_TOC_EX, SessionTrack) == 1, "CDROM_READ_TOC_EX layout");
static_assert(sizeof(TRACK_DATA) == 8, "TRACK_DATA layout");
static_assert(offsetof(TRACK_DATA, TrackNumber) == 2, "TRACK_DATA layout");
static_assert(offsetof(TRACK_DATA, Address) == 4, "TRACK_DATA layout");
static_assert(sizeof(CDROM_TOC) == 804, "CDROM_TOC layout");
static_assert(offsetof(CDROM_TOC, FirstTrack) == 2, "CDROM_TOC layout");
static_assert(offsetof(CDROM_TOC, LastTrack) == 3, "CDROM_TOC layout");
static_assert(offsetof(CDROM_TOC, TrackData) == 4, "CDROM_TOC layout");
static_assert(sizeof(RAW_READ_INFO) == 16, "RAW_READ_INFO layout");
static_assert(offsetof(RAW_READ_INFO, SectorCount) == 8, "RAW_READ_INFO layout");
static_assert(offsetof(RAW_READ_INFO, TrackMode) == 12, "RAW_READ_INFO layout");
static_assert(sizeof(TRACK_MODE_TYPE) == 4, "RAW_READ_INFO layout");
static_assert(IOCTL_CDROM_READ_TOC_EX == 0x24054, "IOCTL_CDROM_READ_TOC_EX");
static_assert(IOCTL_CDROM_RAW_READ == 0x2403E, "IOCTL_CDROM_RAW_READ");

const DWORD cdSectorBytes = 2352;
// Raw reads address the disc in units of cooked 2048-byte sectors.
const DWORD cdCookedSectorBytes = 2048;
const DWORD cdFirstRequestSectors = 27;

// Minutes × 4500 + seconds × 75 + frames − 150.
LONG msfToSector(const TRACK_DATA* entry);

// Sends the TOC request (MSF addresses). 0 when it fails or when the answer
// cannot be trusted: no track, more than 99, an address that is no MSF
// address, addresses that do not increase, or fewer bytes than the entries.
int readToc(HANDLE drive, CDROM_TOC* toc);
// Tracks of a table that readToc accepted.
int tocTrackCount(const CDROM_TOC* toc);
// Sectors [start, end) of track k; 0 when k is not a track of this table.
int trackSectors(const CDROM_TOC* toc, int k, DWORD* start, DWORD* end);

enum TrackReadResult {
    TrackReadComplete = 0,
    TrackReadCancelled,
    TrackReadFailed,     // a request failed or came back short at stopSector
    TrackReadNoMemory,
};

struct TrackAudio {
    BYTE* buffer;       // from cdAllocTrackBuffer; release with releaseTrackAudio
    DWORD size;         // B: the whole track
    DWORD bytesRead;    // R: whole sectors, from the start of the track
    DWORD startSector;
    DWORD endSector;
    DWORD stopSector;   // first sector not read
    TrackReadResult result;
};

// Called after each request that added sectors; lastRequest when the track
// has been read to its end.
typedef void (*TrackReadProgress)(void* context, DWORD bytesRead, bool firstRequest,
                                  bool lastRequest);

// Reads track k of the disc whose table is toc into a new buffer, in
// requests of 27 sectors, then 13, 6, 3 and 1 for the tail, testing the
// job's running flag before each. 1 when the whole track was read. k must be
// a track that trackSectors accepts; any other reads nothing and fails.
int readTrackAudio(HANDLE drive, const CDROM_TOC* toc, int k, const Converter* c,
                   TrackAudio* audio, TrackReadProgress progress, void* context);
void releaseTrackAudio(TrackAudio* audio);

// Fills the drive box with the CD-ROM drives' root paths and the track list
// with the tracks of the first drive holding a readable disc; returns the
// number of CD-ROM drives.
int listCdDrives(HWND page, int driveBoxId, int trackListId);
// Lists the tracks of the disc in devicePath (such as \\.\D:); 1 when listed.
int listDiscTracks(HWND page, int trackListId, const char* devicePath, int clearFirst);
