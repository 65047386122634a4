#include "frame/collection.h"

#include <gtest/gtest.h>

#include <vector>

#include "frame/automation_error.h"
#include "frame/late_binding.h"
#include "tests/support/automation_errors.h"

namespace varne {
namespace {

using testing::raised;

// A collection of texts that its holder may change while a walk is under way.
class TextCollection final : public Dispatch, public Collection {
public:
    explicit TextCollection(std::vector<BStr> texts) : texts(std::move(texts)) {}

    int32_t item_count() override { return static_cast<int32_t>(texts.size()); }
    Variant item_at(int32_t index) override
    {
        if (index < 0 || static_cast<size_t>(index) >= texts.size())
            throw AutomationError::subscript_out_of_range();
        return texts[static_cast<size_t>(index)];
    }

    std::vector<BStr> texts;
};

// An object that only answers `length` and its default member, as a page's own list does.
class PageList final : public Dispatch {
public:
    Variant get_property(std::u16string_view name) override
    {
        if (name == u"length")
            return int32_t(2);
        return Dispatch::get_property(name);
    }
    Variant call_default(std::span<const Variant> args) override { return to_i4(args[0]) * 10; }
};

std::vector<Variant> walk(Enumeration& enumeration)
{
    std::vector<Variant> items;
    while (auto item = enumeration.next())
        items.push_back(*item);
    return items;
}

TEST(Collection, CountsAndItemsComeFromTheCollectionOrFromLengthAndTheDefaultMember)
{
    auto texts = make_object<TextCollection>(std::vector<BStr>{u"a", u"b"});
    EXPECT_EQ(collection_count(*texts), 2);
    EXPECT_EQ(collection_item(*texts, 1), Variant(BStr(u"b")));
    EXPECT_EQ(raised([&] { collection_item(*texts, 2); }).number(), error_number::kSubscriptOutOfRange);

    auto list = make_object<PageList>();
    EXPECT_EQ(collection_count(*list), 2);
    EXPECT_EQ(collection_item(*list, 1), Variant(int32_t(10)));
}

TEST(Collection, WhatIsNoCollectionFailsAsSuch)
{
    struct Plain final : Dispatch {};
    auto error = raised([] { collection_count(*make_object<Plain>()); });
    EXPECT_EQ(error.number(), error_number::kNotCollection);
    EXPECT_EQ(error.description(), "Object not a collection: it has no length");

    auto timing = create_object(u"Varne.Timing");
    error = raised([&] { Enumeration walk(*timing); });
    EXPECT_EQ(error.number(), error_number::kNotCollection);
    EXPECT_EQ(error.description(), "Object not a collection: a Varne.Timing object");
}

TEST(Enumeration, WalksTheItemsAsTheyWereWhenItBegan)
{
    auto texts = make_object<TextCollection>(std::vector<BStr>{u"a", u"b", u"c"});
    Enumeration enumeration(*texts);
    EXPECT_EQ(enumeration.next(), Variant(BStr(u"a")));
    texts->texts.erase(texts->texts.begin());  // the loop removes what it walks
    texts->texts.push_back(u"d");
    EXPECT_EQ(walk(enumeration), (std::vector<Variant>{BStr(u"b"), BStr(u"c")}));
    EXPECT_EQ(enumeration.next(), std::nullopt);
    enumeration.reset();
    EXPECT_EQ(walk(enumeration).size(), 3u);  // the same items again, not the collection's new ones
}

TEST(Enumeration, SkipsAndCopiesGoOnFromWhereTheWalkStands)
{
    auto texts = make_object<TextCollection>(std::vector<BStr>{u"a", u"b", u"c"});
    Enumeration enumeration(*texts);
    EXPECT_EQ(enumeration.skip(1), 1u);
    Enumeration copy = enumeration;
    EXPECT_EQ(enumeration.skip(5), 2u);
    EXPECT_EQ(enumeration.next(), std::nullopt);
    EXPECT_EQ(walk(copy), (std::vector<Variant>{BStr(u"b"), BStr(u"c")}));
}

TEST(Enumeration, OfAnEmptyCollectionGivesNothing)
{
    auto texts = make_object<TextCollection>(std::vector<BStr>{});
    Enumeration enumeration(*texts);
    EXPECT_EQ(enumeration.next(), std::nullopt);
    EXPECT_EQ(enumeration.skip(1), 0u);
}

}  // namespace
}  // namespace varne
