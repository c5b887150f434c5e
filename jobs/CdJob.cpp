#include <stdlib.h>

#include "cdrom/CdDevice.h"
#include "cdrom/CdRom.h"
#include "jobs/JobFrame.h"

namespace {

struct EntryResult {
    EntryFailure failure;  // 0 when the track was encoded and flushed
    DWORD detail;
};

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

// Encodes the R bytes of the track into the output; the encoding phase fills
// the other four fifths of the track's share.
EntryResult encodeTrack(JobFrame& frame, const BYTE* audio, DWORD bytesRead, HANDLE output) {
    Converter* c = frame.converter();
    EntryResult result = {(EntryFailure)0, 0};
    BE_CONFIG config;
    c->prepareEncoderConfig(&config, nullptr, nullptr);
    DWORD samplesPerChunk = 0;
    DWORD mp3BufferSize = 0;
    HBE_STREAM stream = 0;
    BE_ERR error = c->beInitStream(&config, &samplesPerChunk, &mp3BufferSize, &stream);
    if (error != BE_ERR_SUCCESSFUL) {
        result.failure = FailEncoderRefused;
        result.detail = error;
        return result;
    }
    BYTE* mp3 = (BYTE*)malloc(mp3BufferSize ? mp3BufferSize : 1);
    SHORT* samples = (SHORT*)malloc(samplesPerChunk ? samplesPerChunk * sizeof(SHORT) : 1);
    if (!mp3 || !samples || samplesPerChunk == 0) {
        free(mp3);
        free(samples);
        c->beCloseStream(stream);
        result.failure = FailOutOfMemory;
        return result;
    }

    DWORD consumed = 0;
    bool firstStep = true;
    while (consumed < bytesRead && frame.running()) {
        DWORD count = c->readBufferChunk(audio, &consumed, bytesRead, samples, samplesPerChunk,
                                         &config);
        if (count == 0) {
            result.failure = FailOutOfMemory;
            break;
        }
        DWORD produced = 0;
        error = c->beEncodeChunk(stream, count, samples, mp3, &produced);
        if (error != BE_ERR_SUCCESSFUL) {
            result.failure = FailEncodeError;
            result.detail = error;
            break;
        }
        DWORD written = 0;
        if (!WriteFile(output, mp3, produced, &written, nullptr) || written != produced) {
            result.failure = FailWriteError;
            break;
        }
        float fraction = 0.2f + (float)consumed * 4.0f / ((float)bytesRead * 5.0f);
        frame.stepDone(bytesRead / 4 + consumed, fraction, firstStep, consumed >= bytesRead);
        firstStep = false;
    }

    if (!result.failure) {
        DWORD produced = 0;
        error = c->beDeinitStream(stream, mp3, &produced);
        DWORD written = 0;
        if (error != BE_ERR_SUCCESSFUL) {
            result.failure = FailEncodeError;
            result.detail = error;
        } else if (!WriteFile(output, mp3, produced, &written, nullptr) || written != produced) {
            result.failure = FailWriteError;
        }
    }
    free(mp3);
    free(samples);
    c->beCloseStream(stream);
    return result;
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
    if (!openPendingOutput(&output, outputPath)) {
        frame.fail(name, FailOutputCreate, GetLastError());
        releaseTrackAudio(&audio);
        return;
    }
    frame.setEntryRange(audio.bytesRead / 4 * 5);
    EntryResult result = encodeTrack(frame, audio.buffer, audio.bytesRead, output.file);
    releaseTrackAudio(&audio);
    if (!frame.running()) {
        discardPendingOutput(&output);
    } else if (result.failure) {
        discardPendingOutput(&output);
        frame.fail(name, result.failure, result.detail);
    } else if (!commitPendingOutput(&output)) {
        frame.fail(name, FailOutputCreate, GetLastError());
    } else {
        frame.converted();
    }
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
