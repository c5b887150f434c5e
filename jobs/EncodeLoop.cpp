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

// LAME's DLL keeps a stream that asked for the VBR header after
// beCloseStream, until beWriteVBRHeader writes the header into the finished
// file, and shows a message box of its own when it finds no MP3 there. A
// stream whose output is thrown away has no such file: lame_close frees it.
static void releaseStream(Converter* c, HBE_STREAM stream, bool vbrHeader, bool keep) {
    if (vbrHeader && !keep) {
        c->lameClose(stream);
    } else {
        c->beCloseStream(stream);
    }
}

EntryResult encodeEntry(JobFrame& frame, BE_CONFIG* config, const SampleSource& samples,
                        const StepScale& scale, HANDLE output) {
    Converter* c = frame.converter();
    EntryResult result = {(EntryFailure)0, 0, false, 0, config->bWriteVBRHeader != 0};
    DWORD samplesPerChunk = 0;
    DWORD mp3BufferSize = 0;
    HBE_STREAM stream = 0;
    BE_ERR error = c->beInitStream(config, &samplesPerChunk, &mp3BufferSize, &stream);
    if (error != BE_ERR_SUCCESSFUL) {
        // LAME's DLL hands out the stream before it looks at the record, and
        // keeps it when it refuses the record.
        if (stream) {
            releaseStream(c, stream, result.vbrHeader, false);
        }
        result.failure = FailEncoderRefused;
        result.detail = error;
        return result;
    }
    result.streamOpened = true;
    if (samplesPerChunk == 0 || samplesPerChunk > maxSamplesPerChunk || mp3BufferSize == 0) {
        releaseStream(c, stream, result.vbrHeader, false);
        result.failure = FailEncodeError;
        return result;
    }
    BYTE* mp3 = (BYTE*)malloc(mp3BufferSize);
    SHORT* chunk = (SHORT*)malloc(samplesPerChunk * sizeof(SHORT));
    if (!mp3 || !chunk) {
        free(mp3);
        free(chunk);
        releaseStream(c, stream, result.vbrHeader, false);
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
    result.stream = stream;
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
    *error = c->beWriteVBRHeader(output->tempPath);
    if (*error != BE_ERR_SUCCESSFUL) {
        discardPendingOutput(output);
        return 0;
    }
    return 1;
}

void settleOutput(JobFrame& frame, PendingOutput* output, const char* name,
                  const EntryResult& result) {
    // Whether the output is kept is decided here, once: a cancel that comes
    // later no longer changes what becomes of the stream.
    bool running = frame.running();
    bool keep = running && !result.failure;
    if (result.stream) {
        releaseStream(frame.converter(), result.stream, result.vbrHeader, keep);
    }
    if (!running) {
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
