/* Built for the MSVC target and linked by an MSVC-compatible linker (lld-link) against corvo-wgc.lib,
 * without a C runtime: the import library in MSVC's format binds the DLL's exports by name. Exit code 42 when
 * the calls reached the DLL and a null session reads as not capturing. */
__declspec(dllimport) unsigned char is_wgc_session_supported(void);
__declspec(dllimport) unsigned char wgc_get_status(void *session);
__declspec(dllimport) void __stdcall ExitProcess(unsigned int code);

void start(void) {
    is_wgc_session_supported();
    ExitProcess(wgc_get_status(0) == 0 ? 42u : 1u);
}
