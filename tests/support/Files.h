// Files and folders for the tests.
#pragma once

#include <windows.h>

#include <string>

// A folder of its own under the temporary folder, emptied and removed on destruction.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const char* path() const { return path_; }
    std::string file(const char* name) const;

private:
    char path_[MAX_PATH];
};

std::string fileContents(const std::string& path);
void writeFileContents(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
// How many files in `folder` match `pattern` (such as "*.tmp").
int countFiles(const std::string& folder, const char* pattern);
// Temporary outputs that a job left in `folder`.
int pendingOutputFiles(const std::string& folder);
