// Resident size of a process that loaded the module and made one converter with a connection,
// against the same process without the module. Each repetition starts a fresh child process (this
// program in child mode), so that neither side inherits the other's pages.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include <unistd.h>

#include "com/ComPtr.h"
#include "com/TextConversion.h"
#include "interfaces/ZanthropIds.h"
#include "sim/SimObjects.h"

namespace {

constexpr const char* kChildFlag = "--resident-child=";

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);

std::string ProgramPath() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

// VmRSS of this process in kB, or -1.
long ResidentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

// Whether a trace viewer's area exists on the machine: the module then attaches it and traces
// into it, and its resident size grows by the pages that touches.
bool TraceViewerPresent() {
    HANDLE area = OpenFileMappingA(FILE_MAP_READ, FALSE, kTraceOutputName);
    if (area == nullptr) return false;
    CloseHandle(area);
    return true;
}

// The child: the simulated framework with a loopback stack factory and a device configuration,
// then (withModule) the module loaded by path, its class object, one legacy converter and its
// Create. Prints the resident size in kB and whether a trace viewer was present (0 or 1), or
// nothing when a step failed.
int RunChild(bool withModule) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    long resident = -1;
    {
        SimFramework framework;
        SimWorld::Instance().SetRecording(false);
        ComPtr<IStackFactory> factory = SimStackFactory::Make();
        ComPtr<IZTK_DeviceConfig> config = SimDeviceConfig::Make("[NET]NET:TAVRIN;[DRVR]PORT:COM1;NODE:5;");
        HMODULE module = nullptr;
        ComPtr<IZTK_ProtocolConverter> converter;
        bool ready = true;
        if (withModule) {
            const std::string program = ProgramPath();
            module = LoadLibraryA((program.substr(0, program.find_last_of('/') + 1) + "Zanthrop.so").c_str());
            GetClassObjectFunction getClassObject = nullptr;
            if (module != nullptr) {
                void* entry = reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject"));
                getClassObject = reinterpret_cast<GetClassObjectFunction>(entry);
            }
            ComPtr<IClassFactory> classObject;
            std::basic_string<WCHAR> name = ToWide("LEGACY");
            ready = getClassObject != nullptr &&
                    getClassObject(CLSID_CoZTK_ProtocolConverter, IID_IClassFactory, classObject.PutVoid()) == S_OK &&
                    classObject->CreateInstance(nullptr, IID_IZTK_ProtocolConverter, converter.PutVoid()) == S_OK &&
                    converter->Create(nullptr, reinterpret_cast<USHORT*>(name.data()), factory.Get(), config.Get(),
                                      config.Get()) == S_OK;
        }
        if (ready) resident = ResidentKb();
        if (converter) converter->Destroy();
        converter.Reset();
        if (module != nullptr) FreeLibrary(module);
    }
    CoUninitialize();
    if (resident < 0) return 1;
    std::printf("%ld %d\n", resident, TraceViewerPresent() ? 1 : 0);
    return 0;
}

// Runs the child once; its resident size in kB (or -1) and whether a trace viewer was present.
long MeasureChild(bool withModule, int& viewer) {
    const std::string command = "'" + ProgramPath() + "' " + kChildFlag + (withModule ? "with" : "without");
    FILE* child = popen(command.c_str(), "r");
    if (child == nullptr) return -1;
    long resident = -1;
    if (std::fscanf(child, "%ld %d", &resident, &viewer) != 2) resident = -1;
    return pclose(child) == 0 ? resident : -1;
}

void ResidentBench(benchmark::State& state, bool withModule) {
    long resident = -1;
    int viewer = 0;
    for (auto _ : state) {
        resident = MeasureChild(withModule, viewer);
        if (resident < 0) state.SkipWithError("the child process failed");
    }
    state.counters["resident_kb"] = static_cast<double>(resident);
    state.counters["trace_viewer_present"] = viewer;
}

void BM_ResidentWithModule(benchmark::State& state) { ResidentBench(state, true); }
BENCHMARK(BM_ResidentWithModule)->Iterations(1);

void BM_ResidentWithoutModule(benchmark::State& state) { ResidentBench(state, false); }
BENCHMARK(BM_ResidentWithoutModule)->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strncmp(argv[1], kChildFlag, std::strlen(kChildFlag)) == 0) {
        return RunChild(std::strcmp(argv[1] + std::strlen(kChildFlag), "with") == 0);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
