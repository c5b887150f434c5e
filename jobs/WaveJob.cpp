#include "jobs/EncodeLoop.h"

namespace {

DWORD readFromFile(Converter* c, void* source, DWORD* consumed, DWORD total, SHORT* out, DWORD n,
                   const BE_CONFIG* config) {
    return c->readFileChunk((HANDLE)source, consumed, total, out, n, config);
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
        DWORD error = GetLastError();
        frame.showOutputPath(outputPath);
        if (!opened) {
            frame.fail(sourcePath, FailOutputCreate, error);
        } else {
            frame.setEntryRange(dataSize);
            // The header left the file at the start of the data.
            LARGE_INTEGER zero = {}, dataStart = {};
            SetFilePointerEx(source, zero, &dataStart, FILE_CURRENT);
            SampleSource samples = {readFromFile, source, dataSize, FailFileReadError};
            StepScale scale = {0, 0.0f, 1.0f, 1.0f};
            EntryResult result = encodeEntry(frame, &config, samples, scale, output.file);
            if (result.failure == FailFileReadError) {
                // The offset in the file where the failed read began, when it fits.
                ULONGLONG offset = (ULONGLONG)dataStart.QuadPart + result.detail;
                result.detail = dataStart.QuadPart > 0 && offset <= MAXDWORD ? (DWORD)offset : 0;
            }
            if (result.streamOpened) {
                frame.setEntryPosition(dataSize);
            }
            settleOutput(frame, &output, sourcePath, result);
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
