// The string map: ordinal key order, missing keys, replacing inserts, views
// and iterators that share the contents and go stale at a change, Split,
// change events, identity, and the module's live-object count.
#include <utility>

#include "collection_test_support.h"
#include "platform/object.h"

using namespace collections_test;
using platform::ComPtr;

namespace {

using Pairs = std::vector<std::pair<std::u16string, std::u16string>>;

class MapTest : public ::testing::Test {
protected:
    void SetUp() override { map = platform::MakeStringMap(module); }
    // Every object the map handed out (views, iterators, pairs, change
    // arguments) is gone once the test's references are.
    void TearDown() override {
        map.reset();
        EXPECT_EQ(module.Count(), 0u);
    }

    boolean Insert(std::u16string_view key, std::u16string_view value) {
        boolean replaced = 2;
        EXPECT_EQ(map->Insert(Make(key).get(), Make(value).get(), &replaced), S_OK);
        return replaced;
    }

    HRESULT Lookup(std::u16string_view key, std::u16string* value) {
        HSTRING found = reinterpret_cast<HSTRING>(1);
        HRESULT hr = map->Lookup(Make(key).get(), &found);
        if (FAILED(hr)) {
            EXPECT_EQ(found, nullptr);
        }
        *value = Take(found);
        return hr;
    }

    ComPtr<IMapView_String_String> View() {
        ComPtr<IMapView_String_String> view;
        EXPECT_EQ(map->GetView(view.put()), S_OK);
        return view;
    }

    platform::ModuleCounter module;
    ComPtr<IMap_String_String> map;
};

// Walks an iterator to its end with MoveNext, reading each pair.
Pairs Drain(IIterator_KeyValuePair_String_String* iterator) {
    Pairs pairs;
    boolean has = 0;
    EXPECT_EQ(iterator->get_HasCurrent(&has), S_OK);
    while (has) {
        ComPtr<IKeyValuePair_String_String> pair;
        EXPECT_EQ(iterator->get_Current(pair.put()), S_OK);
        HSTRING key = nullptr;
        HSTRING value = nullptr;
        EXPECT_EQ(pair->get_Key(&key), S_OK);
        EXPECT_EQ(pair->get_Value(&value), S_OK);
        pairs.emplace_back(Take(key), Take(value));
        EXPECT_EQ(iterator->MoveNext(&has), S_OK);
    }
    return pairs;
}

template <typename Iterable>
Pairs Contents(Iterable* iterable) {
    ComPtr<IIterable_KeyValuePair_String_String> pairs;
    EXPECT_EQ(iterable->QueryInterface(IIterable_KeyValuePair_String_String::IID_, pairs.put_void()), S_OK);
    ComPtr<IIterator_KeyValuePair_String_String> iterator;
    EXPECT_EQ(pairs->First(iterator.put()), S_OK);
    return Drain(iterator.get());
}

TEST_F(MapTest, KeysComeOutInOrdinalOrderOfTheirUnits) {
    // Upper case before lower case, a prefix before its extensions, embedded
    // NUL units compared like any other, and code-unit (not code-point)
    // order: a lead surrogate sorts before U+E000.
    const std::u16string keys[] = {u"b", u"\xE000", u"ab", std::u16string(u"a\0b", 3), u"B",
                                   u"\xD83D\xDE00", u"a", std::u16string(u"a\0", 2), u"A", u""};
    for (const auto& key : keys) Insert(key, u"v:" + key);
    const std::u16string expected[] = {u"", u"A", u"B", u"a", std::u16string(u"a\0", 2),
                                       std::u16string(u"a\0b", 3), u"ab", u"b", u"\xD83D\xDE00", u"\xE000"};
    Pairs contents = Contents(map.get());
    ASSERT_EQ(contents.size(), std::size(expected));
    for (size_t i = 0; i < contents.size(); ++i) {
        EXPECT_EQ(contents[i].first, expected[i]) << i;
        EXPECT_EQ(contents[i].second, u"v:" + expected[i]) << i;
    }
    // Keys differing only after an embedded NUL are different keys.
    std::u16string value;
    EXPECT_EQ(Lookup(std::u16string(u"a\0b", 3), &value), S_OK);
    EXPECT_EQ(value, u"v:" + std::u16string(u"a\0b", 3));
}

TEST_F(MapTest, MissingKeysFailWithBoundsAndInsertReplaces) {
    std::u16string value;
    EXPECT_EQ(Lookup(u"k", &value), E_BOUNDS);
    EXPECT_EQ(map->Remove(Make(u"k").get()), E_BOUNDS);

    EXPECT_EQ(Insert(u"k", u"one"), 0);
    EXPECT_EQ(Insert(u"K", u"other"), 0);  // case matters
    EXPECT_EQ(Insert(u"k", u"two"), 1);
    UINT32 size = 0;
    EXPECT_EQ(map->get_Size(&size), S_OK);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(Lookup(u"k", &value), S_OK);
    EXPECT_EQ(value, u"two");

    EXPECT_EQ(map->Remove(Make(u"k").get()), S_OK);
    EXPECT_EQ(map->Remove(Make(u"k").get()), E_BOUNDS);
    boolean has = 1;
    EXPECT_EQ(map->HasKey(Make(u"k").get(), &has), S_OK);
    EXPECT_EQ(has, 0);
    EXPECT_EQ(map->HasKey(Make(u"K").get(), &has), S_OK);
    EXPECT_EQ(has, 1);

    // The null handle is the empty key.
    EXPECT_EQ(Insert(u"", u"empty"), 0);
    HSTRING found = nullptr;
    EXPECT_EQ(map->Lookup(nullptr, &found), S_OK);
    EXPECT_EQ(Take(found), u"empty");
}

TEST_F(MapTest, KeepsItsOwnCopyOfReferenceStrings) {
    char16_t key[] = u"key";
    char16_t value[] = u"val";
    HSTRING_HEADER keyHeader;
    HSTRING_HEADER valueHeader;
    HSTRING keyRef = nullptr;
    HSTRING valueRef = nullptr;
    ASSERT_EQ(WindowsCreateStringReference(key, 3, &keyHeader, &keyRef), S_OK);
    ASSERT_EQ(WindowsCreateStringReference(value, 3, &valueHeader, &valueRef), S_OK);
    boolean replaced = 0;
    ASSERT_EQ(map->Insert(keyRef, valueRef, &replaced), S_OK);
    key[0] = u'X';
    value[0] = u'X';
    EXPECT_EQ(Contents(map.get()), (Pairs{{u"key", u"val"}}));
}

TEST_F(MapTest, ViewsShareTheContentsAndOutliveTheMap) {
    Insert(u"a", u"1");
    Insert(u"b", u"2");
    auto view = View();
    UINT32 size = 0;
    EXPECT_EQ(view->get_Size(&size), S_OK);
    EXPECT_EQ(size, 2u);
    HSTRING value = nullptr;
    EXPECT_EQ(view->Lookup(Make(u"b").get(), &value), S_OK);
    EXPECT_EQ(Take(value), u"2");
    EXPECT_EQ(view->Lookup(Make(u"c").get(), &value), E_BOUNDS);
    boolean has = 0;
    EXPECT_EQ(view->HasKey(Make(u"a").get(), &has), S_OK);
    EXPECT_EQ(has, 1);

    map.reset();  // the view keeps the contents alive
    EXPECT_EQ(Contents(view.get()), (Pairs{{u"a", u"1"}, {u"b", u"2"}}));
}

// Every kind of change makes views and iterators taken before it stale,
// whatever method is called next; pairs already handed out keep their copies.
TEST_F(MapTest, ViewsAndIteratorsTakenBeforeAChangeFailWithChangedState) {
    using Change = void (*)(IMap_String_String*);
    const std::pair<const char*, Change> changes[] = {
        {"insert", [](IMap_String_String* m) { boolean r; m->Insert(Make(u"new").get(), nullptr, &r); }},
        {"replace", [](IMap_String_String* m) { boolean r; m->Insert(Make(u"a").get(), nullptr, &r); }},
        {"remove", [](IMap_String_String* m) { m->Remove(Make(u"a").get()); }},
        {"clear", [](IMap_String_String* m) { m->Clear(); }},
    };
    for (const auto& [name, change] : changes) {
        SCOPED_TRACE(name);
        map->Clear();
        Insert(u"a", u"1");
        Insert(u"b", u"2");
        auto view = View();
        ComPtr<IIterator_KeyValuePair_String_String> iterator;
        ASSERT_EQ(Contents(view.get()).size(), 2u);
        ComPtr<IIterable_KeyValuePair_String_String> iterable;
        ASSERT_EQ(map->QueryInterface(IIterable_KeyValuePair_String_String::IID_, iterable.put_void()), S_OK);
        ASSERT_EQ(iterable->First(iterator.put()), S_OK);
        ComPtr<IKeyValuePair_String_String> pair;
        ASSERT_EQ(iterator->get_Current(pair.put()), S_OK);

        change(map.get());

        UINT32 size = 0;
        HSTRING value = nullptr;
        boolean flag = 0;
        ComPtr<IMapView_String_String> lower, upper;
        ComPtr<IIterator_KeyValuePair_String_String> fresh;
        ComPtr<IKeyValuePair_String_String> current;
        EXPECT_EQ(view->get_Size(&size), E_CHANGED_STATE);
        EXPECT_EQ(view->Lookup(Make(u"b").get(), &value), E_CHANGED_STATE);
        EXPECT_EQ(view->HasKey(Make(u"b").get(), &flag), E_CHANGED_STATE);
        EXPECT_EQ(view->Split(lower.put(), upper.put()), E_CHANGED_STATE);
        ComPtr<IIterable_KeyValuePair_String_String> viewIterable;
        ASSERT_EQ(view.As(viewIterable), S_OK);
        EXPECT_EQ(viewIterable->First(fresh.put()), E_CHANGED_STATE);
        EXPECT_EQ(iterator->get_Current(current.put()), E_CHANGED_STATE);
        EXPECT_EQ(iterator->get_HasCurrent(&flag), E_CHANGED_STATE);
        EXPECT_EQ(iterator->MoveNext(&flag), E_CHANGED_STATE);
        UINT32 actual = 0;
        IKeyValuePair_String_String* items[2] = {};
        EXPECT_EQ(iterator->GetMany(2, items, &actual), E_CHANGED_STATE);
        EXPECT_EQ(actual, 0u);

        EXPECT_EQ(pair->get_Key(&value), S_OK);
        EXPECT_EQ(Take(value), u"a");
    }
}

TEST_F(MapTest, SplitHalvesAViewAndGivesNothingBelowTwoEntries) {
    const std::u16string keys[] = {u"a", u"b", u"c", u"d", u"e"};
    for (size_t count = 0; count <= std::size(keys); ++count) {
        SCOPED_TRACE(count);
        map->Clear();
        for (size_t i = 0; i < count; ++i) Insert(keys[i], keys[i]);
        ComPtr<IMapView_String_String> lower, upper;
        ASSERT_EQ(View()->Split(lower.put(), upper.put()), S_OK);
        if (count < 2) {
            EXPECT_FALSE(lower);
            EXPECT_FALSE(upper);
            continue;
        }
        Pairs low = Contents(lower.get());
        Pairs high = Contents(upper.get());
        EXPECT_EQ(low.size(), count / 2);
        EXPECT_EQ(high.size(), count - count / 2);
        low.insert(low.end(), high.begin(), high.end());
        EXPECT_EQ(low, Contents(map.get()));
        // A half knows only its own keys.
        HSTRING value = nullptr;
        EXPECT_EQ(lower->Lookup(Make(high.back().first).get(), &value), E_BOUNDS);
        EXPECT_EQ(upper->Lookup(Make(u"a").get(), &value), E_BOUNDS);
        EXPECT_EQ(upper->Lookup(Make(high.back().first).get(), &value), S_OK);
        Take(value);
    }
}

TEST_F(MapTest, IteratorStopsAtTheEndAndGetManyMovesOn) {
    for (auto key : {u"a", u"b", u"c", u"d", u"e"}) Insert(key, key);
    ComPtr<IIterator_KeyValuePair_String_String> iterator;
    ComPtr<IIterable_KeyValuePair_String_String> iterable;
    ASSERT_EQ(map.As(iterable), S_OK);
    ASSERT_EQ(iterable->First(iterator.put()), S_OK);

    std::vector<UINT32> chunks;
    std::u16string keys;
    for (;;) {
        IKeyValuePair_String_String* items[2] = {};
        UINT32 actual = 99;
        ASSERT_EQ(iterator->GetMany(2, items, &actual), S_OK);
        chunks.push_back(actual);
        for (UINT32 i = 0; i < actual; ++i) {
            auto pair = ComPtr<IKeyValuePair_String_String>::Attach(items[i]);
            HSTRING key = nullptr;
            ASSERT_EQ(pair->get_Key(&key), S_OK);
            keys += Take(key);
        }
        if (actual == 0) break;
    }
    EXPECT_EQ(chunks, (std::vector<UINT32>{2, 2, 1, 0}));
    EXPECT_EQ(keys, u"abcde");

    boolean has = 1;
    EXPECT_EQ(iterator->get_HasCurrent(&has), S_OK);
    EXPECT_EQ(has, 0);
    EXPECT_EQ(iterator->MoveNext(&has), S_OK);
    EXPECT_EQ(has, 0);
    ComPtr<IKeyValuePair_String_String> pair;
    EXPECT_EQ(iterator->get_Current(pair.put()), E_BOUNDS);
    EXPECT_FALSE(pair);

    // An empty map's iterator starts at the end.
    map->Clear();
    ASSERT_EQ(iterable->First(iterator.put()), S_OK);
    EXPECT_EQ(iterator->get_HasCurrent(&has), S_OK);
    EXPECT_EQ(has, 0);
}

TEST_F(MapTest, ChangeEventsReportKindAndKeyUntilRemoved) {
    auto recorder = ComPtr<MapRecorder>::Attach(new MapRecorder);
    ComPtr<IObservableMap_String_String> observable;
    ASSERT_EQ(map.As(observable), S_OK);
    EventRegistrationToken token{};
    ASSERT_EQ(observable->add_MapChanged(recorder.get(), &token), S_OK);
    EXPECT_NE(token.value, 0);

    Insert(u"k", u"1");
    Insert(u"k", u"2");
    ASSERT_EQ(map->Remove(Make(u"k").get()), S_OK);
    ASSERT_EQ(map->Remove(Make(u"k").get()), E_BOUNDS);  // no change, no event
    ASSERT_EQ(map->Clear(), S_OK);
    EXPECT_EQ(recorder->changes, (std::vector<MapChange>{
                                     {ItemInserted, u"k"}, {ItemChanged, u"k"}, {ItemRemoved, u"k"}, {Reset, u""}}));
    for (auto* sender : recorder->senders) EXPECT_EQ(sender, observable.get());

    ASSERT_EQ(observable->remove_MapChanged(token), S_OK);
    ASSERT_EQ(observable->remove_MapChanged(token), S_OK);  // unknown token: nothing
    Insert(u"x", u"1");
    EXPECT_EQ(recorder->changes.size(), 4u);

    EventRegistrationToken none{7};
    EXPECT_EQ(observable->add_MapChanged(nullptr, &none), E_INVALIDARG);
    EXPECT_EQ(none.value, 0);
}

TEST_F(MapTest, AFailingHandlerIsReportedAfterTheChangeIsMade) {
    auto failing = ComPtr<MapRecorder>::Attach(new MapRecorder);
    auto later = ComPtr<MapRecorder>::Attach(new MapRecorder);
    failing->result = E_FAIL;
    ComPtr<IObservableMap_String_String> observable;
    ASSERT_EQ(map.As(observable), S_OK);
    EventRegistrationToken first{}, second{};
    ASSERT_EQ(observable->add_MapChanged(failing.get(), &first), S_OK);
    ASSERT_EQ(observable->add_MapChanged(later.get(), &second), S_OK);
    EXPECT_NE(first.value, second.value);

    boolean replaced = 0;
    EXPECT_EQ(map->Insert(Make(u"k").get(), Make(u"v").get(), &replaced), E_FAIL);
    std::u16string value;
    EXPECT_EQ(Lookup(u"k", &value), S_OK);
    EXPECT_EQ(value, u"v");
    EXPECT_TRUE(later->changes.empty());
}

TEST_F(MapTest, AnswersItsInterfacesAndClassName) {
    ULONG count = 0;
    IID* iids = nullptr;
    ASSERT_EQ(map->GetIids(&count, &iids), S_OK);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(iids[0], IMap_String_String::IID_);
    EXPECT_EQ(iids[1], IIterable_KeyValuePair_String_String::IID_);
    EXPECT_EQ(iids[2], IObservableMap_String_String::IID_);
    CoTaskMemFree(iids);
    for (const IID& iid : {IAgileObject::IID_, IMarshal::IID_, IInspectable::IID_}) {
        ComPtr<IUnknown> other;
        EXPECT_EQ(map->QueryInterface(iid, other.put_void()), S_OK);
    }
    ComPtr<IUnknown> none;
    EXPECT_EQ(map->QueryInterface(IMapView_String_String::IID_, none.put_void()), E_NOINTERFACE);
    HSTRING name = nullptr;
    ASSERT_EQ(map->GetRuntimeClassName(&name), S_OK);
    EXPECT_EQ(Take(name), u"Windows.Foundation.Collections.IMap`2<String, String>");
}

TEST_F(MapTest, HandedOutObjectsCountAsLiveObjectsOfTheModule) {
    Insert(u"a", u"1");
    auto recorder = ComPtr<MapRecorder>::Attach(new MapRecorder);
    ComPtr<IObservableMap_String_String> observable;
    ASSERT_EQ(map.As(observable), S_OK);
    EventRegistrationToken token{};
    ASSERT_EQ(observable->add_MapChanged(recorder.get(), &token), S_OK);
    uint32_t alone = module.Count();
    EXPECT_GT(alone, 0u);
    {
        auto view = View();
        ComPtr<IIterator_KeyValuePair_String_String> iterator;
        ComPtr<IIterable_KeyValuePair_String_String> iterable;
        ASSERT_EQ(view.As(iterable), S_OK);
        ASSERT_EQ(iterable->First(iterator.put()), S_OK);
        ComPtr<IKeyValuePair_String_String> pair;
        ASSERT_EQ(iterator->get_Current(pair.put()), S_OK);
        EXPECT_GT(module.Count(), alone);
    }
    Insert(u"b", u"2");  // makes and drops change arguments
    EXPECT_EQ(module.Count(), alone);
    // TearDown checks that releasing the map brings the count to 0.
}

}  // namespace
