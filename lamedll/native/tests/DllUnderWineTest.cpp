// Runs lame_enc.dll under Wine through lamedll_encode.exe and checks what
// comes out against the input and against LAME called directly.
#include <dirent.h>
#include <lame/lame.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/native/AudioCheck.h"

namespace {

// A folder of its own for each test, with its own copy of the DLL, the
// helper and the driver: helpers started from it belong to this test alone.
class WineEncodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/lamedll-test-XXXXXX";
        ASSERT_TRUE(mkdtemp(pattern));
        folder = pattern;
        for (const char* name : {"lame_enc.dll", "lame_enc_helper", "lamedll_encode.exe"}) {
            std::string from = std::string(LAMEDLL_WIN64_DIR) + "/" + name;
            ASSERT_EQ(0, access(from.c_str(), R_OK)) << from << " is missing: build win64 first";
            ASSERT_EQ(0, system(("cp -p '" + from + "' '" + folder + "/'").c_str()));
        }
    }

    void TearDown() override {
        EXPECT_TRUE(waitForNoHelper(2000)) << "a helper outlived its test";
        system(("rm -rf '" + folder + "'").c_str());
    }

    // Live helpers started from this folder (a zombie has no exe link).
    std::vector<pid_t> helpers() const {
        std::vector<pid_t> found;
        DIR* proc = opendir("/proc");
        while (dirent* entry = proc ? readdir(proc) : nullptr) {
            char target[4096];
            std::string link = std::string("/proc/") + entry->d_name + "/exe";
            ssize_t length = atoi(entry->d_name) > 0 ? readlink(link.c_str(), target, sizeof target - 1) : -1;
            if (length > 0 && std::string(target, length) == path("lame_enc_helper")) {
                found.push_back(atoi(entry->d_name));
            }
        }
        if (proc) {
            closedir(proc);
        }
        return found;
    }

    bool waitForNoHelper(int milliseconds) const {
        for (int waited = 0; waited <= milliseconds; waited += 20) {
            if (helpers().empty()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    std::string path(const std::string& name) const { return folder + "/" + name; }

    std::string driverCommand(const std::string& settings) const {
        return std::string(WINE_RUN) + " '" + path("lamedll_encode.exe") + "' '" +
               windowsPath(path("in.wav")) + "' '" + windowsPath(path("out.mp3")) + "' " + settings;
    }

    // Encodes through the DLL; returns the MP3.
    std::string encode(const Audio& audio, const std::string& settings) {
        writeWav(path("in.wav"), audio);
        unlink(path("out.mp3").c_str());
        FILE* driver = popen((driverCommand(settings) + " 2>&1").c_str(), "r");
        std::string report;
        char line[256];
        while (driver && fgets(line, sizeof line, driver)) {
            report += line;
        }
        EXPECT_EQ(0, driver ? pclose(driver) : -1) << report;
        return readFile(path("out.mp3"));
    }

    std::string folder;
};

TEST_F(WineEncodeTest, DecodedAudioMatchesInput) {
    struct {
        const char* name;
        Audio audio;
        const char* settings;
        double minCorrelation;
    } cases[] = {
        {"sweep stereo 44.1", sweep(44100, 2, 3), "", 0.97},
        {"sweep mono 44.1", sweep(44100, 1, 2), "", 0.97},
        {"music stereo 48", musicLike(48000, 2, 3, 1), "mode=0 bitrate=192", 0.9},
        {"music mono 22.05", musicLike(22050, 1, 2, 2), "bitrate=64", 0.9},
        {"sweep stereo 22.05", sweep(22050, 2, 2), "bitrate=96", 0.97},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Audio decoded = decodeMp3(encode(c.audio, c.settings), folder);
        size_t lag = expectDecodedClose(c.audio, decoded, 0, c.minCorrelation);
        EXPECT_LT(lag, 2u * (c.audio.rate >= 32000 ? 1152 : 576));
    }

    Audio quiet = silence(22050, 1, 2);
    Audio decoded = decodeMp3(encode(quiet, "bitrate=32"), folder);
    ASSERT_EQ(22050, decoded.rate);
    ASSERT_EQ(1, decoded.channels);
    EXPECT_GE(decoded.frames(), quiet.frames());
    EXPECT_LE(decoded.frames(), quiet.frames() + 3 * 576 + 1105);
    for (short s : decoded.samples) {
        ASSERT_LE(abs(s), 2);
    }
}

// The settings the Windows library gives LAME for each record, spelt out.
struct DirectSettings {
    MPEG_mode mode;
    int brate;
    vbr_mode vbr;
    int vbrQuality, meanKbps, maxKbps, outRate;
};

std::string encodeDirect(const Audio& audio, const DirectSettings& s) {
    lame_global_flags* flags = lame_init();
    lame_set_in_samplerate(flags, audio.rate);
    lame_set_bWriteVbrTag(flags, 0);
    lame_set_mode(flags, s.mode);
    lame_set_num_channels(flags, audio.channels);
    if (s.vbr != vbr_off) {
        lame_set_VBR_q(flags, s.vbrQuality);
    }
    lame_set_VBR(flags, s.vbr);
    lame_set_brate(flags, s.brate);
    if (s.meanKbps) {
        lame_set_VBR_mean_bitrate_kbps(flags, s.meanKbps);
    }
    if (s.outRate) {
        lame_set_out_samplerate(flags, s.outRate);
    }
    lame_set_original(flags, 1);
    // The library always sets this; it is not LAME's default, and it limits
    // the frame size at high bitrates.
    lame_set_strict_ISO(flags, 0);
    lame_set_VBR_min_bitrate_kbps(flags, s.brate);
    if (s.maxKbps) {
        lame_set_VBR_max_bitrate_kbps(flags, s.maxKbps);
    }
    EXPECT_EQ(0, lame_init_params(flags));
    std::vector<unsigned char> buffer(1 << 20);
    std::string out;
    // In the pieces the program hands over, one MPEG frame's worth at a time.
    size_t chunk = lame_get_version(flags) == 0 ? 576 : 1152;
    for (size_t at = 0; at < audio.frames(); at += chunk) {
        int frames = (int)std::min(chunk, audio.frames() - at);
        short* pcm = (short*)audio.samples.data() + at * audio.channels;
        int produced = audio.channels == 1
            ? lame_encode_buffer(flags, pcm, pcm, frames, buffer.data(), (int)buffer.size())
            : lame_encode_buffer_interleaved(flags, pcm, frames, buffer.data(), (int)buffer.size());
        EXPECT_GE(produced, 0);
        out.append((const char*)buffer.data(), (size_t)std::max(produced, 0));
    }
    int produced = lame_encode_flush(flags, buffer.data(), (int)buffer.size());
    out.append((const char*)buffer.data(), (size_t)std::max(produced, 0));
    lame_close(flags);
    return out;
}

TEST_F(WineEncodeTest, SameBytesAsLameCalledDirectly) {
    struct {
        const char* name;
        Audio audio;
        const char* settings;
        DirectSettings direct;
    } cases[] = {
        {"cbr", musicLike(44100, 2, 2, 3), "", {JOINT_STEREO, 128, vbr_off, 0, 0, 0, 0}},
        {"vbr new", musicLike(44100, 2, 2, 4), "vbr=1 method=2 vbrq=2 bitrate=32 maxbitrate=256",
         {JOINT_STEREO, 32, vbr_mtrh, 2, 0, 256, 0}},
        {"abr", sweep(48000, 2, 2), "vbr=1 method=4 abr=160000 bitrate=64 maxbitrate=320",
         {JOINT_STEREO, 64, vbr_abr, 0, 160, 320, 0}},
        {"resampled mono", musicLike(44100, 1, 2, 5), "mode=3 resample=22050 bitrate=48",
         {MONO, 48, vbr_off, 0, 0, 0, 22050}},
        {"stereo", sweep(32000, 2, 2), "mode=0 bitrate=224", {STEREO, 224, vbr_off, 0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string mp3 = encode(c.audio, c.settings);
        std::string expected = encodeDirect(c.audio, c.direct);
        ASSERT_GT(expected.size(), 1000u);
        EXPECT_EQ(expected.size(), mp3.size());
        size_t first = std::mismatch(expected.begin(), expected.end(), mp3.begin(), mp3.end()).first -
                       expected.begin();
        EXPECT_EQ(expected.size(), first) << "first difference at byte " << first;
    }
}

TEST_F(WineEncodeTest, KilledHelperFailsTheNextCallAndDeadCallerEndsTheHelper) {
    writeWav(path("in.wav"), sweep(44100, 2, 2));
    for (int killHelper : {1, 0}) {
        SCOPED_TRACE(killHelper ? "helper killed" : "caller killed");
        // The driver stops after its tenth chunk until it reads a line.
        int toDriver[2], fromDriver[2];
        ASSERT_EQ(0, pipe(toDriver));
        ASSERT_EQ(0, pipe(fromDriver));
        pid_t driver = fork();
        if (driver == 0) {
            dup2(toDriver[0], 0);
            dup2(fromDriver[1], 1);
            close(toDriver[1]);
            close(fromDriver[0]);
            execl("/bin/sh", "sh", "-c", ("exec " + driverCommand("hold=10")).c_str(), (char*)nullptr);
            _exit(127);
        }
        close(toDriver[0]);
        close(fromDriver[1]);
        FILE* report = fdopen(fromDriver[0], "r");
        char line[256] = "";
        if (!fgets(line, sizeof line, report) || strncmp(line, "held", 4) != 0) {
            kill(driver, SIGKILL);
            waitpid(driver, nullptr, 0);
            FAIL() << line;
        }
        std::vector<pid_t> running = helpers();
        ASSERT_EQ(1u, running.size());
        if (killHelper) {
            kill(running[0], SIGKILL);
            ASSERT_TRUE(waitForNoHelper(1000));
            ASSERT_EQ(1, write(toDriver[1], "\n", 1));
            ASSERT_TRUE(fgets(line, sizeof line, report));
            unsigned code = 0;
            long long micros = -1;
            ASSERT_EQ(2, sscanf(line, "failed beEncodeChunk %u after %lld us", &code, &micros)) << line;
            EXPECT_NE(0u, code);
            EXPECT_LT(micros, 1000000);
        } else {
            kill(driver, SIGKILL);
            EXPECT_TRUE(waitForNoHelper(1000));
        }
        int status = 0;
        waitpid(driver, &status, 0);
        EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        fclose(report);
        close(toDriver[1]);
    }
}

} // namespace
