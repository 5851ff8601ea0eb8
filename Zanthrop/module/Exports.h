// Marks the module's entry points for export: the .def file names them on Windows; on Linux
// they are the only symbols the library shows by default visibility.
#pragma once

#ifdef _WIN32
#define ZANTHROP_EXPORT
#else
#define ZANTHROP_EXPORT __attribute__((visibility("default")))
#endif
