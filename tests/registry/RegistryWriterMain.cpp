// A writer process for the concurrent-writer test of the registry store.
//   registry_writer PATH PREFIX COUNT   writes COUNT texts PREFIXn = "n" below HKEY_CURRENT_USER\PATH
// The exit code is 0 when every write succeeded.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "registry/CRegistryStore.h"

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const std::string path = argv[1];
    const std::string prefix = argv[2];
    const int count = std::atoi(argv[3]);
    bool ok = true;
    for (int i = 0; i < count; ++i) {
        CRegistryStore store;  // short-lived, as its users make it
        ok = store.WriteString(HKEY_CURRENT_USER, path, prefix + std::to_string(i), std::to_string(i)) && ok;
    }
    return ok ? 0 : 1;
}
