#include "platform/win32/WinHostInfo.h"

#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>
#include <windows.h>

#include <thread>

#include "platform/win32/WinPlatform.h"

namespace raid::win32 {

namespace {

// Releases a COM interface when it goes out of scope.
template <class T>
class Com {
public:
    Com() = default;
    ~Com() {
        if (p_) p_->Release();
    }
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    T** out() { return &p_; }
    T* operator->() const { return p_; }
    T* get() const { return p_; }

private:
    T* p_ = nullptr;
};

class Bstr {
public:
    explicit Bstr(const wchar_t* s) : b_(::SysAllocString(s)) {}
    explicit Bstr(const std::string& s) {
        const std::wstring w(s.begin(), s.end());  // plain words only: checked before
        b_ = ::SysAllocString(w.c_str());
    }
    ~Bstr() { ::SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return b_; }

private:
    BSTR b_ = nullptr;
};

bool plainWord(const std::string& s) {
    if (s.empty() || s.size() > 128) return false;
    for (const char c : s)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
    return true;
}

std::string narrow(const wchar_t* w, UINT length) {
    if (!w || length == 0) return {};
    const int n = ::WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return out;
}

// A scalar value as text; "" for a null or empty one, or one without a text form.
std::string scalarText(const VARIANT& v) {
    if (v.vt == VT_NULL || v.vt == VT_EMPTY) return {};
    VARIANT t;
    ::VariantInit(&t);
    std::string out;
    if (SUCCEEDED(::VariantChangeType(&t, const_cast<VARIANT*>(&v), VARIANT_ALPHABOOL, VT_BSTR)) && t.bstrVal)
        out = narrow(t.bstrVal, ::SysStringLen(t.bstrVal));
    ::VariantClear(&t);
    return out;
}

std::string valueText(const VARIANT& v) {
    if (!(v.vt & VT_ARRAY)) return scalarText(v);
    SAFEARRAY* a = v.parray;
    if (!a || ::SafeArrayGetDim(a) != 1) return {};
    LONG low = 0, high = -1;
    if (FAILED(::SafeArrayGetLBound(a, 1, &low)) || FAILED(::SafeArrayGetUBound(a, 1, &high))) return {};
    const VARTYPE type = static_cast<VARTYPE>(v.vt & ~VT_ARRAY);
    std::string joined;
    for (LONG i = low; i <= high; ++i) {
        VARIANT e;
        ::VariantInit(&e);
        std::string text;
        if (type == VT_VARIANT) {
            if (SUCCEEDED(::SafeArrayGetElement(a, &i, &e))) text = scalarText(e);
        } else if (type == VT_BSTR) {
            BSTR b = nullptr;
            if (SUCCEEDED(::SafeArrayGetElement(a, &i, &b)) && b) {
                text = narrow(b, ::SysStringLen(b));
                ::SysFreeString(b);
            }
        } else {
            // Numbers and the like: read into the variant's own storage.
            e.vt = type;
            if (SUCCEEDED(::SafeArrayGetElement(a, &i, &e.llVal))) text = scalarText(e);
            e.vt = VT_EMPTY;
        }
        ::VariantClear(&e);
        // An element is joined with ", " only after a text already there.
        if (!joined.empty()) joined += ", ";
        joined += text;
    }
    return joined;
}

std::string queryHere(const std::string& className, const std::string& propertyName) {
    const HRESULT init = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(init)) return {};
    std::string result;
    {
        // The process's COM security, once: later calls answer RPC_E_TOO_LATE, which is
        // fine (the program, or an earlier query, set it up already).
        ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                               nullptr, EOAC_NONE, nullptr);
        Com<IWbemLocator> locator;
        Com<IWbemServices> services;
        Com<IEnumWbemClassObject> rows;
        const Bstr ns(L"ROOT\\CIMV2");
        const Bstr language(L"WQL");
        const Bstr query("SELECT * FROM " + className);
        const std::wstring wideProperty(propertyName.begin(), propertyName.end());
        if (SUCCEEDED(::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                         IID_IWbemLocator, reinterpret_cast<void**>(locator.out()))) &&
            SUCCEEDED(
                locator->ConnectServer(ns.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.out())) &&
            SUCCEEDED(services->ExecQuery(language.get(), query.get(),
                                          WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                          rows.out()))) {
            const long waitMs = static_cast<long>(std::chrono::milliseconds(kQueryTimeout).count());
            for (;;) {
                Com<IWbemClassObject> row;
                ULONG got = 0;
                if (rows->Next(waitMs, 1, row.out(), &got) != WBEM_S_NO_ERROR || got == 0) break;
                VARIANT v;
                ::VariantInit(&v);
                if (SUCCEEDED(row->Get(wideProperty.c_str(), 0, &v, nullptr, nullptr))) result = valueText(v);
                ::VariantClear(&v);
                if (!result.empty()) break;
            }
        }
    }
    ::CoUninitialize();
    return result;
}

class WmiHostInfo final : public HostInfoPort {
public:
    std::string query(const std::string& className, const std::string& propertyName) override {
        if (!plainWord(className) || !plainWord(propertyName)) return {};
        std::string result;
        std::thread worker([&] { result = queryHere(className, propertyName); });
        worker.join();
        return result;
    }
};

}  // namespace

std::unique_ptr<HostInfoPort> makeHostInfo() { return std::make_unique<WmiHostInfo>(); }

}  // namespace raid::win32
