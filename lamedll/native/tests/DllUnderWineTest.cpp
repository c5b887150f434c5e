// lame_enc.dll under Wine, driven by lamedll_encode.exe: its MP3 against
// LAME called directly, and what it does when its helper dies, stops, starts
// slowly or finds its folder taken.
#include <fcntl.h>
#include <lame/lame.h>
#include <signal.h>
#include <stdio.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/native/AudioCheck.h"

namespace {

void pause20ms() { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }

// A folder of its own for each test, with its own copy of the DLL, the
// helper and the driver: helpers started from it belong to this test alone.
class WineEncodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/lamedll-test-XXXXXX";
        ASSERT_TRUE(mkdtemp(pattern));
        folder = pattern;
        ASSERT_EQ(0, system(("cd " LAMEDLL_WIN64_DIR " && cp lame_enc.dll lame_enc_helper lamedll_encode.exe '" +
                             folder + "' && cp lame_enc_helper '" + path("real_helper") + "'").c_str()));
    }

    void TearDown() override {
        EXPECT_TRUE(waitForNoHelper(100)) << "a helper outlived its test";
        system(("rm -rf '" + folder + "'").c_str());
    }

    std::string path(const std::string& name) const { return folder + "/" + name; }

    // Puts a script in the helper's place that runs `before`, then the helper.
    void wrapHelper(const std::string& before) {
        std::ofstream(path("lame_enc_helper")) << "#!/bin/sh\n" << before << "\nexec '" << path("real_helper") << "'\n";
        chmod(path("lame_enc_helper").c_str(), 0755);
    }

    // Live helpers started from this folder (a zombie has no exe link).
    std::vector<pid_t> helpers() const {
        std::vector<pid_t> found;
        FILE* list = popen(("for p in /proc/[0-9]*; do case $(readlink $p/exe) in '" + path("lame_enc_helper") +
                            "'|'" + path("real_helper") + "') echo ${p#/proc/};; esac; done 2>/dev/null").c_str(), "r");
        for (int pid; fscanf(list, "%d", &pid) == 1;) {
            found.push_back(pid);
        }
        pclose(list);
        return found;
    }

    bool waitForNoHelper(int waits) const {
        for (int wait = 0; wait < waits && !helpers().empty(); wait++) {
            pause20ms();
        }
        return helpers().empty();
    }

    std::string driverCommand(const std::string& settings) const {
        return std::string(WINE_RUN) + " '" + path("lamedll_encode.exe") + "' '" + windowsPath(path("in.wav")) +
               "' '" + windowsPath(path("out.mp3")) + "' " + settings;
    }

    // Runs the driver to its end; returns the MP3.
    std::string encode(const Audio& audio, const std::string& settings) {
        writeWav(path("in.wav"), audio);
        EXPECT_EQ(0, system((driverCommand(settings) + " >'" + path("report") + "' 2>&1").c_str()))
            << readFile(path("report"));
        return readFile(path("out.mp3"));
    }

    // Starts the driver in the background, reading `input`.
    pid_t start(const std::string& settings, const std::string& input) {
        unlink(path("report").c_str());
        std::string command = "exec " + driverCommand(settings) + " <'" + input + "' >'" + path("report") +
                              "' 2>&1 & echo $!";
        FILE* shell = popen(command.c_str(), "r");
        int pid = -1;
        EXPECT_EQ(1, fscanf(shell, "%d", &pid));
        pclose(shell);
        return pid;
    }

    // What the driver printed, once it says `text` or after `waits` waits.
    std::string report(const std::string& text, int waits) {
        std::string printed;
        for (int wait = 0; wait < waits && (printed = readFile(path("report"))).find(text) == std::string::npos; wait++) {
            pause20ms();
        }
        return printed;
    }

    std::string folder;
};

// The settings the library gives LAME for each record, spelt out.
struct Direct {
    MPEG_mode mode;
    int brate;
    vbr_mode vbr;
    int vbrQuality, meanKbps, maxKbps, outRate, copyright;
};

std::string encodeDirect(const Audio& audio, const Direct& s) {
    lame_global_flags* flags = lame_init();
    lame_set_in_samplerate(flags, audio.rate);
    lame_set_bWriteVbrTag(flags, 0);
    lame_set_mode(flags, s.mode);
    lame_set_num_channels(flags, audio.channels);
    lame_set_VBR_q(flags, s.vbr != vbr_off ? s.vbrQuality : lame_get_VBR_q(flags));
    lame_set_VBR(flags, s.vbr);
    lame_set_brate(flags, s.brate);
    lame_set_VBR_mean_bitrate_kbps(flags, s.meanKbps ? s.meanKbps : lame_get_VBR_mean_bitrate_kbps(flags));
    lame_set_out_samplerate(flags, s.outRate);
    lame_set_original(flags, 1);
    lame_set_copyright(flags, s.copyright);
    // Not LAME's default: it limits the frame size at high bitrates.
    lame_set_strict_ISO(flags, 0);
    lame_set_VBR_min_bitrate_kbps(flags, s.brate);
    lame_set_VBR_max_bitrate_kbps(flags, s.maxKbps ? s.maxKbps : lame_get_VBR_max_bitrate_kbps(flags));
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
        out.append((const char*)buffer.data(), (size_t)std::max(produced, 0));
    }
    int produced = lame_encode_flush(flags, buffer.data(), (int)buffer.size());
    out.append((const char*)buffer.data(), (size_t)std::max(produced, 0));
    lame_close(flags);
    return out;
}

TEST_F(WineEncodeTest, SameBytesAsLameCalledDirectly) {
    struct {
        Audio audio;
        const char* settings;
        Direct direct;
    } cases[] = {
        {musicLike(44100, 2, 2, 3), "", {JOINT_STEREO, 128, vbr_off, 0, 0, 0, 0, 0}},
        {musicLike(44100, 2, 2, 4), "vbr=1 method=2 vbrq=2 bitrate=32 maxbitrate=256",
         {JOINT_STEREO, 32, vbr_mtrh, 2, 0, 256, 0, 0}},
        {sweep(48000, 2, 2), "vbr=1 method=4 abr=160000 bitrate=64 maxbitrate=320",
         {JOINT_STEREO, 64, vbr_abr, 0, 160, 320, 0, 0}},
        {musicLike(44100, 1, 2, 5), "mode=3 resample=22050 bitrate=48", {MONO, 48, vbr_off, 0, 0, 0, 22050, 0}},
        {sweep(32000, 2, 2), "mode=0 bitrate=224 copyright=1", {STEREO, 224, vbr_off, 0, 0, 0, 0, 1}},
        {musicLike(8000, 2, 2, 6), "mode=0 resample=48000 bitrate=320", {STEREO, 320, vbr_off, 0, 0, 0, 48000, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        std::string mp3 = encode(c.audio, c.settings), expected = encodeDirect(c.audio, c.direct);
        ASSERT_GT(expected.size(), 1000u);
        EXPECT_EQ(expected.size(), mp3.size());
        EXPECT_TRUE(expected == mp3);
    }
}

// The driver waits before chunk `hold` (of 77) until it reads a line; then
// its helper is killed or stopped, or the driver itself is killed.
TEST_F(WineEncodeTest, HelperKilledOrStoppedFailsTheCallAndDeadCallerEndsTheHelper) {
    writeWav(path("in.wav"), sweep(44100, 2, 2));
    mkfifo(path("release").c_str(), 0600);
    struct {
        int hold, helperSignal;
        const char* failure;
    } cases[] = {
        {10, SIGKILL, "failed beEncodeChunk"},
        {10, SIGSTOP, "failed beEncodeChunk"},
        {76, SIGSTOP, "failed beDeinitStream"},  // the flush is what waits for it
        {10, 0, "caller killed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failure);
        pid_t driver = start("hold=" + std::to_string(c.hold), path("release"));
        int release = open(path("release").c_str(), O_WRONLY);
        std::string printed = report("held", 3000);
        std::vector<pid_t> running = helpers();
        ASSERT_TRUE(printed.find("held") == 0 && running.size() == 1) << printed;
        if (c.helperSignal) {
            kill(running[0], c.helperSignal);
            EXPECT_TRUE(c.helperSignal == SIGSTOP || waitForNoHelper(50));
            EXPECT_EQ(1, write(release, "\n", 1));
            // Far beyond the library's limit, but an end: it once waited for ever.
            printed = report(c.failure, 1500);
            kill(running[0], SIGCONT);
            EXPECT_NE(std::string::npos, printed.find(c.failure)) << printed;
        }
        kill(driver, SIGKILL);
        close(release);
        EXPECT_TRUE(waitForNoHelper(50));
    }
}

// One slow start, as on a busy machine, costs no other stream: every start
// gets the whole wait, not a shorter one after a failure.
TEST_F(WineEncodeTest, SlowStartsAmongNormalOnesAllConnect) {
    wrapHelper("n=$(cat '" + path("starts") + "' 2>/dev/null || echo 0)\n"
               "echo $((n + 1)) > '" + path("starts") + "'\n"
               "case $n in 0) sleep 3.3 ;; 1) sleep 1 ;; esac");
    EXPECT_GT(encode(sweep(44100, 2, 1), "starts=4").size(), 10000u);
    EXPECT_EQ("4\n", readFile(path("starts")));
}

// Someone who learns the folder's name before the helper makes it puts a
// folder with FIFOs of their own there: the helper, if it runs, does not take
// it over, and the library never opens its "in" nor sends anything, whatever
// "out" says.
TEST_F(WineEncodeTest, PlantedFolderIsNeverUsed) {
    writeWav(path("in.wav"), sweep(44100, 2, 1));
    for (int helperRuns : {1, 0}) {
        SCOPED_TRACE(helperRuns ? "helper runs" : "no helper");
        unlink(path("planted").c_str());
        wrapHelper("f=\"$LAME_ENC_FOLDER\"\nmkdir -m 777 \"$f\" && mkfifo -m 666 \"$f/in\" \"$f/out\" && echo \"$f\" > '" +
                   path("planted") + "'" + (helperRuns ? "" : "\nexit 0"));
        pid_t driver = start("", "/dev/null");
        for (int wait = 0; wait < 500 && readFile(path("planted")).empty(); wait++) {
            pause20ms();
        }
        std::string planted = readFile(path("planted"));
        planted = planted.substr(0, planted.find('\n'));
        int in = open((planted + "/in").c_str(), O_RDWR | O_NONBLOCK);
        int out = open((planted + "/out").c_str(), O_RDWR | O_NONBLOCK);
        int watch = inotify_init1(IN_NONBLOCK);
        inotify_add_watch(watch, (planted + "/in").c_str(), IN_OPEN | IN_MODIFY);
        // A ready answer from a stranger, who cannot know the nonce.
        std::string ready = "R" + std::string(32, '0');
        EXPECT_EQ((ssize_t)ready.size(), write(out, ready.data(), ready.size()));
        std::string printed = report("failed", 400);
        char sent[64], event[4096];
        EXPECT_LE(read(in, sent, sizeof sent), 0) << "the library wrote into a planted FIFO";
        EXPECT_LE(read(watch, event, sizeof event), 0) << "the library opened a planted FIFO";
        EXPECT_NE(std::string::npos, printed.find("failed beInitStream")) << printed;
        struct stat status;
        EXPECT_TRUE(stat(planted.c_str(), &status) == 0 && (status.st_mode & 0777) == 0777)
            << "the helper took the folder over";
        kill(driver, SIGKILL);
        close(in), close(out), close(watch);
        system(("rm -rf '" + planted + "'").c_str());
    }
}

}  // namespace
