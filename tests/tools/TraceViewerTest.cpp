// The trace viewer shows the lines of writer processes, filtered, stops on its own or on Ctrl-C,
// and refuses options it cannot use.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Object names for one test's viewer.
struct ViewerNames {
    ViewerNames() {
        const std::string suffix = std::to_string(GetCurrentThreadId()) + "_" +
                                   testing::UnitTest::GetInstance()->current_test_info()->name();
        area = "ZanthropViewerTest_Area_" + suffix;
        mutex = "ZanthropViewerTest_Mutex_" + suffix;
        event = "ZanthropViewerTest_Event_" + suffix;
    }
    std::string Option() const { return area + "," + mutex + "," + event; }
    std::string area, mutex, event;
};

// The viewer's area, seen from outside: opened once the viewer has made it and switched output on.
class ViewedArea {
public:
    explicit ViewedArea(const std::string& name) {
        for (int i = 0; i < 500 && m_mapping == nullptr; ++i) {
            m_mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name.c_str());
            if (m_mapping == nullptr) Sleep(20);
        }
        if (m_mapping != nullptr) m_header = static_cast<volatile char*>(MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        for (int i = 0; i < 500 && m_header != nullptr && m_header[0] == 0; ++i) Sleep(20);
    }
    ~ViewedArea() {
        if (m_header != nullptr) UnmapViewOfFile(const_cast<char*>(m_header));
        if (m_mapping != nullptr) CloseHandle(m_mapping);
    }
    bool OutputOn() const { return m_header != nullptr && m_header[0] != 0; }

private:
    HANDLE m_mapping = nullptr;
    volatile char* m_header = nullptr;
};

TEST(TraceViewerTest, ShowsTheLinesOfSeveralWritersFilteredAndStopsAfterTheCount) {
    const ViewerNames names;
    const std::string area = names.area, mutex = names.mutex, event = names.event;
    const std::string output = "viewer_test_" + std::to_string(GetCurrentThreadId()) + ".txt";
    std::remove(output.c_str());

    ChildProcess viewer(SiblingProgram("zanthrop-trace"), {"--names", names.Option(), "--channels", "QO", "--filter",
                                                           "keep", "--output", output, "--count", "4", "--seconds", "60"});
    ASSERT_TRUE(viewer.Started());
    // The viewer creates the area; wait for it and for output to be on before the writers start
    // (writers only open the area, once, when they start).
    EXPECT_TRUE(ViewedArea(area).OutputOn());

    // A writer whose lines the filter holds back, then two writer processes at once. (The viewer
    // may end as soon as it has shown four lines, before a later writer could start.)
    ChildProcess filtered(SiblingProgram("trace_writer"), {area, mutex, event, "write", "drop", "3"});
    ASSERT_TRUE(filtered.Started());
    EXPECT_EQ(filtered.Wait(), 0);
    ChildProcess first(SiblingProgram("trace_writer"), {area, mutex, event, "write", "keepA", "2"});
    ChildProcess second(SiblingProgram("trace_writer"), {area, mutex, event, "write", "keepB", "2"});
    ASSERT_TRUE(first.Started() && second.Started());
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);
    EXPECT_EQ(viewer.Wait(), 0);
    // Each writer's lines in its own order; the writers' lines interleave as they came.
    std::vector<std::string> lines;
    std::istringstream text(ReadFile(output));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    std::vector<std::string> fromA, fromB;
    for (const std::string& line : lines) (line.rfind("keepA", 0) == 0 ? fromA : fromB).push_back(line);
    EXPECT_EQ(fromA, (std::vector<std::string>{"keepA 0", "keepA 1"}));
    EXPECT_EQ(fromB, (std::vector<std::string>{"keepB 0", "keepB 1"}));
    std::remove(output.c_str());
}

TEST(TraceViewerTest, RefusesOptionsItCannotUse) {
    const std::vector<std::vector<std::string>> cases = {
        {"--count", "0"},   {"--count", "ten"},         {"--seconds", "-1"},
        {"--unknown", "1"}, {"--channels", std::string(35, 'A')}, {"--names", "only,two"},
        {"--output"},
    };
    for (const std::vector<std::string>& arguments : cases) {
        ChildProcess viewer(SiblingProgram("zanthrop-trace"), arguments);
        ASSERT_TRUE(viewer.Started());
        EXPECT_EQ(viewer.Wait(), 2) << arguments[0] << " " << (arguments.size() > 1 ? arguments[1] : "");
    }
}

#ifndef _WIN32
TEST(TraceViewerTest, CtrlCSwitchesOutputOffBeforeTheViewerLeaves) {
    const ViewerNames names;
    ChildProcess viewer(SiblingProgram("zanthrop-trace"), {"--names", names.Option(), "--seconds", "60"});
    ASSERT_TRUE(viewer.Started());
    const ViewedArea area(names.area);  // held open here, so it outlives the viewer
    ASSERT_TRUE(area.OutputOn());
    viewer.Interrupt();
    EXPECT_EQ(viewer.Wait(), 0);
    EXPECT_FALSE(area.OutputOn());  // writers still attached store nothing and never wait
}
#endif

}  // namespace
