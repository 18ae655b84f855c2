#include "FakeTrelk.h"

#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>

#include <cstdio>

namespace {

// {6C1F0B1E-8A53-4E0B-9C7A-5D2A1B3C4D01}
const CLSID kFakeClassId = {0x6c1f0b1e, 0x8a53, 0x4e0b, {0x9c, 0x7a, 0x5d, 0x2a, 0x1b, 0x3c, 0x4d, 0x01}};
// {6C1F0B1E-8A53-4E0B-9C7A-5D2A1B3C4D02}
const IID kFakeEvents = {0x6c1f0b1e, 0x8a53, 0x4e0b, {0x9c, 0x7a, 0x5d, 0x2a, 0x1b, 0x3c, 0x4d, 0x02}};
const wchar_t kFakeClassIdText[] = L"{6C1F0B1E-8A53-4E0B-9C7A-5D2A1B3C4D01}";
const wchar_t kFakeWindowClass[] = L"TavrinFakeTrelkEvents";
constexpr UINT kFireEvent = WM_APP + 1;

std::string narrow(BSTR text)
{
    std::string out;
    for (UINT i = 0; text && i < SysStringLen(text); ++i)
        out += char(text[i]);
    return out;
}

void record(const std::string &call)
{
    fakeRecord().calls.push_back(call);
}

struct Signature {
    DISPID id;
    const char *name;
    std::vector<VARTYPE> parameters;
};

const std::vector<Signature> &signatures()
{
    const VARTYPE textRef = VT_BYREF | VT_BSTR;
    const VARTYPE shortRef = VT_BYREF | VT_I2;
    static const std::vector<Signature> table = {
        {117, "ConnectClient", {VT_BSTR, VT_BSTR, VT_I4}},
        {118, "DisconnectClient", {}},
        {16, "BeginShowVar", {textRef, VT_BSTR}},
        {17, "GetShowVarResult", {VT_I2, textRef}},
        {18, "BeginSetVar", {textRef, textRef}},
        {19, "GetSetVarResult", {VT_I2}},
        {4, "GetJobError", {shortRef, shortRef, shortRef, textRef, textRef, textRef}},
    };
    return table;
}

void replace(BSTR *text, const wchar_t *with)
{
    SysFreeString(*text);
    *text = SysAllocString(with);
}

class FakePoint final : public IConnectionPoint
{
public:
    FakePoint(IConnectionPointContainer *owner, const IID &iid) : m_owner(owner), m_iid(iid) {}
    ~FakePoint() { dropSink(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return m_owner->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_owner->Release(); }
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID *iid) override
    {
        *iid = m_iid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer **owner) override
    {
        *owner = m_owner;
        m_owner->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown *sink, DWORD *cookie) override
    {
        if (m_sink)
            return CONNECT_E_ADVISELIMIT;
        if (FAILED(sink->QueryInterface(m_iid, reinterpret_cast<void **>(&m_sink))))
            return CONNECT_E_CANNOTCONNECT; // the sink must answer for the event interface itself
        ++fakeRecord().heldReferences;
        record("Advise");
        *cookie = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override
    {
        if (cookie != 1 || !m_sink)
            return CONNECT_E_NOCONNECTION;
        record("Unadvise");
        dropSink();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections **) override { return E_NOTIMPL; }

    IDispatch *sink() const { return m_sink; }

private:
    void dropSink()
    {
        if (!m_sink)
            return;
        m_sink->Release();
        m_sink = nullptr;
        --fakeRecord().heldReferences;
    }

    IConnectionPointContainer *m_owner;
    IID m_iid;
    IDispatch *m_sink = nullptr;
};

class FakeEnum final : public IEnumConnectionPoints
{
public:
    FakeEnum(IConnectionPoint *first, IConnectionPoint *second) : m_points{first, second}
    {
        first->AddRef();
        second->AddRef();
    }
    ~FakeEnum()
    {
        for (IConnectionPoint *p : m_points)
            p->Release();
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumConnectionPoints)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++m_refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG refs = --m_refs;
        if (refs == 0)
            delete this;
        return ULONG(refs);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint **points, ULONG *fetched) override
    {
        ULONG given = 0;
        for (; given < count && m_next < 2; ++given, ++m_next) {
            points[given] = m_points[m_next];
            points[given]->AddRef();
        }
        if (fetched)
            *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        m_next += count;
        return m_next <= 2 ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        m_next = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints **) override { return E_NOTIMPL; }

private:
    LONG m_refs = 1;
    IConnectionPoint *m_points[2];
    ULONG m_next = 0;
};

class FakeTrelk final : public IDispatch,
                        public IOleObject,
                        public IPersistStreamInit,
                        public IConnectionPointContainer,
                        public IProvideClassInfo2
{
public:
    FakeTrelk()
        : m_propertyPoint(static_cast<IConnectionPointContainer *>(this), IID_IPropertyNotifySink),
          m_eventPoint(static_cast<IConnectionPointContainer *>(this), kFakeEvents)
    {
        ++fakeRecord().liveControls;
        m_window = CreateWindowExW(0, kFakeWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(m_window, GWLP_USERDATA, LONG_PTR(this));
    }
    ~FakeTrelk()
    {
        DestroyWindow(m_window);
        setSite(nullptr);
        --fakeRecord().liveControls;
    }

    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM job, LPARAM status)
    {
        if (message != kFireEvent)
            return DefWindowProcW(window, message, job, status);
        if (auto *fake = reinterpret_cast<FakeTrelk *>(GetWindowLongPtrW(window, GWLP_USERDATA)))
            fake->fire(short(job), long(status));
        return 0;
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        const bool classInfo = fakeBehaviour().classInfo2;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch))
            *object = static_cast<IDispatch *>(this);
        else if (IsEqualIID(iid, IID_IOleObject))
            *object = static_cast<IOleObject *>(this);
        else if (IsEqualIID(iid, IID_IPersistStreamInit))
            *object = static_cast<IPersistStreamInit *>(this);
        else if (IsEqualIID(iid, IID_IConnectionPointContainer))
            *object = static_cast<IConnectionPointContainer *>(this);
        else if (classInfo && (IsEqualIID(iid, IID_IProvideClassInfo) || IsEqualIID(iid, IID_IProvideClassInfo2)))
            *object = static_cast<IProvideClassInfo2 *>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++m_refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG refs = --m_refs;
        if (refs == 0)
            delete this;
        return ULONG(refs);
    }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override
    {
        return DISP_E_UNKNOWNNAME; // callers must use the dispatch ids
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params, VARIANT *result,
                                     EXCEPINFO *exception, UINT *badArgument) override
    {
        const Signature *signature = nullptr;
        for (const Signature &s : signatures())
            if (s.id == id)
                signature = &s;
        if (!signature || !(flags & DISPATCH_METHOD)) {
            record("rejected dispatch id " + std::to_string(id));
            return DISP_E_MEMBERNOTFOUND;
        }
        if (params->cNamedArgs != 0 || params->cArgs != signature->parameters.size()) {
            record(std::string("rejected argument count of ") + signature->name);
            return DISP_E_BADPARAMCOUNT;
        }
        // rgvarg holds the last parameter first.
        auto argument = [params](size_t i) -> VARIANTARG & { return params->rgvarg[params->cArgs - 1 - i]; };
        for (size_t i = 0; i < signature->parameters.size(); ++i) {
            if (V_VT(&argument(i)) != signature->parameters[i]) {
                record(std::string("rejected argument type of ") + signature->name);
                if (badArgument)
                    *badArgument = UINT(params->cArgs - 1 - i);
                return DISP_E_TYPEMISMATCH;
            }
        }
        const FakeBehaviour &behaviour = fakeBehaviour();
        const std::string name = signature->name;
        std::string call = name + "(";
        for (size_t i = 0; i < signature->parameters.size(); ++i) {
            VARIANTARG &a = argument(i);
            call += i ? "," : "";
            switch (V_VT(&a)) {
            case VT_BSTR: call += narrow(V_BSTR(&a)); break;
            case VT_BYREF | VT_BSTR: call += narrow(*V_BSTRREF(&a)); break;
            case VT_I2: call += std::to_string(V_I2(&a)); break;
            case VT_BYREF | VT_I2: call += std::to_string(*V_I2REF(&a)); break;
            case VT_I4: call += std::to_string(V_I4(&a)); break;
            default: break;
            }
        }
        record(call + ")");

        const bool begin = id == 16 || id == 18;
        if (begin && !behaviour.raise.empty()) {
            exception->bstrSource = SysAllocString(L"Fake.Trelk");
            exception->bstrDescription = SysAllocString(behaviour.raise.c_str());
            exception->scode = E_FAIL;
            return DISP_E_EXCEPTION;
        }
        if (begin && behaviour.failure != S_OK)
            return behaviour.failure;

        if (id == 16 || id == 18) // the control may replace a by-reference text
            replace(V_BSTRREF(&argument(0)), L"replaced name");
        if (id == 18)
            replace(V_BSTRREF(&argument(1)), L"replaced value");
        if (id == 17)
            replace(V_BSTRREF(&argument(1)), L"$OV_PRO=100");
        if (id == 4) {
            *V_I2REF(&argument(1)) = 11;
            *V_I2REF(&argument(2)) = 22;
            replace(V_BSTRREF(&argument(3)), L"first text");
            replace(V_BSTRREF(&argument(4)), L"second text");
            replace(V_BSTRREF(&argument(5)), L"job failed on the controller");
        }
        if (begin)
            PostMessageW(m_window, kFireEvent, WPARAM(short(behaviour.jobNumber)), LPARAM(behaviour.eventStatus));
        if (result && id != 4 && id != 118)
            answer(result, begin ? behaviour.jobNumber : behaviour.answer);
        return S_OK;
    }

    // IOleObject
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite *site) override
    {
        record(site ? "SetClientSite" : "SetClientSite(null)");
        setSite(site);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite **site) override
    {
        *site = m_site;
        if (m_site)
            m_site->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Close(DWORD option) override
    {
        record(option == OLECLOSE_NOSAVE ? "Close(no save)" : "Close");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject *, BOOL, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite *site, LONG, HWND parent, LPCRECT) override
    {
        IOleInPlaceSite *inPlace = nullptr;
        HWND window = nullptr;
        const bool ok = verb == OLEIVERB_INPLACEACTIVATE && site && parent &&
                        SUCCEEDED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void **>(&inPlace))) &&
                        inPlace->CanInPlaceActivate() == S_OK && SUCCEEDED(inPlace->GetWindow(&window)) &&
                        window == parent;
        if (inPlace)
            inPlace->Release();
        record(ok ? "DoVerb(in place)" : "DoVerb(wrong)");
        return ok ? S_OK : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID *id) override
    {
        *id = kFakeClassId;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD, SIZEL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD, SIZEL *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink *, DWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD *status) override
    {
        record("GetMiscStatus");
        *status = OLEMISC_INVISIBLEATRUNTIME | OLEMISC_ACTIVATEWHENVISIBLE |
                  (fakeBehaviour().siteFirst ? OLEMISC_SETCLIENTSITEFIRST : 0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE *) override { return E_NOTIMPL; }

    // IPersistStreamInit
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *id) override
    {
        *id = kFakeClassId;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(LPSTREAM) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Save(LPSTREAM, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitNew() override
    {
        record("InitNew");
        return S_OK;
    }

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints **all) override
    {
        *all = new FakeEnum(&m_propertyPoint, &m_eventPoint);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint **point) override
    {
        FakePoint *found = IsEqualIID(iid, kFakeEvents)                ? &m_eventPoint
                           : IsEqualIID(iid, IID_IPropertyNotifySink) ? &m_propertyPoint
                                                                       : nullptr;
        *point = found;
        if (!found)
            return CONNECT_E_NOCONNECTION;
        found->AddRef();
        return S_OK;
    }

    // IProvideClassInfo2
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo **info) override
    {
        *info = nullptr;
        return E_NOTIMPL; // no type library: the event is the one with two arguments
    }
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID *guid) override
    {
        if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID)
            return E_INVALIDARG;
        *guid = kFakeEvents;
        return S_OK;
    }

private:
    void setSite(IOleClientSite *site)
    {
        if (site) {
            site->AddRef();
            ++fakeRecord().heldReferences;
        }
        if (m_site) {
            m_site->Release();
            --fakeRecord().heldReferences;
        }
        m_site = site;
    }

    void answer(VARIANT *result, long value)
    {
        switch (fakeBehaviour().resultType) {
        case VT_BOOL:
            V_VT(result) = VT_BOOL;
            V_BOOL(result) = value ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VT_I2:
            V_VT(result) = VT_I2;
            V_I2(result) = short(value);
            break;
        case VT_BYREF | VT_I4:
            m_answer = value;
            V_VT(result) = VT_BYREF | VT_I4;
            V_I4REF(result) = &m_answer;
            break;
        default:
            V_VT(result) = VT_I4;
            V_I4(result) = value;
            break;
        }
    }

    void fire(short job, long status)
    {
        IDispatch *sink = m_eventPoint.sink();
        if (!sink)
            return;
        VARIANTARG other;
        VariantInit(&other);
        V_VT(&other) = VT_I4;
        V_I4(&other) = 99;
        DISPPARAMS otherParams{&other, nullptr, 1, 0};
        sink->Invoke(kOtherEvent, IID_NULL, 0, DISPATCH_METHOD, &otherParams, nullptr, nullptr, nullptr);

        VARIANTARG arguments[2]; // status, then job: the last parameter first
        VariantInit(&arguments[0]);
        VariantInit(&arguments[1]);
        if (fakeBehaviour().eventsByReference) {
            V_VT(&arguments[0]) = VT_BYREF | VT_I4;
            V_I4REF(&arguments[0]) = &status;
            V_VT(&arguments[1]) = VT_BYREF | VT_I2;
            V_I2REF(&arguments[1]) = &job;
        } else {
            V_VT(&arguments[0]) = VT_I4;
            V_I4(&arguments[0]) = status;
            V_VT(&arguments[1]) = VT_I2;
            V_I2(&arguments[1]) = job;
        }
        DISPPARAMS params{arguments, nullptr, 2, 0};
        sink->Invoke(kJobFinishedEvent, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    }

    LONG m_refs = 1;
    FakePoint m_propertyPoint;
    FakePoint m_eventPoint;
    IOleClientSite *m_site = nullptr;
    HWND m_window = nullptr;
    long m_answer = 0;
};

class FakeFactory final : public IClassFactory
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; } // lives as long as the process
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **object) override
    {
        if (outer)
            return CLASS_E_NOAGGREGATION;
        auto *fake = new FakeTrelk;
        const HRESULT hr = fake->QueryInterface(iid, object);
        fake->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

FakeFactory g_factory;
DWORD g_registration = 0;

} // namespace

FakeBehaviour &fakeBehaviour()
{
    static FakeBehaviour behaviour;
    return behaviour;
}

FakeRecord &fakeRecord()
{
    static FakeRecord record;
    return record;
}

bool registerFakeTrelk()
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = FakeTrelk::windowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kFakeWindowClass;
    if (!RegisterClassW(&windowClass))
        return false;
    // Wine reads classes for everyone from here, not from the user's own.
    HKEY key = nullptr;
    const std::wstring path = std::wstring(L"Software\\Classes\\") + kFakeProgId + L"\\CLSID";
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const LONG written = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE *>(kFakeClassIdText),
                                        DWORD(sizeof kFakeClassIdText));
    RegCloseKey(key);
    return written == ERROR_SUCCESS &&
           SUCCEEDED(CoRegisterClassObject(kFakeClassId, &g_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                           &g_registration));
}

void revokeFakeTrelk()
{
    CoRevokeClassObject(g_registration);
}
