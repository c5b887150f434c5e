// Runs lame_enc.dll under Wine through lamedll_encode.exe and checks what
// comes out against the input and against LAME called directly.
#include <dirent.h>
#include <lame/lame.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
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
            std::string command = "cp -p '" + from + "' '" + folder + "/'";
            ASSERT_EQ(0, system(command.c_str()));
        }
    }

    void TearDown() override {
        EXPECT_TRUE(waitForNoHelper(2000)) << "a helper outlived its test";
        std::string command = "rm -rf '" + folder + "'";
        system(command.c_str());
    }

    std::vector<pid_t> helpers() const {
        std::vector<pid_t> found;
        std::string helper = folder + "/lame_enc_helper";
        DIR* proc = opendir("/proc");
        while (dirent* entry = proc ? readdir(proc) : nullptr) {
            pid_t pid = atoi(entry->d_name);
            char link[64];
            char target[4096];
            snprintf(link, sizeof link, "/proc/%d/exe", pid);
            ssize_t length = pid > 0 ? readlink(link, target, sizeof target - 1) : -1;
            if (length > 0) {
                target[length] = 0;
                // A zombie has no exe link, so only live helpers count.
                if (helper == target) {
                    found.push_back(pid);
                }
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

    std::string driverCommand(const std::string& wav, const std::string& mp3, const std::string& settings) const {
        return std::string(WINE_RUN) + " '" + path("lamedll_encode.exe") + "' '" + windowsPath(wav) + "' '" +
               windowsPath(mp3) + "' " + settings;
    }

    // Encodes through the DLL; returns the driver's report.
    std::string encode(const Audio& audio, const std::string& settings, std::string* mp3) {
        std::string wav = path("in.wav");
        std::string out = path("out.mp3");
        writeWav(wav, audio);
        unlink(out.c_str());
        FILE* driver = popen((driverCommand(wav, out, settings) + " 2>&1").c_str(), "r");
        std::string report;
        char line[256];
        while (driver && fgets(line, sizeof line, driver)) {
            report += line;
        }
        int status = driver ? pclose(driver) : -1;
        EXPECT_EQ(0, status) << report;
        *mp3 = readFile(out);
        return report;
    }

    Audio decode(const std::string& mp3) { return decodeMp3(mp3, folder); }

    std::string folder;
};

struct DecodeCase {
    const char* name;
    Audio audio;
    const char* settings;
    double minCorrelation;
};

TEST_F(WineEncodeTest, DecodedAudioMatchesInput) {
    DecodeCase cases[] = {
        {"sweep stereo 44.1", sweep(44100, 2, 3), "", 0.97},
        {"sweep mono 44.1", sweep(44100, 1, 2), "", 0.97},
        {"music stereo 48", musicLike(48000, 2, 3, 1), "mode=0 bitrate=192", 0.9},
        {"music mono 22.05", musicLike(22050, 1, 2, 2), "bitrate=64", 0.9},
        {"sweep stereo 22.05", sweep(22050, 2, 2), "bitrate=96", 0.97},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string mp3;
        encode(c.audio, c.settings, &mp3);
        Audio decoded = decode(mp3);
        ASSERT_EQ(c.audio.rate, decoded.rate);
        ASSERT_EQ(c.audio.channels, decoded.channels);
        size_t frame = c.audio.rate >= 32000 ? 1152 : 576;
        size_t lag = bestLag(c.audio, decoded);
        EXPECT_LT(lag, 2 * frame);
        EXPECT_GE(decoded.frames(), c.audio.frames() + lag);
        EXPECT_LE(decoded.frames(), c.audio.frames() + lag + 2 * frame);
        for (int channel = 0; channel < c.audio.channels; channel++) {
            EXPECT_GT(correlation(c.audio, decoded, channel, lag), c.minCorrelation) << "channel " << channel;
        }
    }

    std::string mp3;
    Audio quiet = silence(22050, 1, 2);
    encode(quiet, "bitrate=32", &mp3);
    Audio decoded = decode(mp3);
    ASSERT_EQ(22050, decoded.rate);
    ASSERT_EQ(1, decoded.channels);
    EXPECT_GE(decoded.frames(), quiet.frames());
    EXPECT_LE(decoded.frames(), quiet.frames() + 3 * 576 + 1105);
    int loudest = 0;
    for (short s : decoded.samples) {
        loudest = std::max(loudest, abs(s));
    }
    EXPECT_LE(loudest, 2);
}

// The settings the Windows library gives LAME for each record, spelt out.
struct DirectSettings {
    MPEG_mode mode;
    int channels;
    int brate;
    vbr_mode vbr;
    int vbrQuality;
    int meanKbps;
    int maxKbps;
    int outRate;
};

std::string encodeDirect(const Audio& audio, const DirectSettings& s) {
    lame_global_flags* flags = lame_init();
    lame_set_in_samplerate(flags, audio.rate);
    lame_set_bWriteVbrTag(flags, 0);
    lame_set_mode(flags, s.mode);
    lame_set_num_channels(flags, s.channels);
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
    int produced = 0;
    for (size_t at = 0; at < audio.frames() && produced >= 0; at += chunk) {
        int frames = (int)std::min(chunk, audio.frames() - at);
        const short* pcm = audio.samples.data() + at * s.channels;
        produced = s.channels == 1
            ? lame_encode_buffer(flags, pcm, pcm, frames, buffer.data(), (int)buffer.size())
            : lame_encode_buffer_interleaved(flags, (short*)pcm, frames, buffer.data(), (int)buffer.size());
        EXPECT_GE(produced, 0);
        out.append((const char*)buffer.data(), (size_t)std::max(produced, 0));
    }
    produced = lame_encode_flush(flags, buffer.data(), (int)buffer.size());
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
        {"cbr", musicLike(44100, 2, 2, 3), "", {JOINT_STEREO, 2, 128, vbr_off, 0, 0, 0, 0}},
        {"vbr new", musicLike(44100, 2, 2, 4), "vbr=1 method=2 vbrq=2 bitrate=32 maxbitrate=256",
         {JOINT_STEREO, 2, 32, vbr_mtrh, 2, 0, 256, 0}},
        {"abr", sweep(48000, 2, 2), "vbr=1 method=4 abr=160000 bitrate=64 maxbitrate=320",
         {JOINT_STEREO, 2, 64, vbr_abr, 0, 160, 320, 0}},
        {"resampled mono", musicLike(44100, 1, 2, 5), "mode=3 resample=22050 bitrate=48",
         {MONO, 1, 48, vbr_off, 0, 0, 0, 22050}},
        {"stereo", sweep(32000, 2, 2), "mode=0 bitrate=224", {STEREO, 2, 224, vbr_off, 0, 0, 0, 0}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string mp3;
        encode(c.audio, c.settings, &mp3);
        std::string expected = encodeDirect(c.audio, c.direct);
        ASSERT_GT(expected.size(), 1000u);
        EXPECT_EQ(expected.size(), mp3.size());
        size_t first = 0;
        while (first < expected.size() && first < mp3.size() && expected[first] == mp3[first]) {
            first++;
        }
        EXPECT_EQ(expected.size(), first) << "first difference at byte " << first;
    }
}

TEST_F(WineEncodeTest, KilledHelperFailsTheNextCallAndDeadCallerEndsTheHelper) {
    std::string wav = path("in.wav");
    writeWav(wav, sweep(44100, 2, 2));
    for (int killHelper : {1, 0}) {
        SCOPED_TRACE(killHelper ? "helper killed" : "caller killed");
        int toDriver[2];
        int fromDriver[2];
        ASSERT_EQ(0, pipe(toDriver));
        ASSERT_EQ(0, pipe(fromDriver));
        pid_t driver = fork();
        if (driver == 0) {
            dup2(toDriver[0], 0);
            dup2(fromDriver[1], 1);
            close(toDriver[1]);
            close(fromDriver[0]);
            std::string command = "exec " + driverCommand(wav, path("out.mp3"), "hold=10");
            execl("/bin/sh", "sh", "-c", command.c_str(), (char*)nullptr);
            _exit(127);
        }
        close(toDriver[0]);
        close(fromDriver[1]);
        FILE* report = fdopen(fromDriver[0], "r");
        char line[256] = "";
        ASSERT_TRUE(fgets(line, sizeof line, report));
        if (strncmp(line, "held", 4) != 0) {
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
