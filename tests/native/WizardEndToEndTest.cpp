// The 64-bit program's wizard driven from outside by calbrune_drive, under
// Wine with the Linux lame_enc.dll; the MP3 files are decoded here and
// compared with what went in.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/native/AudioCheck.h"

namespace {

class WizardEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (!getenv("DISPLAY")) {
            GTEST_SKIP() << "no X display for the wizard";
        }
        char pattern[] = "/tmp/calbrune-wizard-XXXXXX";
        ASSERT_TRUE(mkdtemp(pattern));
        folder = pattern;
    }
    void TearDown() override { system(("rm -rf '" + folder + "'").c_str()); }
    std::string path(const std::string& name) const { return folder + "/" + name; }

    // Runs calbrune_drive (which exits 0 only when every step went through
    // and the program ended with exit code 0) and returns its log. Into a
    // file: a pipe could be held open by the programs Wine starts.
    std::string drive(const std::string& environment, const std::vector<std::string>& arguments) {
        std::string command = environment + " timeout 60 " WINE_RUN " '" CALBRUNE_WIN64_DIR "/calbrune_drive.exe'";
        for (const std::string& argument : arguments) {
            command += " '" + (argument[0] == '/' ? windowsPath(argument) : argument) + "'";
        }
        EXPECT_EQ(system((command + " >'" + path("drive.log") + "' 2>&1").c_str()), 0) << readFile(path("drive.log"));
        return readFile(path("drive.log"));
    }
    void expectDecodesTo(const std::string& mp3, const Audio& input, size_t slack) {
        SCOPED_TRACE(mp3);
        expectDecodedClose(input, decodeMp3(readFile(mp3), folder), slack, 0.9);
    }

    std::string folder;
};

// Two files chosen together in the open-file dialog; the MP3 files go beside
// them and the program closes by itself, saying nothing.
TEST_F(WizardEndToEnd, WavFilesChosenInTheDialogBecomeMp3sBesideThem) {
    Audio a = sweep(44100, 2, 1.5), b = musicLike(22050, 1, 1, 3);
    writeWav(path("a.wav"), a);
    writeWav(path("b.wav"), b);
    std::string log = drive("", {CALBRUNE_WIN64_DIR "/calbrune.exe", "wav", "-", "-", path("a.wav"), path("b.wav")});
    EXPECT_EQ(log.find("message:"), std::string::npos) << log;
    expectDecodesTo(path("a.mp3"), a, 0);
    expectDecodesTo(path("b.mp3"), b, 0);
}

// Tracks 3 and 1 of a simulated disc into a folder chosen in the folder
// browser; the wizard says it succeeded, returns to its first page and quits
// on Cancel.
TEST_F(WizardEndToEnd, ChosenTracksBecomeMp3sInTheBrowsedFolder) {
    std::vector<Audio> tracks = {sweep(44100, 2, 1), musicLike(44100, 2, 0.5, 4), musicLike(44100, 2, 1, 5)};
    std::string disc = "CALBRUNE_SIMCD='G=wav:";
    for (size_t i = 0; i < tracks.size(); i++) {
        writeWav(path("track" + std::to_string(i) + ".wav"), tracks[i]);
        disc += (i ? "|" : "") + windowsPath(path("track" + std::to_string(i) + ".wav"));
    }
    ASSERT_EQ(0, mkdir(path("out").c_str(), 0755));
    std::string log = drive(disc + "'", {CALBRUNE_WIN64_DIR "/calbrune_simcd.exe", "cd", path("out"), "-", "--return", "3", "1"});
    EXPECT_NE(log.find("message: Encodage reussi!"), std::string::npos) << log;
    // A track ends on a whole sector: up to 587 frames of silence more.
    expectDecodesTo(path("out/Piste1.mp3"), tracks[0], 587);
    expectDecodesTo(path("out/Piste3.mp3"), tracks[2], 587);
    EXPECT_NE(access(path("out/Piste2.mp3").c_str(), F_OK), 0);
}

}  // namespace
