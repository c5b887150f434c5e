#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "jobs/JobFrame.h"
#include "tests/WavTestFiles.h"
#include "tests/support/JobHarness.h"
#include "tests/support/Recorder.h"

namespace {

const DWORD chunkBytes = 4608;  // one chunk of 16-bit stereo at 44.1 kHz

class WaveJob : public ::testing::Test {
protected:
    void SetUp() override {
        resetRecorder();
        ASSERT_EQ(useRecorder(c), 1);
    }
    void TearDown() override {
        c.unloadEncoder();
        resetRecorder();
    }

    std::string addWav(const char* name, uint16_t channels, uint16_t bits, size_t dataBytes,
                       uint32_t rate = 44100) {
        std::string path = folder.file(name);
        Bytes wav = canonicalWav(channels, rate, bits, patternBytes(dataBytes, (uint32_t)name[0]));
        writeFileContents(path, std::string(wav.begin(), wav.end()));
        c.sourceFiles.append(path.c_str());
        return path;
    }

    std::string mp3(const char* name) const { return folder.file(name); }

    bool run() { return h.start(c) == 1 && h.waitForEnd(c); }

    int temporaryFiles() const { return countFiles(folder.path(), "*.tmp"); }

    std::vector<RecordedCall> callsOf(const char* kind) const {
        std::vector<RecordedCall> found;
        for (const RecordedCall& call : readRecorderLog()) {
            if (call.kind == kind) {
                found.push_back(call);
            }
        }
        return found;
    }

    Converter c;
    TempFolder folder;
    JobHarness h;
};

std::vector<std::string> texts(const std::vector<ControlEvent>& events) {
    std::vector<std::string> found;
    for (const ControlEvent& e : events) {
        found.push_back(e.text);
    }
    return found;
}

TEST_F(WaveJob, ReportsProgressOfEachEntryAndSkipsDeclinedOne) {
    DWORD d = 10 * chunkBytes;
    addWav("a.wav", 2, 16, d);
    addWav("b.wav", 2, 16, d);
    addWav("c.wav", 2, 16, d);
    writeFileContents(mp3("b.mp3"), "earlier b");
    h.answers = {IDNO};
    ASSERT_TRUE(run());

    EXPECT_EQ(h.endParam, (WPARAM)JobCompleted);
    ASSERT_GE(h.events.size(), 3u);
    EXPECT_EQ(h.events[0].control, FileBar);
    EXPECT_EQ(h.events[0].message, (UINT)PBM_SETPOS);
    EXPECT_EQ(h.events[1].control, TotalBar);
    EXPECT_EQ(h.events[1].message, (UINT)PBM_SETRANGE);
    EXPECT_EQ(h.events[1].lParam, MAKELPARAM(0, 1024));
    EXPECT_EQ(h.events[2].control, TotalBar);
    EXPECT_EQ(h.events[2].wParam, 0u);

    EXPECT_EQ(texts(h.of(TotalLabel, WM_SETTEXT)),
              (std::vector<std::string>{"Progression générale ...( 1/3 )",
                                        "Progression générale ...( 2/3 )",
                                        "Progression générale ...( 3/3 )"}));
    // The declined entry never shows its path.
    EXPECT_EQ(texts(h.of(FileLabel, WM_SETTEXT)),
              (std::vector<std::string>{mp3("a.mp3"), mp3("c.mp3")}));
    std::vector<ControlEvent> ranges = h.of(FileBar, PBM_SETRANGE32);
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ((DWORD)ranges[0].lParam, d);
    EXPECT_EQ((DWORD)ranges[1].lParam, d);
    ASSERT_EQ(h.questions.size(), 1u);
    EXPECT_EQ(h.questions[0], mp3("b.mp3") + " existe déjà.\nVoulez-vous le remplacer?");
    EXPECT_EQ(fileContents(mp3("b.mp3")), "earlier b");

    // The overall bar ends the first entry at 1024/3, stays there over the
    // declined one, and jumps past 2048/3 at the first step of the third.
    int totalAfterFirst = -1;
    int firstOfThird = -1;
    int lastTotal = -1;
    int counter = 0;
    for (const ControlEvent& e : h.events) {
        if (e.control == TotalLabel) {
            counter++;
        } else if (e.control == TotalBar && e.message == PBM_SETPOS) {
            if (counter == 1) {
                totalAfterFirst = (int)e.wParam;
            }
            if (counter == 2) {
                ADD_FAILURE() << "overall bar moved during the declined entry";
            }
            if (counter == 3 && firstOfThird < 0) {
                firstOfThird = (int)e.wParam;
            }
            lastTotal = (int)e.wParam;
        }
    }
    EXPECT_EQ(totalAfterFirst, 341);
    EXPECT_GE(firstOfThird, 682);
    EXPECT_LT(firstOfThird, 1024);
    EXPECT_EQ(lastTotal, 1024);

    // After the loop the entry bar is set to the data size, then the next
    // entry resets it.
    std::vector<ControlEvent> positions = h.of(FileBar, PBM_SETPOS);
    ASSERT_GE(positions.size(), 4u);
    EXPECT_EQ(positions.back().wParam, d);

    const JobReport& report = lastJobReport();
    EXPECT_EQ(report.convertedCount(), 2u);
    EXPECT_EQ(report.declinedCount(), 1u);
    EXPECT_EQ(report.failureCount(), 0u);
    EXPECT_EQ(temporaryFiles(), 0);
}

// Expected 16-bit output values of a file, computed from its raw data.
std::vector<SHORT> expectedSamples(const Bytes& data, int channels, int bits, bool monoOutput) {
    std::vector<int> values;
    for (size_t i = 0; i + bits / 8 <= data.size(); i += bits / 8) {
        values.push_back(bits == 8 ? (data[i] - 128) * 256 : (int16_t)(data[i] | data[i + 1] << 8));
    }
    std::vector<SHORT> out;
    if (channels == 2 && monoOutput) {
        for (size_t k = 0; k + 1 < values.size(); k += 2) {
            int l = values[k], r = values[k + 1];
            out.push_back((SHORT)(bits == 8 ? (data[k] + data[k + 1]) * 128 - 32768 : l / 2 + r / 2));
        }
    } else if (channels == 1 && !monoOutput) {
        for (int v : values) {
            out.push_back((SHORT)v);
            out.push_back((SHORT)v);
        }
    } else {
        for (int v : values) {
            out.push_back((SHORT)v);
        }
    }
    return out;
}

struct Format {
    const char* name;
    uint16_t channels;
    uint16_t bits;
};

// Every channel mode against every input format: what reaches the encoder,
// chunk by chunk, is the file's audio converted as the settings ask, and the
// MP3 is exactly what the encoder returned, in order.
TEST_F(WaveJob, FeedsEncoderConvertedChunksAndWritesItsBytes) {
    const Format formats[] = {{"s16.wav", 2, 16}, {"m16.wav", 1, 16}, {"m8.wav", 1, 8},
                              {"s8.wav", 2, 8}};
    const int modes[] = {0, 1, 4};  // Auto, Stéreo, Mono
    for (int mode : modes) {
        resetRecorder();
        c.sourceFiles.clear();
        c.setChannelModeIndex(mode);
        c.setReplaceWithoutAsking(1);
        std::vector<Bytes> data;
        for (const Format& f : formats) {
            size_t frames = 3 * 1152 + 100;
            Bytes raw = patternBytes(frames * f.channels * f.bits / 8, f.channels * 100 + f.bits + mode);
            data.push_back(raw);
            Bytes wav = canonicalWav(f.channels, 44100, f.bits, raw);
            writeFileContents(folder.file(f.name), std::string(wav.begin(), wav.end()));
            c.sourceFiles.append(folder.file(f.name).c_str());
        }
        ASSERT_TRUE(run());
        EXPECT_EQ(h.endParam, (WPARAM)JobCompleted);
        EXPECT_EQ(lastJobReport().convertedCount(), 4u);

        std::vector<RecordedCall> calls = readRecorderLog();
        size_t at = 0;
        for (size_t file = 0; file < 4; file++) {
            SCOPED_TRACE(std::string(formats[file].name) + " mode " + std::to_string(mode));
            bool monoOutput = mode == 4 || (mode == 0 && formats[file].channels == 1);
            std::vector<SHORT> expected =
                expectedSamples(data[file], formats[file].channels, formats[file].bits, monoOutput);
            ASSERT_LT(at, calls.size());
            ASSERT_EQ(calls[at].kind, "init");
            ASSERT_EQ(calls[at].result, 0u);
            unsigned stream = calls[at].stream;
            DWORD n = calls[at].samples;
            EXPECT_EQ(n, monoOutput ? 1152u : 2304u);
            BE_CONFIG config;
            ASSERT_EQ(calls[at].config.size(), sizeof(config));
            memcpy(&config, calls[at].config.data(), sizeof(config));
            EXPECT_EQ(config.nMode, monoOutput ? 3 : (mode == 1 ? 0 : 1));
            at++;

            std::string expectedMp3;
            size_t offset = 0;
            DWORD chunk = 0;
            while (offset < expected.size()) {
                DWORD count = (DWORD)std::min<size_t>(n, expected.size() - offset);
                ASSERT_LT(at, calls.size());
                EXPECT_EQ(calls[at].kind, "encode");
                EXPECT_EQ(calls[at].stream, stream);
                EXPECT_EQ(calls[at].samples, count);
                EXPECT_EQ(calls[at].checksum, fnv1a(&expected[offset], count * sizeof(SHORT)));
                DWORD record[3] = {++chunk, count, calls[at].checksum};
                expectedMp3 += std::string("ENC") + (char)stream;
                expectedMp3.append((const char*)record, sizeof(record));
                offset += count;
                at++;
            }
            ASSERT_LT(at + 1, calls.size());
            EXPECT_EQ(calls[at].kind, "deinit");
            EXPECT_EQ(calls[at + 1].kind, "close");
            EXPECT_EQ(calls[at + 1].stream, stream);
            at += 2;
            DWORD end[3] = {chunk, (DWORD)expected.size(), 0};
            expectedMp3 += std::string("END") + (char)stream;
            expectedMp3.append((const char*)end, sizeof(end));

            std::string name = formats[file].name;
            std::string output = folder.file((name.substr(0, name.size() - 4) + ".mp3").c_str());
            EXPECT_EQ(fileContents(output), expectedMp3);
        }
        EXPECT_EQ(at, calls.size());
    }
}

// Each way an entry can fail: the job goes on, the failure is reported with
// its reason, an existing MP3 is left exactly as it was and no partial or
// temporary file remains.
TEST_F(WaveJob, FailedEntriesLeaveExistingFilesAndAreReported) {
    c.setReplaceWithoutAsking(1);
    c.sourceFiles.append(folder.file("missing.wav").c_str());
    std::string locked = addWav("locked.wav", 2, 16, chunkBytes);
    std::string text = folder.file("text.wav");
    writeFileContents(text, "this is not a wave file at all");
    c.sourceFiles.append(text.c_str());
    std::string wide = addWav("wide.wav", 2, 16, chunkBytes);
    Bytes raw24 = canonicalWav(2, 44100, 24, patternBytes(600));
    writeFileContents(wide, std::string(raw24.begin(), raw24.end()));
    addWav("good.wav", 2, 16, 3 * chunkBytes);
    for (const char* name : {"locked.mp3", "text.mp3", "wide.mp3"}) {
        writeFileContents(mp3(name), std::string("earlier ") + name);
    }
    HANDLE holder = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    bool ended = run();
    CloseHandle(holder);
    ASSERT_TRUE(ended);

    EXPECT_EQ(h.endParam, (WPARAM)JobCompletedWithFailures);
    const JobReport& report = lastJobReport();
    EXPECT_EQ(report.entryCount(), 5u);
    EXPECT_EQ(report.convertedCount(), 1u);
    ASSERT_EQ(report.failureCount(), 4u);
    const FailedEntry* e = report.first();
    EXPECT_EQ(std::string(e->name), folder.file("missing.wav"));
    EXPECT_EQ(e->failure, FailSourceOpen);
    e = e->next;
    EXPECT_EQ(std::string(e->name), locked);
    EXPECT_EQ(e->failure, FailSourceOpen);
    e = e->next;
    EXPECT_EQ(e->failure, FailNotUsableWav);
    EXPECT_EQ(e->detail, (DWORD)WavNotRiffWave);
    e = e->next;
    EXPECT_EQ(e->failure, FailNotUsableWav);
    EXPECT_EQ(e->detail, (DWORD)WavBadSampleSize);
    char line[400];
    describeFailure(e, line, sizeof(line));
    EXPECT_EQ(std::string(line), wide + " : résolution non gérée (8 ou 16 bits seulement)");

    EXPECT_EQ(fileContents(mp3("locked.mp3")), "earlier locked.mp3");
    EXPECT_EQ(fileContents(mp3("text.mp3")), "earlier text.mp3");
    EXPECT_EQ(fileContents(mp3("wide.mp3")), "earlier wide.mp3");
    EXPECT_FALSE(fileExists(mp3("missing.mp3")));
    EXPECT_TRUE(fileExists(mp3("good.mp3")));
    EXPECT_EQ(temporaryFiles(), 0);
    // Only the good file ever reached the encoder.
    EXPECT_EQ(callsOf("init").size(), 1u);
}

TEST_F(WaveJob, EncoderFailuresKeepEarlierOutput) {
    struct Case {
        const char* failAt;
        EntryFailure failure;
        size_t encodes;
        size_t deinits;
    };
    const Case cases[] = {{"init", FailEncoderRefused, 0, 0},
                          {"encode:3", FailEncodeError, 3, 0},
                          {"deinit", FailEncodeError, 5, 1}};
    std::string source = addWav("song.wav", 2, 16, 5 * chunkBytes);
    c.setReplaceWithoutAsking(1);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.failAt);
        resetRecorder();
        writeFileContents(mp3("song.mp3"), "the earlier song");
        recorderFailAt(k.failAt);
        ASSERT_TRUE(run());
        EXPECT_EQ(h.endParam, (WPARAM)JobCompletedWithFailures);
        ASSERT_EQ(lastJobReport().failureCount(), 1u);
        EXPECT_EQ(lastJobReport().first()->failure, k.failure);
        EXPECT_EQ(std::string(lastJobReport().first()->name), source);
        EXPECT_EQ(fileContents(mp3("song.mp3")), "the earlier song");
        EXPECT_EQ(temporaryFiles(), 0);
        EXPECT_EQ(callsOf("encode").size(), k.encodes);
        EXPECT_EQ(callsOf("deinit").size(), k.deinits);
        // A stream that was opened is always closed.
        EXPECT_EQ(callsOf("close").size(), k.encodes || k.deinits ? 1u : 0u);
    }
}

TEST_F(WaveJob, OutputPathsThatCannotBeMadeAreFailures) {
    c.setReplaceWithoutAsking(1);
    c.setSaveBesideSource(0);
    std::string source = addWav("track.wav", 1, 16, 2000);
    c.setDestinationFolder(folder.file("no such folder").c_str());
    ASSERT_TRUE(run());
    ASSERT_EQ(lastJobReport().failureCount(), 1u);
    EXPECT_EQ(lastJobReport().first()->failure, FailOutputCreate);

    // A destination whose path leaves no room for the name is refused
    // rather than cut short.
    std::string deep = std::string(folder.path()) + "\\" + std::string(240, 'd');
    c.setDestinationFolder(deep.c_str());
    ASSERT_TRUE(run());
    ASSERT_EQ(lastJobReport().failureCount(), 1u);
    EXPECT_EQ(lastJobReport().first()->failure, FailPathTooLong);
    EXPECT_EQ(h.endParam, (WPARAM)JobCompletedWithFailures);

    // A WAV file that already carries the .mp3 extension is never replaced by its MP3.
    c.sourceFiles.clear();
    c.setSaveBesideSource(1);
    Bytes wav = canonicalWav(1, 44100, 16, patternBytes(2000));
    writeFileContents(mp3("odd.mp3"), std::string(wav.begin(), wav.end()));
    c.sourceFiles.append(mp3("odd.mp3").c_str());
    ASSERT_TRUE(run());
    ASSERT_EQ(lastJobReport().failureCount(), 1u);
    EXPECT_EQ(lastJobReport().first()->failure, FailOutputIsSource);
    EXPECT_EQ(fileContents(mp3("odd.mp3")), std::string(wav.begin(), wav.end()));
}

// A disk that fills up during the encoding: the entry fails, the earlier
// MP3 of that name survives and no partial file is left on the full disk.
TEST_F(WaveJob, FullDiskLeavesEarlierFileAndNoPartialOne) {
    char disk[MAX_PATH];
    if (!GetEnvironmentVariableA("CALBRUNE_SMALL_DISK", disk, MAX_PATH)) {
        GTEST_SKIP() << "no small disk was mounted for this run";
    }
    std::string earlier = std::string(disk) + "\\song.mp3";
    std::string filler = std::string(disk) + "\\filler";
    writeFileContents(earlier, "the earlier song");
    ULARGE_INTEGER free;
    ASSERT_TRUE(GetDiskFreeSpaceExA(disk, &free, nullptr, nullptr));
    ASSERT_GT(free.QuadPart, 8192u);
    writeFileContents(filler, std::string((size_t)free.QuadPart - 8192, 'f'));

    c.setSaveBesideSource(0);
    c.setDestinationFolder(disk);
    c.setReplaceWithoutAsking(1);
    addWav("song.wav", 2, 16, 1000 * chunkBytes);  // 16 kB of output from the stand-in
    bool ended = run();
    int leftover = countFiles(disk, "*.tmp");
    DeleteFileA(filler.c_str());
    std::string kept = fileContents(earlier);
    DeleteFileA(earlier.c_str());

    ASSERT_TRUE(ended);
    EXPECT_EQ(h.endParam, (WPARAM)JobCompletedWithFailures);
    ASSERT_EQ(lastJobReport().failureCount(), 1u);
    EXPECT_EQ(lastJobReport().first()->failure, FailWriteError);
    EXPECT_EQ(kept, "the earlier song");
    EXPECT_EQ(leftover, 0);
}

TEST_F(WaveJob, CancelDuringThirdOfFiveKeepsFirstTwo) {
    const char* names[] = {"1.wav", "2.wav", "3.wav", "4.wav", "5.wav"};
    for (const char* name : names) {
        addWav(name, 2, 16, 20 * chunkBytes);
    }
    writeFileContents(mp3("3.mp3"), "earlier third");
    c.setReplaceWithoutAsking(1);
    bool third = false;
    h.onEvent = [&](const ControlEvent& e) {
        if (e.control == TotalLabel && e.text.find("( 3/5 )") != std::string::npos) {
            third = true;
        } else if (third && e.control == FileBar && e.message == PBM_SETPOS && e.wParam > 0) {
            c.setJobRunning(0);
        }
    };
    ASSERT_TRUE(run());
    EXPECT_EQ(h.endParam, (WPARAM)JobCancelled);
    EXPECT_TRUE(fileExists(mp3("1.mp3")));
    EXPECT_TRUE(fileExists(mp3("2.mp3")));
    EXPECT_EQ(fileContents(mp3("3.mp3")), "earlier third");
    EXPECT_FALSE(fileExists(mp3("4.mp3")));
    EXPECT_FALSE(fileExists(mp3("5.mp3")));
    EXPECT_EQ(temporaryFiles(), 0);
    // The cancelled entry was still flushed and closed; none started after it.
    EXPECT_EQ(callsOf("init").size(), 3u);
    EXPECT_EQ(callsOf("deinit").size(), 3u);
    EXPECT_EQ(callsOf("close").size(), 3u);
    EXPECT_EQ(texts(h.of(TotalLabel, WM_SETTEXT)).size(), 3u);
}

TEST_F(WaveJob, CancelWhileTheQuestionIsOpenWritesNothing) {
    addWav("a.wav", 2, 16, 3 * chunkBytes);
    addWav("b.wav", 2, 16, 3 * chunkBytes);
    writeFileContents(mp3("a.mp3"), "earlier a");
    h.answers = {IDYES};
    h.beforeAnswer = [&] { c.setJobRunning(0); };
    ASSERT_TRUE(run());
    EXPECT_EQ(h.endParam, (WPARAM)JobCancelled);
    EXPECT_EQ(h.questions.size(), 1u);
    EXPECT_EQ(fileContents(mp3("a.mp3")), "earlier a");
    EXPECT_FALSE(fileExists(mp3("b.mp3")));
    EXPECT_EQ(callsOf("init").size(), 0u);
    EXPECT_EQ(temporaryFiles(), 0);
}

// The finish page may cancel before the worker's first act: the worker must
// not raise the flag again and convert the whole list.
TEST_F(WaveJob, CancelBeforeTheWorkerRunsIsHonoured) {
    addWav("a.wav", 2, 16, 3 * chunkBytes);
    addWav("b.wav", 2, 16, 3 * chunkBytes);
    ASSERT_EQ(h.start(c), 1);
    c.setJobRunning(0);
    ASSERT_TRUE(h.waitForEnd(c));
    EXPECT_EQ(h.endParam, (WPARAM)JobCancelled);
    EXPECT_FALSE(fileExists(mp3("a.mp3")));
    EXPECT_FALSE(fileExists(mp3("b.mp3")));
    EXPECT_EQ(temporaryFiles(), 0);
}

TEST_F(WaveJob, OnlyOneJobAtATime) {
    addWav("a.wav", 2, 16, 30 * chunkBytes);
    ASSERT_EQ(h.start(c), 1);
    HWND bar = c.fileProgressBar();
    // A second request is refused and does not touch the stored handles.
    EXPECT_EQ(c.startJob(nullptr, nullptr, nullptr, nullptr, WM_USER + 7), 0);
    EXPECT_EQ(c.fileProgressBar(), bar);
    EXPECT_EQ(c.jobDoneMessage(), (UINT)JobHarness::doneMessage);
    ASSERT_TRUE(h.waitForEnd(c));
    EXPECT_EQ(h.endParam, (WPARAM)JobCompleted);

    // Once the end message is in, a new job starts, here without controls.
    DeleteFileA(mp3("a.mp3").c_str());
    h.events.clear();
    ASSERT_EQ(h.start(c, false), 1);
    ASSERT_TRUE(h.waitForEnd(c));
    EXPECT_EQ(h.endParam, (WPARAM)JobCompleted);
    EXPECT_TRUE(h.events.empty());
    EXPECT_TRUE(fileExists(mp3("a.mp3")));
}

TEST_F(WaveJob, EmptyListEndsAtOnce) {
    ASSERT_TRUE(run());
    EXPECT_EQ(h.endParam, (WPARAM)JobCompleted);
    EXPECT_EQ(h.events.size(), 3u);  // the reset made by startJob
    EXPECT_EQ(c.jobRunning(), 0);
}

// Progress pairs are rate-limited, yet the first and last step of each
// entry always reach the bars.
TEST_F(WaveJob, ProgressIsSentSparingly) {
    DWORD d = 300 * chunkBytes + 64;
    addWav("long.wav", 2, 16, d);
    ASSERT_TRUE(run());
    std::vector<ControlEvent> positions = h.of(FileBar, PBM_SETPOS);
    // startJob's reset, the entry's reset, steps, and the final set to D.
    ASSERT_GE(positions.size(), 5u);
    EXPECT_EQ(positions[2].wParam, chunkBytes);
    EXPECT_EQ(positions[positions.size() - 2].wParam, d);
    EXPECT_EQ(positions.back().wParam, d);
    EXPECT_LT(positions.size(), 150u);
    std::vector<ControlEvent> totals = h.of(TotalBar, PBM_SETPOS);
    EXPECT_EQ(totals.back().wParam, 1024u);
}

DWORD WINAPI pressOk(LPVOID text) {
    return pressMessageBox("Calbrune 1.0", IDOK, (std::string*)text, 10000) ? 0 : 1;
}

TEST(JobStart, MissingLibraryIsReportedAndNoWorkerStarts) {
    Converter c;
    JobHarness h;
    std::string text;
    HANDLE presser = CreateThread(nullptr, 0, pressOk, &text, 0, nullptr);
    EXPECT_EQ(h.start(c), 0);
    WaitForSingleObject(presser, 10000);
    CloseHandle(presser);
    EXPECT_EQ(text, " L'encodage necessite la librairie \"lame_enc.dll\" .");
    EXPECT_EQ(c.fileProgressBar(), h.control(FileBar));
    EXPECT_EQ(c.totalProgressLabel(), h.control(TotalLabel));
    EXPECT_EQ(c.jobDoneMessage(), (UINT)JobHarness::doneMessage);
    EXPECT_EQ(c.workerThread(), nullptr);
    EXPECT_EQ(c.jobRunning(), 0);
    EXPECT_TRUE(h.events.empty());
}

}  // namespace
