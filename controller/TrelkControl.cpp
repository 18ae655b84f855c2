#include "controller/TrelkControl.h"

#include "controller/ControlRegistry.h"
#include "controller/ControlSite.h"
#include "controller/CountedObject.h"

#include <windows.h>
#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>
#include <wrl/client.h>

#include <algorithm>
#include <climits>
#include <cwchar>
#include <vector>

namespace {

using Microsoft::WRL::ComPtr;

enum : DISPID {
    kGetJobError = 4,
    kBeginShowVar = 16,
    kGetShowVarResult = 17,
    kBeginSetVar = 18,
    kGetSetVarResult = 19,
    kConnectClient = 117,
    kDisconnectClient = 118,
};

void check(HRESULT hr, const char *what)
{
    if (FAILED(hr))
        throw TrelkControlError(std::string(what) + ": " + describe(hr));
}

// A text the program owns; the control may replace it when passed by reference.
class Bstr
{
public:
    explicit Bstr(const std::wstring &text) : m_b(SysAllocStringLen(text.data(), UINT(text.size())))
    {
        if (!m_b)
            throw TrelkControlError("out of memory for a text argument");
    }
    ~Bstr() { SysFreeString(m_b); }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    BSTR *address() { return &m_b; }
    BSTR get() const { return m_b; }
    std::wstring text() const { return m_b ? std::wstring(m_b, SysStringLen(m_b)) : std::wstring(); }

private:
    BSTR m_b;
};

// An argument of the type, its value set by `set`.
template <typename Set>
VARIANTARG argument(VARTYPE type, Set set)
{
    VARIANTARG v;
    VariantInit(&v);
    V_VT(&v) = type;
    set(v);
    return v;
}

// Arguments point at texts and numbers the caller keeps alive and frees.
VARIANTARG byValue(BSTR text) { return argument(VT_BSTR, [&](VARIANTARG &v) { V_BSTR(&v) = text; }); }
VARIANTARG byValue(short number) { return argument(VT_I2, [&](VARIANTARG &v) { V_I2(&v) = number; }); }
VARIANTARG byValue(long number) { return argument(VT_I4, [&](VARIANTARG &v) { V_I4(&v) = number; }); }
VARIANTARG byReference(BSTR *text)
{
    return argument(VT_BYREF | VT_BSTR, [&](VARIANTARG &v) { V_BSTRREF(&v) = text; });
}
VARIANTARG byReference(short *number)
{
    return argument(VT_BYREF | VT_I2, [&](VARIANTARG &v) { V_I2REF(&v) = number; });
}

// A VARIANT that owns what it holds and clears it when it goes. (comutil's
// _variant_t needs a support library that only MSVC ships.)
class Variant
{
public:
    Variant() { VariantInit(&m_value); }
    ~Variant() { VariantClear(&m_value); }
    Variant(Variant &&other) noexcept : m_value(other.m_value) { VariantInit(&other.m_value); }
    Variant(const Variant &) = delete;
    Variant &operator=(const Variant &) = delete;
    Variant &operator=(Variant &&) = delete;

    VARIANT *get() { return &m_value; }
    const VARIANT &value() const { return m_value; }

private:
    VARIANT m_value;
};

// Any number a control may answer with (BOOL, I2, I4, also by reference).
// Leaves `number` as it was.
bool toLong(const VARIANT &value, long &number)
{
    Variant plain;
    Variant converted;
    HRESULT hr = VariantCopyInd(plain.get(), const_cast<VARIANT *>(&value)); // reads only
    if (SUCCEEDED(hr))
        hr = VariantChangeType(converted.get(), plain.get(), 0, VT_I4);
    if (SUCCEEDED(hr))
        number = V_I4(converted.get());
    return SUCCEEDED(hr);
}

bool fitsJobNumber(long number)
{
    return number >= SHRT_MIN && number <= SHRT_MAX;
}

// Receives the control's events; only the job-finished one is passed on.
class EventSink final : public CountedObject<IDispatch>
{
public:
    EventSink(const IID &events, DISPID jobFinished, TrelkControl::JobFinishedHandler handler)
        : m_events(events), m_jobFinished(jobFinished), m_handler(std::move(handler))
    {
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, m_events)) {
            *object = static_cast<IDispatch *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS *params, VARIANT *, EXCEPINFO *,
                                     UINT *) override
    {
        // Known by name from the type information; only a control without
        // any is taken at its one event with two arguments.
        const bool isJobFinished = m_jobFinished != DISPID_UNKNOWN ? id == m_jobFinished
                                                                    : params && params->cArgs == 2;
        if (!isJobFinished)
            return S_OK;
        if (!params || params->cArgs != 2)
            return DISP_E_BADPARAMCOUNT;
        long job = 0;
        long status = 0;
        if (!toLong(params->rgvarg[1], job) || !toLong(params->rgvarg[0], status))
            return DISP_E_TYPEMISMATCH;
        if (!fitsJobNumber(job))
            return DISP_E_OVERFLOW;
        if (!m_handler)
            return S_OK; // the host has gone
        try {
            m_handler(short(job), status);
        } catch (...) {
            return E_UNEXPECTED; // nothing may cross back into the control
        }
        return S_OK;
    }

    // Called before Unadvise: a control may still fire into a sink it holds,
    // and the handler's owner is going.
    void forgetHandler() { m_handler = nullptr; }

private:
    IID m_events;
    DISPID m_jobFinished;
    TrelkControl::JobFinishedHandler m_handler;
};

const wchar_t kHostClass[] = L"TavrinTrelkHost";

HWND createHostWindow()
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kHostClass;
    RegisterClassW(&windowClass); // fails harmlessly when registered already
    // Hidden, never shown: it only gives the control a parent and a message
    // queue. Without a desktop (a service, Wine without a display) a
    // message-only window does the same.
    HWND window = CreateWindowExW(0, kHostClass, L"Trelk", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (!window)
        window = CreateWindowExW(0, kHostClass, L"Trelk", 0, 0, 0, 100, 100, HWND_MESSAGE, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    if (!window)
        check(HRESULT_FROM_WIN32(GetLastError()), "Creating the control's host window");
    return window;
}

bool meansNotRegistered(HRESULT hr)
{
    return hr == REGDB_E_CLASSNOTREG || hr == CO_E_CLASSSTRING || hr == REGDB_E_KEYMISSING;
}

// The type library registered for the class (its TypeLib and Version keys).
ComPtr<ITypeLib> registeredTypeLibrary(const CLSID &classId)
{
    ComPtr<ITypeLib> library;
    const std::wstring key = classKey(classId);
    std::wstring libraryText, version;
    GUID libraryId{};
    if (!classesValue(key + L"\\TypeLib", 0, libraryText) ||
        FAILED(CLSIDFromString(libraryText.c_str(), &libraryId)))
        return library;
    if (!classesValue(key + L"\\Version", 0, version))
        version = L"1.0";
    wchar_t *minor = nullptr;
    const unsigned long major = std::wcstoul(version.c_str(), &minor, 16); // versions are hexadecimal
    LoadRegTypeLib(libraryId, WORD(major), WORD(*minor == L'.' ? std::wcstoul(minor + 1, nullptr, 16) : 0), 0,
                   &library);
    return library;
}

// The type libraries that may describe the control: the one its IDispatch
// comes from, and the one registered for its class.
std::vector<ComPtr<ITypeLib>> typeLibraries(IDispatch *dispatch, const CLSID &classId)
{
    std::vector<ComPtr<ITypeLib>> libraries;
    ComPtr<ITypeInfo> methods;
    ComPtr<ITypeLib> library;
    UINT index = 0;
    if (SUCCEEDED(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, &methods)) &&
        SUCCEEDED(methods->GetContainingTypeLib(&library, &index)))
        libraries.push_back(library);
    if ((library = registeredTypeLibrary(classId)))
        libraries.push_back(library);
    return libraries;
}

ComPtr<ITypeInfo> describedIn(const std::vector<ComPtr<ITypeLib>> &libraries, const GUID &guid)
{
    ComPtr<ITypeInfo> info;
    for (const ComPtr<ITypeLib> &library : libraries)
        if (SUCCEEDED(library->GetTypeInfoOfGuid(guid, &info)))
            break;
    return info;
}

// The class's default event interface, as its description names it.
ComPtr<ITypeInfo> defaultSource(ITypeInfo *coclass)
{
    ComPtr<ITypeInfo> source;
    TYPEATTR *attributes = nullptr;
    if (FAILED(coclass->GetTypeAttr(&attributes)))
        return source;
    const WORD interfaces = attributes->cImplTypes;
    coclass->ReleaseTypeAttr(attributes);
    for (UINT i = 0; i < interfaces; ++i) {
        INT flags = 0;
        HREFTYPE reference = 0;
        const INT wanted = IMPLTYPEFLAG_FSOURCE | IMPLTYPEFLAG_FDEFAULT;
        if (SUCCEEDED(coclass->GetImplTypeFlags(i, &flags)) && (flags & wanted) == wanted &&
            SUCCEEDED(coclass->GetRefTypeOfImplType(i, &reference)) &&
            SUCCEEDED(coclass->GetRefTypeInfo(reference, &source)))
            return source;
    }
    return source;
}

IID guidOf(ITypeInfo *info)
{
    TYPEATTR *attributes = nullptr;
    check(info->GetTypeAttr(&attributes), "Reading the control's type information");
    const IID guid = attributes->guid;
    info->ReleaseTypeAttr(attributes);
    return guid;
}

// The control's default (or first listed) event interface, where no type
// information names it.
IID listedEventInterface(IUnknown *control, IConnectionPointContainer *points)
{
    ComPtr<IProvideClassInfo2> classInfo;
    IID iid{};
    if (SUCCEEDED(control->QueryInterface(IID_IProvideClassInfo2, &classInfo)) &&
        SUCCEEDED(classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &iid)))
        return iid;
    ComPtr<IEnumConnectionPoints> all;
    check(points->EnumConnectionPoints(&all), "Listing the control's events");
    for (;;) {
        ComPtr<IConnectionPoint> point;
        if (all->Next(1, &point, nullptr) != S_OK)
            break;
        if (SUCCEEDED(point->GetConnectionInterface(&iid)) && !IsEqualIID(iid, IID_IPropertyNotifySink))
            return iid;
    }
    throw TrelkControlError("The control has no event interface");
}

struct Events {
    IID iid;
    DISPID jobFinished; // DISPID_UNKNOWN: the control describes no events
};

// The control's event interface and the job-finished event's dispatch id,
// found by name wherever the control gives any type information.
Events eventsOf(IUnknown *control, IDispatch *dispatch, const CLSID &classId, IConnectionPointContainer *points)
{
    const std::vector<ComPtr<ITypeLib>> libraries = typeLibraries(dispatch, classId);
    ComPtr<ITypeInfo> coclass;
    ComPtr<IProvideClassInfo> provider;
    if (FAILED(control->QueryInterface(IID_IProvideClassInfo, &provider)) ||
        FAILED(provider->GetClassInfo(&coclass)))
        coclass = describedIn(libraries, classId);
    ComPtr<ITypeInfo> source = coclass ? defaultSource(coclass.Get()) : ComPtr<ITypeInfo>();
    const IID iid = source ? guidOf(source.Get()) : listedEventInterface(control, points);
    if (!source)
        source = describedIn(libraries, iid);
    if (!source) // No type information at all: only the event's shape is left to go by.
        return {iid, DISPID_UNKNOWN};
    wchar_t name[] = L"JobFinished";
    LPOLESTR names[] = {name};
    DISPID jobFinished = DISPID_UNKNOWN;
    check(source->GetIDsOfNames(names, 1, &jobFinished), "Finding the control's event JobFinished");
    return {iid, jobFinished};
}

// The name a form gives its one control, told to it as its DISPLAYNAME.
const wchar_t kControlName[] = L"Trelk1";

// A licensed class refuses a plain creation; a PC with its full licence
// gives the key for a licensed one.
ComPtr<IUnknown> createLicensed(const wchar_t *progId, const CLSID &classId)
{
    ComPtr<IClassFactory2> factory;
    LICINFO licence{};
    licence.cbLicInfo = sizeof licence;
    HRESULT hr = CoGetClassObject(classId, CLSCTX_INPROC_SERVER, nullptr, IID_PPV_ARGS(&factory));
    if (SUCCEEDED(hr))
        hr = factory->GetLicInfo(&licence);
    if (SUCCEEDED(hr) && !(licence.fLicVerified && licence.fRuntimeKeyAvail))
        hr = CLASS_E_NOTLICENSED;
    BSTR key = nullptr;
    if (SUCCEEDED(hr))
        hr = factory->RequestLicKey(0, &key);
    ComPtr<IUnknown> control;
    if (SUCCEEDED(hr))
        hr = factory->CreateInstanceLic(nullptr, nullptr, IID_IUnknown, key, &control);
    SysFreeString(key);
    if (FAILED(hr))
        throwNotLicensed(progId, hr == E_NOINTERFACE ? CLASS_E_NOTLICENSED : hr);
    return control;
}

// A new control's properties at their defaults, through whichever way it
// keeps them.
void initialise(IUnknown *control)
{
    ComPtr<IPersistStreamInit> stream;
    ComPtr<IPersistPropertyBag> bag;
    if (SUCCEEDED(control->QueryInterface(IID_PPV_ARGS(&stream))))
        check(stream->InitNew(), "Initialising the control");
    else if (SUCCEEDED(control->QueryInterface(IID_PPV_ARGS(&bag))))
        check(bag->InitNew(), "Initialising the control");
}

// Sited, initialised and activated in place in the documented order, as a
// form does it: activated, a control may make the window that delivers its
// events, and one that is not delivers none.
void activate(IOleObject *control, const CLSID &classId, IOleClientSite *site, HWND window, const wchar_t *progId)
{
    DWORD misc = 0;
    HRESULT status = control->GetMiscStatus(DVASPECT_CONTENT, &misc);
    if (status == OLE_S_USEREG) // the control's word is in the registry
        status = OleRegGetMiscStatus(classId, DVASPECT_CONTENT, &misc);
    if (FAILED(status))
        misc = 0;
    const bool siteFirst = misc & OLEMISC_SETCLIENTSITEFIRST;
    if (siteFirst)
        check(control->SetClientSite(site), "Giving the control its site");
    initialise(control);
    if (!siteFirst)
        check(control->SetClientSite(site), "Giving the control its site");
    control->SetHostNames(L"Tavrin", kControlName);
    RECT area{0, 0, 100, 100};
    const HRESULT hr = control->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, window, &area);
    if (FAILED(hr))
        throw TrelkControlError("The control " + utf8(progId) + " refused to start (in-place activation): " +
                                describe(hr));
}

} // namespace

struct TrelkControl::Host {
    bool oleInitialized = false;
    HWND window = nullptr;
    ComPtr<IOleClientSite> site;
    ComPtr<EventSink> sink;
    ComPtr<IUnknown> control;
    ComPtr<IOleObject> oleObject;
    ComPtr<IDispatch> dispatch;
    ComPtr<IConnectionPoint> eventPoint;
    DWORD cookie = 0;

    ~Host()
    {
        if (sink)
            sink->forgetHandler();
        if (eventPoint && cookie)
            eventPoint->Unadvise(cookie);
        eventPoint.Reset();
        if (oleObject) {
            oleObject->Close(OLECLOSE_NOSAVE);
            oleObject->SetClientSite(nullptr);
        }
        oleObject.Reset();
        dispatch.Reset();
        control.Reset();
        sink.Reset();
        site.Reset();
        if (window)
            DestroyWindow(window);
        if (oleInitialized)
            OleUninitialize();
    }

    // Calls a method by dispatch id with its arguments in parameter order.
    Variant call(DISPID id, const char *name, std::vector<VARIANTARG> arguments)
    {
        std::reverse(arguments.begin(), arguments.end()); // DISPPARAMS holds the last one first
        DISPPARAMS params{arguments.data(), nullptr, UINT(arguments.size()), 0};
        Variant result;
        EXCEPINFO exception{};
        UINT badArgument = 0;
        const HRESULT hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                            result.get(), &exception, &badArgument);
        if (hr == DISP_E_EXCEPTION && exception.pfnDeferredFillIn)
            exception.pfnDeferredFillIn(&exception);
        std::string description;
        if (hr == DISP_E_EXCEPTION) {
            description = utf8(exception.bstrDescription, int(SysStringLen(exception.bstrDescription)));
            if (description.empty())
                description = describe(exception.scode ? exception.scode : hr);
        }
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        if (FAILED(hr))
            throw TrelkControlError(std::string(name) + ": " + (description.empty() ? describe(hr) : description));
        return result;
    }

    long number(DISPID id, const char *name, std::vector<VARIANTARG> arguments)
    {
        long value = 0;
        if (!toLong(call(id, name, std::move(arguments)).value(), value))
            throw TrelkControlError(std::string(name) + ": the control's answer is no number");
        return value;
    }

    short jobNumber(DISPID id, const char *name, std::vector<VARIANTARG> arguments)
    {
        const long value = number(id, name, std::move(arguments));
        if (!fitsJobNumber(value))
            throw TrelkControlError(std::string(name) + ": job number " + std::to_string(value) +
                                    " does not fit 16 bits");
        return short(value);
    }
};

TrelkControl::TrelkControl(const wchar_t *progId, JobFinishedHandler onJobFinished) : m_host(std::make_unique<Host>())
{
    Host &h = *m_host;
    // Qt's Windows platform has done it already; a second call only counts.
    h.oleInitialized = SUCCEEDED(OleInitialize(nullptr));
    CLSID classId{};
    HRESULT hr = CLSIDFromProgID(progId, &classId);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&h.control));
    if (hr == CLASS_E_NOTLICENSED)
        h.control = createLicensed(progId, classId);
    else if (meansNotRegistered(hr))
        throwNotRegistered(progId);
    else if (FAILED(hr))
        throwNotCreated(progId, classId, hr);
    check(h.control.As(&h.dispatch), "The control has no IDispatch");

    h.window = createHostWindow();
    h.site = makeControlSite(h.window, kControlName);
    if (SUCCEEDED(h.control.As(&h.oleObject)))
        activate(h.oleObject.Get(), classId, h.site.Get(), h.window, progId);
    else
        initialise(h.control.Get());

    ComPtr<IConnectionPointContainer> points;
    check(h.control.As(&points), "The control has no events");
    const Events events = eventsOf(h.control.Get(), h.dispatch.Get(), classId, points.Get());
    check(points->FindConnectionPoint(events.iid, &h.eventPoint), "Finding the control's events");
    h.sink.Attach(new EventSink(events.iid, events.jobFinished, std::move(onJobFinished)));
    check(h.eventPoint->Advise(h.sink.Get(), &h.cookie), "Listening to the control's events");
}

TrelkControl::~TrelkControl() = default;

bool TrelkControl::ConnectClient(const std::wstring &strClient, const std::wstring &strParam, long nParam)
{
    Bstr client(strClient);
    Bstr param(strParam);
    return m_host->number(kConnectClient, "ConnectClient",
                          {byValue(client.get()), byValue(param.get()), byValue(nParam)}) != 0;
}

void TrelkControl::DisconnectClient()
{
    m_host->call(kDisconnectClient, "DisconnectClient", {});
}

short TrelkControl::BeginShowVar(std::wstring &strVarName, const std::wstring &strParam)
{
    Bstr name(strVarName);
    Bstr param(strParam);
    const short job =
        m_host->jobNumber(kBeginShowVar, "BeginShowVar", {byReference(name.address()), byValue(param.get())});
    strVarName = name.text();
    return job;
}

bool TrelkControl::GetShowVarResult(short nJob, std::wstring &strVarValue)
{
    Bstr value(strVarValue);
    const bool read =
        m_host->number(kGetShowVarResult, "GetShowVarResult", {byValue(nJob), byReference(value.address())}) != 0;
    strVarValue = value.text();
    return read;
}

short TrelkControl::BeginSetVar(std::wstring &strVarName, std::wstring &strNewValue)
{
    Bstr name(strVarName);
    Bstr value(strNewValue);
    const short job = m_host->jobNumber(kBeginSetVar, "BeginSetVar",
                                        {byReference(name.address()), byReference(value.address())});
    strVarName = name.text();
    strNewValue = value.text();
    return job;
}

bool TrelkControl::GetSetVarResult(short nJob)
{
    return m_host->number(kGetSetVarResult, "GetSetVarResult", {byValue(nJob)}) != 0;
}

void TrelkControl::GetJobError(short &nJob, short &nCode1, short &nCode2, std::wstring &strText1,
                               std::wstring &strText2, std::wstring &strErrorText)
{
    Bstr text1(strText1);
    Bstr text2(strText2);
    Bstr errorText(strErrorText);
    m_host->call(kGetJobError, "GetJobError",
                 {byReference(&nJob), byReference(&nCode1), byReference(&nCode2), byReference(text1.address()),
                  byReference(text2.address()), byReference(errorText.address())});
    strText1 = text1.text();
    strText2 = text2.text();
    strErrorText = errorText.text();
}
