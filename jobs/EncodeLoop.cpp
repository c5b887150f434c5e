#include "jobs/EncodeLoop.h"

#include <stdlib.h>

// LAME asks for at most 1152 samples per channel; a library that asks for
// none, or for far more, is broken, and the byte count could wrap.
static const DWORD maxSamplesPerChunk = 32768;

BOOL(WINAPI* writeOutput)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) = WriteFile;

static bool writeAll(HANDLE output, const BYTE* bytes, DWORD count) {
    DWORD written = 0;
    return writeOutput(output, bytes, count, &written, nullptr) && written == count;
}

EntryResult encodeEntry(JobFrame& frame, BE_CONFIG* config, const SampleSource& samples,
                        const StepScale& scale, HANDLE output) {
    Converter* c = frame.converter();
    EntryResult result = {(EntryFailure)0, 0, false, false};
    DWORD samplesPerChunk = 0;
    DWORD mp3BufferSize = 0;
    HBE_STREAM stream = 0;
    BE_ERR error = c->beInitStream(config, &samplesPerChunk, &mp3BufferSize, &stream);
    if (error != BE_ERR_SUCCESSFUL) {
        result.failure = FailEncoderRefused;
        result.detail = error;
        return result;
    }
    result.streamOpened = true;
    result.vbrHeader = config->bWriteVBRHeader != 0;
    if (samplesPerChunk == 0 || samplesPerChunk > maxSamplesPerChunk || mp3BufferSize == 0) {
        c->beCloseStream(stream);
        result.failure = FailEncodeError;
        return result;
    }
    BYTE* mp3 = (BYTE*)malloc(mp3BufferSize);
    SHORT* chunk = (SHORT*)malloc(samplesPerChunk * sizeof(SHORT));
    if (!mp3 || !chunk) {
        free(mp3);
        free(chunk);
        c->beCloseStream(stream);
        result.failure = FailOutOfMemory;
        return result;
    }

    DWORD consumed = 0;
    bool firstStep = true;
    float span = (float)samples.total * scale.denominator;
    while (consumed < samples.total && frame.running()) {
        DWORD count = samples.read(c, samples.source, &consumed, samples.total, chunk,
                                   samplesPerChunk, config);
        if (count == 0) {
            result.failure = samples.failureOnEmpty;
            result.detail = consumed;
            break;
        }
        DWORD produced = 0;
        error = c->beEncodeChunk(stream, count, chunk, mp3, &produced);
        if (error != BE_ERR_SUCCESSFUL) {
            result.failure = FailEncodeError;
            result.detail = error;
            break;
        }
        if (!writeAll(output, mp3, produced)) {
            result.failure = FailWriteError;
            break;
        }
        float fraction = scale.start + (float)consumed * scale.numerator / span;
        frame.stepDone(scale.base + consumed, fraction, firstStep, consumed >= samples.total);
        firstStep = false;
    }

    // A cancelled entry is flushed too, before its output is thrown away.
    if (!result.failure) {
        DWORD produced = 0;
        error = c->beDeinitStream(stream, mp3, &produced);
        if (error != BE_ERR_SUCCESSFUL) {
            result.failure = FailEncodeError;
            result.detail = error;
        } else if (!writeAll(output, mp3, produced)) {
            result.failure = FailWriteError;
        }
    }
    free(mp3);
    free(chunk);
    c->beCloseStream(stream);
    return result;
}

// The library reopens the file by name to write the header into the frame
// it reserved at the start, so our handle must be closed by then; a file
// without it would show players a wrong length, so a failure fails the entry.
static int writeVbrHeader(Converter* c, PendingOutput* output, const EntryResult& result,
                          EntryFailure* failure, DWORD* error) {
    if (!result.vbrHeader) {
        return 1;
    }
    *failure = FailEncodeError;
    *error = 0;
    if (!closePendingOutput(output)) {
        *failure = FailOutputCreate;
        discardPendingOutput(output);
        return 0;
    }
    *error = c->beWriteVBRHeader ? c->beWriteVBRHeader(output->tempPath)
                                 : BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (*error != BE_ERR_SUCCESSFUL) {
        discardPendingOutput(output);
        return 0;
    }
    return 1;
}

void settleOutput(JobFrame& frame, PendingOutput* output, const char* name,
                  const EntryResult& result) {
    if (!frame.running()) {
        discardPendingOutput(output);
    } else if (result.failure) {
        discardPendingOutput(output);
        frame.fail(name, result.failure, result.detail);
    } else {
        EntryFailure failure;
        DWORD error;
        if (writeVbrHeader(frame.converter(), output, result, &failure, &error) &&
            commitPendingOutput(output, &failure, &error)) {
            frame.converted();
        } else {
            frame.fail(name, failure, error);
        }
    }
}
