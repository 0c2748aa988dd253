#include "zip/ZAPipes.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "zip/ZAXcpt.h"

namespace {

// A memory stream that tells when it is destroyed.
class TrackedStream : public TZAMemoryStream {
public:
    TrackedStream(std::size_t size, bool* destroyed)
        : TZAMemoryStream(std::vector<std::uint8_t>(size, 0x5A)), destroyed_(destroyed) {}
    ~TrackedStream() override { *destroyed_ = true; }

private:
    bool* destroyed_;
};

TEST(ZAPipesTest, IndexesOutsideZeroToNineRaise199) {
    TZAPipeListImp list;
    for (int bad : {10, -1, 11}) {
        try {
            list.Pipe(bad);
            FAIL() << bad;
        } catch (const EZipArchiver& e) {
            EXPECT_EQ(e.MessageId, 199);
            EXPECT_EQ(e.Message, "Index (" + std::to_string(bad) + ") outside range 0..9");
        }
    }
    EXPECT_THROW(list.Grow(11), EZipArchiver);
    EXPECT_THROW(list.Put(10, std::make_unique<TZAPipeImp>()), EZipArchiver);
    EXPECT_EQ(list.Count(), 0);
}

TEST(ZAPipesTest, PipesAreCreatedOnDemandAndGrowNeverShrinks) {
    TZAPipeListImp list;
    TZAPipe& p3 = list.Pipe(3);
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(&list.Pipe(3), &p3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(list.Find(i), nullptr);
    list.Pipe(9);
    EXPECT_EQ(list.Count(), 10);
    TZAPipeListImp other;
    other.Grow(5);
    EXPECT_EQ(other.Count(), 5);
    other.Grow(2);
    EXPECT_EQ(other.Count(), 5);
}

TEST(ZAPipesTest, PutAddClearAndMoveTo) {
    bool firstGone = false;
    TZAPipeListImp list;
    EXPECT_EQ(list.Add(std::make_unique<TrackedStream>(8, &firstGone), "a"), 0);
    auto replacement = std::make_unique<TZAPipeImp>();
    TZAPipe* raw = replacement.get();
    list.Put(0, std::move(replacement));
    EXPECT_TRUE(firstGone);  // the owned stream went with the replaced pipe
    EXPECT_EQ(&list.Pipe(0), raw);

    TZAMemoryStream borrowed(std::vector<std::uint8_t>(3));
    EXPECT_EQ(list.Add(&borrowed, "b", false), 1);
    TZAPipeListImp target;
    target.Pipe(7);
    list.MoveTo(target);
    EXPECT_EQ(list.Count(), 0);
    ASSERT_EQ(target.Count(), 2);
    EXPECT_EQ(target.Pipe(1).Name(), "b");
    EXPECT_EQ(target.Pipe(1).Stream(), &borrowed);
    target.Clear();
    EXPECT_EQ(target.Count(), 0);
    EXPECT_EQ(borrowed.Size(), 3);  // a borrowed stream survives its pipe

    TZAPipeListImp full;
    for (int i = 0; i < 10; ++i)
        full.Add(nullptr, "p", false);
    EXPECT_THROW(full.Add(nullptr, "p", false), EZipArchiver);
}

TEST(ZAPipesTest, SizeIsClampedToTheStream) {
    TZAPipeImp pipe;
    EXPECT_NE(pipe.DOSDate(), 0u);
    pipe.SetSize(50);
    EXPECT_EQ(pipe.Size(), 0);  // no stream

    TZAMemoryStream stream(std::vector<std::uint8_t>(100));
    stream.Seek(40, soBeginning);
    pipe.SetStream(&stream);
    EXPECT_EQ(pipe.Size(), 100);
    EXPECT_EQ(stream.Position(), 0);  // rewound
    const std::pair<int, int> cases[] = {{50, 50}, {100, 100}, {500, 100}, {0, 0}};
    for (const auto& [set, expected] : cases) {
        pipe.SetSize(set);
        EXPECT_EQ(pipe.Size(), expected) << set;
    }
    pipe.SetStream(nullptr);
    EXPECT_EQ(pipe.Stream(), nullptr);
}

TEST(ZAPipesTest, OwnedStreamsAreFreedWithThePipeOrOnReplacement) {
    bool a = false, b = false;
    {
        TZAPipeImp pipe;
        pipe.SetStream(std::make_unique<TrackedStream>(4, &a));
        EXPECT_TRUE(pipe.OwnsStream());
        pipe.SetStream(std::make_unique<TrackedStream>(4, &b));
        EXPECT_TRUE(a);
        EXPECT_FALSE(b);
    }
    EXPECT_TRUE(b);

    bool c = false;
    TrackedStream kept(4, &c);
    {
        TZAPipeImp pipe;
        pipe.SetStream(&kept);
    }
    EXPECT_FALSE(c);
}

TEST(ZAPipesTest, MemoryStreamReadWriteSeek) {
    TZAMemoryStream s;
    const std::uint8_t data[] = {1, 2, 3, 4, 5};
    EXPECT_EQ(s.Write(data, 5), 5);
    EXPECT_EQ(s.Seek(2, soBeginning), 2);
    std::uint8_t buf[8] = {};
    EXPECT_EQ(s.Read(buf, 8), 3);
    EXPECT_EQ(buf[0], 3);
    EXPECT_EQ(s.Seek(-1, soEnd), 4);
    EXPECT_EQ(s.Seek(-10, soCurrent), -1);
    EXPECT_EQ(s.Seek(7, soBeginning), 7);  // past the end: a write fills the gap
    EXPECT_EQ(s.Write(data, 1), 1);
    EXPECT_EQ(s.Size(), 8);
    EXPECT_EQ(s.Data()[5], 0);
    EXPECT_TRUE(s.SetSize(2));
    EXPECT_EQ(s.Position(), 2);
    EXPECT_FALSE(s.SetSize(-1));
    s.Rewind();
    std::uint8_t two[2];
    EXPECT_TRUE(s.ReadExact(two));
    EXPECT_FALSE(s.ReadExact(two));
}

}  // namespace
