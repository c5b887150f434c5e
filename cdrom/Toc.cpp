#include <string.h>

#include "cdrom/CdDevice.h"
#include "cdrom/CdRom.h"
#include "cdrom/TocCheck.h"

static_assert(sizeof(CDROM_TOC) == tocAnswerBytes, "CDROM_TOC layout");

LONG msfToSector(const TRACK_DATA* entry) {
    return entry->Address[1] * 4500L + entry->Address[2] * 75L + entry->Address[3] - 150L;
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
    return tocAnswerUsable((const unsigned char*)toc, returned);
}

int tocTrackCount(const CDROM_TOC* toc) {
    return toc->LastTrack - toc->FirstTrack + 1;
}

int trackSectors(const CDROM_TOC* toc, int k, DWORD* start, DWORD* end) {
    if (k < 0 || k >= tocTrackCount(toc)) {
        return 0;
    }
    // readToc accepted only increasing, non-negative addresses.
    *start = (DWORD)msfToSector(&toc->TrackData[k]);
    *end = (DWORD)msfToSector(&toc->TrackData[k + 1]);
    return 1;
}
