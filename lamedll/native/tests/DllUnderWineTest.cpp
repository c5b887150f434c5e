// Runs lame_enc.dll under Wine through lamedll_encode.exe and checks what
// comes out against the input and against LAME called directly.
#include <dirent.h>
#include <fcntl.h>
#include <lame/lame.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
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

    // Puts a script in the helper's place that runs `before`, then the helper.
    void wrapHelper(const std::string& before) {
        if (access(path("lame_enc_helper.real").c_str(), X_OK) != 0) {
            ASSERT_EQ(0, rename(path("lame_enc_helper").c_str(), path("lame_enc_helper.real").c_str()));
        }
        std::ofstream(path("lame_enc_helper"))
            << "#!/bin/sh\n" << before << "\nexec '" << path("lame_enc_helper.real") << "' \"$@\"\n";
        ASSERT_EQ(0, chmod(path("lame_enc_helper").c_str(), 0755));
    }

    // Live helpers started from this folder (a zombie has no exe link).
    std::vector<pid_t> helpers() const {
        std::vector<pid_t> found;
        DIR* proc = opendir("/proc");
        while (dirent* entry = proc ? readdir(proc) : nullptr) {
            char target[4096];
            std::string link = std::string("/proc/") + entry->d_name + "/exe";
            ssize_t length = atoi(entry->d_name) > 0 ? readlink(link.c_str(), target, sizeof target - 1) : -1;
            std::string exe = length > 0 ? std::string(target, length) : "";
            if (exe == path("lame_enc_helper") || exe == path("lame_enc_helper.real")) {
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

// The driver stopped before chunk `hold` until it reads a line.
struct HeldDriver {
    pid_t pid = -1;
    int input = -1;
    FILE* output = nullptr;

    // Returns the driver's first line: "held" once it has stopped.
    std::string start(const std::string& command) {
        int toDriver[2], fromDriver[2];
        if (pipe(toDriver) != 0 || pipe(fromDriver) != 0) {
            return "";
        }
        pid = fork();
        if (pid == 0) {
            dup2(toDriver[0], 0);
            dup2(fromDriver[1], 1);
            close(toDriver[1]);
            close(fromDriver[0]);
            execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), (char*)nullptr);
            _exit(127);
        }
        close(toDriver[0]);
        close(fromDriver[1]);
        input = toDriver[1];
        output = fdopen(fromDriver[0], "r");
        return line(60000);
    }

    // The next line, or "" when none comes within the limit.
    std::string line(int limitMs) {
        pollfd ready = {fileno(output), POLLIN, 0};
        char text[256];
        if (poll(&ready, 1, limitMs) <= 0 || !fgets(text, sizeof text, output)) {
            return "";
        }
        return text;
    }

    bool release() { return write(input, "\n", 1) == 1; }

    // Ends it if it still runs; true when it had ended in success.
    bool finish() {
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        fclose(output);
        close(input);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
};

TEST_F(WineEncodeTest, KilledHelperFailsTheNextCallAndDeadCallerEndsTheHelper) {
    writeWav(path("in.wav"), sweep(44100, 2, 2));
    for (int killHelper : {1, 0}) {
        SCOPED_TRACE(killHelper ? "helper killed" : "caller killed");
        HeldDriver driver;
        std::string line = driver.start(driverCommand("hold=10"));
        if (line.compare(0, 4, "held") != 0) {
            driver.finish();
            FAIL() << line;
        }
        std::vector<pid_t> running = helpers();
        ASSERT_EQ(1u, running.size());
        if (killHelper) {
            kill(running[0], SIGKILL);
            ASSERT_TRUE(waitForNoHelper(1000));
            ASSERT_TRUE(driver.release());
            line = driver.line(60000);
            unsigned code = 0;
            long long micros = -1;
            ASSERT_EQ(2, sscanf(line.c_str(), "failed beEncodeChunk %u after %lld us", &code, &micros)) << line;
            EXPECT_NE(0u, code);
            EXPECT_LT(micros, 1000000);
        } else {
            kill(driver.pid, SIGKILL);
            EXPECT_TRUE(waitForNoHelper(1000));
        }
        EXPECT_FALSE(driver.finish());
    }
}

// A helper that stops answering without dying: the call that waits for it
// fails after a bounded wait instead of holding the caller for ever.
TEST_F(WineEncodeTest, StoppedHelperFailsTheCallThatWaitsForIt) {
    writeWav(path("in.wav"), sweep(44100, 2, 2));
    struct {
        int hold;
        const char* failure;
    } cases[] = {
        {10, "failed beEncodeChunk"},
        // The last of 77 chunks: the flush is what waits for it.
        {76, "failed beDeinitStream"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failure);
        HeldDriver driver;
        std::string line = driver.start(driverCommand("hold=" + std::to_string(c.hold)));
        std::vector<pid_t> running = helpers();
        if (line.compare(0, 4, "held") != 0 || running.size() != 1) {
            driver.finish();
            FAIL() << line;
        }
        kill(running[0], SIGSTOP);
        ASSERT_TRUE(driver.release());
        // Far beyond the DLL's limit, but an end: the old code waited for ever.
        line = driver.line(30000);
        kill(running[0], SIGCONT);
        EXPECT_EQ(0u, line.find(c.failure)) << line;
        EXPECT_FALSE(driver.finish());
    }
}

// One slow start, as on a busy machine, costs no other stream: every start
// gets the whole wait, not a shorter one after a failure.
TEST_F(WineEncodeTest, SlowStartsAmongNormalOnesAllConnect) {
    wrapHelper("n=$(cat '" + path("starts") + "' 2>/dev/null || echo 0)\n"
               "echo $((n + 1)) > '" + path("starts") + "'\n"
               "case $n in 0) sleep 3.3 ;; 1) sleep 1 ;; esac");
    std::string mp3 = encode(sweep(44100, 2, 1), "starts=4");
    EXPECT_GT(mp3.size(), 10000u);
    EXPECT_EQ("4", readFile(path("starts")).substr(0, 1));
}

// Someone who learns the folder's name before the helper makes it puts a
// folder with FIFOs of their own there: the helper, if it runs, does not
// take it over, and the DLL never opens its "in" nor sends anything, whatever
// "out" says.
TEST_F(WineEncodeTest, PlantedFolderIsNeverUsed) {
    writeWav(path("in.wav"), sweep(44100, 2, 1));
    for (int helperRuns : {1, 0}) {
        SCOPED_TRACE(helperRuns ? "helper runs" : "no helper");
        unlink(path("planted").c_str());
        wrapHelper("f=\"$LAME_ENC_FOLDER\"\n"
                   "mkdir -m 777 \"$f\" && mkfifo -m 666 \"$f/in\" \"$f/out\" && echo \"$f\" > '" +
                   path("planted") + "'" + (helperRuns ? "" : "\nexit 0"));
        std::string report;
        std::atomic<bool> ended(false);
        std::thread driver([&] {
            FILE* output = popen((driverCommand("") + " 2>&1").c_str(), "r");
            char line[256];
            while (output && fgets(line, sizeof line, output)) {
                report += line;
            }
            if (output) {
                pclose(output);
            }
            ended = true;
        });
        std::string planted;
        for (int wait = 0; wait < 500 && planted.empty() && !ended; wait++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            planted = readFile(path("planted"));
        }
        planted = planted.substr(0, planted.find('\n'));
        int in = open((planted + "/in").c_str(), O_RDWR | O_NONBLOCK);
        int out = open((planted + "/out").c_str(), O_RDWR | O_NONBLOCK);
        int watch = inotify_init1(IN_NONBLOCK);
        inotify_add_watch(watch, (planted + "/in").c_str(), IN_OPEN | IN_MODIFY);
        // A ready answer from a stranger, who cannot know the nonce.
        std::string ready = "R" + std::string(32, '0');
        EXPECT_EQ((ssize_t)ready.size(), write(out, ready.data(), ready.size()));
        char sent[64];
        ssize_t got = -1;
        for (int wait = 0; wait < 400 && !ended && got <= 0; wait++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            got = read(in, sent, sizeof sent);
        }
        char event[4096];
        ssize_t events = read(watch, event, sizeof event);
        close(in);
        close(out);
        close(watch);
        driver.join();
        EXPECT_FALSE(planted.empty());
        EXPECT_LE(got, 0) << "the DLL wrote into a planted FIFO";
        EXPECT_LE(events, 0) << "the DLL opened a planted FIFO";
        EXPECT_NE(std::string::npos, report.find("failed beInitStream")) << report;
        struct stat folderStatus;
        EXPECT_EQ(0, stat(planted.c_str(), &folderStatus));
        EXPECT_EQ(0777u, folderStatus.st_mode & 0777) << "the helper took the folder over";
        system(("rm -rf '" + planted + "'").c_str());
    }
}

} // namespace
