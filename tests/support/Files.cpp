#include "tests/support/Files.h"

TempFolder::TempFolder() {
    static LONG counter;
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    wsprintfA(path_, "%scalbrune-test-%lu-%ld", base, GetCurrentProcessId(),
              InterlockedIncrement(&counter));
    CreateDirectoryA(path_, nullptr);
}

// Calls `each` with the name of every file in `folder` that matches `pattern`,
// and with every folder in it when `folders` is set.
template <typename Each>
static void forFiles(const std::string& folder, const char* pattern, Each each, bool folders = false) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\" + pattern).c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        bool isFolder = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        if (!isFolder || (folders && found.cFileName[0] != '.')) {
            each(found.cFileName);
        }
    }
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
}

static void removeTree(const std::string& path) {
    forFiles(path, "*", [&](const char* name) {
        std::string inside = path + "\\" + name;
        DeleteFileA(inside.c_str()) || (removeTree(inside), true);
    }, true);
    RemoveDirectoryA(path.c_str());
}

TempFolder::~TempFolder() { removeTree(path_); }

std::string TempFolder::file(const char* name) const {
    return std::string(path_) + "\\" + name;
}

std::string fileContents(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    std::string bytes;
    char buffer[65536];
    DWORD got;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof(buffer), &got, nullptr) &&
           got > 0) {
        bytes.append(buffer, got);
    }
    CloseHandle(file);
    return bytes;
}

void writeFileContents(const std::string& path, const std::string& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
    CloseHandle(file);
}

bool fileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int countFiles(const std::string& folder, const char* pattern) {
    int count = 0;
    forFiles(folder, pattern, [&count](const char*) { count++; });
    return count;
}

int pendingOutputFiles(const std::string& folder) {
    return countFiles(folder, "*.~c?");
}
