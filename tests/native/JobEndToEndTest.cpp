// The conversion jobs of the 64-bit program, run under Wine with the Linux
// lame_enc.dll, on real WAV files and on a simulated disc; the MP3 files
// are decoded here with mpg123 and compared with what went in.
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/native/AudioCheck.h"

namespace {

class JobEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/calbrune-e2e-XXXXXX";
        ASSERT_TRUE(mkdtemp(pattern));
        folder = pattern;
    }

    void TearDown() override {
        std::string command = "rm -rf '" + folder + "'";
        system(command.c_str());
    }

    std::string path(const std::string& name) const { return folder + "/" + name; }

    // Runs a driver (of the build, or a copy); returns what it printed.
    std::string runDriver(const std::string& environment, const std::string& driver,
                          const std::vector<std::string>& arguments) {
        std::string program = driver[0] == '/' ? driver : std::string(CALBRUNE_WIN64_DIR) + "/" + driver;
        std::string command = environment + " " + WINE_RUN + " '" + program + "'";
        for (const std::string& argument : arguments) {
            command += " '" + argument + "'";
        }
        FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
        std::string output;
        char line[1024];
        while (pipe && fgets(line, sizeof line, pipe)) {
            output += line;
        }
        // The console of a Windows program ends its lines with CR LF.
        output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());
        if (pipe) {
            pclose(pipe);
        }
        return output;
    }

    // The MP3 decodes close to the input.
    void expectDecodesTo(const std::string& mp3Name, const Audio& input, size_t slack) {
        SCOPED_TRACE(mp3Name);
        std::string mp3 = readFile(path(mp3Name));
        ASSERT_FALSE(mp3.empty());
        expectDecodedClose(input, decodeMp3(mp3, folder), slack, 0.9);
    }

    std::string folder;
};

TEST_F(JobEndToEnd, WavFilesBecomeMp3sAndTheBrokenOneIsReported) {
    Audio a = sweep(44100, 2, 2);
    Audio b = musicLike(22050, 1, 2, 7);
    Audio c = sweep(32000, 1, 1.5);
    Audio d = musicLike(48000, 2, 1.5, 8);
    writeWav(path("a.wav"), a);
    writeWav(path("b.wav"), b);
    writeWav(path("c.wav"), c, 8);
    writeWav(path("d.wav"), d, 16, true);
    std::ofstream(path("e.wav"), std::ios::binary) << std::string("RIFF\x04\0\0\0WAVE", 12);

    std::vector<std::string> arguments = {windowsPath(folder)};
    for (const char* name : {"a.wav", "b.wav", "c.wav", "d.wav", "e.wav"}) {
        arguments.push_back(windowsPath(path(name)));
    }
    std::string report = runDriver("", "calbrune_wavejob.exe", arguments);
    EXPECT_NE(report.find("end 2\n"), std::string::npos) << report;
    EXPECT_NE(report.find("converted 4\n"), std::string::npos) << report;
    EXPECT_NE(report.find("failed " + windowsPath(path("e.wav")) + " : le format audio est introuvable"),
              std::string::npos)
        << report;
    EXPECT_NE(access(path("e.mp3").c_str(), F_OK), 0);

    expectDecodesTo("a.mp3", a, 0);
    expectDecodesTo("b.mp3", b, 0);
    expectDecodesTo("c.mp3", eightBit(c), 0);
    expectDecodesTo("d.mp3", d, 0);
}

// A player reads the length of a VBR or ABR file from its VBR header: mpg123
// gives back exactly the input's samples, no encoder delay or padding.
TEST_F(JobEndToEnd, VariableBitrateFilesTellPlayersTheirLength) {
    Audio input = musicLike(44100, 2, 1.5, 4);
    writeWav(path("v.wav"), input);
    for (const char* method : {"0", "4"}) {  // the default VBR method, and ABR
        SCOPED_TRACE(method);
        std::string report = runDriver("", "calbrune_wavejob.exe",
                                       {"--vbr", method, windowsPath(folder), windowsPath(path("v.wav"))});
        ASSERT_NE(report.find("converted 1\n"), std::string::npos) << report;
        Audio decoded = decodeMp3(readFile(path("v.mp3")), folder);
        EXPECT_EQ(decoded.frames(), input.frames());
        expectDecodedClose(input, decoded, 0, 0.9);
    }
}

TEST_F(JobEndToEnd, SimulatedDiscTracksBecomeMp3sOfTheirAudio) {
    std::vector<Audio> tracks = {sweep(44100, 2, 1.5), musicLike(44100, 2, 1, 9),
                                 sweep(44100, 2, 0.7)};
    std::string disc = "CALBRUNE_SIMCD='G=wav:";
    for (size_t i = 0; i < tracks.size(); i++) {
        std::string name = "track" + std::to_string(i + 1) + ".wav";
        writeWav(path(name), tracks[i]);
        disc += (i ? "|" : "") + windowsPath(path(name));
    }
    disc += "'";
    std::string report = runDriver(disc, "calbrune_cdjob.exe", {windowsPath(folder), "G", "1", "2", "3"});
    EXPECT_NE(report.find("end 1\n"), std::string::npos) << report;
    EXPECT_NE(report.find("converted 3\n"), std::string::npos) << report;
    // A track ends on a whole sector: up to 587 frames of silence more.
    expectDecodesTo("Piste1.mp3", tracks[0], 587);
    expectDecodesTo("Piste2.mp3", tracks[1], 587);
    expectDecodesTo("Piste3.mp3", tracks[2], 587);
}

// An encoder whose helper cannot run: every file is reported, and the list
// is not held up for seconds at each of them.
// Every file fails with the encoder's refusal, each after one attempt to
// start the helper.
TEST_F(JobEndToEnd, AnEncoderThatCannotStartFailsEachFile) {
    for (const char* name : {"calbrune_wavejob.exe", "lame_enc.dll"}) {
        std::string command = std::string("cp '") + CALBRUNE_WIN64_DIR + "/" + name + "' '" + folder + "/'";
        ASSERT_EQ(0, system(command.c_str()));
    }
    std::ofstream(path("lame_enc_helper")) << "#!/bin/sh\necho start >>'" << path("starts") << "'\nexit 1\n";
    ASSERT_EQ(0, chmod(path("lame_enc_helper").c_str(), 0755));
    std::vector<std::string> arguments = {windowsPath(folder)};
    for (int i = 0; i < 2; i++) {
        std::string name = "f" + std::to_string(i) + ".wav";
        writeWav(path(name), sweep(44100, 2, 0.2));
        arguments.push_back(windowsPath(path(name)));
    }
    std::string report = runDriver("", path("calbrune_wavejob.exe"), arguments);
    EXPECT_NE(report.find("converted 0\n"), std::string::npos) << report;
    size_t refused = 0;
    for (size_t at = report.find("l'encodeur refuse"); at != std::string::npos;
         at = report.find("l'encodeur refuse", at + 1)) {
        refused++;
    }
    EXPECT_EQ(refused, 2u) << report;
    EXPECT_EQ(readFile(path("starts")), "start\nstart\n");
}

}  // namespace
