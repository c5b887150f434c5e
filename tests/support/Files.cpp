#include "tests/support/Files.h"

#include <shellapi.h>

#include <fstream>
#include <iterator>

TempFolder::TempFolder() {
    static LONG counter;
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    wsprintfA(path_, "%scalbrune-test-%lu-%ld", base, GetCurrentProcessId(), InterlockedIncrement(&counter));
    CreateDirectoryA(path_, nullptr);
}

TempFolder::~TempFolder() {
    char from[MAX_PATH + 1] = {};  // a list of names, ended by an empty one
    lstrcpynA(from, path_, MAX_PATH);
    SHFILEOPSTRUCTA remove = {nullptr, FO_DELETE, from, nullptr, FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT, FALSE, nullptr, nullptr};
    SHFileOperationA(&remove);
}

std::string fileContents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFileContents(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

int pendingOutputFiles(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*.~c?").c_str(), &found);
    int count = search != INVALID_HANDLE_VALUE;
    while (count && FindNextFileA(search, &found)) {
        count++;
    }
    count ? FindClose(search) : 0;
    return count;
}
