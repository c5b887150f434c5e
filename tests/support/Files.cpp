#include "tests/support/Files.h"

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

int countFiles(const std::string& folder, const char* pattern) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\" + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return 0;
    }
    int count = 0;
    do {
        count++;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return count;
}

int pendingOutputFiles(const std::string& folder) {
    return countFiles(folder, "*.~c?");
}
