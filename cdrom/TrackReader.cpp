#include <string.h>

#include "cdrom/CdDevice.h"
#include "cdrom/CdRom.h"
#include "core/Converter.h"

int readTrackAudio(HANDLE drive, const CDROM_TOC* toc, int k, const Converter* c,
                   TrackAudio* audio, TrackReadProgress progress, void* context) {
    if (!audio) {
        return 0;
    }
    memset(audio, 0, sizeof(*audio));
    if (!trackSectors(toc, k, &audio->startSector, &audio->endSector)) {
        audio->result = TrackReadFailed;
        return 0;
    }
    audio->size = (audio->endSector - audio->startSector) * cdSectorBytes;
    audio->stopSector = audio->startSector;
    audio->buffer = cdAllocTrackBuffer(audio->size);
    if (!audio->buffer) {
        audio->result = TrackReadNoMemory;
        return 0;
    }

    DWORD n = cdFirstRequestSectors;
    DWORD s = audio->startSector;
    bool failed = false;
    bool first = true;
    while (n != 0 && !failed && c->jobRunning()) {
        while (s + n <= audio->endSector && !failed && c->jobRunning()) {
            RAW_READ_INFO request;
            memset(&request, 0, sizeof(request));
            request.DiskOffset.QuadPart = (LONGLONG)s * cdCookedSectorBytes;
            request.SectorCount = n;
            request.TrackMode = CDDA;
            DWORD asked = n * cdSectorBytes;
            DWORD returned = 0;
            if (!cdDeviceIoControl(drive, IOCTL_CDROM_RAW_READ, &request, sizeof(request),
                                   audio->buffer + audio->bytesRead, asked, &returned)) {
                failed = true;
                break;
            }
            // A short answer leaves a hole in the audio: keep its whole
            // sectors and stop there, as after a read error.
            DWORD sectors = returned >= asked ? n : returned / cdSectorBytes;
            audio->bytesRead += sectors * cdSectorBytes;
            s += sectors;
            if (sectors < n) {
                failed = true;
            }
            if (sectors != 0 && progress) {
                progress(context, audio->bytesRead, first, s == audio->endSector);
                first = false;
            }
        }
        if (!failed && c->jobRunning()) {
            n /= 2;
        }
    }
    audio->stopSector = s;
    if (s == audio->endSector) {
        audio->result = TrackReadComplete;
        return 1;
    }
    audio->result = failed ? TrackReadFailed : TrackReadCancelled;
    return 0;
}

void releaseTrackAudio(TrackAudio* audio) {
    if (!audio) {
        return;
    }
    cdFreeTrackBuffer(audio->buffer);
    audio->buffer = nullptr;
}
