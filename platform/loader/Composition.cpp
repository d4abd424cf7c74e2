#include "platform/loader/Composition.h"

#include "platform/composer/StyleComposer.h"
#include "platform/formats/chordmap/ChordmapReader.h"
#include "platform/formats/common/Limits.h"
#include "platform/formats/segment/EmbeddedObjects.h"
#include "platform/formats/segment/FolderReferenceResolver.h"
#include "platform/formats/style/StyleReader.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>

namespace qorn::platform {

namespace fs = std::filesystem;
namespace cm = formats::chordmap;
namespace st = formats::style;
namespace seg = formats::segment;

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool HasExtension(const fs::path& p, std::span<const std::string_view> extensions) {
    const std::string ext = Lower(p.extension().string());
    return std::find(extensions.begin(), extensions.end(), ext) != extensions.end();
}

std::shared_ptr<const std::vector<std::uint8_t>> ReadFile(const std::string& path) {
    return seg::ReadWholeFile(fs::path(path), limits::kMaxFileBytes);
}

// Every chordmap form goes through ReadChordmap; one it cannot read is
// skipped with a line that says so.
std::shared_ptr<const cm::Chordmap> ReadChordmapBytes(const std::vector<std::uint8_t>& bytes, const std::string& file,
                                                      formats::Diagnostics& diagnostics) {
    auto map = std::make_shared<cm::Chordmap>();
    std::string error;
    if (cm::ReadChordmap(bytes, *map, diagnostics, &error)) return map;
    diagnostics.warn("chordmap '" + file + "' skipped: " + error, "chordmap '" + file + "'");
    return nullptr;
}

struct FolderChordmap {
    std::string path;
    std::shared_ptr<const cm::Chordmap> map;
};

// The chordmaps of the folder of `path` that can be read.
std::vector<FolderChordmap> FolderChordmaps(const std::string& path, formats::Diagnostics& diagnostics) {
    std::vector<FolderChordmap> out;
    const fs::path self(path);
    std::error_code ec;
    fs::directory_iterator it(self.parent_path().empty() ? fs::path(".") : self.parent_path(), ec);
    std::vector<fs::path> files;
    for (std::size_t seen = 0; !ec && it != fs::directory_iterator() && seen < limits::kMaxFolderEntries;
         it.increment(ec), ++seen) {
        if (HasExtension(it->path(), kChordmapExtensions) && it->is_regular_file(ec)) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& p : files) {
        auto bytes = seg::ReadWholeFile(p, limits::kMaxFileBytes);
        if (!bytes) continue;
        if (auto map = ReadChordmapBytes(*bytes, p.filename().string(), diagnostics))
            out.push_back({p.string(), std::move(map)});
    }
    return out;
}

// A reference names a chordmap of the folder by its GUID, or by any name it
// goes by: the names it gives itself, the 8.3 stem the older form stores,
// its file's stem. The reference may give its display name or its file.
bool NamesChordmap(const seg::ObjectReference& ref, const FolderChordmap& f) {
    const cm::Chordmap& map = *f.map;
    if (ref.hasObject && map.hasGuid && ref.object == map.guid) return true;
    const std::string names[] = {Lower(map.name), Lower(map.infoName), Lower(map.fileStem),
                                 Lower(fs::path(f.path).stem().string())};
    const std::string asked[] = {Lower(ref.name), Lower(fs::path(seg::BaseFileName(ref.file)).stem().string())};
    for (const std::string& a : asked)
        for (const std::string& n : names)
            if (!a.empty() && a == n) return true;
    return false;
}

std::shared_ptr<const st::Style> ReadStyleBytes(const std::vector<std::uint8_t>& bytes,
                                                formats::Diagnostics& diagnostics) {
    auto style = std::make_shared<st::Style>();
    std::string error;
    if (!st::ReadStyleFile(bytes, *style, diagnostics, &error)) return nullptr;
    return style;
}

std::string FileName(const std::string& path) {
    return fs::path(path).filename().string();
}

std::string RefName(const seg::ObjectReference& ref) {
    return seg::BaseFileName(ref.file.empty() ? ref.name : ref.file);
}

void Missing(formats::Diagnostics& diagnostics, const std::string& what, const std::string& name) {
    diagnostics.warn(what + " '" + name + "' cannot be read: not used", what + " '" + name + "'");
}

} // namespace

std::string ChooseByName(const std::string& path, std::span<const std::string_view> extensions,
                         const std::function<bool(const std::string&)>& accept) {
    const fs::path self(path);
    const std::string stem = Lower(self.stem().string());
    std::vector<std::pair<std::size_t, std::string>> found;
    std::error_code ec;
    fs::directory_iterator it(self.parent_path().empty() ? fs::path(".") : self.parent_path(), ec);
    std::size_t seen = 0;
    for (; !ec && it != fs::directory_iterator() && seen < limits::kMaxFolderEntries; it.increment(ec), ++seen) {
        const fs::path p = it->path();
        if (!HasExtension(p, extensions) || !it->is_regular_file(ec)) continue;
        const std::string name = Lower(p.stem().string());
        std::size_t shared = 0;
        while (shared < name.size() && shared < stem.size() && name[shared] == stem[shared])
            ++shared;
        if (shared > 0) found.push_back({shared, p.string()});
    }
    // Longest shared beginning first, then the shorter name, then by name.
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        if (a.first != b.first) return a.first > b.first;
        if (a.second.size() != b.second.size()) return a.second.size() < b.second.size();
        return a.second < b.second;
    });
    for (const auto& f : found)
        if (accept(f.second)) return f.second;
    return {};
}

bool ComposeTemplate(const std::string& path, seg::StyleTracks& tracks, std::int32_t length,
                     const CompositionOptions& options, std::uint32_t seed, const seg::ReferenceResolver& resolver,
                     formats::Diagnostics& diagnostics, ComposedFrom& from) {
    // The style: the option, the template's own, the folder's.
    std::shared_ptr<const st::Style> style;
    std::string styleName;
    if (!options.style.empty()) {
        auto bytes = ReadFile(options.style);
        if (bytes) style = ReadStyleBytes(*bytes, diagnostics);
        if (!style) Missing(diagnostics, "style", options.style);
        styleName = FileName(options.style);
    }
    if (!style && !tracks.styles.empty()) {
        style = tracks.styles.front().style;
        const auto& ref = tracks.styles.front();
        styleName = ref.hasReference ? RefName(ref.reference) : style->name;
    }
    if (!style) {
        const std::string file = ChooseByName(path, kStyleExtensions, [&](const std::string& p) {
            auto bytes = ReadFile(p);
            if (bytes) style = ReadStyleBytes(*bytes, diagnostics);
            return style != nullptr;
        });
        styleName = FileName(file);
    }
    if (!style) {
        diagnostics.warn("no style to compose with: none is named and none in its folder has a name like it (give "
                         "one with --style)");
        return false;
    }

    // The chordmap: the option, the template's own, the style's, the folder's.
    std::shared_ptr<const cm::Chordmap> map;
    std::string mapName;
    if (!options.chordmap.empty()) {
        if (auto bytes = ReadFile(options.chordmap))
            map = ReadChordmapBytes(*bytes, FileName(options.chordmap), diagnostics);
        else
            Missing(diagnostics, "chordmap", options.chordmap);
        mapName = FileName(options.chordmap);
    }
    // The folder is read once, and only when needed.
    std::optional<std::vector<FolderChordmap>> folder;
    auto folderMaps = [&]() -> const std::vector<FolderChordmap>& {
        if (!folder) folder = FolderChordmaps(path, diagnostics);
        return *folder;
    };
    std::vector<seg::ObjectReference> refs;
    for (const auto& r : tracks.chordmaps)
        refs.push_back(r.reference);
    refs.insert(refs.end(), style->chordmaps.begin(), style->chordmaps.end());
    for (std::size_t i = 0; !map && i < refs.size(); ++i) {
        if (auto bytes = resolver.findFileBytes(refs[i])) {
            map = ReadChordmapBytes(*bytes, RefName(refs[i]), diagnostics);
            mapName = RefName(refs[i]);
        }
        // Older templates name their chordmap by the name it gives itself.
        if (map) break;
        for (const auto& f : folderMaps())
            if (NamesChordmap(refs[i], f)) {
                map = f.map;
                mapName = FileName(f.path);
                break;
            }
    }
    // Named chordmaps that are not there: the folder's or none play instead.
    if (!map && !refs.empty()) {
        constexpr std::size_t kNamed = 3;
        std::string names;
        for (std::size_t i = 0; i < std::min(refs.size(), kNamed); ++i)
            names += (i ? ", '" : "'") + (refs[i].name.empty() ? RefName(refs[i]) : refs[i].name) + "'";
        if (refs.size() > kNamed) names += " and " + std::to_string(refs.size() - kNamed) + " more";
        diagnostics.warn("no chordmap it names is in its folder (" + names + ")", "chordmaps");
    }
    if (!map) {
        const std::string file = ChooseByName(path, kChordmapExtensions, [&](const std::string& p) {
            for (const auto& f : folderMaps())
                if (fs::path(f.path) == fs::path(p)) map = f.map;
            return map != nullptr;
        });
        mapName = FileName(file);
    }

    composer::ChordComposeRequest request;
    request.chordmap = map.get();
    request.signposts = tracks.signposts;
    request.length = length;
    request.timeSignature = style->timeSignature;
    request.activity = options.activity;
    request.seed = seed;
    composer::ComposedChords chords = composer::ComposeChords(request);
    tracks.chords = std::move(chords.track);
    tracks.hasChords = true;
    tracks.styles.clear();
    tracks.styles.push_back({0, false, {}, style});
    if (tracks.commands.empty()) {
        st::Command groove;
        groove.grooveLevel = composer::kDefaultGrooveLevel;
        tracks.commands.push_back(groove);
    }
    from.style = styleName;
    from.chordmap = map ? mapName : std::string();
    return true;
}

std::string DescribeComposition(const ComposedFrom& from, const CompositionOptions& options, std::uint32_t seed,
                                bool withStyle) {
    std::string text = "with ";
    if (withStyle) text += from.style + " and ";
    text += from.chordmap.empty() ? "no chordmap, over the key's tonic chord" : from.chordmap;
    return text + " (activity " + std::to_string(options.activity) + ", seed " + std::to_string(seed) + ")";
}

} // namespace qorn::platform
