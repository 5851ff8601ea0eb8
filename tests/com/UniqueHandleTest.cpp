// The handle holder: it closes what it owns exactly when it lets go of it, and treats null and
// INVALID_HANDLE_VALUE alike as "no handle". A named event shows whether its last handle is
// closed: it can be opened by name only while some handle to it is open.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "com/UniqueHandle.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

unsigned long ProcessId() {
#ifdef _WIN32
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

class UniqueHandleTest : public testing::Test {
protected:
    // A fresh event name per call, unique to this process.
    std::string NewName() {
        return "ZanthropUniqueHandleTest." + std::to_string(ProcessId()) + "." + std::to_string(++m_names);
    }
    HANDLE NewEvent(const std::string& name) { return CreateEventA(nullptr, TRUE, FALSE, name.c_str()); }
    static bool Exists(const std::string& name) {
        HANDLE h = OpenEventA(SYNCHRONIZE, FALSE, name.c_str());
        if (h == nullptr) return false;
        CloseHandle(h);
        return true;
    }
    int m_names = 0;
};

TEST_F(UniqueHandleTest, ClosesOnResetAndDestruction) {
    const std::string first = NewName(), second = NewName();
    {
        UniqueHandle event(NewEvent(first));
        ASSERT_TRUE(event);
        EXPECT_TRUE(Exists(first));
        event.Reset();
        EXPECT_FALSE(event);
        EXPECT_FALSE(Exists(first));

        event.Attach(NewEvent(second));
        EXPECT_TRUE(Exists(second));
    }
    EXPECT_FALSE(Exists(second));
}

TEST_F(UniqueHandleTest, MovesAndGivesUpWithoutClosing) {
    const std::string name = NewName();
    UniqueHandle first(NewEvent(name));
    const HANDLE raw = first.Get();
    UniqueHandle second(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(second.Get(), raw);
    UniqueHandle third;
    third = std::move(second);
    EXPECT_EQ(third.Get(), raw);
    EXPECT_TRUE(Exists(name));

    const HANDLE detached = third.Detach();
    EXPECT_FALSE(third);
    EXPECT_TRUE(Exists(name));  // the caller owns it now
    CloseHandle(detached);
    EXPECT_FALSE(Exists(name));
}

TEST_F(UniqueHandleTest, AttachAndPutCloseTheOldHandle) {
    const std::string old = NewName(), next = NewName(), viaPut = NewName();
    UniqueHandle event(NewEvent(old));
    event.Attach(NewEvent(next));
    EXPECT_FALSE(Exists(old));
    event.Attach(event.Get());  // the same handle again: still owned once, not closed
    EXPECT_TRUE(Exists(next));

    *event.Put() = NewEvent(viaPut);  // as an out-parameter would be filled
    EXPECT_FALSE(Exists(next));
    EXPECT_TRUE(event);
    EXPECT_TRUE(Exists(viaPut));
}

TEST_F(UniqueHandleTest, NullAndInvalidMeanNoHandle) {
    for (const HANDLE none : {HANDLE(nullptr), INVALID_HANDLE_VALUE}) {
        UniqueHandle holder(none);
        EXPECT_FALSE(holder);
        holder.Reset();  // nothing to close
    }
    UniqueHandle failedOpen(OpenEventA(SYNCHRONIZE, FALSE, NewName().c_str()));
    EXPECT_FALSE(failedOpen);
}

}  // namespace
