#include "tests/support/Files.h"

#include <fstream>
#include <iterator>

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
    search != INVALID_HANDLE_VALUE ? (void)FindClose(search) : (void)0;
}

static void removeTree(const std::string& path) {
    forFiles(path, "*", [&](const char* name) {
        std::string inside = path + "\\" + name;
        DeleteFileA(inside.c_str()) || (removeTree(inside), true);
    }, true);
    RemoveDirectoryA(path.c_str());
}

TempFolder::~TempFolder() { removeTree(path_); }

std::string fileContents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileContents(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

int pendingOutputFiles(const std::string& folder) {
    int count = 0;
    forFiles(folder, "*.~c?", [&count](const char*) { count++; });
    return count;
}
