// The conversion jobs of the 64-bit program under Wine with the Linux
// lame_enc.dll, from WAV files and from a simulated disc: the MP3 files
// decode here close to what went in.
#include <sys/stat.h>
#include <unistd.h>

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
    void TearDown() override { system(("rm -rf '" + folder + "'").c_str()); }
    std::string path(const std::string& name) const { return folder + "/" + name; }

    // Writes the audio as 0.wav, 1.wav...; returns their Windows paths.
    std::string wavs(const std::vector<Audio>& audio, const char* separator = "' '") {
        std::string paths;
        for (size_t i = 0; i < audio.size(); i++) {
            writeWav(path(std::to_string(i) + ".wav"), audio[i]);
            paths += (i ? separator : "") + windowsPath(path(std::to_string(i) + ".wav"));
        }
        return "'" + paths + "'";
    }

    // Runs a driver of the build, or the copy at `driver`, into the folder;
    // returns its report without the CRs.
    std::string run(const std::string& driver, const std::string& before, const std::string& after,
                    const std::string& environment = "") {
        std::string program = driver[0] == '/' ? driver : CALBRUNE_WIN64_DIR "/" + driver;
        system((environment + " " WINE_RUN " '" + program + "' " + before + " '" + windowsPath(folder) + "' " + after +
                " 2>/dev/null | tr -d '\\r' >'" + path("report") + "'").c_str());
        return readFile(path("report"));
    }

    void expectDecodesTo(const std::string& mp3, const Audio& input, size_t slack) {
        SCOPED_TRACE(mp3);
        expectDecodedClose(input, decodeMp3(readFile(path(mp3)), folder), slack, 0.9);
    }

    std::string folder;
};

TEST_F(JobEndToEnd, WavFilesBecomeMp3sOfTheirAudio) {
    std::vector<Audio> audio = {sweep(44100, 2, 2), musicLike(22050, 1, 2, 7), musicLike(48000, 2, 1.5, 8)};
    std::string report = run("calbrune_wavejob.exe", "", wavs(audio));
    EXPECT_NE(std::string::npos, report.find("converted 3\n")) << report;
    for (size_t i = 0; i < audio.size(); i++) {
        expectDecodesTo(std::to_string(i) + ".mp3", audio[i], 0);
    }
}

// A player reads the length of a VBR or ABR file from its VBR header: mpg123
// gives back exactly the input's samples, no encoder delay or padding.
TEST_F(JobEndToEnd, VariableBitrateFilesTellPlayersTheirLength) {
    Audio input = musicLike(44100, 2, 1.5, 4);
    std::string wav = wavs({input});
    for (const char* method : {"0", "4"}) {  // the default VBR method, and ABR
        SCOPED_TRACE(method);
        std::string report = run("calbrune_wavejob.exe", std::string("--vbr ") + method, wav);
        EXPECT_NE(std::string::npos, report.find("converted 1\n")) << report;
        Audio decoded = decodeMp3(readFile(path("0.mp3")), folder);
        EXPECT_EQ(decoded.frames(), input.frames());
        expectDecodedClose(input, decoded, 0, 0.9);
    }
}

TEST_F(JobEndToEnd, SimulatedDiscTracksBecomeMp3sOfTheirAudio) {
    std::vector<Audio> tracks = {sweep(44100, 2, 1.5), musicLike(44100, 2, 1, 9), sweep(44100, 2, 0.7)};
    std::string report = run("calbrune_cdjob.exe", "", "G 1 2 3", "CALBRUNE_SIMCD=G=wav:" + wavs(tracks, "|"));
    EXPECT_NE(std::string::npos, report.find("converted 3\n")) << report;
    for (size_t i = 0; i < tracks.size(); i++) {
        // A track ends on a whole sector: up to 587 frames of silence more.
        expectDecodesTo("Piste" + std::to_string(i + 1) + ".mp3", tracks[i], 587);
    }
}

// A helper that cannot start fails each file with the encoder's refusal,
// after one attempt each: the list is not held up at each file.
TEST_F(JobEndToEnd, AnEncoderThatCannotStartFailsEachFile) {
    system(("cp " CALBRUNE_WIN64_DIR "/calbrune_wavejob.exe " CALBRUNE_WIN64_DIR "/lame_enc.dll '" + folder + "'").c_str());
    std::ofstream(path("lame_enc_helper")) << "#!/bin/sh\necho start >>'" << path("starts") << "'\nexit 1\n";
    chmod(path("lame_enc_helper").c_str(), 0755);
    std::string report = run(path("calbrune_wavejob.exe"), "", wavs({sweep(44100, 2, 0.2), sweep(44100, 2, 0.2)}));
    size_t refused = report.find("l'encodeur refuse");
    EXPECT_NE(std::string::npos, report.find("converted 0\n")) << report;
    EXPECT_NE(std::string::npos, report.find("l'encodeur refuse", refused + 1)) << report;
    EXPECT_EQ("start\nstart\n", readFile(path("starts")));
}

}  // namespace
