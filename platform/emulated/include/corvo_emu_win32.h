/* The few Win32 and COM base types that the emulated platform provides on non-Windows hosts, with the
 * names, sizes and values they have on Windows. Compiles as C99 and as C++. */
#ifndef CORVO_EMU_WIN32_H
#define CORVO_EMU_WIN32_H

#include <stddef.h>
#include <stdint.h>

typedef int32_t HRESULT;
typedef int32_t BOOL;
typedef uint32_t UINT;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef size_t SIZE_T;
typedef float FLOAT;
typedef uint32_t UINT32;
typedef uint64_t UINT64;
#ifdef __cplusplus
typedef char16_t WCHAR;
#else
typedef uint16_t WCHAR;
#endif
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;

typedef struct HWND__ *HWND;
typedef struct HMONITOR__ *HMONITOR;
typedef struct HMODULE__ *HMODULE;

typedef struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;
typedef GUID IID;

#define STDMETHODCALLTYPE
#define WINAPI

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_FAIL ((HRESULT)0x80004005)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define E_ILLEGAL_METHOD_CALL ((HRESULT)0x8000000E)
#define RO_E_CLOSED ((HRESULT)0x80000013)
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106)
#define RPC_E_WRONG_THREAD ((HRESULT)0x8001010E)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#ifdef __cplusplus
/* Slots 0, 1 and 2 of every emulated object, as on Windows. */
struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(const IID &riid, void **object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
    ~IUnknown() = default;
};
#else
typedef struct IUnknown IUnknown;
#endif

typedef struct POINT {
    LONG x;
    LONG y;
} POINT;

/* Left and top inclusive, right and bottom exclusive. */
typedef struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT;

typedef struct LUID {
    DWORD LowPart;
    LONG HighPart;
} LUID;

typedef struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
    DWORD lPrivate;
} MSG;

typedef struct CO_MTA_USAGE_COOKIE__ *CO_MTA_USAGE_COOKIE;
typedef void(WINAPI *PFLS_CALLBACK_FUNCTION)(void *value);

#define FLS_OUT_OF_INDEXES 0xFFFFFFFFu

#define COINIT_MULTITHREADED 0x0u
#define COINIT_APARTMENTTHREADED 0x2u
#define PM_NOREMOVE 0x0u
#define PM_REMOVE 0x1u
#define WM_QUIT 0x0012u
#define WM_USER 0x0400u
#define WM_APP 0x8000u

#ifdef __cplusplus
extern "C" {
#endif
/* COM apartments and the thread's message queue, with the semantics of their Windows namesakes. */
HRESULT WINAPI CoInitializeEx(void *reserved, DWORD coinit);
void WINAPI CoUninitialize(void);
HRESULT WINAPI CoIncrementMTAUsage(CO_MTA_USAGE_COOKIE *cookie);
BOOL WINAPI PeekMessageW(MSG *msg, HWND window, UINT filter_min, UINT filter_max, UINT remove);
BOOL WINAPI TranslateMessage(const MSG *msg);
LRESULT WINAPI DispatchMessageW(const MSG *msg);
/* A message for a window goes to the queue of the thread that created it; a null window means the calling
 * thread. FALSE for a handle that is no window, or whose thread has ended. */
BOOL WINAPI PostMessageW(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
void WINAPI PostQuitMessage(int exit_code);
/* Whether the handle is a window that exists: simulated windows cease to at corvo_emu_close. */
BOOL WINAPI IsWindow(HWND window);
/* Fiber-local storage, a fiber being a thread here: a value per thread and index; as a thread ends, the index's
 * callback runs on it with each value it set that is not null. */
DWORD WINAPI FlsAlloc(PFLS_CALLBACK_FUNCTION callback);
BOOL WINAPI FlsFree(DWORD index);
BOOL WINAPI FlsSetValue(DWORD index, void *value);
void *WINAPI FlsGetValue(DWORD index);
#ifdef __cplusplus
}
#endif

#endif
