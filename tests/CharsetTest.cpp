#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "tests/support/Files.h"

// é is the byte E9 in the program's French texts, not UTF-8's two bytes.
TEST(Charset, TheProgramsTextsAreWindows1252) {
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string program = fileContents(std::string(path, strrchr(path, '\\')) + "\\..\\calbrune.exe");
    ASSERT_FALSE(program.empty());
    for (const char* text : {" Joint St\xE9reo", "les donn\xE9" "es audio", "Progression g\xE9n\xE9rale"}) {
        EXPECT_NE(program.find(text), std::string::npos) << text;
    }
}
