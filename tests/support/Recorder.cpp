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

TempFolder::TempFolder() {
    static LONG counter;
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    wsprintfA(path_, "%scalbrune-test-%lu-%ld", base, GetCurrentProcessId(),
              InterlockedIncrement(&counter));
    CreateDirectoryA(path_, nullptr);
}

TempFolder::~TempFolder() {
    char pattern[MAX_PATH];
    wsprintfA(pattern, "%s\\*", path_);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                DeleteFileA(file(found.cFileName).c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path_);
}

std::string TempFolder::file(const char* name) const {
    return std::string(path_) + "\\" + name;
}

std::string fileContents(const std::string& path) {
    std::string bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    char buffer[65536];
    DWORD got;
    while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    CloseHandle(file);
    return bytes;
}

void writeFileContents(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
}

bool fileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
