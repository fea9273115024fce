// COM apartments: per-thread initialisation with its count, and the process's multithreaded apartment.
#include <atomic>

#include "corvo_emu_win32.h"
#include "platform/emulated/com.h"
#include "platform/emulated/system.h"

namespace corvo::emu {
namespace {

enum class Apartment { none, multithreaded, single_threaded };

thread_local Apartment apartment = Apartment::none;
thread_local unsigned init_count = 0;
std::atomic<int> mta_users{0};

}  // namespace

bool com_usable_on_this_thread() { return apartment != Apartment::none || mta_users.load() > 0; }

}  // namespace corvo::emu

using namespace corvo::emu;

extern "C" {

HRESULT WINAPI CoInitializeEx(void *, DWORD coinit) {
    if (const HRESULT hr = call("CoInitializeEx"); FAILED(hr)) return hr;
    const Apartment wanted =
        (coinit & COINIT_APARTMENTTHREADED) ? Apartment::single_threaded : Apartment::multithreaded;
    if (apartment != Apartment::none && apartment != wanted) return RPC_E_CHANGED_MODE;
    ++init_count;
    if (apartment == wanted) return S_FALSE;
    apartment = wanted;
    if (wanted == Apartment::multithreaded) ++mta_users;
    return S_OK;
}

void WINAPI CoUninitialize(void) {
    call("CoUninitialize");
    if (init_count == 0 || --init_count > 0) return;
    if (apartment == Apartment::multithreaded) --mta_users;
    apartment = Apartment::none;
}

HRESULT WINAPI CoIncrementMTAUsage(CO_MTA_USAGE_COOKIE *cookie) {
    if (!cookie) return E_POINTER;
    if (const HRESULT hr = call("CoIncrementMTAUsage"); FAILED(hr)) return hr;
    ++mta_users;
    *cookie = reinterpret_cast<CO_MTA_USAGE_COOKIE>(static_cast<uintptr_t>(1));
    return S_OK;
}

}  // extern "C"
