#include <stdlib.h>

#include "jobs/JobFrame.h"

namespace {

struct EntryResult {
    EntryFailure failure;  // 0 when the entry was converted
    DWORD detail;
};

// Encodes the source, already positioned at its first sample, into the
// pending output. Sends messages 8 to 10; leaves the output open.
EntryResult encodeFile(JobFrame& frame, HANDLE source, HANDLE output, BE_CONFIG* config,
                       DWORD dataSize) {
    Converter* c = frame.converter();
    EntryResult result = {(EntryFailure)0, 0};
    DWORD samplesPerChunk = 0;
    DWORD mp3BufferSize = 0;
    HBE_STREAM stream = 0;
    BE_ERR error = c->beInitStream(config, &samplesPerChunk, &mp3BufferSize, &stream);
    if (error != BE_ERR_SUCCESSFUL) {
        result.failure = FailEncoderRefused;
        result.detail = error;
        return result;
    }
    BYTE* mp3 = (BYTE*)malloc(mp3BufferSize ? mp3BufferSize : 1);
    SHORT* samples = (SHORT*)malloc(samplesPerChunk ? samplesPerChunk * sizeof(SHORT) : 1);
    if (!mp3 || !samples) {
        free(mp3);
        free(samples);
        c->beCloseStream(stream);
        result.failure = FailOutOfMemory;
        return result;
    }

    DWORD consumed = 0;
    bool firstStep = true;
    while (consumed < dataSize && frame.running()) {
        DWORD count = c->readFileChunk(source, &consumed, dataSize, samples, samplesPerChunk,
                                       config);
        if (count == 0) {
            result.failure = FailReadError;
            result.detail = consumed;
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
        frame.stepDone(consumed, (float)consumed / (float)dataSize, firstStep,
                       consumed >= dataSize);
        firstStep = false;
    }

    // A cancelled entry is flushed too, before its output is thrown away.
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
    frame.setEntryPosition(dataSize);
    free(mp3);
    free(samples);
    c->beCloseStream(stream);
    return result;
}

void convertEntry(JobFrame& frame, const char* sourcePath) {
    Converter* c = frame.converter();
    HANDLE source = CreateFileA(sourcePath, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (source == INVALID_HANDLE_VALUE) {
        frame.fail(sourcePath, FailSourceOpen, GetLastError());
        return;
    }
    char outputPath[MAX_PATH];
    BE_CONFIG config;
    DWORD dataSize = 0;
    WavStatus status = WavUsable;
    PendingOutput output;
    // The header is checked before anything is asked or written, so that a
    // file that cannot be converted never costs an existing MP3.
    if (!c->prepareEncoderConfig(&config, &dataSize, source, &status)) {
        frame.fail(sourcePath, FailNotUsableWav, status);
    } else if (!c->buildOutputPath(outputPath, sourcePath)) {
        frame.fail(sourcePath, FailPathTooLong);
    } else if (lstrcmpiA(outputPath, sourcePath) == 0) {
        frame.fail(sourcePath, FailOutputIsSource);
    } else if (!frame.mayWrite(outputPath)) {
        frame.declined();
    } else if (!frame.running()) {
        // Cancelled while the question was open.
    } else {
        int opened = openPendingOutput(&output, outputPath);
        frame.showOutputPath(outputPath);
        if (!opened) {
            frame.fail(sourcePath, FailOutputCreate, GetLastError());
        } else {
            frame.setEntryRange(dataSize);
            EntryResult result = encodeFile(frame, source, output.file, &config, dataSize);
            if (!frame.running()) {
                discardPendingOutput(&output);
            } else if (result.failure) {
                discardPendingOutput(&output);
                frame.fail(sourcePath, result.failure, result.detail);
            } else if (!commitPendingOutput(&output)) {
                frame.fail(sourcePath, FailOutputCreate, GetLastError());
            } else {
                frame.converted();
            }
        }
    }
    CloseHandle(source);
}

}  // namespace

DWORD WINAPI WaveConversionJob(LPVOID parameter) {
    Converter* c = (Converter*)parameter;
    JobFrame frame(c);
    frame.begin(c->sourceFiles.count());
    for (SourceFileNode* node = c->sourceFiles.first(); node && frame.running();
         node = c->sourceFiles.next(node)) {
        frame.resetEntryBar();
        frame.showCounter();
        convertEntry(frame, node->path);
        frame.nextEntry();
    }
    frame.end();
    return 0;
}
