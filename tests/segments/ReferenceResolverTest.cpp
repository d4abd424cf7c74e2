// Finding the collections and bands a segment names: inside the segment,
// in its folder (any case), in the loader's cache; and what happens when
// they are missing or point back at the segment.
#include "TestSupport.h"

#include "platform/formats/dls/DlsCollection.h"
#include "platform/formats/segment/FolderReferenceResolver.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace qorn::testseg {
namespace {

namespace fs = std::filesystem;
using formats::segment::FolderReferenceResolver;
using formats::segment::ObjectCache;
using music::PatchSelect;

const Guid kCollectionGuid = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

Reference CollectionRef(std::string file, std::optional<Guid> guid = std::nullopt, std::string name = "") {
    return Reference{kCollectionClass, std::move(guid), std::move(name), std::move(file)};
}

// A melody on PChannel 0 whose band takes program 1 ("Square") from the
// referenced collection, and PChannel 9 drums from the General MIDI set.
SegmentSpec BandSpec(const Reference& ref) {
    SegmentSpec plan = MelodySpec();
    plan.bands = {{0, {{0, 1, 0x1 | 0x2, 64, 100, 0, 2, ref}, {9, 0x80000000u, 0x1, 64, 100, 0, 2, std::nullopt}}}};
    return plan;
}

class TempFolder {
  public:
    TempFolder() {
        path_ =
            fs::temp_directory_path() / ("qorn-seg-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    fs::path write(const std::string& name, const Bytes& bytes) const {
        const fs::path p = path_ / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p;
    }
    const fs::path& path() const { return path_; }

  private:
    static inline int counter_ = 0;
    fs::path path_;
};

Loaded LoadFile(const fs::path& path, ObjectCache& cache) {
    std::ifstream in(path, std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    FolderReferenceResolver resolver(path, cache);
    return Load(bytes, resolver);
}

TEST(References, EmbeddedCollectionIsFoundByGuidFileOrNameWithoutTheDisk) {
    const Bytes dls = testdls::BuildDls(testdls::TestCollection());
    struct Case {
        const char* what;
        Reference bandRef;
        std::optional<Reference> description;
        std::string alias;
    };
    const Case cases[] = {
        {"guid from dlid", CollectionRef("", kCollectionGuid), std::nullopt, ""},
        {"file from the container's reference", CollectionRef("Instruments\\MY.DLS"), CollectionRef("my.dls"), ""},
        {"file from the alias", CollectionRef("my.dls"), std::nullopt, "My.dls"},
        {"name from INAM", CollectionRef("", std::nullopt, "Test collection"), std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SegmentSpec plan = BandSpec(c.bandRef);
        plan.container = {{dls, c.description, c.alias}};
        // A folder that does not exist: only memory can answer.
        ObjectCache cache;
        FolderReferenceResolver resolver("/nonexistent-qorn-folder/piece.sgt", cache);
        const Loaded l = Load(BuildSegment(plan), resolver);
        ASSERT_TRUE(l.ok) << l.error;
        ASSERT_EQ(l.sequence.collections.size(), 1u);
        ASSERT_NE(l.sequence.collections[0], nullptr);
        EXPECT_TRUE(dls::CollectionHasPatch(*l.sequence.collections[0], 0, 0, 1, false));
        ASSERT_EQ(l.sequence.patches.size(), 2u);
        EXPECT_EQ(l.sequence.patches[0].collection, 0);
        EXPECT_EQ(l.sequence.patches[0].program, 1);
        EXPECT_EQ(l.sequence.patches[1].collection, PatchSelect::kNoCollection);
        EXPECT_TRUE(l.sequence.patches[1].drums);
    }
}

// A program number of a collection names its author's own instrument: when
// the collection is missing, that channel stays silent (no program, no note,
// so nothing left sounding) and says so; an entry that names a General MIDI
// instrument falls back to the General MIDI set. Other channels play.
TEST(References, MissingCollectionSilencesItsOwnInstrumentAndGeneralMidiEntriesFallBack) {
    for (const bool generalMidi : {false, true}) {
        SCOPED_TRACE(generalMidi ? "General MIDI entry" : "the collection's own instrument");
        TempFolder folder;
        SegmentSpec plan = BandSpec(CollectionRef("absent.dls", kCollectionGuid));
        if (generalMidi) plan.bands[0].instruments[0].flags |= 0x100;
        plan.notes.push_back({0, 300, 9, 36, 100});
        ObjectCache cache;
        const Loaded l = LoadFile(folder.write("piece.sgt", BuildSegment(plan)), cache);
        ASSERT_TRUE(l.ok) << l.error;
        // Program changes and notes (on and off) on channel 0, notes elsewhere.
        std::size_t patches = 0, messages = 0, others = 0;
        for (const auto& p : l.sequence.patches)
            patches += p.channel == 0 && p.collection == PatchSelect::kNoCollection && p.program == 1;
        for (const auto& e : l.sequence.events)
            ((e.status & 0x0F) == 0 ? messages : others) += (e.status & 0xE0) == 0x80;
        EXPECT_EQ(patches, generalMidi ? 1u : 0u);
        EXPECT_EQ(messages, generalMidi ? 2 * MelodyNotes().size() : 0u);
        EXPECT_EQ(others, 2u) << "the drum plays";
        const std::string said = generalMidi ? "collection 'absent.dls' not found: channel 0 plays General MIDI"
                                             : "collection 'absent.dls' not found: channel 0 is silent";
        EXPECT_EQ(std::count_if(l.warnings.begin(), l.warnings.end(), [&](auto& w) { return w.message == said; }), 1);
    }
}

TEST(References, CollectionInTheFolderIsFoundIgnoringCaseAndCachedForTheNextLoad) {
    TempFolder folder;
    folder.write("Inst.DLS", testdls::BuildDls(testdls::TestCollection()));
    const fs::path seg = folder.write("piece.sgt", BuildSegment(BandSpec(CollectionRef("C:\\Music\\inst.dls"))));
    ObjectCache cache;
    const Loaded first = LoadFile(seg, cache);
    ASSERT_EQ(first.sequence.collections.size(), 1u);
    EXPECT_EQ(first.sequence.patches[0].collection, 0);
    const Loaded second = LoadFile(seg, cache);
    ASSERT_EQ(second.sequence.collections.size(), 1u);
    EXPECT_EQ(second.sequence.collections[0], first.sequence.collections[0]) << "shared through the cache";

    // Another segment (of a folder without it) naming the collection only
    // by GUID finds the one the cache holds; after ClearCache it is gone.
    TempFolder elsewhere;
    const fs::path other = elsewhere.write("other.sgt", BuildSegment(BandSpec(CollectionRef("", kCollectionGuid))));
    EXPECT_EQ(LoadFile(other, cache).sequence.collections.at(0), first.sequence.collections[0]);
    cache.clear();
    EXPECT_TRUE(LoadFile(other, cache).sequence.collections.empty());

    // A disabled cache shares nothing.
    cache.setEnabled(false);
    EXPECT_NE(LoadFile(seg, cache).sequence.collections.at(0), first.sequence.collections[0]);
}

// A collection renamed after the segment named it (as the DirectX 9 SDK's
// Sleep.dls became snore.dls) is found in the folder by the GUID it gives
// itself; a collection of another GUID is not taken for it.
TEST(References, RenamedCollectionIsFoundInTheFolderByItsGuid) {
    TempFolder folder;
    testdls::CollectionSpec stranger = testdls::TestCollection();
    stranger.guid = std::vector<std::uint8_t>(16, 0xEE);
    folder.write("another.dls", testdls::BuildDls(stranger));
    const fs::path seg = folder.write("piece.sgt", BuildSegment(BandSpec(CollectionRef("Sleep.dls", kCollectionGuid))));
    ObjectCache cache;
    EXPECT_TRUE(LoadFile(seg, cache).sequence.collections.empty());
    folder.write("snore.dls", testdls::BuildDls(testdls::TestCollection()));
    const Loaded loaded = LoadFile(seg, cache);
    ASSERT_EQ(loaded.sequence.collections.size(), 1u);
    EXPECT_EQ(loaded.sequence.patches[0].collection, 0);
}

TEST(References, FullPathElsewhereIsFound) {
    TempFolder instruments, pieces;
    const fs::path dls = instruments.write("far.dls", testdls::BuildDls(testdls::TestCollection()));
    Reference ref = CollectionRef(dls.string());
    ref.fullPath = true;
    const fs::path seg = pieces.write("piece.sgt", BuildSegment(BandSpec(ref)));
    ObjectCache cache;
    EXPECT_EQ(LoadFile(seg, cache).sequence.collections.size(), 1u);
}

TEST(References, ChangedFileIsReadAgainDespiteTheCache) {
    TempFolder folder;
    const fs::path dlsPath = folder.write("inst.dls", testdls::BuildDls(testdls::TestCollection()));
    const fs::path seg = folder.write("piece.sgt", BuildSegment(BandSpec(CollectionRef("inst.dls"))));
    ObjectCache cache;
    const auto first = LoadFile(seg, cache).sequence.collections.at(0);
    testdls::CollectionSpec other = testdls::TestCollection();
    other.name = "Changed";
    other.instruments.pop_back();
    folder.write("inst.dls", testdls::BuildDls(other));
    fs::last_write_time(dlsPath, fs::last_write_time(dlsPath) + std::chrono::seconds(5));
    const auto second = LoadFile(seg, cache).sequence.collections.at(0);
    EXPECT_NE(first, second);
    EXPECT_EQ(second->name, "Changed");
}

TEST(References, SegmentNamingItselfDoesNotLoop) {
    TempFolder folder;
    SegmentSpec plan = BandSpec(CollectionRef("SELF.SGT"));
    plan.bands[0].instruments[0].flags |= 0x100; // a General MIDI instrument: it plays without the collection
    plan.bands.push_back({768, {}, Reference{kBandClass, std::nullopt, "", "self.sgt"}});
    const fs::path seg = folder.write("self.sgt", BuildSegment(plan));
    ObjectCache cache;
    const Loaded l = LoadFile(seg, cache);
    ASSERT_TRUE(l.ok) << l.error;
    EXPECT_TRUE(l.sequence.collections.empty());
    EXPECT_EQ(l.sequence.patches.at(0).collection, PatchSelect::kNoCollection);
    EXPECT_EQ(Notes(l.sequence), MelodyNotes());
}

TEST(References, BandFileInTheFolderAndEmbeddedBandBothPlay) {
    TempFolder folder;
    folder.write("Strings.BND", BuildBandFile({0, {{0, 48, 0x1 | 0x40, 64, 77}}}));
    SegmentSpec plan = MelodySpec();
    plan.bands = {{0, {}, Reference{kBandClass, std::nullopt, "", "strings.bnd"}},
                  {1536, {}, Reference{kBandClass, std::nullopt, "Band", ""}}};
    plan.container = {{BuildBandFile({0, {{0, 11, 0x1}}}), std::nullopt, ""}};
    const fs::path seg = folder.write("piece.sgt", BuildSegment(plan));
    ObjectCache cache;
    const Loaded l = LoadFile(seg, cache);
    ASSERT_TRUE(l.ok) << l.error;
    ASSERT_EQ(l.sequence.patches.size(), 2u);
    EXPECT_EQ(l.sequence.patches[0].program, 48);
    EXPECT_EQ(l.sequence.patches[0].tick, 0u);
    EXPECT_EQ(l.sequence.patches[1].program, 11);
    EXPECT_EQ(l.sequence.patches[1].tick, 1536u);
    ASSERT_EQ(Controllers(l.sequence, 7).size(), 1u);
    EXPECT_EQ(Controllers(l.sequence, 7)[0].data2, 77);
}

TEST(References, CollectionsAreSharedBetweenPartsNamingTheSameOne) {
    SegmentSpec plan = MelodySpec();
    const Reference ref = CollectionRef("my.dls", kCollectionGuid);
    plan.bands = {{0, {{0, 0, 0x1, 64, 100, 0, 2, ref}, {1, 1, 0x1, 64, 100, 0, 2, ref}}},
                  {768, {{2, 0x80000000u, 0x1, 64, 100, 0, 2, ref}}}};
    plan.container = {{testdls::BuildDls(testdls::TestCollection()), std::nullopt, ""}};
    const Loaded l = Load(BuildSegment(plan));
    ASSERT_EQ(l.sequence.collections.size(), 1u);
    for (const auto& p : l.sequence.patches)
        EXPECT_EQ(p.collection, 0);
    EXPECT_TRUE(l.sequence.patches.at(2).drums);
}

} // namespace
} // namespace qorn::testseg
