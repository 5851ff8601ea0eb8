// Stress and crash tests: many threads and processes at once for seconds, and processes killed
// at the worst moment. Each prints its figures on a "[ figures ]" line.
//  - one converter, 8 stack threads delivering and 2 clients draining for 10 s: nothing lost or
//    duplicated, each stack thread's frames in order for each client;
//  - trace lines from 8 threads in each of 3 processes, a viewer draining: nothing lost;
//  - the viewer killed (SIGKILL) while writers wait on a full ring: no writer hangs, and a new
//    viewer gets lines again;
//  - a writer killed while it holds the trace mutex: the other writers carry on, nothing lost;
//  - the registry database with 4 processes creating and deleting keys for 10 s: integrity
//    check passes, every write that succeeded and was not deleted is there.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <shlwapi.h>
#include <unistd.h>

#include "com/ComPtr.h"
#include "com/TextConversion.h"
#include "converters/CProtocolConverter.h"
#include "registry/CRegistryStore.h"
#include "sim/SimObjects.h"
#include "support/ChildProcess.h"
#include "trace/Trace.h"
#include "trace/TraceReader.h"
#include "trace/TraceSink.h"

namespace {

using Clock = std::chrono::steady_clock;

// --- one converter, many stack threads, two clients ---

TEST(ConverterStressTest, EightStackThreadsAndTwoClientsForTenSecondsLoseAndDuplicateNothing) {
    constexpr int kStackThreads = 8;
    constexpr int kClients = 2;
    constexpr long kMaxBacklog = 20000;  // the stack threads pause while this many frames wait
    const auto kRunTime = std::chrono::seconds(10);

    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    {
        SimFramework framework;
        ASSERT_TRUE(framework.Registered());
        const int controlFramesBefore = SimStack::controlFrameEvery;
        SimStack::controlFrameEvery = 0;
        SimWorld::Instance().SetRecording(false);
        const LONG liveBefore = SimWorld::Instance().LiveObjects();
        {
            ComPtr<IStackFactory> factory = SimStackFactory::Make();
            ComPtr<IZTK_DeviceConfig> config = SimDeviceConfig::Make("[NET]NET:ETHERNET;[DRVR]PORT:P1;");
            const std::string eventName = "ZanthropStress_" + std::to_string(getpid());
            HANDLE event = CreateEventA(nullptr, FALSE, FALSE, eventName.c_str());
            ASSERT_NE(event, nullptr);
            ComPtr<IZTK_ProtocolConverter> converter;
            ASSERT_EQ(CProtocolConverter::CreateObject(nullptr, IID_IZTK_ProtocolConverter, converter.PutVoid()), S_OK);
            std::basic_string<WCHAR> wideEvent = ToWide(eventName), name = ToWide("LEGACY");
            ASSERT_EQ(converter->Create(reinterpret_cast<USHORT*>(&wideEvent[0]), reinterpret_cast<USHORT*>(&name[0]),
                                        factory.Get(), config.Get(), config.Get()),
                      S_OK);
            SimStack* stack = static_cast<SimStackFactory*>(factory.Get())->LastStack();

            std::atomic<bool> stop{false};
            std::atomic<long> delivered{0}, taken{0};
            std::vector<int> sent(kStackThreads, 0);
            std::vector<std::thread> stackThreads;
            for (int t = 0; t < kStackThreads; ++t) {
                stackThreads.emplace_back([&, t] {
                    int sequence = 0;
                    while (!stop) {
                        if (delivered - taken > kMaxBacklog) {
                            std::this_thread::yield();
                            continue;
                        }
                        const int frame[2] = {t, sequence};
                        if (stack->Deliver(reinterpret_cast<const BYTE*>(frame), sizeof(frame)) != S_OK) break;
                        ++sequence;
                        ++delivered;
                    }
                    sent[static_cast<size_t>(t)] = sequence;
                });
            }
            // Each client keeps what it took, and whether each stack thread's frames came in order.
            struct Client {
                std::vector<std::vector<int>> frames = std::vector<std::vector<int>>(kStackThreads);
                bool ordered = true;
                bool wellFormed = true;
            };
            std::vector<Client> clients(kClients);
            std::atomic<bool> stacksDone{false};
            std::vector<std::thread> clientThreads;
            for (int c = 0; c < kClients; ++c) {
                clientThreads.emplace_back([&, c] {
                    Client& client = clients[static_cast<size_t>(c)];
                    const auto giveUp = Clock::now() + kRunTime + std::chrono::seconds(60);
                    while (Clock::now() < giveUp) {
                        if (stacksDone && taken == delivered) break;
                        WaitForSingleObject(event, 5);
                        LONG count = 0;
                        ComPtr<IEnumMessages> messages;
                        if (converter->GetReceiveData(0, &count, messages.Put()) != S_OK || !messages) continue;
                        LONG size = 0;
                        BYTE* data = nullptr;
                        while (messages->Next(&size, &data) == S_OK) {
                            int frame[2] = {-1, -1};
                            if (size == sizeof(frame)) std::memcpy(frame, data, sizeof(frame));
                            CoTaskMemFree(data);
                            ++taken;
                            if (frame[0] < 0 || frame[0] >= kStackThreads) {
                                client.wellFormed = false;
                                continue;
                            }
                            std::vector<int>& mine = client.frames[static_cast<size_t>(frame[0])];
                            if (!mine.empty() && frame[1] <= mine.back()) client.ordered = false;
                            mine.push_back(frame[1]);
                        }
                    }
                });
            }
            std::this_thread::sleep_for(kRunTime);
            stop = true;
            for (std::thread& thread : stackThreads) thread.join();
            stacksDone = true;
            for (std::thread& thread : clientThreads) thread.join();

            long total = 0;
            for (int t = 0; t < kStackThreads; ++t) {
                SCOPED_TRACE("stack thread " + std::to_string(t));
                std::vector<int> all;
                for (const Client& client : clients) {
                    const std::vector<int>& part = client.frames[static_cast<size_t>(t)];
                    all.insert(all.end(), part.begin(), part.end());
                }
                std::sort(all.begin(), all.end());
                const int expected = sent[static_cast<size_t>(t)];
                EXPECT_EQ(static_cast<int>(all.size()), expected) << "frames lost or duplicated";
                EXPECT_TRUE(std::adjacent_find(all.begin(), all.end()) == all.end()) << "a frame came out twice";
                EXPECT_TRUE(all.empty() || (all.front() == 0 && all.back() == expected - 1)) << "a frame was lost";
                total += expected;
            }
            for (const Client& client : clients) {
                EXPECT_TRUE(client.ordered) << "a client saw a stack thread's frames out of order";
                EXPECT_TRUE(client.wellFormed);
            }
            EXPECT_EQ(taken.load(), delivered.load());
            std::string perClient;
            for (const Client& client : clients) {
                size_t count = 0;
                for (const std::vector<int>& part : client.frames) count += part.size();
                perClient += (perClient.empty() ? "" : ", ") + std::to_string(count);
            }
            std::printf("[ figures ] %ld frames from %d stack threads to %d clients in 10 s (taken: %s)\n", total,
                        kStackThreads, kClients, perClient.c_str());
            EXPECT_EQ(converter->Destroy(), S_OK);
            converter.Reset();
            factory.Reset();
            config.Reset();
            CloseHandle(event);
        }
        EXPECT_EQ(SimWorld::Instance().LiveObjects(), liveBefore);
        SimWorld::Instance().SetRecording(true);
        SimStack::controlFrameEvery = controlFramesBefore;
    }
    CoUninitialize();
}

// --- trace: several writer processes, a viewer ---

// Objects named for this process and test, so that no two runs share a ring.
struct TraceObjects {
    explicit TraceObjects(const std::string& tag) {
        const std::string suffix = std::to_string(getpid()) + "_" + tag;
        area = "ZanthropStress_Area_" + suffix;
        mutex = "ZanthropStress_Mutex_" + suffix;
        event = "ZanthropStress_Event_" + suffix;
        ready = "ZanthropStress_Ready_" + suffix;
    }
    TraceNames Names() const { return {area.c_str(), mutex.c_str(), event.c_str()}; }
    std::vector<std::string> Arguments(const std::string& mode) const { return {mode, area, mutex, event}; }
    std::string area, mutex, event, ready;
};

class TraceStressTest : public testing::Test {
protected:
    TraceStressTest() : m_objects(testing::UnitTest::GetInstance()->current_test_info()->name()) {}
    void TearDown() override {
        const TraceObjects gone("none");
        trace_testing::Reattach(gone.Names());  // this process traces nowhere again
    }

    // Takes lines until count have come or the time is up.
    static std::vector<std::string> Collect(TraceReader& reader, size_t count, std::chrono::seconds limit) {
        std::vector<std::string> lines;
        const auto giveUp = Clock::now() + limit;
        while (lines.size() < count && Clock::now() < giveUp) {
            reader.WaitForSignal(20);
            for (std::string& line : reader.Take()) lines.push_back(std::move(line));
        }
        return lines;
    }

    // Lines "TAG thread n\n": every writer thread's lines complete and in order.
    static void ExpectComplete(const std::vector<std::string>& lines, const std::vector<std::string>& tags, int threads,
                               int count) {
        std::map<std::string, int> next;
        bool ordered = true;
        for (const std::string& line : lines) {
            std::istringstream fields(line);
            std::string tag;
            int thread = -1, n = -1;
            fields >> tag >> thread >> n;
            const std::string writer = tag + " " + std::to_string(thread);
            if (n != next[writer]) ordered = false;
            next[writer] = n + 1;
        }
        EXPECT_TRUE(ordered) << "a writer's lines were lost or out of order";
        EXPECT_EQ(lines.size(), tags.size() * static_cast<size_t>(threads) * static_cast<size_t>(count));
        for (const std::string& tag : tags) {
            for (int t = 0; t < threads; ++t) {
                EXPECT_EQ(next[tag + " " + std::to_string(t)], count) << tag << " thread " << t;
            }
        }
    }

    HANDLE MakeReadyEvent() { return CreateEventA(nullptr, TRUE, FALSE, m_objects.ready.c_str()); }

    TraceObjects m_objects;
};

TEST_F(TraceStressTest, EightThreadsInEachOfThreeProcessesLoseNothingWhileTheViewerKeepsUp) {
    constexpr int kThreads = 8;
    constexpr int kLines = 500;
    const std::vector<std::string> tags = {"A", "B", "C"};
    TraceReader reader;
    ASSERT_TRUE(reader.Create(m_objects.Names()));
    reader.SetChannels("QO");
    reader.SetOutput(true);
    std::vector<std::unique_ptr<ChildProcess>> writers;
    for (const std::string& tag : tags) {
        std::vector<std::string> arguments = m_objects.Arguments("trace-writer");
        arguments.insert(arguments.end(), {tag, std::to_string(kThreads), std::to_string(kLines)});
        writers.push_back(std::make_unique<ChildProcess>(SiblingProgram("stress_peer"), arguments));
        ASSERT_TRUE(writers.back()->Started());
    }
    const auto start = Clock::now();
    std::vector<std::string> lines = Collect(reader, tags.size() * kThreads * kLines, std::chrono::seconds(120));
    for (auto& writer : writers) EXPECT_EQ(writer->Wait(), 0);
    for (std::string& line : reader.Take()) lines.push_back(std::move(line));
    ExpectComplete(lines, tags, kThreads, kLines);
    std::printf("[ figures ] %zu lines from %zu processes x %d threads in %lld ms\n", lines.size(), tags.size(), kThreads,
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count()));
}

// The viewer dies while writers wait for room: with 950 lines it left pending (more than the
// writers' limit: they wait from the first line), and with the ring filled by the writers.
TEST_F(TraceStressTest, ViewerKilledWhileLinesArePendingHangsNoWriter) {
    constexpr int kThreads = 8;
    constexpr int kLines = 200;  // 1600 in all: more than the ring takes without a viewer
    for (LONG pending : {LONG{950}, LONG{0}}) {
        SCOPED_TRACE("pending at the start " + std::to_string(pending));
        const TraceObjects objects("ViewerKilled" + std::to_string(pending));
        HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, objects.ready.c_str());
        ASSERT_NE(ready, nullptr);
        std::vector<std::string> arguments = objects.Arguments("trace-viewer");
        arguments.insert(arguments.end(), {objects.ready, std::to_string(pending)});
        ChildProcess viewer(SiblingProgram("stress_peer"), arguments);
        ASSERT_TRUE(viewer.Started());
        ASSERT_EQ(WaitForSingleObject(ready, 30000), WAIT_OBJECT_0) << "the viewer did not start";
        CloseHandle(ready);
        trace_testing::Reattach(objects.Names());
        ASSERT_TRUE(TraceOutputOn());

        std::atomic<int> finished{0};
        std::vector<std::thread> writers;
        for (int t = 0; t < kThreads; ++t) {
            writers.emplace_back([&finished, t] {
                for (int i = 0; i < kLines; ++i) TraceQO("W %d %d\n", t, i);
                ++finished;
            });
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the writers meet the full ring
        viewer.Kill();
        const auto killed = Clock::now();
        const auto giveUp = killed + std::chrono::seconds(60);
        while (finished < kThreads && Clock::now() < giveUp) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(finished.load(), kThreads) << "a writer hangs after the viewer was killed";
        for (std::thread& writer : writers) writer.join();
        const long long afterKill =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - killed).count();

        // The area lives on with its writers; a new viewer empties it and lines flow again.
        TraceReader next;
        ASSERT_TRUE(next.Create(objects.Names()));
        EXPECT_TRUE(next.AreaExisted());
        next.SetOutput(true);
        const size_t stale = next.Take().size();
        TraceQO("after the viewer died\n");
        EXPECT_EQ(next.Take(), std::vector<std::string>{"after the viewer died\n"});
        std::printf("[ figures ] viewer killed with %ld pending: %d writers done %lld ms after the kill, %zu lines left "
                    "in the ring\n",
                    static_cast<long>(pending), kThreads, afterKill, stale);
        const TraceObjects gone("none");
        trace_testing::Reattach(gone.Names());
    }
}

TEST_F(TraceStressTest, WriterKilledHoldingTheTraceMutexDoesNotStopTheOthers) {
    constexpr int kThreads = 4;
    constexpr int kLines = 300;
    const std::vector<std::string> tags = {"A", "B"};
    TraceReader reader;
    ASSERT_TRUE(reader.Create(m_objects.Names()));
    reader.SetChannels("QO");
    reader.SetOutput(true);
    HANDLE ready = MakeReadyEvent();
    ASSERT_NE(ready, nullptr);
    ChildProcess holder(SiblingProgram("stress_peer"), {"hold-trace-mutex", m_objects.mutex, m_objects.ready});
    ASSERT_TRUE(holder.Started());
    ASSERT_EQ(WaitForSingleObject(ready, 30000), WAIT_OBJECT_0) << "the holder did not take the mutex";
    CloseHandle(ready);
    std::vector<std::unique_ptr<ChildProcess>> writers;
    for (const std::string& tag : tags) {
        std::vector<std::string> arguments = m_objects.Arguments("trace-writer");
        arguments.insert(arguments.end(), {tag, std::to_string(kThreads), std::to_string(kLines)});
        writers.push_back(std::make_unique<ChildProcess>(SiblingProgram("stress_peer"), arguments));
        ASSERT_TRUE(writers.back()->Started());
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the writers wait for the mutex
    holder.Kill();
    std::vector<std::string> lines = Collect(reader, tags.size() * kThreads * kLines, std::chrono::seconds(120));
    for (auto& writer : writers) EXPECT_EQ(writer->Wait(), 0);
    for (std::string& line : reader.Take()) lines.push_back(std::move(line));
    ExpectComplete(lines, tags, kThreads, kLines);
    std::printf("[ figures ] holder killed: %zu lines from %zu processes x %d threads arrived afterwards\n", lines.size(),
                tags.size(), kThreads);
}

// --- registry database, several processes ---

class RegistryStressTest : public testing::Test {
protected:
    void SetUp() override {
        m_database = "/tmp/zanthrop-stress-registry-" + std::to_string(getpid()) + ".db";
        Remove();
        setenv("ZANTHROP_REGISTRY", m_database.c_str(), 1);
    }
    void TearDown() override {
        Remove();
        for (const std::string& file : m_results) std::remove(file.c_str());
    }
    void Remove() {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::remove((m_database + suffix).c_str());
    }

    std::string m_database;
    std::vector<std::string> m_results;
};

std::string IntegrityCheck(const std::string& path) {
    sqlite3* database = nullptr;
    if (sqlite3_open_v2(path.c_str(), &database, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(database);
        return "cannot open";
    }
    std::string result;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(database, "PRAGMA integrity_check", -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            if (!result.empty()) result += "; ";
            result += reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(database);
    return result;
}

TEST_F(RegistryStressTest, FourProcessesWritingAndDeletingForTenSecondsKeepTheDatabaseWhole) {
    constexpr int kProcesses = 4;
    constexpr int kSeconds = 10;
    std::vector<std::unique_ptr<ChildProcess>> writers;
    for (int p = 0; p < kProcesses; ++p) {
        m_results.push_back(m_database + ".result" + std::to_string(p));
        writers.push_back(std::make_unique<ChildProcess>(
            SiblingProgram("stress_peer"),
            std::vector<std::string>{"registry-writer", std::to_string(p), std::to_string(kSeconds), m_results.back()}));
        ASSERT_TRUE(writers.back()->Started());
    }
    // Meanwhile this process reads the tree the writers change.
    long reads = 0;
    const auto end = Clock::now() + std::chrono::seconds(kSeconds);
    while (Clock::now() < end) {
        std::vector<std::string> names;
        CRegistryStore().ListSubKeys(HKEY_CURRENT_USER, "Software\\ZanthropStress", names);
        ++reads;
    }
    for (auto& writer : writers) EXPECT_EQ(writer->Wait(), 0);

    EXPECT_EQ(IntegrityCheck(m_database), "ok");
    long standingKeys = 0, failures = 0;
    long long longestMs = 0;
    std::string perProcess;
    for (int p = 0; p < kProcesses; ++p) {
        SCOPED_TRACE("process " + std::to_string(p));
        std::ifstream result(m_results[static_cast<size_t>(p)]);
        std::string word;
        long failed = -1;
        result >> word >> failed;
        ASSERT_EQ(word, "failures");
        long long longest = 0;
        result >> word >> longest;
        ASSERT_EQ(word, "longest");
        longestMs = std::max(longestMs, longest);
        failures += failed;
        EXPECT_EQ(failed, 0) << "registry calls failed under contention";
        const std::string base = "Software\\ZanthropStress\\P" + std::to_string(p);
        std::string key;
        DWORD expected = 0;
        long missing = 0, wrong = 0, keys = 0;
        while (result >> key >> expected) {
            ++keys;
            HKEY handle = nullptr;
            if (RegOpenKeyExA(HKEY_CURRENT_USER, (base + "\\" + key).c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
                ++missing;
                continue;
            }
            DWORD value = 0, size = sizeof(value), type = 0;
            if (RegQueryValueExA(handle, "v", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
                type != REG_DWORD || value != expected) {
                ++wrong;
            }
            RegCloseKey(handle);
        }
        EXPECT_EQ(missing, 0) << "committed keys are missing";
        EXPECT_EQ(wrong, 0) << "committed values read back wrong";
        EXPECT_GT(keys, 0) << "a writer got no turn in all that time";
        CRegistryStore store;
        store.QueryKeyInfo(HKEY_CURRENT_USER, base);
        EXPECT_EQ(static_cast<long>(store.SubKeyCount()), keys) << "deleted keys are back, or others appeared";
        standingKeys += keys;
        perProcess += (perProcess.empty() ? "" : ", ") + std::to_string(keys);
    }
    std::printf("[ figures ] %d processes for %d s: %ld keys standing (%s; half as many more written and deleted), %ld "
                "failed calls, longest round %lld ms, %ld listings read meanwhile\n",
                kProcesses, kSeconds, standingKeys, perProcess.c_str(), failures, longestMs, reads);
}

}  // namespace
