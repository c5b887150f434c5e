#include <string.h>

#include "cdrom/CdDevice.h"
#include "cdrom/CdRom.h"

LONG msfToSector(const TRACK_DATA* entry) {
    return entry->Address[1] * 4500L + entry->Address[2] * 75L + entry->Address[3] - 150L;
}

static bool isMsfAddress(const TRACK_DATA* entry) {
    return entry->Address[1] <= 99 && entry->Address[2] < 60 && entry->Address[3] < 75;
}

int readToc(HANDLE drive, CDROM_TOC* toc) {
    if (!toc) {
        return 0;
    }
    memset(toc, 0, sizeof(*toc));
    CDROM_READ_TOC_EX request;
    memset(&request, 0, sizeof(request));
    request.Format = CDROM_READ_TOC_EX_FORMAT_TOC;
    request.Msf = 1;
    DWORD returned = 0;
    if (!cdDeviceIoControl(drive, IOCTL_CDROM_READ_TOC_EX, &request, sizeof(request), toc,
                           sizeof(*toc), &returned)) {
        return 0;
    }
    if (toc->LastTrack < toc->FirstTrack) {
        return 0;
    }
    int count = toc->LastTrack - toc->FirstTrack + 1;
    if (count > cdMaxTracks) {
        return 0;
    }
    if (returned > sizeof(*toc) ||
        returned < offsetof(CDROM_TOC, TrackData) + (count + 1) * sizeof(TRACK_DATA)) {
        return 0;
    }
    for (int k = 0; k <= count; k++) {
        if (!isMsfAddress(&toc->TrackData[k]) || msfToSector(&toc->TrackData[k]) < 0) {
            return 0;
        }
        if (k > 0 && msfToSector(&toc->TrackData[k]) <= msfToSector(&toc->TrackData[k - 1])) {
            return 0;
        }
    }
    return 1;
}

int tocTrackCount(const CDROM_TOC* toc) {
    if (!toc || toc->LastTrack < toc->FirstTrack) {
        return 0;
    }
    int count = toc->LastTrack - toc->FirstTrack + 1;
    return count <= cdMaxTracks ? count : 0;
}

int trackSectors(const CDROM_TOC* toc, int k, DWORD* start, DWORD* end) {
    if (k < 0 || k >= tocTrackCount(toc)) {
        return 0;
    }
    LONG first = msfToSector(&toc->TrackData[k]);
    LONG last = msfToSector(&toc->TrackData[k + 1]);
    if (first < 0 || last <= first) {
        return 0;
    }
    *start = (DWORD)first;
    *end = (DWORD)last;
    return 1;
}
