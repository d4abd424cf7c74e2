#include "app/render/SoundFontExport.h"

#include "app/render/TempFile.h"
#include "platform/formats/common/Diagnostics.h"
#include "platform/formats/common/FileBytes.h"
#include "platform/formats/common/Limits.h"
#include "platform/formats/dls/DlsReader.h"
#include "platform/instruments/DlsPresets.h"
#include "platform/instruments/SoundFontWriter.h"

#include <cstdio>
#include <filesystem>

namespace qorn::render {

namespace {
int Fail(const std::string& message) {
    std::fprintf(stderr, "qorn-render: %s\n", message.c_str());
    return 1;
}
} // namespace

int ExportSoundFont(const std::string& input, const std::string& output, bool quiet) {
    std::vector<std::uint8_t> bytes;
    if (formats::ReadFileBytes(input, limits::kMaxFileBytes, bytes) != formats::FileReadResult::Ok)
        return Fail("cannot read " + input);
    if (!dls::LooksLikeDlsCollection(bytes))
        return Fail("cannot write a SoundFont of " + input + ": not a DLS collection");
    const dls::DlsReadResult read = dls::ReadDlsCollection(bytes);
    if (!read.ok()) return Fail("cannot write a SoundFont of " + input + ": " + read.error->message);
    const dls::Collection& collection = *read.collection;

    // What the collection loses, said as when it plays, then what the file loses.
    const std::string name = "collection '" + std::filesystem::path(input).filename().string() + "'";
    formats::Diagnostics warnings;
    dls::NoteCollection(collection, "'" + std::filesystem::path(input).filename().string() + "'", warnings);
    const instruments::CollectionPresets presets = instruments::DescribePresets(collection);
    instruments::SoundFontFile file =
        instruments::WriteSoundFont(collection, presets, name, "qorn-render " QORN_VERSION, warnings);
    warnings.setFile(input);
    formats::Report(warnings);
    if (!file.error.empty()) return Fail("cannot write a SoundFont of " + input + ": " + file.error);

    TempFile out(output);
    if (out.fd() < 0) return Fail(out.error());
    if (!out.write(file.bytes.data(), file.bytes.size()) || !out.commit()) return Fail(out.error());
    if (!quiet)
        std::printf("Wrote %zu instruments and %zu samples (%zu bytes) to %s\n", file.presets, file.samples,
                    file.bytes.size(), output.c_str());
    return 0;
}

} // namespace qorn::render
