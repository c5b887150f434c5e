#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <math.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "cdrom/CdRom.h"
#include "jobs/JobFrame.h"
#include "tests/WavTestFiles.h"
#include "tests/sim/SimMachine.h"
#include "tests/support/JobHarness.h"
#include "tests/support/Recorder.h"

namespace {

typedef std::vector<std::string> Strings;

struct Stream {
    DWORD samplesPerChunk = 0;
    std::vector<DWORD> checksums;
    DWORD outBytes = 0;
    bool flushed = false;
    bool closed = false;
};

class CdJob : public ::testing::Test {
protected:
    void SetUp() override {
        resetRecorder();
        ASSERT_EQ(useRecorder(c), 1);
        simReset();
        drive = simAddDrive('D');
        c.setSourceKind(1);
        c.setCdDevicePath("\\\\.\\D:");
        c.setDestinationFolder(folder.path());
        c.setReplaceWithoutAsking(1);
    }
    void TearDown() override {
        EXPECT_EQ(simOpenVolumes(), 0);
        EXPECT_EQ(simTrackBuffers(), 0);
        EXPECT_EQ(pendingOutputFiles(folder.path()), 0);
        c.unloadEncoder();
        resetRecorder();
    }

    bool run(std::vector<int> tracks) {
        c.selectedTracks.clear();
        for (int k : tracks) {
            c.selectedTracks.append(&k);
        }
        return h.start(c) == 1 && h.waitForEnd(c);
    }

    // The recorder's log, stream by stream.
    std::vector<Stream> streams() const {
        std::map<unsigned, Stream> byNumber;
        for (const RecordedCall& call : readRecorderLog()) {
            Stream& s = byNumber[call.stream];
            if (call.kind == "init") {
                s.samplesPerChunk = call.samples;
            } else if (call.kind == "encode") {
                s.checksums.push_back(call.checksum);
                s.outBytes += call.outBytes;
            } else if (call.kind == "deinit") {
                s.flushed = true;
                s.outBytes += call.outBytes;
            } else if (call.kind == "close") {
                s.closed = true;
            }
        }
        std::vector<Stream> found;
        for (auto& entry : byNumber) {
            found.push_back(entry.second);
        }
        return found;
    }

    // The checksums that the encoder must see for track k, chunk by chunk.
    std::vector<DWORD> expectedChecksums(int k, DWORD samplesPerChunk, bool mono = false) const {
        std::vector<BYTE> audio = simTrackAudio(drive->disc, k);
        if (mono) {
            Converter::stereoToMono((SHORT*)audio.data(), (const SHORT*)audio.data(),
                                    (DWORD)audio.size() / 2);
            audio.resize(audio.size() / 2);
        }
        std::vector<DWORD> sums;
        for (size_t at = 0; at < audio.size(); at += samplesPerChunk * 2) {
            sums.push_back(fnv1a(audio.data() + at, std::min<size_t>(samplesPerChunk * 2, audio.size() - at)));
        }
        return sums;
    }

    // Track k went whole to the encoder, and its MP3 holds what came back.
    void expectEncoded(const Stream& s, int k, const char* name, bool mono = false) {
        EXPECT_EQ(s.checksums, expectedChecksums(k, s.samplesPerChunk, mono)) << name;
        EXPECT_TRUE(s.flushed && s.closed) << name;
        EXPECT_EQ(fileContents(mp3(name)).size(), s.outBytes) << name;
    }

    std::string mp3(const char* name) const { return folder.file(name); }

    Converter c;
    TempFolder folder;
    JobHarness h;
    SimDrive* drive;
};

Strings texts(const std::vector<ControlEvent>& events) {
    Strings found;
    for (const ControlEvent& e : events) {
        found.push_back(e.text);
    }
    return found;
}

size_t indexOf(const std::vector<ControlEvent>& events, Control control, UINT message,
               size_t from = 0) {
    for (size_t i = from; i < events.size(); i++) {
        if (events[i].control == control && events[i].message == message) {
            return i;
        }
    }
    return events.size();
}

// The failures of the last job, as "name: failure".
Strings failures() {
    Strings found;
    for (const FailedEntry* f = lastJobReport().first(); f; f = f->next) {
        found.push_back(std::string(f->name) + ": " + std::to_string(f->failure));
    }
    return found;
}

int firstFailure() {
    return lastJobReport().first() ? lastJobReport().first()->failure : 0;
}

std::string failure(const char* name, EntryFailure f) {
    return std::string(name) + ": " + std::to_string(f);
}

}  // namespace

TEST_F(CdJob, TracksReachTheEncoderBitExactAndAreNamedByPosition) {
    simInsertDisc('D', simDisc(1, {60, 30, 61, 30, 30, 30, 30, 30, 30, 30, 30, 45}));
    c.setSaveBesideSource(1);
    ASSERT_TRUE(run({2, 11}));
    EXPECT_EQ(h.endParam, (WPARAM)JobCompleted);
    EXPECT_EQ(lastJobReport().convertedCount(), 2u);
    std::vector<Stream> s = streams();
    ASSERT_EQ(s.size(), 2u);
    expectEncoded(s[0], 2, "Piste3.mp3");
    expectEncoded(s[1], 11, "Piste12.mp3");
    EXPECT_FALSE(fileExists(mp3("Piste1.mp3")));

    EXPECT_EQ(texts(h.of(FileLabel, WM_SETTEXT)), Strings({mp3("Piste3.mp3"), mp3("Piste12.mp3")}));
    EXPECT_EQ(texts(h.of(TotalLabel, WM_SETTEXT)),
              Strings({"Progression générale ...( 1/2 )", "Progression générale ...( 2/2 )"}));
    // The path comes before the entry bar's reset and the counter.
    size_t path = indexOf(h.events, FileLabel, WM_SETTEXT);
    size_t reset = indexOf(h.events, FileBar, PBM_SETPOS, path);
    EXPECT_LT(path, reset);
    EXPECT_LT(reset, indexOf(h.events, TotalLabel, WM_SETTEXT));
    EXPECT_EQ(h.events[reset].wParam, 0u);
}

TEST_F(CdJob, MonoOutputGetsTheStereoToMonoConversionOfTheDisc) {
    simInsertDisc('D', simDisc(5, {77, 40}, 150));
    c.setChannelModeIndex(4);
    ASSERT_TRUE(run({0, 1}));
    EXPECT_EQ(h.endParam, (WPARAM)JobCompleted);
    std::vector<Stream> s = streams();
    ASSERT_EQ(s.size(), 2u);
    expectEncoded(s[0], 0, "Piste1.mp3", true);
    expectEncoded(s[1], 1, "Piste2.mp3", true);
    BE_CONFIG config;
    std::vector<RecordedCall> calls = readRecorderLog();
    ASSERT_EQ(calls[0].config.size(), sizeof(config));
    memcpy(&config, calls[0].config.data(), sizeof(config));
    EXPECT_EQ(config.nMode, BE_MP3_MODE_MONO);
    EXPECT_EQ(config.dwSampleRate, 44100u);
}

TEST_F(CdJob, ReadingFillsTheFirstFifthAndEncodingTheRest) {
    const DWORD sectors[2] = {100, 55};
    simInsertDisc('D', simDisc(1, {sectors[0], sectors[1]}));
    ASSERT_TRUE(run({0, 1}));
    // Entry and overall positions in pairs, split at each range message:
    // reading, then encoding, for each track.
    std::vector<DWORD> ranges;
    std::vector<std::vector<std::pair<DWORD, DWORD>>> phases;
    for (size_t i = 0; i < h.events.size(); i++) {
        const ControlEvent& e = h.events[i];
        if (e.control == FileBar && e.message == PBM_SETRANGE32) {
            ranges.push_back((DWORD)e.lParam);
            phases.emplace_back();
        } else if (e.control == FileBar && e.message == PBM_SETPOS && e.wParam && !phases.empty()) {
            ASSERT_EQ(indexOf(h.events, TotalBar, PBM_SETPOS, i), i + 1);
            phases.back().push_back({(DWORD)e.wParam, (DWORD)h.events[i + 1].wParam});
        }
    }
    ASSERT_EQ(phases.size(), 4u);
    for (int t = 0; t < 2; t++) {
        DWORD b = sectors[t] * 2352;
        EXPECT_EQ(ranges[2 * t], b / 4 * 5);
        EXPECT_EQ(ranges[2 * t + 1], b / 4 * 5);
        // Reading takes the entry bar to R / 4 after whole requests, and the
        // overall one to (t + R / B / 5) × 512; encoding goes on to R / 4 + R
        // and the track's end.
        for (int p = 0; p < 2; p++) {
            const auto& steps = phases[2 * t + p];
            ASSERT_FALSE(steps.empty());
            EXPECT_EQ(steps.back().first, p ? b / 4 + b : b / 4);
            EXPECT_EQ(steps.back().second, (DWORD)((t + (p ? 1 : 0.2)) * 512));
            for (size_t i = 0; i < steps.size(); i++) {
                double done = p ? 0.2 + (steps[i].first - b / 4) * 0.8 / b : steps[i].first * 0.8 / b;
                EXPECT_NEAR(steps[i].second, floor((t + done) * 512), 1.0);
                EXPECT_TRUE(i == 0 || steps[i].first > steps[i - 1].first);
                EXPECT_TRUE(p || steps[i].first % (2352 / 4) == 0);
            }
        }
        EXPECT_EQ(phases[2 * t].front().first, 27u * 2352 / 4);
        EXPECT_GT(phases[2 * t + 1].front().first, b / 4);
    }
}

TEST_F(CdJob, NoDriveNoDiscOrNoTrackEndsTheJobWithoutWriting) {
    ASSERT_TRUE(run({}));
    EXPECT_EQ(h.endParam, (WPARAM)JobCompletedWithFailures);
    EXPECT_EQ(firstFailure(), FailNoToc);
    EXPECT_TRUE(h.of(FileLabel, WM_SETTEXT).empty());
    EXPECT_TRUE(h.of(TotalLabel, WM_SETTEXT).empty());

    simAddDrive('C', DRIVE_FIXED);
    c.setCdDevicePath("\\\\.\\C:");
    ASSERT_TRUE(run({0}));
    EXPECT_EQ(firstFailure(), FailNoDrive);

    c.setCdDevicePath("\\\\.\\D:");
    simInsertDisc('D', simDisc(1, {40}));
    drive->tocFails = true;
    ASSERT_TRUE(run({0}));
    EXPECT_EQ(h.endParam, (WPARAM)JobCompletedWithFailures);
    EXPECT_EQ(firstFailure(), FailNoToc);
    EXPECT_TRUE(drive->reads.empty());

    // An empty list on a readable disc completes without touching anything.
    drive->tocFails = false;
    h.events.clear();
    ASSERT_TRUE(run({}));
    EXPECT_EQ(h.endParam, (WPARAM)JobCompleted);
    EXPECT_EQ(lastJobReport().failureCount(), 0u);
    EXPECT_TRUE(h.of(FileLabel, WM_SETTEXT).empty());
    EXPECT_TRUE(h.of(FileBar, PBM_SETRANGE32).empty());
    EXPECT_TRUE(drive->reads.empty());
    EXPECT_TRUE(readRecorderLog().empty());
}

TEST_F(CdJob, AReadErrorFailsTheTrackAndLeavesItsOldFile) {
    simInsertDisc('D', simDisc(1, {80, 120, 40}));
    drive->shortReadAt = 0;
    drive->failReadAt = 80 + 60;
    writeFileContents(mp3("Piste2.mp3"), "old");
    ASSERT_TRUE(run({0, 1, 2}));
    EXPECT_EQ(h.endParam, (WPARAM)JobCompletedWithFailures);
    EXPECT_EQ(failures(), Strings({failure("Piste1.mp3", FailReadError),
                                   failure("Piste2.mp3", FailReadError)}));
    ASSERT_EQ(lastJobReport().failureCount(), 2u);
    EXPECT_EQ(lastJobReport().first()->detail, 0u);
    EXPECT_EQ(lastJobReport().first()->next->detail, 80u + 54);  // the request over sector 140
    EXPECT_FALSE(fileExists(mp3("Piste1.mp3")));
    EXPECT_EQ(fileContents(mp3("Piste2.mp3")), "old");
    std::vector<Stream> s = streams();
    ASSERT_EQ(s.size(), 1u);
    expectEncoded(s[0], 2, "Piste3.mp3");
}

TEST_F(CdJob, ACancelWhileReadingKeepsTheOldFileAndStartsNoOtherTrack) {
    simInsertDisc('D', simDisc(1, {100, 30}));
    writeFileContents(mp3("Piste1.mp3"), "old");
    drive->afterRead = [this](int count) {
        if (count == 2) {
            c.setJobRunning(0);
        }
    };
    ASSERT_TRUE(run({0, 1}));
    EXPECT_EQ(h.endParam, (WPARAM)JobCancelled);
    EXPECT_EQ(drive->reads.size(), 2u);
    EXPECT_TRUE(readRecorderLog().empty());
    EXPECT_EQ(fileContents(mp3("Piste1.mp3")), "old");
    EXPECT_FALSE(fileExists(mp3("Piste2.mp3")));
    EXPECT_EQ(lastJobReport().failureCount(), 0u);
    EXPECT_EQ(h.of(TotalLabel, WM_SETTEXT).size(), 1u);
}

TEST_F(CdJob, ACancelWhileEncodingKeepsTheOldFileAndClosesTheStream) {
    simInsertDisc('D', simDisc(1, {100, 30}));
    writeFileContents(mp3("Piste1.mp3"), "old");
    h.onEvent = [this](const ControlEvent& e) {
        if (e.control == FileBar && e.message == PBM_SETPOS && e.wParam > 100 * 2352 / 4) {
            c.setJobRunning(0);
        }
    };
    ASSERT_TRUE(run({0, 1}));
    EXPECT_EQ(h.endParam, (WPARAM)JobCancelled);
    std::vector<Stream> s = streams();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_GE(s[0].checksums.size(), 1u);
    EXPECT_LT(s[0].checksums.size(), expectedChecksums(0, s[0].samplesPerChunk).size());
    EXPECT_TRUE(s[0].closed);
    EXPECT_EQ(fileContents(mp3("Piste1.mp3")), "old");
    EXPECT_FALSE(fileExists(mp3("Piste2.mp3")));
}

TEST_F(CdJob, ADeclinedOverwriteSkipsOnlyThatTrack) {
    simInsertDisc('D', simDisc(1, {30, 40}));
    c.setReplaceWithoutAsking(0);
    writeFileContents(mp3("Piste1.mp3"), "old one");
    writeFileContents(mp3("Piste2.mp3"), "old two");
    h.answers = {IDNO, IDYES};
    ASSERT_TRUE(run({0, 1}));
    EXPECT_EQ(h.endParam, (WPARAM)JobCompleted);
    ASSERT_EQ(h.questions.size(), 2u);
    EXPECT_EQ(h.questions[0], mp3("Piste1.mp3") + " existe déjà.\nVoulez-vous le remplacer?");
    EXPECT_EQ(fileContents(mp3("Piste1.mp3")), "old one");
    EXPECT_EQ(lastJobReport().declinedCount(), 1u);
    EXPECT_EQ(lastJobReport().convertedCount(), 1u);
    std::vector<Stream> s = streams();
    ASSERT_EQ(s.size(), 1u);
    expectEncoded(s[0], 1, "Piste2.mp3");

    // The declined track still showed its path and counter, was never read,
    // and its bar stayed at 0.
    EXPECT_EQ(texts(h.of(FileLabel, WM_SETTEXT))[0], mp3("Piste1.mp3"));
    EXPECT_EQ(texts(h.of(TotalLabel, WM_SETTEXT))[0], "Progression générale ...( 1/2 )");
    size_t secondPath = indexOf(h.events, FileLabel, WM_SETTEXT,
                                indexOf(h.events, FileLabel, WM_SETTEXT) + 1);
    for (size_t i = 0; i < secondPath; i++) {
        if (h.events[i].control == FileBar) {
            EXPECT_EQ(h.events[i].message, (UINT)PBM_SETPOS);
            EXPECT_EQ(h.events[i].wParam, 0u);
        }
    }
    ASSERT_FALSE(drive->reads.empty());
    EXPECT_EQ(drive->reads[0].diskOffset, 30 * 2048);
}

TEST_F(CdJob, TracksThatCannotBeConvertedAreReportedAndTheOthersGoOn) {
    simInsertDisc('D', simDisc(1, {30, 200, 40, 50}));
    simSetMemoryLimit(100 * 2352);
    writeFileContents(mp3("Piste4.mp3"), "old");
    recorderFailAt("encode:2");
    ASSERT_TRUE(run({7, 1, 2, 3}));
    EXPECT_EQ(h.endParam, (WPARAM)JobCompletedWithFailures);
    EXPECT_EQ(failures(), Strings({failure("Piste8.mp3", FailTrackNotOnDisc),
                                   failure("Piste2.mp3", FailOutOfMemory),
                                   failure("Piste3.mp3", FailEncodeError),
                                   failure("Piste4.mp3", FailEncodeError)}));
    EXPECT_FALSE(fileExists(mp3("Piste3.mp3")));
    EXPECT_EQ(fileContents(mp3("Piste4.mp3")), "old");
    // The track not on the disc and the one without memory were never read.
    ASSERT_FALSE(drive->reads.empty());
    EXPECT_EQ(drive->reads[0].diskOffset, 230 * 2048);

    recorderFailAt("init");
    ASSERT_TRUE(run({0}));
    EXPECT_EQ(failures(), Strings({failure("Piste1.mp3", FailEncoderRefused)}));
    EXPECT_FALSE(fileExists(mp3("Piste1.mp3")));
}

TEST_F(CdJob, AnEightyMinuteTrackIsReadWholeAndItsEncodingBegins) {
    if (sizeof(void*) < 8) {
        GTEST_SKIP() << "only the 64-bit build can hold it";
    }
    const DWORD b = 80 * 60 * 75 * 2352;
    simInsertDisc('D', simDisc(1, {80 * 60 * 75}));
    writeFileContents(mp3("Piste1.mp3"), "old");
    // Stopped at its first encoding step: the whole track is not encoded here.
    h.onEvent = [this, b](const ControlEvent& e) {
        if (e.control == FileBar && e.message == PBM_SETPOS && e.wParam > b / 4) {
            c.setJobRunning(0);
        }
    };
    ASSERT_TRUE(run({0}));
    EXPECT_EQ(h.endParam, (WPARAM)JobCancelled);
    EXPECT_EQ(lastJobReport().failureCount(), 0u);
    std::vector<ControlEvent> ranges = h.of(FileBar, PBM_SETRANGE32);
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ((DWORD)ranges[0].lParam, 1058400000u);
    EXPECT_EQ((DWORD)ranges[1].lParam, 1058400000u);
    std::vector<ControlEvent> totals = h.of(TotalBar, PBM_SETPOS);
    ASSERT_GE(totals.size(), 2u);
    EXPECT_EQ(totals[totals.size() - 2].wParam, 204u);
    std::vector<Stream> s = streams();
    ASSERT_EQ(s.size(), 1u);
    ASSERT_FALSE(s[0].checksums.empty());
    std::vector<BYTE> start(4 * 2352);
    simDiscAudio(drive->disc, 0, 4, start.data());
    ASSERT_LE(s[0].samplesPerChunk * 2, start.size());
    EXPECT_EQ(s[0].checksums[0], fnv1a(start.data(), s[0].samplesPerChunk * 2));
    EXPECT_EQ(fileContents(mp3("Piste1.mp3")), "old");
}
