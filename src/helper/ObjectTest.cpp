// orbel-object-test PROGID: the object test in a process of its own, so that
// a server that crashes or hangs takes only this process down. Resolves the
// programmatic identifier, creates the object (in-process or local server,
// IUnknown) and asks it for IDispatch, then releases everything.
//
// Prints "created" and exits 0 when all three steps succeeded; prints the
// step that failed with its result and exits 1 otherwise; exits 2 on a usage
// error. Windows (and Wine) only.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <cstdio>

namespace {

int NotCreated(const char* step, HRESULT result) {
  std::printf("not created: %s 0x%08lx\n", step, static_cast<unsigned long>(result));
  std::fflush(stdout);
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 || argv[1][0] == L'\0') {
    std::fputs("usage: orbel-object-test PROGID\n", stderr);
    return 2;
  }
  // No error boxes: a failure ends the process and the caller reads its outcome.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  const HRESULT initialised = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(initialised)) return NotCreated("CoInitializeEx", initialised);
  int outcome = 0;
  CLSID clsid{};
  HRESULT result = CLSIDFromProgID(argv[1], &clsid);
  if (FAILED(result)) {
    outcome = NotCreated("CLSIDFromProgID", result);
  } else {
    IUnknown* unknown = nullptr;
    result = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                              IID_IUnknown, reinterpret_cast<void**>(&unknown));
    if (FAILED(result) || unknown == nullptr) {
      outcome = NotCreated("CoCreateInstance", result);
    } else {
      IDispatch* dispatch = nullptr;
      result = unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
      unknown->Release();
      if (FAILED(result) || dispatch == nullptr) {
        outcome = NotCreated("QueryInterface(IDispatch)", result);
      } else {
        dispatch->Release();
        std::puts("created");
        std::fflush(stdout);
      }
    }
  }
  CoUninitialize();
  return outcome;
}
