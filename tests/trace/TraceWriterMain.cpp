// A writer process for the cross-process trace tests.
//   trace_writer AREA MUTEX EVENT write TAG COUNT   writes COUNT lines "TAG n\n" on channel qo
//   trace_writer AREA MUTEX EVENT die-holding-mutex takes the trace mutex and exits holding it
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "trace/Trace.h"
#include "trace/TraceSink.h"

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    const TraceNames names{argv[1], argv[2], argv[3]};
    const std::string mode = argv[4];
    if (mode == "die-holding-mutex") {
        HANDLE mutex = CreateMutexA(nullptr, FALSE, names.mutex);
        if (mutex == nullptr || WaitForSingleObject(mutex, 5000) == WAIT_TIMEOUT) return 3;
        std::_Exit(0);  // ends without releasing it
    }
    if (mode == "write" && argc >= 7) {
        trace_testing::Reattach(names);
        if (!TraceOutputOn()) return 4;
        const int count = std::atoi(argv[6]);
        for (int i = 0; i < count; ++i) TraceQO("%s %d\n", argv[5], i);
        return 0;
    }
    return 2;
}
