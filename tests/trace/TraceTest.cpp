// The trace sink and formatting, as a viewer sees them in the shared ring.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "trace/Trace.h"
#include "trace/TraceReader.h"
#include "trace/TraceSink.h"

namespace {

// Objects named for this process and test, so parallel test programs never share a ring.
struct TestNames {
    explicit TestNames(const std::string& tag) {
        const std::string suffix = std::to_string(GetCurrentThreadId()) + "_" + tag;
        area = "ZanthropTraceTest_Area_" + suffix;
        mutex = "ZanthropTraceTest_Mutex_" + suffix;
        event = "ZanthropTraceTest_Event_" + suffix;
    }
    TraceNames Names() const { return {area.c_str(), mutex.c_str(), event.c_str()}; }
    std::string area, mutex, event;
};

class TraceTest : public testing::Test {
protected:
    TraceTest() : m_names(testing::UnitTest::GetInstance()->current_test_info()->name()) {}

    void SetUp() override {
        ASSERT_TRUE(m_reader.Create(m_names.Names()));
        m_reader.SetChannels("QOEF");
        m_reader.SetOutput(true);
        trace_testing::Reattach(m_names.Names());
        ASSERT_TRUE(TraceOutputOn());
    }
    void TearDown() override {
        const TestNames gone("none");
        trace_testing::Reattach(gone.Names());  // no such area: detached
    }

    std::vector<std::string> Lines() { return m_reader.Take(); }

    TestNames m_names;
    TraceReader m_reader;
};

struct ChannelCase {
    const char* set;
    const char* code;
    bool enabled;
};

TEST_F(TraceTest, ChannelNeedsEveryUpperCasedLetterInTheSet) {
    const ChannelCase cases[] = {
        {"QO", "qo", true}, {"OQ", "qo", true}, {"QO", "QO", true}, {"QO", "so", false}, {"QO", "", true},
        {"XQYO", "qo", true}, {"qo", "qo", false}, {"qo", "ab", false}, {"E", "e", true}, {"$@", "$", true},
        {"", "", true}, {"", "e", false},
    };
    for (const ChannelCase& c : cases) {
        m_reader.SetChannels(c.set);
        EXPECT_EQ(TraceChannelEnabled(c.code), c.enabled) << "set " << c.set << " code " << c.code;
    }
}

TEST_F(TraceTest, ChannelSetWithoutTerminatorIsReadToTheFieldsEnd) {
    m_reader.Locked([](TraceOutputArea& area) { std::memset(area.channelSet, 'Q', sizeof(area.channelSet)); });
    EXPECT_TRUE(TraceChannelEnabled("q"));
    EXPECT_FALSE(TraceChannelEnabled("o"));
}

TEST_F(TraceTest, OutputOffStoresNothingAndTakesNoLock) {
    m_reader.SetOutput(false);
    EXPECT_FALSE(TraceOutputOn());
    // With the trace mutex held elsewhere, trace calls still return: they never reach for it.
    std::atomic<bool> returned{false};
    std::thread tracer;
    m_reader.Locked([&](TraceOutputArea&) {
        tracer = std::thread([&] {
            TraceQO("nothing\n");
            TraceF("nothing\n");
            TraceResult(0x8105);
            TraceFrame("qd", reinterpret_cast<const BYTE*>("ab"), 2, 1);
            returned = true;
        });
        for (int i = 0; i < 5000 && !returned; ++i) Sleep(1);
        EXPECT_TRUE(returned);
    });
    tracer.join();
    EXPECT_TRUE(Lines().empty());
}

TEST_F(TraceTest, ChannelWrappersStoreTheirLines) {
    TraceE("x=%d\n", 5);
    TraceQO("CProtocolConverter::Send()\n");
    m_reader.SetChannels("E");
    TraceQO("dropped\n");
    EXPECT_EQ(Lines(), (std::vector<std::string>{"ERROR: x=5\n", "CProtocolConverter::Send()\n"}));
}

// Every entry point of the trace interface, with the letters its channel needs and what it stores
// for the message "m\n" when they are all in the set (and nothing when one is missing).
struct WrapperCase {
    const char* name;
    void (*write)(const char* format, ...);
    const char* letters;
    std::vector<std::string> lines;
};

TEST_F(TraceTest, EachChannelWrapperNeedsExactlyItsLetters) {
    const std::vector<std::string> plain{"m\n"};
    const WrapperCase cases[] = {
        {"TraceAlways", TraceAlways, "", plain}, {"TraceSO", TraceSO, "SO", plain}, {"TraceMO", TraceMO, "MO", plain},
        {"TraceAO", TraceAO, "AO", plain},       {"TraceXO", TraceXO, "XO", plain}, {"TraceRO", TraceRO, "RO", plain},
        {"TraceWO", TraceWO, "WO", plain},       {"TraceLO", TraceLO, "LO", plain}, {"TraceTO", TraceTO, "TO", plain},
        {"TraceYO", TraceYO, "YO", plain},       {"TraceYD", TraceYD, "YD", plain}, {"TraceCO", TraceCO, "CO", plain},
        {"TraceZO", TraceZO, "ZO", plain},       {"TraceUO", TraceUO, "UO", plain}, {"TraceGO", TraceGO, "GO", plain},
        {"TraceHO", TraceHO, "HO", plain},       {"TraceJO", TraceJO, "JO", plain}, {"TraceQO", TraceQO, "QO", plain},
        {"TraceF", TraceF, "F", {"\n", "m\n"}},  {"TraceP", TraceP, "P", plain},    {"TraceK", TraceK, "K", plain},
        {"TraceE", TraceE, "E", {"ERROR: m\n"}}, {"TraceDollar", TraceDollar, "$", plain},
    };
    for (const WrapperCase& c : cases) {
        const std::string letters = c.letters;
        for (size_t missing = 0; missing < letters.size(); ++missing) {
            std::string set = letters;
            set.erase(missing, 1);
            m_reader.SetChannels(set);
            c.write("m\n");
            EXPECT_TRUE(Lines().empty()) << c.name << " with set \"" << set << "\"";
        }
        m_reader.SetChannels(letters);
        c.write("m\n");
        EXPECT_EQ(Lines(), c.lines) << c.name;
    }
}

struct DumpCase {
    const char* name;
    void (*dump)(const BYTE* data, LONG length, LONG isRequest);
    const char* letters;
};

TEST_F(TraceTest, EachDumpWrapperNeedsExactlyItsLetters) {
    const DumpCase cases[] = {
        {"DumpRD", DumpRD, "RD"}, {"DumpXD", DumpXD, "XD"}, {"DumpZD", DumpZD, "ZD"},
        {"DumpCD", DumpCD, "CD"}, {"DumpQD", DumpQD, "QD"},
    };
    const BYTE byte = 'z';
    for (const DumpCase& c : cases) {
        for (const std::string& set : {std::string(1, c.letters[0]), std::string(1, c.letters[1])}) {
            m_reader.SetChannels(set);
            c.dump(&byte, 1, 0);
            EXPECT_TRUE(Lines().empty()) << c.name << " with set \"" << set << "\"";
        }
        m_reader.SetChannels(c.letters);
        c.dump(&byte, 1, 0);
        EXPECT_EQ(Lines(), (std::vector<std::string>{"RESPONSE\n", "0000: 7a " + std::string(15 * 3, ' ') + "  : z\n"}))
            << c.name;
    }
}

TEST_F(TraceTest, TraceFWritesAnEmptyLineFirst) {
    TraceF("Open\n");
    EXPECT_EQ(Lines(), (std::vector<std::string>{"\n", "Open\n"}));
}

TEST_F(TraceTest, PrefixCarriesProcessThreadAndClockAsTheSetAsks) {
    m_reader.SetChannels("QO@IN");
    TraceQO("hello\n");
    m_reader.SetChannels("QOI");
    TraceQO("thread only\n");
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("trace_tests\\([0-9A-F]{2,}\\)\\([0-9]{5}\\): hello\n"))) << lines[0];
    char thread[32];
    std::snprintf(thread, sizeof(thread), "(%02X): ", static_cast<unsigned>(GetCurrentThreadId()));
    EXPECT_EQ(lines[1], std::string(thread) + "thread only\n");
}

TEST(TracePrefixTest, ProcessNameIsTheFileNameWithoutItsLastExtensionInLowerCase) {
    const std::pair<const char*, const char*> cases[] = {
        {"C:\\Apps\\Viewer.Main.exe", "viewer.main"}, {"/usr/bin/zanthrop-trace", "zanthrop-trace"},
        {"C:\\X\\NoExtension", "noextension"},       {"Plain.EXE", "plain"},
        {"/a.b/c", "c"},
    };
    for (const auto& [path, name] : cases) EXPECT_EQ(trace_detail::ProcessNameFromPath(path), name) << path;
}

TEST(TracePrefixTest, ClockFieldIsMillisecondsModuloTenThousand) {
    const struct {
        LONGLONG counter, frequency;
        const char* field;
    } cases[] = {
        {1234567LL * 1000, 1000000, "(04567)"}, {5LL * 1000, 1000000, "(00005)"}, {9999, 1000, "(09999)"},
        {10000, 1000, "(00000)"},               {12345, 999, ""},                  {12345, 0, ""},
    };
    for (const auto& c : cases) {
        std::string line;
        trace_detail::AppendClockField(line, c.counter, c.frequency);
        EXPECT_EQ(line, c.field) << c.counter << " at " << c.frequency;
    }
}

TEST_F(TraceTest, LinesOfUpTo512CharactersAreStored) {
    const std::string exact(511, 'a');
    TraceQO("%s\n", exact.c_str());  // 512 with the line end
    TraceQO("%s\n", (exact + "b").c_str());
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 512u);
}

TEST_F(TraceTest, PrefixCountsTowardsTheLimit) {
    m_reader.SetChannels("EQO");
    const std::string body(505, 'a');
    TraceE("%s\n", body.c_str());       // "ERROR: " + 505 + "\n" = 513: dropped
    TraceE("%s\n", body.c_str() + 1);   // 512: stored
    const std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 512u);
}

TEST_F(TraceTest, WriteSlotWrapsAndOutOfRangeSlotsAreTreatedAsZero) {
    const struct {
        LONG writeSlot;
        int storedIn;
        LONG next;
    } cases[] = {{999, 999, 0}, {0, 0, 1}, {500, 500, 501}, {1000, 0, 1}, {-5, 0, 1}, {123456789, 0, 1}};
    for (const auto& c : cases) {
        m_reader.Locked([&](TraceOutputArea& area) {
            area.writeSlot = c.writeSlot;
            area.pendingCount = 0;
            std::memset(area.slots[c.storedIn], 0, kTraceSlotSize);
        });
        TraceQO("slot\n");
        m_reader.Locked([&](TraceOutputArea& area) {
            EXPECT_STREQ(area.slots[c.storedIn], "slot\n") << c.writeSlot;
            EXPECT_EQ(area.writeSlot, c.next) << c.writeSlot;
            EXPECT_EQ(area.pendingCount, 1) << c.writeSlot;
        });
    }
}

TEST_F(TraceTest, FullRingMakesTheWriterWaitForTheReader) {
    m_reader.Locked([](TraceOutputArea& area) { area.pendingCount = 901; });
    std::atomic<bool> returned{false};
    std::thread writer([&] {
        TraceQO("waited\n");
        returned = true;
    });
    Sleep(100);
    bool returnedEarly = returned;
    LONG pendingWhileWaiting = 0;
    m_reader.Locked([&](TraceOutputArea& area) {
        pendingWhileWaiting = area.pendingCount;
        area.pendingCount = 900;
    });
    writer.join();
    EXPECT_FALSE(returnedEarly);
    EXPECT_EQ(pendingWhileWaiting, 901);
    m_reader.Locked([](TraceOutputArea& area) {
        EXPECT_EQ(area.pendingCount, 901);
        EXPECT_STREQ(area.slots[0], "waited\n");
    });
}

TEST_F(TraceTest, OutputSwitchedOffReleasesAWaitingWriter) {
    m_reader.Locked([](TraceOutputArea& area) { area.pendingCount = 950; });
    std::thread writer([] { TraceQO("never stored\n"); });
    Sleep(50);
    m_reader.SetOutput(false);
    writer.join();
    m_reader.Locked([](TraceOutputArea& area) {
        EXPECT_EQ(area.pendingCount, 950);
        EXPECT_STREQ(area.slots[0], "");
    });
}

TEST_F(TraceTest, StalledReaderCostsOneBoundedWaitThenLinesAreDroppedUntilItCatchesUp) {
    m_reader.Locked([](TraceOutputArea& area) { area.pendingCount = 950; });
    TraceQO("first\n");   // waits its bounded time, then is dropped
    TraceQO("second\n");  // dropped at once: the reader has not caught up
    m_reader.Locked([](TraceOutputArea& area) {
        EXPECT_EQ(area.pendingCount, 950);
        EXPECT_STREQ(area.slots[0], "");
        area.pendingCount = 900;
    });
    TraceQO("third\n");
    m_reader.Locked([](TraceOutputArea& area) {
        EXPECT_EQ(area.pendingCount, 901);
        EXPECT_STREQ(area.slots[0], "third\n");
    });
}

struct ResultCase {
    LONG status;
    const char* line;
};

TEST_F(TraceTest, ResultLinesNameSeverityComponentAndCode) {
    const ResultCase cases[] = {
        {0x8105, "   Result: ZRB_ERROR   ZRB_C_SESSION      ZRB_E_DUPLICATE_NAME\n"},
        {0x0000, "   Result: ZRB_SUCCESS ZRB_C_CORE         ZRB_S_OK\n"},
        {0x0B25, "   Result: ZRB_SUCCESS "},
        {0x18105, "   Result: ZRB_ERROR   ZRB_C_SESSION      ZRB_E_DUPLICATE_NAME\n"},
        {0x0A24, "   Result: ZRB_SUCCESS ZRB_C_DEVICE       ZRB_E_INVALID_DATA\n"},
    };
    for (const ResultCase& c : cases) {
        TraceResult(c.status, 1, 2);
        EXPECT_EQ(Lines(), (std::vector<std::string>{c.line, "\n"})) << std::hex << c.status;
    }
}

struct FrameCase {
    std::vector<BYTE> bytes;
    LONG isRequest;
    std::vector<std::string> lines;
};

TEST_F(TraceTest, FrameDumpsAreHexLinesOfSixteenBytes) {
    m_reader.SetChannels("QD");
    std::vector<BYTE> sixteen;
    for (int i = 0; i < 16; ++i) sixteen.push_back(static_cast<BYTE>(0x30 + i));
    std::vector<BYTE> seventeen = sixteen;
    seventeen.push_back(0x7F);
    const FrameCase cases[] = {
        {{0x41, 0x42, 0x00}, 1,
         {"REQUEST\n", "0000: 41 42 00 " + std::string(13 * 3, ' ') + "  : AB.\n"}},
        {sixteen, 0,
         {"RESPONSE\n", "0000: 30 31 32 33 34 35 36 37 38 39 3a 3b 3c 3d 3e 3f   : 0123456789:;<=>?\n"}},
        {seventeen, 1,
         {"REQUEST\n", "0000: 30 31 32 33 34 35 36 37 38 39 3a 3b 3c 3d 3e 3f   : 0123456789:;<=>?\n",
          "0010: 7f " + std::string(15 * 3, ' ') + "  : .\n"}},
        {{0x41}, 0x100, {"RESPONSE\n", "0000: 41 " + std::string(15 * 3, ' ') + "  : A\n"}},
        {{}, 1, {"REQUEST\n"}},
    };
    for (const FrameCase& c : cases) {
        DumpQD(c.bytes.data(), static_cast<LONG>(c.bytes.size()), c.isRequest);
        EXPECT_EQ(Lines(), c.lines);
    }
    DumpQD(sixteen.data(), -3, 1);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"REQUEST\n"}));
    DumpRD(sixteen.data(), 16, 1);  // channel rd is not enabled
    EXPECT_TRUE(Lines().empty());
}

TEST(TraceAttachTest, NoAreaAtStartUpMeansNoTracingEvenAfterItAppears) {
    const TestNames names("late");
    trace_testing::Reattach(names.Names());
    EXPECT_FALSE(TraceOutputOn());
    {
        TraceReader reader;
        ASSERT_TRUE(reader.Create(names.Names()));
        reader.SetChannels("QO");
        reader.SetOutput(true);
        TraceQO("not seen\n");
        EXPECT_FALSE(TraceOutputOn());
        EXPECT_TRUE(reader.Take().empty());
    }
    const TestNames gone("none");
    trace_testing::Reattach(gone.Names());
}

TEST(TraceAttachTest, WithoutItsMutexAProcessDoesNotTrace) {
    const TestNames names("nomutex");
    TraceReader reader;
    ASSERT_TRUE(reader.Create(names.Names()));
    reader.SetChannels("QO");
    reader.SetOutput(true);
#ifdef _WIN32
    const std::string badMutex = "NoSuchNamespace\\" + names.mutex;  // no such object directory
#else
    const std::string badMutex = std::string(300, 'm');  // longer than a file name can be
#endif
    ASSERT_EQ(CreateMutexA(nullptr, FALSE, badMutex.c_str()), nullptr);
    trace_testing::Reattach({names.area.c_str(), badMutex.c_str(), names.event.c_str()});
    EXPECT_FALSE(TraceOutputOn());
    TraceQO("not seen\n");
    EXPECT_TRUE(reader.Take().empty());
    const TestNames gone("none");
    trace_testing::Reattach(gone.Names());
}

// Cross-process: writer programs and a viewer in this process.
class TraceProcessTest : public TraceTest {
protected:
    std::vector<std::string> WriterArguments(const std::string& mode) {
        return {m_names.area, m_names.mutex, m_names.event, mode};
    }
};

TEST_F(TraceProcessTest, WriterInAnotherProcessReachesTheViewer) {
    std::vector<std::string> arguments = WriterArguments("write");
    arguments.push_back("child");
    arguments.push_back("3");
    ChildProcess child(SiblingProgram("trace_writer"), arguments);
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"child 0\n", "child 1\n", "child 2\n"}));
}

TEST_F(TraceProcessTest, WriterThatDiesHoldingTheMutexDoesNotStopOthers) {
    ChildProcess dying(SiblingProgram("trace_writer"), WriterArguments("die-holding-mutex"));
    ASSERT_TRUE(dying.Started());
    EXPECT_EQ(dying.Wait(), 0);
    TraceQO("after\n");
    EXPECT_EQ(Lines(), (std::vector<std::string>{"after\n"}));
}

TEST_F(TraceProcessTest, TwoWriterProcessesLoseNoLine) {
    constexpr int kLines = 1500;  // more than the ring holds: the viewer must keep taking
    std::vector<std::string> a = WriterArguments("write"), b = WriterArguments("write");
    a.insert(a.end(), {"A", std::to_string(kLines)});
    b.insert(b.end(), {"B", std::to_string(kLines)});
    ChildProcess first(SiblingProgram("trace_writer"), a);
    ChildProcess second(SiblingProgram("trace_writer"), b);
    ASSERT_TRUE(first.Started() && second.Started());
    std::vector<std::string> lines;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (lines.size() < 2u * kLines && std::chrono::steady_clock::now() < giveUp) {
        m_reader.WaitForSignal(100);
        for (std::string& line : Lines()) lines.push_back(std::move(line));
    }
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);
    for (std::string& line : Lines()) lines.push_back(std::move(line));
    int nextA = 0, nextB = 0;
    for (const std::string& line : lines) {
        int& next = line[0] == 'A' ? nextA : nextB;
        EXPECT_EQ(line.substr(2), std::to_string(next) + "\n");
        ++next;
    }
    EXPECT_EQ(lines.size(), 2u * kLines);
    EXPECT_EQ(nextA, kLines);
    EXPECT_EQ(nextB, kLines);
}

}  // namespace
