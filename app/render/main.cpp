// qorn-render: plays files through the player's loader, performance and
// synthesizer into audio files (WAV, FLAC, Ogg Vorbis) as fast as the
// machine allows, or writes what they play as a Standard MIDI File. Many
// files are rendered side by side, each in a process of its own.
#include "app/render/AudioFileWriter.h"
#include "app/render/Batch.h"
#include "app/render/MidiExport.h"
#include "app/render/OfflineSession.h"
#include "app/render/Progress.h"
#include "app/render/SoundFontExport.h"
#include "app/render/TempFile.h"
#include "platform/formats/common/Diagnostics.h"
#include "platform/formats/smf/SmfWriter.h"
#include "platform/loader/FormatProbe.h"
#include "platform/loader/Loader.h"
#include "platform/loader/Segment.h"
#include "platform/synth/SynthPort.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace qorn::render;

constexpr double kMaxTailSeconds = 10.0;
// A bound on one render, so a piece that never ends cannot fill the disk;
// QORN_RENDER_MAX_SECONDS sets another.
constexpr double kMaxRenderSeconds = 6 * 3600.0;

double MaxRenderSeconds() {
    const char* text = std::getenv("QORN_RENDER_MAX_SECONDS");
    char* end = nullptr;
    const double v = text != nullptr ? std::strtod(text, &end) : 0.0;
    return text != nullptr && end != text && *end == '\0' && v >= 1.0 && v <= 1e7 ? v : kMaxRenderSeconds;
}

// "6 h", "1 h 30 min", "45 s".
std::string FormatDuration(double seconds) {
    const auto total = static_cast<long long>(std::llround(seconds));
    const long long h = total / 3600, m = total % 3600 / 60, s = total % 60;
    std::string text;
    auto add = [&](long long v, const char* unit) {
        if (v == 0) return;
        if (!text.empty()) text += ' ';
        text += std::to_string(v) + ' ' + unit;
    };
    add(h, "h");
    add(m, "min");
    add(s, "s");
    return text.empty() ? "0 s" : text;
}

constexpr const char* kUsage = "usage: qorn-render [options] INPUT OUTPUT.{wav,flac,ogg,mid}\n"
                               "       qorn-render [options] --motif NAME STYLE.sty OUTPUT\n"
                               "       qorn-render [options] -o DIR INPUT...\n"
                               "       qorn-render COLLECTION.dls OUTPUT.sf2\n";

constexpr const char* kHelp =
    "Renders DirectMusic segments (.sgt) and Standard MIDI Files through the player's own\n"
    "synthesizer into audio files, or writes what they play as a Standard MIDI File.\n"
    "Templates (.tpl) and styles (.sty) are composed first, with chords from a chordmap.\n"
    "A DLS collection given with an OUTPUT ending in .sf2 is written as a SoundFont 2.01\n"
    "file of the same instruments, as the player's synthesizer plays them.\n"
    "\n"
    "Options:\n"
    "  --rate 11025|22050|44100  sample rate (22050)\n"
    "  --bits 16|24|32f          sample format of WAV and FLAC output (16)\n"
    "  --no-effects              no reverb and chorus\n"
    "  --tempo F                 tempo factor, 0.5 to 2.0 (1.0)\n"
    "  --repeats N               repeats of the loop region (the file's own; once for an endless one)\n"
    "  --volume 0..127           the player's volume bar (88, 0 dB)\n"
    "  --seed N                  fixes the choices of styles and wave-track variations, and the\n"
    "                            composition of a template or style (else each run composes anew)\n"
    "  --style FILE              the style a template composes with\n"
    "  --chordmap FILE           the chordmap a template or style composes with\n"
    "  --activity 0..3           how often composed chords change, 0 most often (1)\n"
    "  --shape NAME              the shape of a style played alone: falling, level, loopable,\n"
    "                            loud, quiet, peaking, random, rising or song (song)\n"
    "  --measures N              the length of a style played alone, 1 to 1000 (32)\n"
    "  --motif NAME              plays that motif of the style alone: --motif NAME STYLE.sty OUTPUT\n"
    "  --soundfont PATH          General MIDI set: a SoundFont (.sf2) or a DLS collection (.dls)\n"
    "  --threads N               synthesizer threads (one file: one per core)\n"
    "  --segment NAME            the segment NAME of a script (.spt) or container (.con)\n"
    "  -o DIR                    render every INPUT to DIR/<name>.<format>, and every segment\n"
    "                            of a script or container to DIR/<segment>.<format>\n"
    "  --format wav|flac|ogg|mid output format with -o (wav)\n"
    "  -j N                      files rendered at once with -o (one per core)\n"
    "  -q, --quiet               no progress and no summary line\n"
    "  --help, --version\n";

struct Options {
    long rate = 22050;
    SampleFormat bits = SampleFormat::Pcm16;
    bool effects = true;
    double tempo = 1.0;
    long repeats = -1;
    long volume = 88;
    std::optional<unsigned long> seed;
    qorn::platform::CompositionOptions composition;
    long threads = 0;
    bool quiet = false;
    std::string outDir;
    // The segment of a script or container to render.
    std::string segment;
    std::string format = "wav";
    long jobs = 0;
    // Set in the processes of a batch: progress goes to the parent as lines.
    bool child = false;
    std::vector<std::string> inputs;
    // The options as given, passed on to the processes of a batch.
    std::vector<std::string> passOn;
};

int usageError(const std::string& message) {
    std::fprintf(stderr, "qorn-render: %s (see --help)\n", message.c_str());
    return 2;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "qorn-render: %s\n", message.c_str());
    return 1;
}

bool parseLong(const char* text, long low, long high, long& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || v < low || v > high) return false;
    out = v;
    return true;
}

// The exit status when the run ends with the options (help, version, a
// wrong option); nothing when it goes on.
std::optional<int> parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        auto keep = [&](std::string_view name, const char* v) {
            o.passOn.emplace_back(name);
            if (v != nullptr) o.passOn.emplace_back(v);
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("qorn-render %s\n", QORN_VERSION);
            return 0;
        }
        if (arg == "--no-effects") {
            o.effects = false;
            keep(arg, nullptr);
        } else if (arg == "-q" || arg == "--quiet") {
            o.quiet = true;
        } else if (arg == "--batch-child") {
            o.child = true;
        } else if (arg == "--") {
            for (++i; i < argc; ++i)
                o.inputs.emplace_back(argv[i]);
        } else if (arg.size() > 1 && arg[0] == '-') {
            static constexpr std::string_view kWithValue[] = {
                "--rate",      "--bits",     "--tempo", "--repeats",  "--volume", "--seed",
                "--soundfont", "--threads",  "-o",      "--format",   "-j",       "--style",
                "--chordmap",  "--activity", "--shape", "--measures", "--motif",  "--segment"};
            if (std::find(std::begin(kWithValue), std::end(kWithValue), arg) == std::end(kWithValue))
                return usageError("unknown option " + std::string(arg));
            const char* v = value();
            if (v == nullptr) return usageError(std::string(arg) + " needs a value");
            long n = 0;
            if (arg == "--rate") {
                if (!parseLong(v, 1, 1'000'000, o.rate) || (o.rate != 11025 && o.rate != 22050 && o.rate != 44100))
                    return usageError("--rate must be 11025, 22050 or 44100");
            } else if (arg == "--bits") {
                const auto bits = ParseSampleFormat(v);
                if (!bits) return usageError("--bits must be 16, 24 or 32f");
                o.bits = *bits;
            } else if (arg == "--tempo") {
                char* end = nullptr;
                o.tempo = std::strtod(v, &end);
                if (*end != '\0' || !(o.tempo >= 0.5 && o.tempo <= 2.0))
                    return usageError("--tempo must be between 0.5 and 2.0");
            } else if (arg == "--repeats") {
                if (!parseLong(v, 0, 1000, o.repeats)) return usageError("--repeats must be between 0 and 1000");
            } else if (arg == "--volume") {
                if (!parseLong(v, 0, 127, o.volume)) return usageError("--volume must be between 0 and 127");
            } else if (arg == "--seed") {
                if (!parseLong(v, 0, 0xFFFFFFFFL, n)) return usageError("--seed must be between 0 and 4294967295");
                o.seed = static_cast<unsigned long>(n);
            } else if (arg == "--style") {
                o.composition.style = v;
            } else if (arg == "--chordmap") {
                o.composition.chordmap = v;
            } else if (arg == "--activity") {
                if (!parseLong(v, 0, qorn::composer::kMaxActivity, n))
                    return usageError("--activity must be between 0 and 3");
                o.composition.activity = int(n);
            } else if (arg == "--shape") {
                const auto shape = qorn::composer::ShapeFromName(v);
                if (!shape) return usageError("--shape must be one of " + qorn::composer::ShapeNames());
                o.composition.shape = *shape;
            } else if (arg == "--measures") {
                if (!parseLong(v, 1, qorn::composer::kMaxShapeMeasures, n))
                    return usageError("--measures must be between 1 and 1000");
                o.composition.measures = int(n);
            } else if (arg == "--motif") {
                o.composition.motif = v;
            } else if (arg == "--soundfont") {
                setenv("QORN_SOUNDFONT", v, 1);
            } else if (arg == "--threads") {
                if (!parseLong(v, 1, 256, o.threads)) return usageError("--threads must be between 1 and 256");
            } else if (arg == "-o") {
                o.outDir = v;
                continue;
            } else if (arg == "--segment") {
                o.segment = v;
                continue;
            } else if (arg == "--format") {
                o.format = v;
                if (o.format != "wav" && o.format != "flac" && o.format != "ogg" && o.format != "mid")
                    return usageError("--format must be wav, flac, ogg or mid");
                continue;
            } else if (arg == "-j") {
                if (!parseLong(v, 1, 256, o.jobs)) return usageError("-j must be between 1 and 256");
                continue;
            }
            keep(arg, v);
        } else {
            o.inputs.emplace_back(arg);
        }
    }
    if (o.outDir.empty()) {
        if (o.inputs.size() != 2) return usageError("give one INPUT and one OUTPUT, or -o DIR and the inputs");
    } else if (o.inputs.empty()) {
        return usageError("no input files");
    }
    return std::nullopt;
}

// The output's extension, in lower case: it says what is written.
std::string OutputExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

int Cores() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : int(n);
}

// The segments a script or container holds, as --segment takes them; none
// for any other file.
std::vector<std::string> HeldSegments(const std::string& input) {
    std::vector<std::uint8_t> bytes;
    if (qorn::platform::FAILED(qorn::platform::ReadWholeFile(input, qorn::platform::kMaxLoadBytes, bytes))) return {};
    return qorn::platform::HeldSegmentNames(bytes);
}

// How messages name what is rendered: the file, or "FILE: SEGMENT".
std::string Named(const Options& o, const std::string& input) {
    return o.segment.empty() ? input : input + ": " + o.segment;
}

// Loads INPUT into `session` as the options ask; false with the message printed.
bool LoadPiece(OfflineSession& session, const Options& o, const std::string& input, OfflineSession::Play& play) {
    std::string error;
    qorn::platform::CompositionOptions composition = o.composition;
    if (o.seed) composition.seed = static_cast<std::uint32_t>(*o.seed);
    session.setCompositionOptions(composition);
    if (!session.load(input, &error, o.segment)) {
        if (o.segment.empty() && !HeldSegments(input).empty())
            error += " (--segment NAME renders one, -o DIR renders them all)";
        fail("cannot load " + Named(o, input) + ": " + error);
        return false;
    }
    if (const std::string line = session.lastComposition(); !line.empty() && !o.quiet)
        std::fprintf(stderr, "qorn-render: %s\n", line.c_str());
    // A piece that repeats for ever is rendered with one repeat unless told otherwise.
    if (o.repeats >= 0) {
        session.setRepeats(static_cast<qorn::platform::DWORD>(o.repeats));
    } else if (session.fileRepeats() == 0xFFFFFFFFu) {
        session.setRepeats(1);
        if (!o.quiet && !o.child)
            std::printf("%s repeats for ever: rendering it with one repeat (use --repeats to choose)\n", input.c_str());
    }
    if (o.seed) session.setCompositionSeed(static_cast<std::uint32_t>(*o.seed));
    play = session.playable();
    const std::string silence =
        play.sequence ? qorn::platform::SilenceReason(*play.sequence, session.silentContent()) : "it is empty";
    if (!silence.empty()) {
        fail("nothing in " + Named(o, input) + " can sound: " + silence);
        return false;
    }
    return true;
}

// The seconds a play is rendered for: all of it, or up to the limit, which
// is then said.
double PlayLimit(const Options& o, const std::string& input, const OfflineSession::Play& play) {
    const double limit = MaxRenderSeconds();
    const double seconds = PlaySeconds(*play.sequence, play.repeats, o.tempo);
    if (seconds <= limit) return limit;
    const std::string why = play.repeats > 0 ? "it repeats " + std::to_string(play.repeats) + " times"
                                             : "it lasts " + FormatDuration(seconds);
    qorn::formats::Diagnostics cut;
    cut.warn("cut at " + FormatDuration(limit) + " (" + why + ")");
    cut.setFile(Named(o, input));
    qorn::formats::Report(cut);
    return limit;
}

int ExportMidi(const Options& o, const std::string& input, const std::string& output) {
    std::string error;
    auto session = OfflineSession::CreateWithoutSound(&error);
    if (!session) return fail(error);
    OfflineSession::Play play;
    if (!LoadPiece(*session, o, input, play)) return 1;
    const double limit = PlayLimit(o, input, play);
    qorn::formats::Diagnostics warnings;
    const qorn::music::Sequence flat = UnrollPlay(play.sequence, play.repeats, o.tempo, &warnings, limit);
    warnings.setFile(Named(o, input));
    qorn::formats::Report(warnings);
    // The sequence is named after the segment, or the file it came from.
    const std::string held = session->segmentName();
    const std::vector<std::uint8_t> bytes =
        qorn::formats::WriteStandardMidiFile(flat, std::filesystem::path(held.empty() ? input : held).stem().string());
    TempFile file(output);
    if (file.fd() < 0) return fail(file.error());
    if (!file.write(bytes.data(), bytes.size()) || !file.commit()) return fail(file.error());
    if (!o.quiet && !o.child) std::printf("Wrote %zu events to %s\n", flat.events.size(), output.c_str());
    return 0;
}

int RenderAudio(const Options& o, const std::string& input, const std::string& output) {
    const auto container = ContainerForPath(output);
    if (!container) return usageError("the output must end in .wav, .flac, .ogg or .mid: " + output);
    // One file: every core; a batch's workers have the cores already.
    const long threads = o.threads > 0 ? o.threads : o.child ? 1 : Cores();
    setenv("QORN_SYNTH_THREADS", std::to_string(threads).c_str(), 1);
    std::string error;
    auto session = OfflineSession::Create(int(o.rate), o.effects, &error);
    if (!session) return fail(error);
    OfflineSession::Play play;
    if (!LoadPiece(*session, o, input, play)) return 1;
    session->setTempo(static_cast<float>(o.tempo));
    session->setVolumePosition(int(o.volume));
    auto writer = AudioFileWriter::Open(output, *container, o.bits, int(o.rate), &error);
    if (!writer) return fail(error);
    if (!session->play()) return fail("cannot start " + input);

    const double limit = PlayLimit(o, input, play);
    const double expected = std::min(PlaySeconds(*play.sequence, play.repeats, o.tempo), limit);
    ProgressLine progress(o.child                   ? ProgressLine::Mode::Pipe
                          : (!o.quiet && isatty(2)) ? ProgressLine::Mode::Terminal
                                                    : ProgressLine::Mode::Off,
                          std::filesystem::path(input).filename().string(), expected);
    const double rate = double(o.rate);
    // The last block is cut at the limit's frame, where the MIDI export stops too.
    const auto limitFrames = static_cast<std::uint64_t>(std::llround(limit * rate));
    std::uint64_t frames = 0;
    bool heard = false;
    const StreamedAudio audio =
        RenderStream(*session, kMaxTailSeconds, limit, [&](const float* l, const float* r, int n) {
            n = int(std::min<std::uint64_t>(std::uint64_t(n), limitFrames - std::min(frames, limitFrames)));
            frames += std::uint64_t(n);
            for (int i = 0; i < n && !heard; ++i)
                heard = std::fabs(l[i]) >= kSilence || std::fabs(r[i]) >= kSilence;
            progress.update(double(frames) / rate);
            return writer->write(l, r, n);
        });
    // Notes played, none started a voice and nothing else sounded: silence
    // is not a render.
    const qorn::platform::SynthPort& port = session->port();
    if (!audio.stopped && !heard && port.notesPlayed() > 0 && !port.anyNoteSounded()) {
        progress.finish(false);
        return fail("nothing in " + input + " can sound: each of its " + std::to_string(port.notesPlayed()) +
                    " notes falls on an instrument that is silent here");
    }
    if (audio.stopped || !writer->finish()) {
        progress.finish(false);
        return fail(writer->error());
    }
    progress.finish(true);
    if (!o.quiet && !o.child)
        std::printf("Rendered %.3f s (music %.3f s) at %ld Hz to %s\n", double(frames) / rate,
                    double(std::min(audio.musicFrames, frames)) / rate, o.rate, output.c_str());
    return 0;
}

int RenderOne(const Options& o, const std::string& input, const std::string& output) {
    const std::string ext = OutputExtension(output);
    if (ext == ".sf2") return ExportSoundFont(input, output, o.quiet || o.child);
    return ext == ".mid" || ext == ".midi" ? ExportMidi(o, input, output) : RenderAudio(o, input, output);
}

} // namespace

int main(int argc, char** argv) {
    qorn::formats::ReportToStderr("qorn-render"); // what the loader finds missing or damaged
    Options o;
    if (const auto status = parse(argc, argv, o)) return *status;
    if (o.outDir.empty()) return RenderOne(o, o.inputs[0], o.inputs[1]);

    std::error_code ec;
    std::filesystem::create_directories(o.outDir, ec);
    if (!std::filesystem::is_directory(o.outDir)) return fail("cannot make the folder " + o.outDir);
    std::vector<BatchJob> jobs;
    std::set<std::string> outputs;
    auto add = [&](const std::string& input, const std::string& segment) {
        BatchJob job;
        job.input = input;
        job.segment = segment;
        const std::string name = segment.empty() ? input : segment;
        job.output = (std::filesystem::path(o.outDir) / std::filesystem::path(name).stem()).string() + "." + o.format;
        // Two inputs of one name would write one output: the second fails rather than overwrite it.
        job.duplicate = !outputs.insert(job.output).second;
        jobs.push_back(std::move(job));
    };
    for (const std::string& input : o.inputs) {
        // A script or container: every segment it holds.
        const std::vector<std::string> held = o.segment.empty() ? HeldSegments(input) : std::vector<std::string>{};
        for (const std::string& segment : held)
            add(input, segment);
        if (held.empty()) add(input, o.segment);
    }
    std::vector<std::string> args = o.passOn;
    if (o.threads == 0) args.insert(args.end(), {"--threads", "1"});
    const BatchResult result = RunBatch(jobs, args, o.jobs > 0 ? int(o.jobs) : Cores(), !o.quiet && isatty(2));
    if (!o.quiet) std::printf("%d rendered, %d failed\n", result.rendered, result.failed);
    return result.failed == 0 ? 0 : 1;
}
