// WAV files as the usual tools write them and as they arrive damaged, made
// afresh at each run with sox and ffmpeg or edited by hand, then converted in
// one job of the 64-bit program under Wine: each file becomes an MP3 of its
// audio, or is refused with the reason the table gives.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include <gtest/gtest.h>

#include "tests/native/AudioCheck.h"

namespace {

void set16(std::string& b, size_t at, uint16_t v) { b.replace(at, 2, (const char*)&v, 2); }
void set32(std::string& b, size_t at, uint32_t v) { b.replace(at, 4, (const char*)&v, 4); }

const size_t all = SIZE_MAX;
const char* notWav = "ce n'est pas un fichier WAV";
const char* noFormat = "le format audio est introuvable";
const char* noData = "les données audio sont introuvables";
const char* notPcm = "format audio non géré (PCM ou virgule flottante seulement)";
const char* channels = "nombre de canaux non géré (mono ou stéréo seulement)";
const char* sampleSize = "résolution non gérée (8, 16, 24 ou 32 bits seulement)";
const char* floatSize = "virgule flottante non gérée (32 bits seulement)";
const char* blockAlign = "taille des blocs incohérente avec la résolution";
const char* rate = "fréquence d'échantillonnage hors limites (8 000 à 192 000 Hz)";

// The audio the files are made from, each written as a plain 16-bit file
// with a 44-byte header (the offsets of the hand edits). 11025 Hz has an odd
// number of frames, for odd data sizes. LAME brings rates above 48000 Hz down
// to 48000, so those files are made from the 48000 Hz audio.
std::vector<Audio> sources() {
    return {musicLike(44100, 2, 0.8, 1), musicLike(22050, 1, 0.6, 2), musicLike(8000, 1, 0.7, 3),
            musicLike(48000, 2, 0.5, 4), musicLike(11025, 1, 0.7, 5)};
}

struct Recipe {
    const char* name;
    int source;
    const char* command;  // shell, from $IN to $OUT; a copy when null
    void (*edit)(std::string& bytes);
    const char* reason;   // null when the file converts
    size_t frames;        // of the source that the file still holds
};

const Recipe corpus[] = {
    {"plain-s16-stereo.wav", 0, nullptr, nullptr, nullptr, all},
    {"plain-s16-mono-22050.wav", 1, nullptr, nullptr, nullptr, all},
    {"plain-s16-mono-8000.wav", 2, nullptr, nullptr, nullptr, all},
    {"sox-u8.wav", 0, "sox $IN -b 8 $OUT", nullptr, nullptr, all},
    {"sox-u8-odd-size-pad-then-list.wav", 4, "sox $IN -b 8 $OUT && printf 'LIST\\4\\0\\0\\0INFO' >>$OUT",
     nullptr, nullptr, all},
    {"sox-s24-extensible-fact.wav", 0, "sox $IN -b 24 $OUT", nullptr, nullptr, all},
    {"sox-s24-plain-odd-size.wav", 4, "sox $IN -t wavpcm -b 24 $OUT", nullptr, nullptr, all},
    {"sox-s32-extensible.wav", 0, "sox $IN -b 32 $OUT", nullptr, nullptr, all},
    {"sox-f32-fact.wav", 1, "sox $IN -e floating-point -b 32 $OUT", nullptr, nullptr, all},
    {"sox-streamed-length-unknown.wav", 0, "sox -V1 --ignore-length $IN -t wav - | cat >$OUT", nullptr, nullptr, all},
    {"sox-s16-192000.wav", 3, "sox $IN -r 192000 $OUT", nullptr, nullptr, all},
    {"sox-s24-96000.wav", 3, "sox $IN -r 96000 -b 24 $OUT", nullptr, nullptr, all},
    {"ffmpeg-s16-list.wav", 0, "ff $OUT", nullptr, nullptr, all},
    {"ffmpeg-u8-8000.wav", 2, "ff -c:a pcm_u8 $OUT", nullptr, nullptr, all},
    {"ffmpeg-s24-extensible-list.wav", 0, "ff -c:a pcm_s24le $OUT", nullptr, nullptr, all},
    {"ffmpeg-s32-extensible-48000.wav", 3, "ff -c:a pcm_s32le $OUT", nullptr, nullptr, all},
    {"ffmpeg-f32-extensible.wav", 0, "ff -c:a pcm_f32le $OUT", nullptr, nullptr, all},
    {"ffmpeg-bext-and-levl-after-data.wav", 0, "ff -write_bext 1 -write_peak on $OUT", nullptr, nullptr, all},
    {"ffmpeg-junk-before-fmt.wav", 1, "ff -rf64 auto $OUT", nullptr, nullptr, all},
    {"ffmpeg-streamed-sizes-ffffffff.wav", 1, "ff -f wav - | cat >$OUT", nullptr, nullptr, all},
    {"s24-in-32-bit-containers.wav", 0, "sox $IN -b 32 $OUT", [](std::string& b) { set16(b, 38, 24); },
     nullptr, all},
    {"data-size-ffffffff.wav", 0, nullptr, [](std::string& b) { set32(b, 40, 0xFFFFFFFF); }, nullptr, all},
    {"riff-size-0.wav", 1, nullptr, [](std::string& b) { set32(b, 4, 0); }, nullptr, all},
    {"fmt-after-data.wav", 1, nullptr, [](std::string& b) { b = b.substr(0, 12) + b.substr(36) + b.substr(12, 24); },
     nullptr, all},
    {"odd-chunk-padded-before-data.wav", 0, nullptr,
     [](std::string& b) { b.insert(36, "JUNK\3\0\0\0abc\0", 12); }, nullptr, all},
    {"header-only.wav", 0, "head -c 44 $IN >$OUT", nullptr, nullptr, 0},
    {"data-size-0-nothing-after.wav", 0, "head -c 44 $IN >$OUT", [](std::string& b) { set32(b, 40, 0); },
     nullptr, 0},
    // A recorder stopped before it wrote the sizes: the audio is all there.
    {"data-size-0-audio-after.wav", 0, nullptr, [](std::string& b) { set32(b, 40, 0); }, nullptr, all},

    {"sox-f64.wav", 0, "sox $IN -e floating-point -b 64 $OUT", nullptr, floatSize, 0},
    {"ffmpeg-f64-extensible.wav", 1, "ff -c:a pcm_f64le $OUT", nullptr, floatSize, 0},
    {"sox-3-channels.wav", 0, "sox $IN $OUT remix 1 2 1", nullptr, channels, 0},
    {"ffmpeg-5.1.wav", 0, "ff -ac 6 $OUT", nullptr, channels, 0},
    {"0-channels.wav", 1, nullptr, [](std::string& b) { set16(b, 22, 0); }, channels, 0},
    {"sox-a-law.wav", 0, "sox $IN -e a-law $OUT", nullptr, notPcm, 0},
    {"extensible-unknown-subformat.wav", 0, "sox $IN -b 24 $OUT", [](std::string& b) { b[50] ^= 0x55; },
     notPcm, 0},
    {"s12.wav", 0, nullptr, [](std::string& b) { set16(b, 34, 12); }, sampleSize, 0},
    {"s24-padded-to-4-bytes.wav", 0, "sox $IN -t wavpcm -b 32 $OUT", [](std::string& b) { set16(b, 34, 24); },
     blockAlign, 0},
    {"rate-7999.wav", 2, nullptr, [](std::string& b) { set32(b, 24, 7999); }, rate, 0},
    {"rate-192001.wav", 1, nullptr, [](std::string& b) { set32(b, 24, 192001); }, rate, 0},
    {"ffmpeg-rf64.wav", 0, "ff -rf64 always $OUT", nullptr, notWav, 0},
    {"sox-rifx-big-endian.wav", 0, "sox $IN -B $OUT", nullptr, notWav, 0},
    {"no-fmt.wav", 0, nullptr, [](std::string& b) { b.erase(12, 24); }, noFormat, 0},
    {"no-data.wav", 0, "head -c 36 $IN >$OUT && printf 'LIST\\4\\0\\0\\0INFO' >>$OUT", nullptr, noData, 0},
    {"odd-chunk-without-pad.wav", 0, nullptr, [](std::string& b) { b.insert(36, "JUNK\3\0\0\0abc", 11); },
     noData, 0},
    // The extensible 24-bit file cut short: 102 bytes of header, 6 a frame.
    {"cut-0.wav", 0, "cut 0", nullptr, notWav, 0},
    {"cut-11.wav", 0, "cut 11", nullptr, notWav, 0},
    {"cut-12.wav", 0, "cut 12", nullptr, noFormat, 0},
    {"cut-59.wav", 0, "cut 59", nullptr, noFormat, 0},
    {"cut-60.wav", 0, "cut 60", nullptr, noData, 0},
    {"cut-101.wav", 0, "cut 101", nullptr, noData, 0},
    {"cut-102.wav", 0, "cut 102", nullptr, nullptr, 0},
    {"cut-54106.wav", 0, "cut 54106", nullptr, nullptr, 9000},
};

std::string mp3Name(const char* name) { return std::string(name, strlen(name) - 4) + ".mp3"; }

TEST(WavCorpus, EachFileBecomesAnMp3OfItsAudioOrIsRefusedWithItsReason) {
    char pattern[] = "/tmp/calbrune-corpus-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    std::string folder = pattern, output = folder + "/mp3";
    mkdir(output.c_str(), 0700);
    std::vector<Audio> audio = sources();
    std::string script = "cd '" + folder + "' || exit 1\n"
                         "ff() { ffmpeg -nostdin -v error -y -i $IN \"$@\"; }\n"
                         "cut() { head -c $1 ffmpeg-s24-extensible-list.wav >$OUT; }\n";
    for (size_t i = 0; i < audio.size(); i++) {
        writeWav(folder + "/source" + std::to_string(i) + ".wav", audio[i]);
    }
    // One job for the whole corpus; a hang ends at the timeout with no report.
    // Its reasons come in Windows-1252, its lines end with CR LF.
    std::string command = "timeout -k 5 60 " WINE_RUN " '" CALBRUNE_WIN64_DIR "/calbrune_wavejob.exe' '" +
                          windowsPath(output) + "'";
    std::set<std::string> mp3s, written;
    for (const Recipe& r : corpus) {
        script += "IN=source" + std::to_string(r.source) + ".wav OUT=" + r.name + "; " +
                  (r.command ? r.command : "cp $IN $OUT") + " || echo 'cannot make " + r.name + "'\n";
        command += " '" + windowsPath(folder + "/" + r.name) + "'";
        if (!r.reason) {
            mp3s.insert(mp3Name(r.name));
        }
    }
    std::ofstream(folder + "/make.sh") << script;
    ASSERT_EQ(0, system(("sh '" + folder + "/make.sh'").c_str()));
    for (const Recipe& r : corpus) {
        std::string bytes = readFile(folder + "/" + r.name);
        ASSERT_FALSE(r.command && bytes.empty() && r.frames) << r.name;
        if (r.edit) {
            r.edit(bytes);
            std::ofstream(folder + "/" + r.name, std::ios::binary) << bytes;
        }
    }
    system((command + " 2>/dev/null | iconv -f CP1252 -t UTF-8 | tr -d '\\r' >'" + folder + "/report'").c_str());
    std::string report = readFile(folder + "/report");
    for (const auto& entry : std::filesystem::directory_iterator(output)) {
        written.insert(entry.path().filename().string());
    }
    EXPECT_NE(report.find("converted " + std::to_string(mp3s.size()) + "\n"), std::string::npos) << report;
    // An MP3 for each file that converts and nothing else: no temporary file.
    EXPECT_EQ(written, mp3s);

    for (const Recipe& r : corpus) {
        SCOPED_TRACE(r.name);
        std::string failed = "failed " + windowsPath(folder + "/" + r.name) + " : ";
        size_t at = report.find(failed);
        std::string line = at == std::string::npos ? "" : report.substr(at, report.find('\n', at) - at);
        EXPECT_EQ(line, r.reason ? failed + r.reason : "");
        Audio input = audio[r.source];
        input.samples.resize(std::min(r.frames, input.frames()) * input.channels);
        Audio decoded = decodeMp3(readFile(output + "/" + mp3Name(r.name)), folder);
        if (r.reason || input.samples.empty()) {
            EXPECT_EQ(decoded.frames(), 0u);
        } else {
            expectDecodedClose(input, decoded, 0, 0.9);
        }
    }
    system(("rm -rf '" + folder + "'").c_str());
}

}  // namespace
