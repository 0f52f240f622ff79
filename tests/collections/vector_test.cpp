// The string vector: the editing members checked against a plain model,
// index bounds, IndexOf, GetMany and ReplaceAll, views and iterators that go
// stale at a change, change events with their index, and the live-object
// count.
#include <functional>

#include "collection_test_support.h"
#include "platform/object.h"

using namespace collections_test;
using platform::ComPtr;

namespace {

using Items = std::vector<std::u16string>;

class VectorTest : public ::testing::Test {
protected:
    void SetUp() override { vector = platform::MakeStringVector(module); }
    void TearDown() override {
        vector.reset();
        EXPECT_EQ(module.Count(), 0u);
    }

    void Fill(const Items& items) {
        ASSERT_EQ(vector->Clear(), S_OK);
        for (const auto& item : items) ASSERT_EQ(vector->Append(Make(item).get()), S_OK);
    }

    Items Contents() {
        UINT32 size = 0;
        EXPECT_EQ(vector->get_Size(&size), S_OK);
        Items items;
        for (UINT32 i = 0; i < size; ++i) {
            HSTRING item = nullptr;
            EXPECT_EQ(vector->GetAt(i, &item), S_OK);
            items.push_back(Take(item));
        }
        return items;
    }

    platform::ModuleCounter module;
    ComPtr<IVector_String> vector;
};

Items Drain(IIterator_String* iterator) {
    Items items;
    boolean has = 0;
    EXPECT_EQ(iterator->get_HasCurrent(&has), S_OK);
    while (has) {
        HSTRING item = nullptr;
        EXPECT_EQ(iterator->get_Current(&item), S_OK);
        items.push_back(Take(item));
        EXPECT_EQ(iterator->MoveNext(&has), S_OK);
    }
    return items;
}

// Each editing member on {a, b, c}: its status, the contents after it, and
// the event it raises (none when it fails).
TEST_F(VectorTest, EditingMembersKeepOrderCheckBoundsAndReportTheirChange) {
    struct Case {
        const char* name;
        std::function<HRESULT(IVector_String*)> call;
        HRESULT status;
        Items after;
        std::vector<VectorChange> events;
    };
    auto item = [](std::u16string_view text) { return Make(text); };
    const Case cases[] = {
        {"append", [&](IVector_String* v) { return v->Append(item(u"d").get()); }, S_OK, {u"a", u"b", u"c", u"d"},
         {{ItemInserted, 3}}},
        {"insert at 0", [&](IVector_String* v) { return v->InsertAt(0, item(u"d").get()); }, S_OK,
         {u"d", u"a", u"b", u"c"}, {{ItemInserted, 0}}},
        {"insert at size", [&](IVector_String* v) { return v->InsertAt(3, item(u"d").get()); }, S_OK,
         {u"a", u"b", u"c", u"d"}, {{ItemInserted, 3}}},
        {"insert past size", [&](IVector_String* v) { return v->InsertAt(4, item(u"d").get()); }, E_BOUNDS,
         {u"a", u"b", u"c"}, {}},
        {"set at 1", [&](IVector_String* v) { return v->SetAt(1, item(u"d").get()); }, S_OK, {u"a", u"d", u"c"},
         {{ItemChanged, 1}}},
        {"set at size", [&](IVector_String* v) { return v->SetAt(3, item(u"d").get()); }, E_BOUNDS,
         {u"a", u"b", u"c"}, {}},
        {"remove at 1", [](IVector_String* v) { return v->RemoveAt(1); }, S_OK, {u"a", u"c"}, {{ItemRemoved, 1}}},
        {"remove at size", [](IVector_String* v) { return v->RemoveAt(3); }, E_BOUNDS, {u"a", u"b", u"c"}, {}},
        {"remove at end", [](IVector_String* v) { return v->RemoveAtEnd(); }, S_OK, {u"a", u"b"}, {{ItemRemoved, 2}}},
        {"clear", [](IVector_String* v) { return v->Clear(); }, S_OK, {}, {{Reset, 0}}},
        {"replace all",
         [&](IVector_String* v) {
             auto x = item(u"x");
             auto y = item(u"y");
             HSTRING items[] = {x.get(), y.get()};
             return v->ReplaceAll(2, items);
         },
         S_OK, {u"x", u"y"}, {{Reset, 0}}},
        {"replace all with nothing", [](IVector_String* v) { return v->ReplaceAll(0, nullptr); }, S_OK, {},
         {{Reset, 0}}},
    };
    auto recorder = ComPtr<VectorRecorder>::Attach(new VectorRecorder);
    ComPtr<IObservableVector_String> observable;
    ASSERT_EQ(vector.As(observable), S_OK);
    EventRegistrationToken token{};
    ASSERT_EQ(observable->add_VectorChanged(recorder.get(), &token), S_OK);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fill({u"a", u"b", u"c"});
        recorder->changes.clear();
        recorder->senders.clear();
        EXPECT_EQ(c.call(vector.get()), c.status);
        EXPECT_EQ(Contents(), c.after);
        EXPECT_EQ(recorder->changes, c.events);
        for (auto* sender : recorder->senders) EXPECT_EQ(sender, observable.get());
    }
    ASSERT_EQ(observable->remove_VectorChanged(token), S_OK);
    recorder->changes.clear();
    Fill({u"a"});
    EXPECT_TRUE(recorder->changes.empty());
}

TEST_F(VectorTest, ReadingPastTheEndFailsWithBounds) {
    HSTRING item = nullptr;
    EXPECT_EQ(vector->GetAt(0, &item), E_BOUNDS);
    EXPECT_EQ(vector->RemoveAtEnd(), E_BOUNDS);
    Fill({u"a", u"b", u"c"});
    EXPECT_EQ(vector->GetAt(3, &item), E_BOUNDS);
    EXPECT_EQ(item, nullptr);
    EXPECT_EQ(vector->GetAt(UINT32_MAX, &item), E_BOUNDS);
}

TEST_F(VectorTest, IndexOfComparesAllUnitsAndFindsTheFirst) {
    Fill({u"a", std::u16string(u"b\0x", 3), u"B", u"b", u"b"});
    struct Case {
        std::u16string value;
        boolean found;
        UINT32 index;
    };
    const Case cases[] = {{u"b", 1, 3}, {u"B", 1, 2}, {std::u16string(u"b\0x", 3), 1, 1},
                          {std::u16string(u"b\0", 2), 0, 0}, {u"", 0, 0}};
    for (const Case& c : cases) {
        UINT32 index = 99;
        boolean found = 2;
        EXPECT_EQ(vector->IndexOf(Make(c.value).get(), &index, &found), S_OK);
        EXPECT_EQ(found, c.found) << c.value.size();
        EXPECT_EQ(index, c.index) << c.value.size();
    }
}

TEST_F(VectorTest, GetManyCopiesFromAStartIndexWithinBounds) {
    Fill({u"a", u"b", u"c"});
    struct Case {
        UINT32 start;
        UINT32 capacity;
        HRESULT status;
        Items items;
    };
    const Case cases[] = {{0, 2, S_OK, {u"a", u"b"}}, {1, 10, S_OK, {u"b", u"c"}}, {3, 2, S_OK, {}},
                          {4, 2, E_BOUNDS, {}},       {0, 0, S_OK, {}}};
    ComPtr<IVectorView_String> view;
    ASSERT_EQ(vector->GetView(view.put()), S_OK);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        for (bool throughView : {false, true}) {
            HSTRING items[10] = {};
            UINT32 actual = 99;
            HRESULT hr = throughView ? view->GetMany(c.start, c.capacity, items, &actual)
                                     : vector->GetMany(c.start, c.capacity, items, &actual);
            EXPECT_EQ(hr, c.status);
            if (FAILED(hr)) {
                EXPECT_EQ(actual, 0u);
            }
            Items got;
            for (UINT32 i = 0; SUCCEEDED(hr) && i < actual; ++i) got.push_back(Take(items[i]));
            EXPECT_EQ(got, c.items);
        }
    }
}

TEST_F(VectorTest, ViewsAndIteratorsReadTheContentsUntilAChange) {
    Fill({u"a", u"b", u"c"});
    ComPtr<IVectorView_String> view;
    ASSERT_EQ(vector->GetView(view.put()), S_OK);
    ComPtr<IIterable_String> viewIterable;
    ASSERT_EQ(view.As(viewIterable), S_OK);
    ComPtr<IIterator_String> iterator;
    ASSERT_EQ(viewIterable->First(iterator.put()), S_OK);
    EXPECT_EQ(Drain(iterator.get()), (Items{u"a", u"b", u"c"}));
    UINT32 index = 0;
    boolean found = 0;
    EXPECT_EQ(view->IndexOf(Make(u"c").get(), &index, &found), S_OK);
    EXPECT_EQ(index, 2u);
    HSTRING item = nullptr;
    EXPECT_EQ(view->GetAt(3, &item), E_BOUNDS);

    // An iterator part-way through, then a change that keeps the size.
    ComPtr<IIterable_String> iterable;
    ASSERT_EQ(vector.As(iterable), S_OK);
    ASSERT_EQ(iterable->First(iterator.put()), S_OK);
    boolean has = 0;
    ASSERT_EQ(iterator->MoveNext(&has), S_OK);
    ASSERT_EQ(vector->SetAt(0, Make(u"z").get()), S_OK);

    UINT32 size = 0;
    HSTRING items[2] = {};
    UINT32 actual = 0;
    ComPtr<IIterator_String> fresh;
    EXPECT_EQ(view->get_Size(&size), E_CHANGED_STATE);
    EXPECT_EQ(view->GetAt(0, &item), E_CHANGED_STATE);
    EXPECT_EQ(view->IndexOf(Make(u"a").get(), &index, &found), E_CHANGED_STATE);
    EXPECT_EQ(view->GetMany(0, 2, items, &actual), E_CHANGED_STATE);
    EXPECT_EQ(viewIterable->First(fresh.put()), E_CHANGED_STATE);
    EXPECT_EQ(iterator->get_Current(&item), E_CHANGED_STATE);
    EXPECT_EQ(iterator->get_HasCurrent(&has), E_CHANGED_STATE);
    EXPECT_EQ(iterator->MoveNext(&has), E_CHANGED_STATE);
    EXPECT_EQ(iterator->GetMany(2, items, &actual), E_CHANGED_STATE);

    // A view taken now sees the change and outlives the vector.
    ASSERT_EQ(vector->GetView(view.put()), S_OK);
    vector.reset();
    EXPECT_EQ(view->GetAt(0, &item), S_OK);
    EXPECT_EQ(Take(item), u"z");
}

TEST_F(VectorTest, IteratorGetManyMovesOnAndStopsAtTheEnd) {
    Fill({u"a", u"b", u"c"});
    ComPtr<IIterable_String> iterable;
    ASSERT_EQ(vector.As(iterable), S_OK);
    ComPtr<IIterator_String> iterator;
    ASSERT_EQ(iterable->First(iterator.put()), S_OK);
    std::vector<UINT32> chunks;
    Items got;
    UINT32 actual = 0;
    do {
        HSTRING items[2] = {};
        ASSERT_EQ(iterator->GetMany(2, items, &actual), S_OK);
        chunks.push_back(actual);
        for (UINT32 i = 0; i < actual; ++i) got.push_back(Take(items[i]));
    } while (actual > 0);
    EXPECT_EQ(chunks, (std::vector<UINT32>{2, 1, 0}));
    EXPECT_EQ(got, (Items{u"a", u"b", u"c"}));
    HSTRING item = nullptr;
    EXPECT_EQ(iterator->get_Current(&item), E_BOUNDS);
    boolean has = 1;
    EXPECT_EQ(iterator->MoveNext(&has), S_OK);
    EXPECT_EQ(has, 0);
}

TEST_F(VectorTest, AnswersItsInterfacesAndClassName) {
    ULONG count = 0;
    IID* iids = nullptr;
    ASSERT_EQ(vector->GetIids(&count, &iids), S_OK);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(iids[0], IVector_String::IID_);
    EXPECT_EQ(iids[1], IIterable_String::IID_);
    EXPECT_EQ(iids[2], IObservableVector_String::IID_);
    CoTaskMemFree(iids);
    ComPtr<IAgileObject> agile;
    EXPECT_EQ(vector.As(agile), S_OK);
    HSTRING name = nullptr;
    ASSERT_EQ(vector->GetRuntimeClassName(&name), S_OK);
    EXPECT_EQ(Take(name), u"Windows.Foundation.Collections.IVector`1<String>");
}

TEST_F(VectorTest, HandedOutObjectsCountAsLiveObjectsOfTheModule) {
    Fill({u"a"});
    uint32_t alone = module.Count();
    EXPECT_GT(alone, 0u);
    {
        ComPtr<IVectorView_String> view;
        ASSERT_EQ(vector->GetView(view.put()), S_OK);
        ComPtr<IIterable_String> iterable;
        ASSERT_EQ(view.As(iterable), S_OK);
        ComPtr<IIterator_String> iterator;
        ASSERT_EQ(iterable->First(iterator.put()), S_OK);
        EXPECT_GT(module.Count(), alone);
    }
    EXPECT_EQ(module.Count(), alone);
}

}  // namespace
