// What the loader composes templates and styles opened alone with: the
// style and chordmap chosen, the activity, the seed, and for a style the
// shape and length, or one motif. A template's style and chordmap are its
// own references, else the style and chordmap of its folder whose file
// names begin most like the template's; the options choose them outright.
#pragma once

#include "platform/composer/TemplateComposer.h"
#include "platform/formats/common/Diagnostics.h"
#include "platform/formats/segment/ReferenceResolver.h"
#include "platform/formats/segment/tracks/StyleTracks.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qorn::platform {

struct CompositionOptions {
    std::string style;    // a style file, empty: the template's or the folder's
    std::string chordmap; // a chordmap file, empty: the template's or the folder's
    int activity = composer::kDefaultActivity;
    // Fixed seed; without one each load composes anew.
    std::optional<std::uint32_t> seed;
    composer::Shape shape = composer::kDefaultShape;
    int measures = composer::kDefaultShapeMeasures;
    // With a style: this motif alone plays.
    std::string motif;
};

// The extensions, in lower case, of style files and of chordmap files
// ('.per' and '.cdp' are names the older tools gave chordmaps).
inline constexpr std::string_view kStyleExtensions[] = {".sty"};
inline constexpr std::string_view kChordmapExtensions[] = {".cdm", ".per", ".cdp"};

// The file in the folder of `path` with one of the `extensions` whose name
// shares the longest beginning with the name of `path`; `accept` says
// whether a file is usable (tried from the longest). Empty when none shares
// a first letter.
std::string ChooseByName(const std::string& path, std::span<const std::string_view> extensions,
                         const std::function<bool(const std::string&)>& accept);

// The chords a template (`tracks` of the file at `path`) composes, with the
// style to play them: `tracks` then holds the style, the composed chords and
// the template's commands, ready for the style composer. `line` says what it
// was composed from, by file name (the chordmap's empty when there is none).
// False (with the reason in `diagnostics`) when no style is found.
struct ComposedFrom {
    std::string style;
    std::string chordmap;
};
bool ComposeTemplate(const std::string& path, formats::segment::StyleTracks& tracks, std::int32_t length,
                     const CompositionOptions& options, std::uint32_t seed,
                     const formats::segment::ReferenceResolver& resolver, formats::Diagnostics& diagnostics,
                     ComposedFrom& from);

// "with S.sty and C.cdm (activity N, seed M)", "with S.sty and no chordmap,
// over the key's tonic chord (...)", and both without the style.
std::string DescribeComposition(const ComposedFrom& from, const CompositionOptions& options, std::uint32_t seed,
                                bool withStyle);

} // namespace qorn::platform
