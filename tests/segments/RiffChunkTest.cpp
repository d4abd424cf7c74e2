// The RIFF walker: padding, cut chunks, nesting limits and array records.
#include "platform/formats/riff/RiffChunk.h"
#include "platform/formats/riff/RiffArray.h"
#include "platform/formats/riff/RiffValues.h"
#include "tests/support/DlsWriter.h"

#include <gtest/gtest.h>

namespace qorn::formats::riff {
namespace {

using testdls::Append;
using testdls::Bytes;
using testdls::Chunk;
using testdls::List;

std::vector<std::string> Ids(const Bytes& bytes) {
    ChunkReader r{ByteReader(bytes)};
    std::vector<std::string> ids;
    riff::Chunk c;
    while (r.next(c))
        ids.push_back(FourCCText(c.id) + (c.isList() ? ":" + FourCCText(c.type) : ""));
    return ids;
}

TEST(RiffChunk, OddSizesArePaddedAndListsCarryTheirType) {
    Bytes b = Chunk("abcd", Bytes{1, 2, 3});
    Append(b, List("wxyz", Chunk("in  ", Bytes{1})));
    Append(b, Chunk("last", Bytes{}));
    EXPECT_EQ(Ids(b), (std::vector<std::string>{"abcd", "LIST:wxyz", "last"}));
}

TEST(RiffChunk, ChunkClaimingTooMuchIsCutAndMarked) {
    Bytes b = Chunk("abcd", Bytes(10, 1));
    b[4] = 200; // size 200, only 10 there
    ChunkReader r{ByteReader(b)};
    riff::Chunk c;
    ASSERT_TRUE(r.next(c));
    EXPECT_TRUE(c.truncated);
    EXPECT_EQ(c.body.size(), 10u);
    EXPECT_FALSE(r.next(c));
}

TEST(RiffChunk, NestingBeyondTheLimitIsReportedWithChunkAndOffset) {
    Bytes b = Chunk("leaf", Bytes{1});
    for (int i = 0; i < kMaxDepth + 2; ++i)
        b = List("nest", b);
    ChunkReader r{ByteReader(b)};
    riff::Chunk c;
    int depth = 0;
    while (r.next(c) && c.isList()) {
        r = ChunkReader::childrenOf(c);
        ++depth;
    }
    EXPECT_EQ(depth, kMaxDepth + 1);
    EXPECT_NE(r.error().find("'LIST nest'"), std::string::npos) << r.error();
    EXPECT_NE(r.error().find("offset"), std::string::npos);
}

TEST(RiffArray, StepsByTheStoredItemSize) {
    struct Case {
        std::uint32_t itemSize, minSize;
        std::size_t bytes;
        bool ok;
        std::size_t count;
    };
    const Case cases[] = {
        {8, 8, 24, true, 3}, {12, 8, 24, true, 2}, {4, 8, 24, false, 0}, {0, 0, 24, false, 0}, {8, 8, 27, true, 3},
    };
    for (const auto& c : cases) {
        Bytes body;
        testdls::PutU32(body, c.itemSize);
        for (std::size_t i = 0; i < c.bytes; ++i)
            body.push_back(static_cast<std::uint8_t>(i));
        const Bytes file = Chunk("arry", body);
        ChunkReader r{ByteReader(file)};
        riff::Chunk chunk;
        ASSERT_TRUE(r.next(chunk));
        ArrayChunk a;
        std::string error;
        EXPECT_EQ(a.open(chunk, c.minSize, &error), c.ok);
        EXPECT_EQ(a.count(), c.count);
        if (c.ok && c.count > 1) {
            std::uint8_t first = 0;
            ByteReader item = a.item(1);
            item.readU8(first);
            EXPECT_EQ(first, c.itemSize);
            EXPECT_EQ(item.size(), c.itemSize);
        }
        if (!c.ok) {
            EXPECT_NE(error.find("arry"), std::string::npos);
        }
    }
}

TEST(RiffValues, Utf16TextStopsAtTheTerminatorAndConverts) {
    Bytes b;
    for (std::uint16_t u : {0x0041u, 0x00E9u, 0x3042u, 0xD83Du, 0xDE00u, 0xD800u, 0x0042u, 0u, 0x0043u})
        testdls::PutU16(b, u);
    EXPECT_EQ(ReadUtf16Text(ByteReader(b)), "A\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80\xEF\xBF\xBD"
                                            "B");
}

} // namespace
} // namespace qorn::formats::riff
