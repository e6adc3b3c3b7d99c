#include "platform/win32/Win32Services.h"

#include <windows.h>
// COM and WMI after windows.h.
#include <objbase.h>
#include <wbemidl.h>
#include <winsvc.h>

#include <string>

namespace kestrel::win32 {
namespace {

SC_HANDLE ToSc(ScHandle h) { return reinterpret_cast<SC_HANDLE>(static_cast<uintptr_t>(h)); }
ScHandle FromSc(SC_HANDLE h) { return static_cast<ScHandle>(reinterpret_cast<uintptr_t>(h)); }

std::wstring Wide(const std::string& s) {
    // The query is the program's own ASCII text.
    return std::wstring(s.begin(), s.end());
}

template <class T>
void Release(T*& p) {
    if (p != nullptr) p->Release();
    p = nullptr;
}

}  // namespace

ScHandle Win32Services::OpenSCManagerA(uint32_t access) { return FromSc(::OpenSCManagerA(nullptr, nullptr, access)); }

ScHandle Win32Services::OpenServiceA(ScHandle manager, const std::string& name, uint32_t access) {
    return FromSc(::OpenServiceA(ToSc(manager), name.c_str(), access));
}

bool Win32Services::QueryServiceStatus(ScHandle service, wire::SERVICE_STATUS& status) {
    // Same layout as the SDK's record (platform/wire/sdkcheck).
    return ::QueryServiceStatus(ToSc(service), reinterpret_cast<LPSERVICE_STATUS>(&status)) != FALSE;
}

bool Win32Services::StartServiceA(ScHandle service) { return ::StartServiceA(ToSc(service), 0, nullptr) != FALSE; }

bool Win32Services::CloseServiceHandle(ScHandle handle) { return ::CloseServiceHandle(ToSc(handle)) != FALSE; }

uint32_t Win32Services::GetLastError() { return ::GetLastError(); }

bool Win32Services::WmiCountInstances(const std::string& query, uint32_t connectFlags, uint32_t& count) {
    count = 0;
    // The single-threaded apartment; a thread already in it is fine (S_FALSE), and is uninitialised
    // again like any other.
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return false;
    // Fails harmlessly when the process already set its security.
    ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE,
                           nullptr);

    IWbemLocator* locator = nullptr;
    IWbemServices* services = nullptr;
    IEnumWbemClassObject* instances = nullptr;
    bool ok = false;
    BSTR ns = ::SysAllocString(L"ROOT\\CIMV2");
    BSTR lang = ::SysAllocString(L"WQL");
    const std::wstring wq = Wide(query);
    BSTR text = ::SysAllocString(wq.c_str());
    do {
        if (ns == nullptr || lang == nullptr || text == nullptr) break;
        if (FAILED(::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                      reinterpret_cast<void**>(&locator))))
            break;
        if (FAILED(locator->ConnectServer(ns, nullptr, nullptr, nullptr, static_cast<long>(connectFlags), nullptr, nullptr, &services)))
            break;
        if (FAILED(::CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                                       RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE)))
            break;
        if (FAILED(services->ExecQuery(lang, text, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, &instances)))
            break;
        for (;;) {
            IWbemClassObject* object = nullptr;
            ULONG returned = 0;
            const HRESULT hr = instances->Next(static_cast<long>(WBEM_INFINITE), 1, &object, &returned);
            if (hr != S_OK || returned == 0 || object == nullptr) {
                Release(object);
                break;
            }
            ++count;
            Release(object);
        }
        ok = true;
    } while (false);
    Release(instances);
    Release(services);
    Release(locator);
    ::SysFreeString(text);
    ::SysFreeString(lang);
    ::SysFreeString(ns);
    ::CoUninitialize();
    return ok;
}

}  // namespace kestrel::win32
