// The trace viewer shows a writer process's lines, filtered, and stops on its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/ChildProcess.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(TraceViewerTest, ShowsAWritersLinesAndStopsAfterTheCount) {
    const std::string suffix = std::to_string(GetCurrentThreadId());
    const std::string area = "ZanthropViewerTest_Area_" + suffix, mutex = "ZanthropViewerTest_Mutex_" + suffix,
                      event = "ZanthropViewerTest_Event_" + suffix;
    const std::string output = "viewer_test_" + suffix + ".txt";
    std::remove(output.c_str());

    ChildProcess viewer(SiblingProgram("zanthrop-trace"),
                        {"--names", area + "," + mutex + "," + event, "--channels", "QO", "--filter", "keep",
                         "--output", output, "--count", "2", "--seconds", "60"});
    ASSERT_TRUE(viewer.Started());
    // The viewer creates the area; wait for it before the writer starts (writers only open it).
    HANDLE mapping = nullptr;
    for (int i = 0; i < 500 && mapping == nullptr; ++i) {
        mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, area.c_str());
        if (mapping == nullptr) Sleep(20);
    }
    ASSERT_NE(mapping, nullptr);
    // ...and for output to be on, which the viewer sets right after.
    auto* header = static_cast<volatile char*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ASSERT_NE(header, nullptr);
    for (int i = 0; i < 500 && header[0] == 0; ++i) Sleep(20);
    EXPECT_NE(header[0], 0);
    UnmapViewOfFile(const_cast<char*>(header));
    CloseHandle(mapping);

    ChildProcess writer(SiblingProgram("trace_writer"), {area, mutex, event, "write", "keep", "2"});
    ASSERT_TRUE(writer.Started());
    EXPECT_EQ(writer.Wait(), 0);
    EXPECT_EQ(viewer.Wait(), 0);
    EXPECT_EQ(ReadFile(output), "keep 0\nkeep 1\n");
    std::remove(output.c_str());
}

}  // namespace
