#include "ComDispatch.h"
#include "WideText.h"

#include "platform/Error.h"

#include <utility>

namespace zeph::win32 {

Variant::Variant(const std::string &text) {
    ::VariantInit(&m_value);
    m_value.vt = VT_BSTR;
    m_value.bstrVal = ::SysAllocString(widen(text).c_str());
}

Variant::Variant(bool value) {
    ::VariantInit(&m_value);
    m_value.vt = VT_BOOL;
    m_value.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

Variant Variant::missing() {
    Variant v;
    v.m_value.vt = VT_ERROR;
    v.m_value.scode = DISP_E_PARAMNOTFOUND;
    return v;
}

Variant::Variant(Variant &&other) noexcept {
    m_value = other.m_value;
    ::VariantInit(&other.m_value);
}

bool Variant::isEmpty() const {
    return m_value.vt == VT_EMPTY || m_value.vt == VT_NULL ||
           (m_value.vt == VT_DISPATCH && m_value.pdispVal == nullptr);
}

std::string Variant::toText() const {
    VARIANT text;
    ::VariantInit(&text);
    if (FAILED(::VariantChangeType(&text, const_cast<VARIANT *>(&m_value), 0, VT_BSTR)))
        return {};
    std::string out = narrow(text.bstrVal ? text.bstrVal : L"");
    ::VariantClear(&text);
    return out;
}

long Variant::toLong() const {
    VARIANT number;
    ::VariantInit(&number);
    if (FAILED(::VariantChangeType(&number, const_cast<VARIANT *>(&m_value), 0, VT_I4)))
        throw Error(errnum::kInternal, "the object returned no number");
    return number.lVal;
}

Dispatch::~Dispatch() {
    if (m_object)
        m_object->Release();
}

Dispatch::Dispatch(Dispatch &&other) noexcept
    : m_object(std::exchange(other.m_object, nullptr)) {}

Dispatch &Dispatch::operator=(Dispatch &&other) noexcept {
    if (this != &other) {
        if (m_object)
            m_object->Release();
        m_object = std::exchange(other.m_object, nullptr);
    }
    return *this;
}

Dispatch Dispatch::create(const std::wstring &programId) {
    CLSID id{};
    if (FAILED(::CLSIDFromProgID(programId.c_str(), &id)))
        return {};
    IDispatch *object = nullptr;
    const HRESULT result = ::CoCreateInstance(id, nullptr, CLSCTX_ALL, IID_IDispatch,
                                              reinterpret_cast<void **>(&object));
    if (result == REGDB_E_CLASSNOTREG)
        return {};
    if (FAILED(result))
        throw Error(static_cast<long>(result), systemMessage(static_cast<DWORD>(result)));
    return Dispatch(object);
}

Variant Dispatch::call(const wchar_t *name, std::vector<Variant> arguments) {
    return invoke(name, DISPATCH_METHOD | DISPATCH_PROPERTYGET, arguments);
}

Variant Dispatch::get(const wchar_t *name) {
    std::vector<Variant> none;
    return invoke(name, DISPATCH_PROPERTYGET, none);
}

Dispatch Dispatch::objectOf(Variant &&result) {
    VARIANT &v = *result.get();
    if (v.vt != VT_DISPATCH || v.pdispVal == nullptr)
        return {};
    IDispatch *object = v.pdispVal;
    object->AddRef();
    return Dispatch(object);
}

Variant Dispatch::invoke(const wchar_t *name, WORD kind, std::vector<Variant> &arguments) {
    if (!m_object)
        throw Error(errnum::kInternal, "Object variable not set");
    DISPID member = 0;
    auto *memberName = const_cast<LPOLESTR>(name);
    HRESULT result =
        m_object->GetIDsOfNames(IID_NULL, &memberName, 1, LOCALE_USER_DEFAULT, &member);
    if (FAILED(result))
        throw Error(static_cast<long>(result),
                    "Object doesn't support this property or method: " + narrow(name));
    // Automation takes the arguments last first.
    std::vector<VARIANT> reversed;
    for (auto it = arguments.rbegin(); it != arguments.rend(); ++it)
        reversed.push_back(it->value());
    DISPPARAMS parameters{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    Variant answer;
    EXCEPINFO exception{};
    result = m_object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, kind, &parameters,
                              answer.get(), &exception, nullptr);
    if (FAILED(result)) {
        std::string text;
        long number = static_cast<long>(result);
        if (result == DISP_E_EXCEPTION) {
            if (exception.pfnDeferredFillIn)
                exception.pfnDeferredFillIn(&exception);
            text = narrow(exception.bstrDescription ? exception.bstrDescription : L"");
            number = exception.scode ? static_cast<long>(exception.scode)
                                     : static_cast<long>(exception.wCode);
            ::SysFreeString(exception.bstrSource);
            ::SysFreeString(exception.bstrDescription);
            ::SysFreeString(exception.bstrHelpFile);
        }
        throw Error(number, text.empty() ? systemMessage(static_cast<DWORD>(number)) : text);
    }
    return answer;
}

ComApartment::ComApartment() {
    const HRESULT result = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    m_initialised = SUCCEEDED(result);
}

ComApartment::~ComApartment() {
    if (m_initialised)
        ::CoUninitialize();
}

} // namespace zeph::win32
