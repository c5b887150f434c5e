#include "tests/support/Recorder.h"

#include <shlwapi.h>
#include <stdio.h>
#include <stdlib.h>

#include <sstream>

static std::string logPath() {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    char path[MAX_PATH];
    wsprintfA(path, "%scalbrune-recorder-%lu.log", folder, GetCurrentProcessId());
    return path;
}

int useRecorder(Converter& c, bool partial) {
    c.unloadEncoder();
    c.encoderLibrary = LoadLibraryA(partial ? CALBRUNE_RECORDER_DIR "-partial\\lame_enc.dll"
                                            : CALBRUNE_RECORDER_DIR "\\lame_enc.dll");
    if (!c.encoderLibrary) {
        return 0;
    }
    return c.loadEncoder();
}

void resetRecorder() {
    std::string path = logPath();
    DeleteFileA(path.c_str());
    SetEnvironmentVariableA("CALBRUNE_RECORDER_LOG", path.c_str());
    SetEnvironmentVariableA("CALBRUNE_RECORDER_FAIL", "");
}

void recorderFailAt(const char* what) {
    SetEnvironmentVariableA("CALBRUNE_RECORDER_FAIL", what);
}

std::vector<RecordedCall> readRecorderLog() {
    std::vector<RecordedCall> calls;
    std::istringstream lines(fileContents(logPath()));
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream columns(line);
        std::string field;
        while (std::getline(columns, field, '\t')) {
            fields.push_back(field);
        }
        if (fields.size() < 3) {
            continue;
        }
        RecordedCall call = {};
        call.kind = fields[0];
        call.result = strtoul(fields[1].c_str(), nullptr, 10);
        call.stream = (unsigned)strtoul(fields[2].c_str(), nullptr, 10);
        if (call.kind == "init" && fields.size() >= 5) {
            call.samples = strtoul(fields[3].c_str(), nullptr, 10);
            for (size_t i = 0; i + 1 < fields[4].size(); i += 2) {
                call.config.push_back((BYTE)strtoul(fields[4].substr(i, 2).c_str(), nullptr, 16));
            }
        } else if (call.kind == "encode" && fields.size() >= 6) {
            call.samples = strtoul(fields[3].c_str(), nullptr, 10);
            call.checksum = strtoul(fields[4].c_str(), nullptr, 16);
            call.outBytes = strtoul(fields[5].c_str(), nullptr, 10);
        } else if (call.kind == "deinit" && fields.size() >= 4) {
            call.outBytes = strtoul(fields[3].c_str(), nullptr, 10);
        } else if (call.kind == "vbrheader" && fields.size() >= 4) {
            call.path = fields[3];
        }
        calls.push_back(call);
    }
    return calls;
}

DWORD fnv1a(const void* bytes, size_t size) {
    const BYTE* p = (const BYTE*)bytes;
    DWORD hash = 2166136261u;
    for (size_t i = 0; i < size; i++) {
        hash = (hash ^ p[i]) * 16777619u;
    }
    return hash;
}
