// Apartments exist only as bookkeeping here: every thread may use COM, objects are called
// directly, and nothing is marshalled. What is kept is what callers can observe: the per-thread
// nesting count, the kind of apartment (RPC_E_CHANGED_MODE), whether an activation has an
// apartment at all (CO_E_NOTINITIALIZED), and which class registrations an apartment sees.
#include "Activation.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

namespace {

using pal::ApartmentId;

// Guards mtaThreads. Held while the last thread leaves the MTA and its registrations are taken,
// so that a thread entering meanwhile cannot lose the registrations it makes after entering.
std::mutex mtaLock;
int mtaThreads = 0;  // threads that entered the MTA with CoInitializeEx and have not left

std::atomic<ApartmentId> nextSingleThreaded{pal::kMultiThreadedApartment + 1};

void Release(pal::ClassRegistrations& registrations) {
    for (pal::ClassRegistration& registration : registrations) registration.classObject->Release();
}

void Leave(ApartmentId apartment) {
    pal::ClassRegistrations revoked;
    if (apartment == pal::kMultiThreadedApartment) {
        std::lock_guard<std::mutex> guard(mtaLock);
        if (--mtaThreads > 0) return;
        revoked = pal::TakeRegistrationsOf(apartment);
    } else {
        revoked = pal::TakeRegistrationsOf(apartment);
    }
    Release(revoked);
}

bool IsMainThread() { return syscall(SYS_gettid) == getpid(); }

struct ThreadApartment {
    int count = 0;  // successful CoInitializeEx calls not yet undone
    ApartmentId id = pal::kNoApartment;

    // A thread that ends inside an apartment leaves it, as on Windows. Not so the main thread at
    // process exit: objects its registrations refer to may be gone already.
    ~ThreadApartment() {
        if (count > 0 && !IsMainThread()) Leave(id);
    }
};

thread_local ThreadApartment thisThread;

}  // namespace

namespace pal {
ApartmentId CurrentApartment() {
    if (thisThread.count > 0) return thisThread.id;
    std::lock_guard<std::mutex> guard(mtaLock);
    return mtaThreads > 0 ? kMultiThreadedApartment : kNoApartment;
}
}  // namespace pal

STDAPI CoInitializeEx(LPVOID /*pvReserved*/, DWORD dwCoInit) {
    const bool multiThreaded = (dwCoInit & COINIT_APARTMENTTHREADED) == 0;
    ThreadApartment& self = thisThread;
    if (self.count > 0) {
        if (multiThreaded != (self.id == pal::kMultiThreadedApartment)) return RPC_E_CHANGED_MODE;
        ++self.count;
        return S_FALSE;
    }
    if (multiThreaded) {
        std::lock_guard<std::mutex> guard(mtaLock);
        ++mtaThreads;
        self.id = pal::kMultiThreadedApartment;
    } else {
        self.id = nextSingleThreaded++;
    }
    self.count = 1;
    return S_OK;
}

STDAPI CoInitialize(LPVOID pvReserved) { return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED); }

STDAPI_(void) CoUninitialize(void) {
    ThreadApartment& self = thisThread;
    if (self.count == 0) return;
    if (--self.count > 0) return;
    const ApartmentId left = self.id;
    self.id = pal::kNoApartment;
    Leave(left);
}
