// The smart pointer: exactly one reference per holder through copies, moves, Attach, Detach,
// Put and As, counted on a plain object that records its count.
#include <gtest/gtest.h>

#include <utility>

#include "com/ComPtr.h"

namespace {

// Answers IUnknown and IEnumMessages; deletes itself at 0 and says so.
class Counted final : public IEnumMessages {
public:
    explicit Counted(bool* destroyed) : m_destroyed(destroyed) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumMessages)) {
            *ppv = static_cast<IEnumMessages*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG refs = --m_refs;
        if (refs == 0) {
            *m_destroyed = true;
            delete this;
        }
        return refs;
    }
    STDMETHODIMP Next(LONG*, BYTE**) override { return E_FAIL; }
    ULONG Refs() const { return m_refs; }

private:
    ~Counted() = default;
    ULONG m_refs = 1;  // the creator's
    bool* m_destroyed;
};

class ComPtrTest : public testing::Test {
protected:
    // A new object whose creator's reference the test owns.
    Counted* New() { return new Counted(&m_destroyed); }
    bool m_destroyed = false;
};

TEST_F(ComPtrTest, CopyAddsMoveHandsOver) {
    ComPtr<IEnumMessages> first;
    Counted* object = New();
    first.Attach(object);
    EXPECT_EQ(object->Refs(), 1u);  // Attach took the creator's reference
    {
        ComPtr<IEnumMessages> copy = first;
        EXPECT_EQ(object->Refs(), 2u);
        ComPtr<IEnumMessages> moved = std::move(copy);
        EXPECT_FALSE(copy);
        EXPECT_EQ(object->Refs(), 2u);
        ComPtr<IEnumMessages> assigned;
        assigned = moved;
        EXPECT_EQ(object->Refs(), 3u);
        assigned = std::move(moved);  // the same object: the old reference goes, the moved one stays
        EXPECT_EQ(object->Refs(), 2u);
        ComPtr<IEnumMessages>& alias = assigned;
        assigned = alias;  // self-assignment keeps the reference
        EXPECT_EQ(object->Refs(), 2u);
    }
    EXPECT_EQ(object->Refs(), 1u);
    first = nullptr;
    EXPECT_TRUE(m_destroyed);
}

TEST_F(ComPtrTest, ExplicitConstructionAddsAttachAndDetachDoNot) {
    Counted* object = New();
    {
        ComPtr<IEnumMessages> held(object);
        EXPECT_EQ(object->Refs(), 2u);
        IEnumMessages* out = nullptr;
        held.CopyTo(&out);
        EXPECT_EQ(object->Refs(), 3u);
        out->Release();
        IEnumMessages* detached = held.Detach();
        EXPECT_EQ(detached, object);
        EXPECT_FALSE(held);
        EXPECT_EQ(object->Refs(), 2u);
        detached->Release();
    }
    EXPECT_EQ(object->Refs(), 1u);
    object->Release();
    EXPECT_TRUE(m_destroyed);
}

TEST_F(ComPtrTest, PutReleasesWhatWasHeld) {
    Counted* object = New();
    ComPtr<IEnumMessages> held;
    held.Attach(object);
    IEnumMessages** slot = held.Put();
    EXPECT_TRUE(m_destroyed);
    EXPECT_EQ(*slot, nullptr);
    EXPECT_FALSE(held);
}

TEST_F(ComPtrTest, AsQueriesAndEmptiesTheTargetOnFailure) {
    ComPtr<IEnumMessages> held;
    held.Attach(New());
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(held.As(&unknown), S_OK);
    EXPECT_EQ(unknown.Get(), static_cast<IUnknown*>(held.Get()));

    ComPtr<IZanthropBase> other;
    EXPECT_EQ(held.As(&other), E_NOINTERFACE);
    EXPECT_FALSE(other);
    EXPECT_EQ(unknown.As(&other), E_NOINTERFACE);

    ComPtr<IEnumMessages> empty;
    EXPECT_EQ(empty.As(&unknown), E_POINTER);
    EXPECT_FALSE(unknown);
    EXPECT_FALSE(m_destroyed);

    // The target may hold the only reference to the object asked: it goes only after the query.
    held.As(&unknown);
    held.Reset();
    EXPECT_EQ(unknown.As(&unknown), S_OK);
    EXPECT_FALSE(m_destroyed);
    unknown.Reset();
    EXPECT_TRUE(m_destroyed);
}

// An object that owns another through a ComPtr member: a list node, say.
class Holder final : public IEnumMessages {
public:
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG refs = --m_refs;
        if (refs == 0) delete this;
        return refs;
    }
    STDMETHODIMP Next(LONG*, BYTE**) override { return E_FAIL; }
    ComPtr<IEnumMessages> m_next;

private:
    ~Holder() = default;
    ULONG m_refs = 1;
};

// Stepping along such a list, `p = std::move(p->m_next)`, releases the node whose member is the
// source: the moved reference must be taken before the old one goes.
TEST_F(ComPtrTest, MoveAssignmentFromAMemberOfTheReleasedObject) {
    auto* node = new Holder;
    Counted* object = New();
    node->m_next.Attach(object);
    ComPtr<IEnumMessages> cursor;
    cursor.Attach(node);  // the node's only reference
    cursor = std::move(node->m_next);
    EXPECT_EQ(cursor.Get(), object);
    EXPECT_FALSE(m_destroyed);
    EXPECT_EQ(object->Refs(), 1u);
}

}  // namespace
