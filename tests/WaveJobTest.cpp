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
typedef std::vector<std::string> Strings;

class WaveJob : public ::testing::Test {
protected:
    void SetUp() override {
        resetRecorder();
        ASSERT_EQ(useRecorder(c), 1);
        c.setReplaceWithoutAsking(1);
    }
    void TearDown() override {
        EXPECT_EQ(pendingOutputFiles(folder.path()), 0);
        c.unloadEncoder();
        resetRecorder();
    }

    // Writes a 16-bit stereo file of `dataBytes` and appends it to the list.
    std::string addWav(const char* name, size_t dataBytes) {
        std::string path = writeBytes(folder, name, canonicalWav(2, 44100, 16, patternBytes(dataBytes, name[0])));
        c.sourceFiles.append(path.c_str());
        return path;
    }

    std::string mp3(const char* name) const { return folder.file(name); }
    bool run() { return h.start(c) == 1 && h.waitForEnd(c); }

    Converter c;
    TempFolder folder;
    JobHarness h;
};

size_t calls(const char* kind) {
    size_t found = 0;
    for (const RecordedCall& call : readRecorderLog()) {
        found += call.kind == kind;
    }
    return found;
}

Strings texts(const std::vector<ControlEvent>& events) {
    Strings found;
    for (const ControlEvent& e : events) {
        found.push_back(e.text);
    }
    return found;
}

// The failures of the last job, as "name: failure".
Strings failures() {
    Strings found;
    for (const FailedEntry* f = lastJobReport().first(); f; f = f->next) {
        found.push_back(std::string(f->name) + ": " + std::to_string(f->failure));
    }
    return found;
}

std::string failure(const std::string& name, EntryFailure f) {
    return name + ": " + std::to_string(f);
}

TEST_F(WaveJob, ReportsProgressOfEachEntryAndSkipsDeclinedOne) {
    DWORD d = 10 * chunkBytes;
    addWav("a.wav", d);
    addWav("b.wav", d);
    addWav("c.wav", d);
    writeFileContents(mp3("b.mp3"), "earlier b");
    c.setReplaceWithoutAsking(0);
    h.answers = {IDNO};
    ASSERT_TRUE(run());
    EXPECT_EQ(h.endParam, (WPARAM)JobCompleted);
    EXPECT_EQ(lastJobReport().convertedCount(), 2u);
    EXPECT_EQ(lastJobReport().declinedCount(), 1u);
    EXPECT_EQ(lastJobReport().failureCount(), 0u);
    EXPECT_EQ(h.questions, Strings({mp3("b.mp3") + " existe déjà.\nVoulez-vous le remplacer?"}));
    EXPECT_EQ(fileContents(mp3("b.mp3")), "earlier b");

    // startJob resets the entry bar, sets the overall range to 1024 and resets it.
    ASSERT_GE(h.events.size(), 3u);
    EXPECT_TRUE(h.events[0].control == FileBar && h.events[0].message == PBM_SETPOS);
    EXPECT_TRUE(h.events[1].control == TotalBar && h.events[1].message == PBM_SETRANGE);
    EXPECT_EQ(h.events[1].lParam, MAKELPARAM(0, 1024));
    EXPECT_TRUE(h.events[2].control == TotalBar && h.events[2].wParam == 0);
    EXPECT_EQ(texts(h.of(TotalLabel, WM_SETTEXT)),
              Strings({"Progression générale ...( 1/3 )", "Progression générale ...( 2/3 )",
                       "Progression générale ...( 3/3 )"}));
    // The declined entry never shows its path nor sets a range.
    EXPECT_EQ(texts(h.of(FileLabel, WM_SETTEXT)), Strings({mp3("a.mp3"), mp3("c.mp3")}));
    std::vector<ControlEvent> ranges = h.of(FileBar, PBM_SETRANGE32);
    ASSERT_EQ(ranges.size(), 2u);
    EXPECT_EQ((DWORD)ranges[0].lParam, d);
    EXPECT_EQ((DWORD)ranges[1].lParam, d);

    // The overall bar ends the first entry at 1024/3, stays there over the
    // declined one, and jumps past 2048/3 at the first step of the third.
    std::vector<std::vector<int>> totals(3);
    int counter = 0;
    for (const ControlEvent& e : h.events) {
        counter += e.control == TotalLabel;
        if (counter > 0 && e.control == TotalBar && e.message == PBM_SETPOS) {
            totals[counter - 1].push_back((int)e.wParam);
        }
    }
    ASSERT_FALSE(totals[0].empty());
    ASSERT_FALSE(totals[2].empty());
    EXPECT_EQ(totals[0].back(), 341);
    EXPECT_TRUE(totals[1].empty()) << "overall bar moved during the declined entry";
    EXPECT_GE(totals[2].front(), 682);
    EXPECT_LT(totals[2].front(), 1024);
    EXPECT_EQ(totals[2].back(), 1024);
    // After the loop the entry bar is set to the data size.
    EXPECT_EQ(h.of(FileBar, PBM_SETPOS).back().wParam, d);
}

// Progress pairs are rate-limited, yet the first and last step of each
// entry always reach the bars.
TEST_F(WaveJob, ProgressIsSentSparingly) {
    DWORD d = 300 * chunkBytes + 64;
    addWav("long.wav", d);
    ASSERT_TRUE(run());
    std::vector<ControlEvent> positions = h.of(FileBar, PBM_SETPOS);
    // startJob's reset, the entry's reset, steps, and the final set to D.
    ASSERT_GE(positions.size(), 5u);
    EXPECT_EQ(positions[2].wParam, chunkBytes);
    EXPECT_EQ(positions[positions.size() - 2].wParam, d);
    EXPECT_EQ(positions.back().wParam, d);
    EXPECT_LT(positions.size(), 150u);
    EXPECT_EQ(h.of(TotalBar, PBM_SETPOS).back().wParam, 1024u);
}

BEENCODECHUNK recorderEncode;

// The stand-in, slowed to at least a millisecond a chunk.
BE_ERR __cdecl slowEncode(HBE_STREAM stream, DWORD count, SHORT* in, BYTE* out, DWORD* produced) {
    Sleep(1);
    return recorderEncode(stream, count, in, out, produced);
}

// One update that keeps the interface thread busy for 400 ms must not hold
// back the bars for the rest of the entry (here at least 800 ms of work).
TEST_F(WaveJob, ProgressGoesOnAfterAStalledUpdate) {
    addWav("long.wav", 800 * chunkBytes);
    recorderEncode = c.beEncodeChunk;
    c.beEncodeChunk = slowEncode;
    size_t stalledAt = 0;
    h.onEvent = [&](const ControlEvent& e) {
        if (!stalledAt && e.control == FileBar && e.message == PBM_SETPOS && e.wParam > 0) {
            stalledAt = h.events.size();
            Sleep(400);
        }
    };
    ASSERT_TRUE(run());
    ASSERT_GT(stalledAt, 0u);
    // Pairs after the stalled one, the entry's last step included.
    int pairs = 0;
    for (size_t k = stalledAt + 1; k < h.events.size(); k++) {
        pairs += h.events[k].control == TotalBar && h.events[k].message == PBM_SETPOS;
    }
    EXPECT_GE(pairs, 3);
}

// The 16-bit values that the encoder must get from a file's data.
std::vector<SHORT> expectedSamples(const Bytes& data, int channels, int bits, bool mono) {
    DWORD n = (DWORD)(data.size() / (bits / 8));
    std::vector<SHORT> in(n), out(2 * n);
    if (bits == 8) {
        Converter::widen8To16(in.data(), data.data(), n);
    } else {
        memcpy(in.data(), data.data(), data.size());
    }
    if (channels == 2 && mono) {
        bits == 8 ? Converter::stereo8ToMono16(out.data(), data.data(), n)
                  : Converter::stereoToMono(out.data(), in.data(), n);
        out.resize(n / 2);
    } else if (channels == 1 && !mono) {
        Converter::monoToStereo(out.data(), in.data(), n);
    } else {
        out = in;
    }
    return out;
}

// Every channel mode against every input format: the encoder gets the
// file's audio converted as the settings ask, chunk by chunk, and the MP3
// is exactly what it returned, in order.
TEST_F(WaveJob, FeedsEncoderConvertedChunksAndWritesItsBytes) {
    struct Format {
        const char* name;
        uint16_t channels, bits;
    } const formats[] = {{"s16", 2, 16}, {"m16", 1, 16}, {"m8", 1, 8}, {"s8", 2, 8}};
    for (int mode : {0, 1, 4}) {  // Auto, Stéreo, Mono
        resetRecorder();
        c.sourceFiles.clear();
        c.setChannelModeIndex(mode);
        std::vector<Bytes> data;
        for (const Format& f : formats) {
            data.push_back(patternBytes((3 * 1152 + 100) * f.channels * f.bits / 8, f.channels * 100 + f.bits + mode));
            std::string wav = writeBytes(folder, (std::string(f.name) + ".wav").c_str(),
                                         canonicalWav(f.channels, 44100, f.bits, data.back()));
            c.sourceFiles.append(wav.c_str());
        }
        ASSERT_TRUE(run());
        EXPECT_EQ(lastJobReport().convertedCount(), 4u);

        std::vector<RecordedCall> log = readRecorderLog();
        size_t at = 0;
        for (size_t file = 0; file < 4; file++) {
            const Format& f = formats[file];
            SCOPED_TRACE(std::string(f.name) + " mode " + std::to_string(mode));
            bool mono = mode == 4 || (mode == 0 && f.channels == 1);
            std::vector<SHORT> expected = expectedSamples(data[file], f.channels, f.bits, mono);
            ASSERT_LT(at, log.size());
            ASSERT_EQ(log[at].kind, "init");
            unsigned stream = log[at].stream;
            DWORD n = log[at].samples;
            EXPECT_EQ(n, mono ? 1152u : 2304u);
            BE_CONFIG config;
            ASSERT_EQ(log[at].config.size(), sizeof(config));
            memcpy(&config, log[at].config.data(), sizeof(config));
            EXPECT_EQ(config.nMode, mono ? 3 : (mode == 1 ? 0 : 1));
            at++;

            // The stand-in writes a record for each chunk and one at the end.
            std::string expectedMp3;
            DWORD chunk = 0;
            for (size_t offset = 0; offset < expected.size(); offset += n, at++) {
                DWORD count = (DWORD)std::min<size_t>(n, expected.size() - offset);
                ASSERT_LT(at, log.size());
                EXPECT_TRUE(log[at].kind == "encode" && log[at].stream == stream);
                EXPECT_EQ(log[at].samples, count);
                EXPECT_EQ(log[at].checksum, fnv1a(&expected[offset], count * sizeof(SHORT)));
                DWORD record[3] = {++chunk, count, log[at].checksum};
                expectedMp3 += std::string("ENC") + (char)stream;
                expectedMp3.append((const char*)record, sizeof(record));
            }
            ASSERT_LT(at + 1, log.size());
            EXPECT_EQ(log[at].kind, "deinit");
            EXPECT_TRUE(log[at + 1].kind == "close" && log[at + 1].stream == stream);
            at += 2;
            DWORD end[3] = {chunk, (DWORD)expected.size(), 0};
            expectedMp3 += std::string("END") + (char)stream;
            expectedMp3.append((const char*)end, sizeof(end));
            EXPECT_EQ(fileContents(mp3((std::string(f.name) + ".mp3").c_str())), expectedMp3);
        }
        EXPECT_EQ(at, log.size());
    }
}

// Each way an entry can fail: the job goes on, the failure is reported with
// its reason, and an existing MP3 is left exactly as it was.
TEST_F(WaveJob, FailedEntriesLeaveExistingFilesAndAreReported) {
    std::string missing = folder.file("missing.wav");
    c.sourceFiles.append(missing.c_str());
    std::string locked = addWav("locked.wav", chunkBytes);
    std::string text = folder.file("text.wav");
    writeFileContents(text, "this is not a wave file at all");
    c.sourceFiles.append(text.c_str());
    std::string wide = writeBytes(folder, "wide.wav", canonicalWav(2, 44100, 12, patternBytes(600)));
    c.sourceFiles.append(wide.c_str());
    addWav("good.wav", 3 * chunkBytes);
    for (const char* name : {"locked.mp3", "text.mp3", "wide.mp3"}) {
        writeFileContents(mp3(name), name);
    }
    HANDLE holder = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    bool ended = run();
    CloseHandle(holder);
    ASSERT_TRUE(ended);

    EXPECT_EQ(h.endParam, (WPARAM)JobCompletedWithFailures);
    EXPECT_EQ(lastJobReport().entryCount(), 5u);
    EXPECT_EQ(lastJobReport().convertedCount(), 1u);
    EXPECT_EQ(failures(), Strings({failure(missing, FailSourceOpen), failure(locked, FailSourceOpen),
                                   failure(text, FailNotUsableWav), failure(wide, FailNotUsableWav)}));
    ASSERT_EQ(lastJobReport().failureCount(), 4u);
    const FailedEntry* notWav = lastJobReport().first()->next->next;
    EXPECT_EQ(notWav->detail, (DWORD)WavNotRiffWave);
    char line[400];
    describeFailure(notWav->next, line, sizeof(line));
    EXPECT_EQ(std::string(line), wide + " : " + wavStatusText(WavBadSampleSize));

    for (const char* name : {"locked.mp3", "text.mp3", "wide.mp3"}) {
        EXPECT_EQ(fileContents(mp3(name)), name);
    }
    EXPECT_FALSE(fileExists(mp3("missing.mp3")));
    EXPECT_TRUE(fileExists(mp3("good.mp3")));
    // Only the good file ever reached the encoder.
    EXPECT_EQ(calls("init"), 1u);
}

BEINITSTREAM recorderInit;
DWORD reportedSamples;

// The stand-in, asking for reportedSamples samples per chunk.
BE_ERR __cdecl oddInit(BE_CONFIG* config, DWORD* samples, DWORD* bufferSize, PHBE_STREAM stream) {
    BE_ERR result = recorderInit(config, samples, bufferSize, stream);
    *samples = reportedSamples;
    return result;
}

TEST_F(WaveJob, EncoderFailuresKeepEarlierOutput) {
    struct Case {
        const char* failAt;
        DWORD samples;  // per chunk, as the library reports them when failAt is ""
        EntryFailure failure;
        size_t encodes, deinits, closes;
    };
    const Case cases[] = {{"init", 0, FailEncoderRefused, 0, 0, 0},
                          {"encode:3", 0, FailEncodeError, 3, 0, 1},
                          {"deinit", 0, FailEncodeError, 5, 1, 1},
                          {"", 0, FailEncodeError, 0, 0, 1},
                          {"", 0x80000000, FailEncodeError, 0, 0, 1},
                          {"", 100000, FailEncodeError, 0, 0, 1}};
    std::string source = addWav("song.wav", 5 * chunkBytes);
    recorderInit = c.beInitStream;
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.failAt) + " " + std::to_string(k.samples));
        resetRecorder();
        writeFileContents(mp3("song.mp3"), "the earlier song");
        recorderFailAt(k.failAt);
        c.beInitStream = k.failAt[0] ? recorderInit : oddInit;
        reportedSamples = k.samples;
        ASSERT_TRUE(run());
        EXPECT_EQ(h.endParam, (WPARAM)JobCompletedWithFailures);
        EXPECT_EQ(failures(), Strings({failure(source, k.failure)}));
        EXPECT_EQ(fileContents(mp3("song.mp3")), "the earlier song");
        EXPECT_EQ(calls("encode"), k.encodes);
        EXPECT_EQ(calls("deinit"), k.deinits);
        // A stream that was opened is always closed.
        EXPECT_EQ(calls("close"), k.closes);
    }
}

// The library writes the VBR header by reopening the file by name (the
// stand-in opens it unshared, as a file still held open would refuse), so the
// call must come after our close and its own, on the temporary file, before
// that replaces the output. Constant bitrate never asks for it.
TEST_F(WaveJob, VbrHeaderIsWrittenIntoTheClosedFileBeforeItReplacesTheOutput) {
    struct Case {
        const char* name;
        int vbr, method;
        const char* failAt;
        const char* start;  // of the output; null when the earlier file must stay
    };
    const Case cases[] = {{"cbr", 0, 0, "", "ENC"},
                          {"vbr", 1, 2, "", "VBR"},
                          {"abr", 1, 4, "", "VBR"},
                          {"failing header", 1, 0, "vbrheader", nullptr}};
    std::string source = addWav("song.wav", 3 * chunkBytes);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        resetRecorder();
        recorderFailAt(k.failAt);
        writeFileContents(mp3("song.mp3"), "the earlier song");
        c.setVbrEnabled(k.vbr);
        c.setVbrMethodIndex(k.method);
        ASSERT_TRUE(run());

        std::vector<std::string> kinds;
        std::string headerPath;
        for (const RecordedCall& call : readRecorderLog()) {
            kinds.push_back(call.kind);
            headerPath = call.kind == "vbrheader" ? call.path : headerPath;
        }
        Strings tail(kinds.end() - (k.vbr ? 3 : 2), kinds.end());
        EXPECT_EQ(tail, k.vbr ? Strings({"deinit", "close", "vbrheader"}) : Strings({"deinit", "close"}));
        std::string content = fileContents(mp3("song.mp3"));
        if (k.start) {
            EXPECT_EQ(lastJobReport().convertedCount(), 1u);
            EXPECT_EQ(content.substr(0, 3), k.start);
        } else {
            EXPECT_EQ(failures(), Strings({failure(source, FailEncodeError)}));
            EXPECT_EQ(lastJobReport().first()->detail, (DWORD)BE_ERR_INVALID_FORMAT);
            EXPECT_EQ(content, "the earlier song");
        }
        if (k.vbr) {
            EXPECT_EQ(headerPath, folder.file("song.~cb"));
        }
    }
}

uint32_t bigEndian(const Bytes& b, size_t at) {
    return (uint32_t)b[at] << 24 | (uint32_t)b[at + 1] << 16 | (uint32_t)b[at + 2] << 8 | b[at + 3];
}

// With the real encoder: the header's frame count, less the encoder delay and
// the padding it records, is the input's length, as a player computes it.
TEST_F(WaveJob, VbrOutputsOfTheRealEncoderCarryTheirLength) {
    ASSERT_EQ(useLinuxEncoder(c), 1);
    const DWORD inputFrames = 100000;
    addWav("noise.wav", inputFrames * 4);
    c.setVbrEnabled(1);
    for (int method : {2, 4}) {
        SCOPED_TRACE(method);
        c.setVbrMethodIndex(method);
        ASSERT_TRUE(run());
        ASSERT_EQ(lastJobReport().convertedCount(), 1u);
        Bytes out = readWholeFile(mp3("noise.mp3"));
        // In the first frame, after the side information of MPEG-1 stereo.
        ASSERT_GT(out.size(), 200u);
        ASSERT_EQ(std::string(out.begin() + 36, out.begin() + 40), "Xing");
        uint32_t flags = bigEndian(out, 40);
        ASSERT_EQ(flags & 0xF, 0xFu);
        uint32_t frames = bigEndian(out, 44);
        // The encoder's own tag follows the frame and byte counts, the seek
        // table and the quality; delay and padding are 12 bits each.
        size_t gapless = 36 + 120 + 21;
        uint32_t delay = (uint32_t)out[gapless] << 4 | out[gapless + 1] >> 4;
        uint32_t padding = (uint32_t)(out[gapless + 1] & 0xF) << 8 | out[gapless + 2];
        EXPECT_EQ(frames * 1152 - delay - padding, inputFrames);
    }
}

TEST_F(WaveJob, OutputPathsThatCannotBeMadeAreFailures) {
    c.setSaveBesideSource(0);
    std::string source = addWav("track.wav", 2000);
    c.setDestinationFolder(folder.file("no such folder").c_str());
    ASSERT_TRUE(run());
    EXPECT_EQ(failures(), Strings({failure(source, FailOutputCreate)}));
    // A destination that leaves no room for the name is refused, not cut.
    c.setDestinationFolder((std::string(folder.path()) + "\\" + std::string(240, 'd')).c_str());
    ASSERT_TRUE(run());
    EXPECT_EQ(failures(), Strings({failure(source, FailPathTooLong)}));

    // A WAV file that already carries the .mp3 extension is never replaced by its MP3.
    c.sourceFiles.clear();
    c.setSaveBesideSource(1);
    Bytes wav = canonicalWav(1, 44100, 16, patternBytes(2000));
    std::string odd = writeBytes(folder, "odd.mp3", wav);
    c.sourceFiles.append(odd.c_str());
    ASSERT_TRUE(run());
    EXPECT_EQ(failures(), Strings({failure(odd, FailOutputIsSource)}));
    EXPECT_EQ(readWholeFile(odd), wav);
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
    addWav("song.wav", 1000 * chunkBytes);  // 16 kB of output from the stand-in
    bool ended = run();
    int leftover = pendingOutputFiles(disk);
    DeleteFileA(filler.c_str());
    std::string kept = fileContents(earlier);
    DeleteFileA(earlier.c_str());

    ASSERT_TRUE(ended);
    ASSERT_EQ(lastJobReport().failureCount(), 1u);
    EXPECT_EQ(lastJobReport().first()->failure, FailWriteError);
    EXPECT_EQ(kept, "the earlier song");
    EXPECT_EQ(leftover, 0);
}

TEST_F(WaveJob, CancelDuringThirdOfFiveKeepsFirstTwo) {
    for (const char* name : {"1.wav", "2.wav", "3.wav", "4.wav", "5.wav"}) {
        addWav(name, 20 * chunkBytes);
    }
    writeFileContents(mp3("3.mp3"), "earlier third");
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
    EXPECT_TRUE(fileExists(mp3("1.mp3")) && fileExists(mp3("2.mp3")));
    EXPECT_EQ(fileContents(mp3("3.mp3")), "earlier third");
    EXPECT_FALSE(fileExists(mp3("4.mp3")) || fileExists(mp3("5.mp3")));
    // The cancelled entry was still flushed and closed; none started after it.
    EXPECT_EQ(calls("init"), 3u);
    EXPECT_EQ(calls("deinit"), 3u);
    EXPECT_EQ(calls("close"), 3u);
    EXPECT_EQ(h.of(TotalLabel, WM_SETTEXT).size(), 3u);
}

TEST_F(WaveJob, CancelBeforeAnyEncodingWritesNothing) {
    addWav("a.wav", 3 * chunkBytes);
    addWav("b.wav", 3 * chunkBytes);
    // While the question is open.
    writeFileContents(mp3("a.mp3"), "earlier a");
    c.setReplaceWithoutAsking(0);
    h.answers = {IDYES};
    h.beforeAnswer = [&] { c.setJobRunning(0); };
    ASSERT_TRUE(run());
    EXPECT_EQ(h.endParam, (WPARAM)JobCancelled);
    EXPECT_EQ(h.questions.size(), 1u);
    EXPECT_EQ(fileContents(mp3("a.mp3")), "earlier a");
    EXPECT_FALSE(fileExists(mp3("b.mp3")));
    EXPECT_EQ(calls("init"), 0u);

    // Before the worker's first act: it must not raise the flag again.
    DeleteFileA(mp3("a.mp3").c_str());
    ASSERT_EQ(h.start(c), 1);
    c.setJobRunning(0);
    ASSERT_TRUE(h.waitForEnd(c));
    EXPECT_EQ(h.endParam, (WPARAM)JobCancelled);
    EXPECT_FALSE(fileExists(mp3("a.mp3")) || fileExists(mp3("b.mp3")));
}

// A cancelled worker lives on until its end message: a start made in
// between is refused and must not revive it, and the next one runs.
TEST_F(WaveJob, StartDuringCancelWaitsForTheEndMessage) {
    for (const char* name : {"1.wav", "2.wav", "3.wav", "4.wav"}) {
        addWav(name, 20 * chunkBytes);
    }
    int restarted = -1, runningAfter = -1, existedAfter = -1;
    h.onEvent = [&](const ControlEvent& e) {
        if (restarted < 0 && e.control == FileBar && e.message == PBM_SETPOS && e.wParam > 0) {
            c.setJobRunning(0);
            restarted = h.start(c);
            runningAfter = c.jobRunning();
            existedAfter = c.workerExists() != 0;
        }
    };
    ASSERT_EQ(h.start(c), 1);
    ASSERT_TRUE(h.waitForEnd(c));
    EXPECT_EQ(restarted, 0);
    EXPECT_EQ(runningAfter, 0);
    EXPECT_EQ(existedAfter, 1);
    EXPECT_EQ(h.endMessages, 1);
    EXPECT_EQ(h.endParam, (WPARAM)JobCancelled);
    EXPECT_EQ(c.workerExists(), 0);
    EXPECT_EQ(calls("init"), 1u);
    for (const char* name : {"1.mp3", "2.mp3", "3.mp3", "4.mp3"}) {
        EXPECT_FALSE(fileExists(mp3(name))) << name;
    }

    h.onEvent = nullptr;
    ASSERT_EQ(h.start(c), 1);
    ASSERT_TRUE(h.waitForEnd(c));
    EXPECT_EQ(h.endParam, (WPARAM)JobCompleted);
    EXPECT_EQ(lastJobReport().convertedCount(), 4u);
    EXPECT_EQ(h.endMessages, 2);
}

TEST_F(WaveJob, OnlyOneJobAtATime) {
    // An empty list ends at once, after startJob's reset.
    ASSERT_TRUE(run());
    EXPECT_EQ(h.endParam, (WPARAM)JobCompleted);
    EXPECT_EQ(h.events.size(), 3u);
    EXPECT_EQ(c.jobRunning(), 0);

    addWav("a.wav", 30 * chunkBytes);
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

// Only a disc has sectors; a file's read error names its byte offset.
TEST(JobReport, ReadErrorsNameWhereReadingStopped) {
    struct Case {
        EntryFailure failure;
        DWORD detail;
        const char* text;
    } const cases[] = {
        {FailReadError, 140, "x : erreur de lecture au secteur 140"},
        {FailFileReadError, 4652, "x : erreur de lecture du fichier à l'octet 4652"},
        {FailFileReadError, 0, "x : erreur de lecture du fichier"},
    };
    for (const Case& k : cases) {
        FailedEntry entry = {"x", k.failure, k.detail, nullptr};
        char line[200];
        describeFailure(&entry, line, sizeof(line));
        EXPECT_EQ(std::string(line), k.text);
    }
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
