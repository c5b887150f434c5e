#include "cdrom/CdDevice.h"
#include "cdrom/CdRom.h"
#include "jobs/EncodeLoop.h"

namespace {

struct ReadingProgress {
    JobFrame* frame;
    DWORD trackBytes;
};

// The reading phase fills the first fifth of the track's share.
void readingStep(void* context, DWORD bytesRead, bool firstRequest, bool lastRequest) {
    ReadingProgress* p = (ReadingProgress*)context;
    float fraction = (float)bytesRead / (float)p->trackBytes / 5.0f;
    p->frame->stepDone(bytesRead / 4, fraction, firstRequest, lastRequest);
}

DWORD readFromMemory(Converter* c, void* source, DWORD* consumed, DWORD total, SHORT* out,
                     DWORD n, const BE_CONFIG* config) {
    return c->readBufferChunk((const BYTE*)source, consumed, total, out, n, config);
}

// Reads track k whole, then encodes it into a temporary file that replaces
// the track's MP3 only once the track is complete.
void convertTrack(JobFrame& frame, HANDLE drive, const CDROM_TOC* toc, int k,
                  const char* name, const char* outputPath) {
    Converter* c = frame.converter();
    DWORD start = 0;
    DWORD end = 0;
    if (!trackSectors(toc, k, &start, &end)) {
        frame.fail(name, FailTrackNotOnDisc, (DWORD)k);
        return;
    }
    if (!frame.mayWrite(outputPath)) {
        frame.declined();
        return;
    }
    if (!frame.running()) {
        return;
    }
    DWORD trackBytes = (end - start) * cdSectorBytes;
    frame.setEntryRange(trackBytes / 4 * 5);
    ReadingProgress progress = {&frame, trackBytes};
    TrackAudio audio;
    readTrackAudio(drive, toc, k, c, &audio, readingStep, &progress);
    if (audio.result == TrackReadNoMemory) {
        frame.fail(name, FailOutOfMemory, trackBytes);
        return;
    }
    if (audio.result == TrackReadFailed) {
        frame.fail(name, FailReadError, audio.stopSector);
    }
    if (audio.result != TrackReadComplete) {
        releaseTrackAudio(&audio);
        return;
    }

    PendingOutput output;
    int opened = openPendingOutput(&output, outputPath);
    DWORD error = GetLastError();
    frame.setEntryRange(audio.bytesRead / 4 * 5);
    if (!opened) {
        frame.fail(name, FailOutputCreate, error);
        releaseTrackAudio(&audio);
        return;
    }
    // The encoding phase fills the other four fifths of the track's share.
    BE_CONFIG config;
    c->prepareEncoderConfig(&config, nullptr, nullptr);
    SampleSource samples = {readFromMemory, audio.buffer, audio.bytesRead, FailOutOfMemory};
    StepScale scale = {audio.bytesRead / 4, 0.2f, 4.0f, 5.0f};
    EntryResult result = encodeEntry(frame, &config, samples, scale, output.file);
    releaseTrackAudio(&audio);
    settleOutput(frame, &output, name, result);
}

}  // namespace

DWORD WINAPI CdConversionJob(LPVOID parameter) {
    Converter* c = (Converter*)parameter;
    JobFrame frame(c);
    HANDLE drive = cdOpenVolume(c->cdDevicePath());
    if (drive == INVALID_HANDLE_VALUE) {
        frame.fail(c->cdDevicePath(), FailNoDrive, GetLastError());
        frame.end();
        return 0;
    }
    CDROM_TOC toc;
    if (!readToc(drive, &toc)) {
        cdCloseVolume(drive);
        frame.fail(c->cdDevicePath(), FailNoToc);
        frame.end();
        return 0;
    }
    frame.begin(c->selectedTracks.count());
    for (TrackNode* node = c->selectedTracks.first(); node && frame.running();
         node = c->selectedTracks.next(node)) {
        char name[32];
        wsprintfA(name, "Piste%i.mp3", node->trackIndex + 1);
        char outputPath[MAX_PATH];
        int pathBuilt = c->buildOutputPath(outputPath, name);
        frame.showOutputPath(pathBuilt ? outputPath : name);
        frame.resetEntryBar();
        frame.showCounter();
        if (!pathBuilt) {
            frame.fail(name, FailPathTooLong);
        } else {
            convertTrack(frame, drive, &toc, node->trackIndex, name, outputPath);
        }
        frame.nextEntry();
    }
    cdCloseVolume(drive);
    frame.end();
    return 0;
}
