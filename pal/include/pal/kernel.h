// Kernel objects: named shared memory, named mutexes whose owner may die, named events, waits,
// handles, the high-resolution counter and the executable's path.
//
// Named objects live in POSIX shared memory: the object named N is the file
// "/dev/shm/zanthrop.<kind>.N" (kind: mapping, mutex, event; every "/" or "\" in N becomes "_"),
// so names of different kinds never collide, as on Windows where they share one namespace but
// the module never reuses a name across kinds. A process with handles on an object keeps its file
// open (and mapped once) with a shared flock on it; an object goes with its last handle, also when
// the processes holding it were killed (the next one to find it removes it).
#pragma once

#include "pal/types.h"

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

#define SYNCHRONIZE 0x00100000u
#define EVENT_MODIFY_STATE 0x0002u
#define EVENT_ALL_ACCESS 0x1F0003u
#define MUTEX_ALL_ACCESS 0x1F0001u
#define PAGE_READWRITE 0x04u
#define FILE_MAP_WRITE 0x0002u
#define FILE_MAP_READ 0x0004u
#define FILE_MAP_ALL_ACCESS 0xF001Fu

typedef struct _SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;  // never dereferenced

// Closes any handle of this layer. FALSE with ERROR_INVALID_HANDLE for anything else.
extern "C" BOOL CloseHandle(HANDLE handle);

// Shared memory. hFile must be INVALID_HANDLE_VALUE (memory backed by no file). Creating an
// existing mapping opens it and sets ERROR_ALREADY_EXISTS; opening a missing one fails with
// ERROR_FILE_NOT_FOUND. A view covers the whole area when dwNumberOfBytesToMap is 0.
extern "C" HANDLE CreateFileMappingA(HANDLE hFile, LPSECURITY_ATTRIBUTES attributes, DWORD flProtect,
                                     DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCSTR lpName);
extern "C" HANDLE OpenFileMappingA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
extern "C" LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                                DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap);
extern "C" BOOL UnmapViewOfFile(LPCVOID lpBaseAddress);

// Mutexes: owned by a thread, re-enterable by their owner. A wait that finds the owner gone
// (thread or process ended while holding it) acquires it and returns WAIT_ABANDONED.
extern "C" HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES attributes, BOOL bInitialOwner, LPCSTR lpName);
extern "C" HANDLE OpenMutexA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
extern "C" BOOL ReleaseMutex(HANDLE hMutex);

// Events, manual- or automatic-reset. An automatic-reset event releases one waiter and resets. A
// waiter that is killed leaves nothing behind that could hold up SetEvent.
extern "C" HANDLE CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL bManualReset, BOOL bInitialState, LPCSTR lpName);
extern "C" HANDLE OpenEventA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
extern "C" BOOL SetEvent(HANDLE hEvent);
extern "C" BOOL ResetEvent(HANDLE hEvent);

// Waits for a mutex or an event; WAIT_TIMEOUT after dwMilliseconds (INFINITE: no limit).
extern "C" DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);

// A monotonic counter in nanoseconds: the frequency is 1,000,000,000.
extern "C" BOOL QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount);
extern "C" BOOL QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency);

// Shared libraries: LoadLibraryA loads (or finds) one by path (ERROR_MOD_NOT_FOUND when it
// cannot), GetProcAddress finds an exported function, FreeLibrary lets go of it.
typedef void (*FARPROC)(void);
extern "C" HMODULE LoadLibraryA(LPCSTR lpLibFileName);
extern "C" FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
extern "C" BOOL FreeLibrary(HMODULE hLibModule);

// The path of the executable (hModule null) or of the loaded module hModule. Returns the
// length written without the NUL; a path that does not fit is cut to nSize characters (no NUL), nSize
// is returned and ERROR_INSUFFICIENT_BUFFER set.
extern "C" DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

// The module that holds an address: only GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS lookups are
// supported (ERROR_INVALID_PARAMETER otherwise). Without ..._UNCHANGED_REFCOUNT the handle holds
// a reference that FreeLibrary releases.
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x2u
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x4u
extern "C" BOOL GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule);
