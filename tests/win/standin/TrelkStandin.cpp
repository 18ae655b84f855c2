// A stand-in for the controller's communication control, for tests only: an
// in-process COM server that registers like the real one ("TrelkLib.Trelk",
// its class, its type library) and answers the seven methods by dispatch id.
//
// TRELK_STANDIN_MODE, read when an object is created, is a list of words
// separated by commas, '+' or spaces (empty: accept):
//   accept      JobFinished(job, 0) after the delay
//   refuse      JobFinished(job, 1) after the delay; GetJobError gives
//               "Variable is write protected", the result queries false
//   silent      no JobFinished at all
//   status2     JobFinished(job, 2) after the delay, JobFinished(job, 0)
//               after twice the delay
//   inside      JobFinished fired within the start call, not later
//   foreign     JobFinished reports job + 100 instead of the job returned
//   noconnect   ConnectClient answers false (jobs still run)
//   raise       BeginSetVar and BeginShowVar raise an Automation exception
//               "No connection to the controller"
//   noclassinfo no IProvideClassInfo or IProvideClassInfo2
//   notypeinfo  IDispatch gives no type information (the registered type
//               library still describes the class)
//   progress    Progress(job, 0) (two arguments, not JobFinished) posted
//               right after the start call returns
// and, for the host's own tests, words that change how it answers:
//   initfirst   no OLEMISC_SETCLIENTSITEFIRST: the site comes after InitNew
//   bool, i2, i4, i4ref
//               every number and truth value answered in that type (i4ref:
//               a VT_I4 by reference), true as VARIANT_TRUE converts
//   job=N       the first job has number N, not 1
//   byref       event arguments by reference
//   fail        BeginSetVar and BeginShowVar fail with E_FAIL
//   writeback   BeginSetVar and BeginShowVar write the variable's name (and
//               value) back in capitals, as they keep them
// and words that ask of the host what a control framework asks of a form:
//   frame       in-place activation needs an in-place frame from
//               GetWindowContext; without it DoVerb fails and no event is fired
//   ambient     the site must answer the ambient USERMODE as TRUE and give an
//               IOleControlSite; otherwise the control stays in design mode
//               and fires no event
//   sitefirst   InitNew before SetClientSite is refused, as the control asks
//               for its site first
//   usereg      GetMiscStatus answers OLE_S_USEREG: the misc status is in the
//               registry (MiscStatus), as the stand-in registers it
//   propertybag initialised through IPersistPropertyBag: no IPersistStreamInit
//   licensed    a licensed class: a plain creation is refused; the PC holds a
//               full licence, so IClassFactory2 gives a key that creates it
//   unlicensed  a licensed class, and the PC holds no licence for it
//   lateevent   Unadvise fires JobFinished(99, 0) into the sink it lets go
//   noactivate  DoVerb refuses in-place activation, whatever the host gives
//   strict      all of frame, ambient, sitefirst, usereg, licensed, lateevent
// ConnectClient also posts StateChanged(1), a one-argument event.
// TRELK_STANDIN_DELAY_MS sets the delay (default 20). Events are fired from
// the message queue of the thread that created the object.
//
// TRELK_STANDIN_LOG names a file that gets one UTF-8 line per step:
//   <ms> create <mode words> delay=<ms>
//   <ms> call <Method>(<arguments as received>)[ -> <result>[; <text written back>]]
//        (GetJobError's result is the error text it writes into its last argument)
//   <ms> raise <Method> "<description>"
//   <ms> fail <Method>
//   <ms> event <Event>(<arguments>)           (" not delivered" without a sink)
//   <ms> reject <why>                          (a call not matching the table)
//   <ms> misc | site | site null | initnew | doverb in place | doverb wrong
//   <ms> refuse <why>                          (what a strict control refuses)
//   <ms> design mode                           (ambient USERMODE not TRUE)
//   <ms> ambient <NAME>=<value> ...            (the ambient properties read)
//   <ms> licence key given | created with a licence key
//   <ms> advise | unadvise | close (without saving; else "close saving")
//   <ms> destroy[ holding the site][ holding a sink]
// <ms> is a millisecond clock; texts are written between double quotes as
// they are, numbers in decimal, Booleans as true or false.

#include <windows.h>
#include <ocidl.h>
#include <ole2.h>
#include <olectl.h>

#include <initguid.h>

#include "TrelkStandin.h"
#include "controller/CountedObject.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

HINSTANCE g_module = nullptr;
LONG g_objects = 0;
LONG g_locks = 0;

const wchar_t kProgId[] = L"TrelkLib.Trelk";
const wchar_t kDescription[] = L"Trelk Control (test stand-in)";
const wchar_t kWindowClass[] = L"TrelkStandinEvents";
constexpr UINT kPostedEvent = WM_APP + 1;
constexpr DISPID kStateChanged = 1;
constexpr DISPID kProgress = 3;
constexpr DISPID kJobFinished = 7;
const wchar_t kRefusal[] = L"Variable is write protected";
const wchar_t kNoConnection[] = L"No connection to the controller";
constexpr DWORD kMiscStatus = OLEMISC_INVISIBLEATRUNTIME | OLEMISC_SETCLIENTSITEFIRST;

std::wstring environment(const wchar_t *name)
{
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(name, value, DWORD(std::size(value)));
    return length > 0 && length < std::size(value) ? std::wstring(value, length) : std::wstring();
}

std::string utf8(const std::wstring &text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::string quoted(BSTR text)
{
    return '"' + utf8(text ? std::wstring(text, SysStringLen(text)) : std::wstring()) + '"';
}

void logLine(const std::string &text)
{
    const std::wstring path = environment(L"TRELK_STANDIN_LOG");
    if (path.empty())
        return;
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    const std::string line = std::to_string(now.QuadPart * 1000 / frequency.QuadPart) + ' ' + text + "\r\n";
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line.data(), DWORD(line.size()), &written, nullptr);
    CloseHandle(file);
}

struct Mode {
    std::set<std::wstring> words;
    UINT delay = 20;
    long firstJob = 1;
    VARTYPE answerType = VT_EMPTY; // VT_EMPTY: job numbers as VT_I2, the rest as VT_BOOL
    bool has(const wchar_t *word) const { return words.count(word) != 0; }
};

// False for a word that names no mode, so a mistyped test fails at once.
bool readMode(Mode &mode)
{
    static const std::set<std::wstring> known = {L"accept", L"refuse", L"silent", L"status2", L"inside",
                                                 L"foreign", L"noconnect", L"raise", L"noclassinfo", L"notypeinfo",
                                                 L"progress", L"initfirst", L"byref", L"fail", L"writeback",
                                                 L"frame", L"ambient", L"sitefirst", L"usereg", L"propertybag",
                                                 L"licensed", L"unlicensed", L"lateevent", L"noactivate"};
    static const std::set<std::wstring> strict = {L"frame", L"ambient", L"sitefirst", L"usereg", L"licensed",
                                                  L"lateevent"};
    static const std::map<std::wstring, VARTYPE> types = {
        {L"bool", VT_BOOL}, {L"i2", VT_I2}, {L"i4", VT_I4}, {L"i4ref", VT_BYREF | VT_I4}};
    std::wstring text = environment(L"TRELK_STANDIN_MODE");
    for (wchar_t &c : text)
        if (c == L',' || c == L'+')
            c = L' ';
    std::wistringstream words(text);
    for (std::wstring word; words >> word;) {
        const auto type = types.find(word);
        if (type != types.end())
            mode.answerType = type->second;
        else if (word.rfind(L"job=", 0) == 0) {
            wchar_t *end = nullptr;
            mode.firstJob = std::wcstol(word.c_str() + 4, &end, 10);
            if (*end || end == word.c_str() + 4)
                return false;
        } else if (word == L"strict") {
            mode.words.insert(strict.begin(), strict.end());
        } else if (!known.count(word))
            return false;
        mode.words.insert(word);
    }
    const std::wstring delay = environment(L"TRELK_STANDIN_DELAY_MS");
    if (!delay.empty())
        mode.delay = UINT(std::wcstoul(delay.c_str(), nullptr, 10));
    return true;
}

// An event waiting in the message queue: posted, or due with a timer.
struct Event {
    DISPID id;
    std::vector<long> arguments; // first parameter first
};

std::string eventText(const Event &event)
{
    const char *name = event.id == kJobFinished ? "JobFinished" : event.id == kProgress ? "Progress" : "StateChanged";
    std::string text = std::string(name) + '(';
    for (size_t i = 0; i < event.arguments.size(); ++i)
        text += (i ? ", " : "") + std::to_string(event.arguments[i]);
    return text + ')';
}

ITypeLib *loadTypeLibrary(REGKIND kind)
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(g_module, path, MAX_PATH);
    ITypeLib *library = nullptr;
    return SUCCEEDED(LoadTypeLibEx(path, kind, &library)) ? library : nullptr;
}

ITypeInfo *typeInfo(const GUID &guid)
{
    ITypeLib *library = loadTypeLibrary(REGKIND_NONE);
    ITypeInfo *info = nullptr;
    if (library) {
        library->GetTypeInfoOfGuid(guid, &info);
        library->Release();
    }
    return info;
}

// A part of the control with an interface of its own, counted with the control.
template <typename Interface>
class Part : public Interface
{
public:
    explicit Part(IUnknown *owner) : m_owner(owner) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, __uuidof(Interface))) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<Interface *>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return m_owner->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_owner->Release(); }

protected:
    IUnknown *m_owner;
};

class Point final : public Part<IConnectionPoint>
{
public:
    Point(IUnknown *owner, const IID &iid) : Part(owner), m_iid(iid) {}
    ~Point() { drop(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID *iid) override
    {
        *iid = m_iid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer **owner) override
    {
        return m_owner->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(owner));
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown *sink, DWORD *cookie) override
    {
        if (m_sink)
            return CONNECT_E_ADVISELIMIT;
        if (FAILED(sink->QueryInterface(m_iid, reinterpret_cast<void **>(&m_sink))))
            return CONNECT_E_CANNOTCONNECT; // the sink must answer for the interface itself
        logLine("advise");
        *cookie = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override
    {
        if (cookie != 1 || !m_sink)
            return CONNECT_E_NOCONNECTION;
        logLine("unadvise");
        IDispatch *sink = m_sink;
        sink->AddRef();
        drop();
        if (m_lateEvent) { // as a control whose event was already on its way
            const Event late{kJobFinished, {99, 0}};
            logLine("event " + eventText(late) + " after unadvise");
            invoke(sink, late, false);
        }
        sink->Release();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections **) override { return E_NOTIMPL; }

    bool connected() const { return m_sink != nullptr; }
    void fireOnUnadvise() { m_lateEvent = true; }

    void fire(const Event &event, bool byReference)
    {
        logLine("event " + eventText(event) + (m_sink ? "" : " not delivered"));
        if (m_sink)
            invoke(m_sink, event, byReference);
    }

private:
    static void invoke(IDispatch *sink, const Event &event, bool byReference)
    {
        const size_t count = event.arguments.size();
        std::vector<VARIANTARG> arguments(count);
        std::vector<long> values = event.arguments;
        std::vector<short> jobs(count);
        const VARTYPE reference = byReference ? VT_BYREF : 0;
        for (size_t i = 0; i < count; ++i) { // the last parameter first
            VARIANTARG &a = arguments[count - 1 - i];
            VariantInit(&a);
            if (i == 0 && event.id != kStateChanged) { // the job number
                jobs[i] = short(values[i]);
                V_VT(&a) = VT_I2 | reference;
                if (byReference)
                    V_I2REF(&a) = &jobs[i];
                else
                    V_I2(&a) = jobs[i];
            } else {
                V_VT(&a) = VT_I4 | reference;
                if (byReference)
                    V_I4REF(&a) = &values[i];
                else
                    V_I4(&a) = values[i];
            }
        }
        DISPPARAMS params{arguments.data(), nullptr, UINT(count), 0};
        sink->AddRef(); // the handler may disconnect
        sink->Invoke(event.id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        sink->Release();
    }

    void drop()
    {
        if (m_sink)
            m_sink->Release();
        m_sink = nullptr;
    }

    IID m_iid;
    IDispatch *m_sink = nullptr; // called only at the event point, whose interface is a dispatch one
    bool m_lateEvent = false;
};

// The control's connection points in a list, for hosts that look there for
// the events.
class Listing final : public Part<IEnumConnectionPoints>
{
public:
    Listing(IUnknown *owner, std::vector<IConnectionPoint *> points) : Part(owner), m_points(std::move(points)) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IConnectionPoint **points, ULONG *fetched) override
    {
        ULONG given = 0;
        for (; given < count && m_next < m_points.size(); ++given, ++m_next) {
            points[given] = m_points[m_next];
            points[given]->AddRef();
        }
        if (fetched)
            *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        m_next = std::min<size_t>(m_next + count, m_points.size());
        return m_next < m_points.size() ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        m_next = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints **) override { return E_NOTIMPL; }

private:
    std::vector<IConnectionPoint *> m_points;
    size_t m_next = 0;
};

// What a finished job left for the result queries.
struct Job {
    bool succeeded = false;
    std::wstring name;
    std::wstring error;
};

class Control final : public CountedObject<IDispatch, IOleObject, IPersistStreamInit, IPersistPropertyBag,
                                            IConnectionPointContainer, IProvideClassInfo2>
{
public:
    explicit Control(Mode mode)
        : m_mode(std::move(mode)), m_notify(unknown(), IID_IPropertyNotifySink),
          m_events(unknown(), DIID__DTrelkEvents), m_listing(unknown(), {&m_notify, &m_events})
    {
        InterlockedIncrement(&g_objects);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = windowProcedure;
        windowClass.hInstance = g_module;
        windowClass.lpszClassName = kWindowClass;
        RegisterClassW(&windowClass); // fails harmlessly when registered already
        m_window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, g_module, nullptr);
        SetWindowLongPtrW(m_window, GWLP_USERDATA, LONG_PTR(this));
        std::string words;
        for (const std::wstring &w : m_mode.words)
            words += utf8(w) + ' ';
        logLine("create " + (words.empty() ? std::string("accept ") : words) + "delay=" + std::to_string(m_mode.delay));
        if (m_mode.has(L"lateevent"))
            m_events.fireOnUnadvise();
    }
    ~Control() override
    {
        DestroyWindow(m_window);
        logLine(std::string("destroy") + (m_site ? " holding the site" : "") +
                (m_events.connected() ? " holding a sink" : ""));
        if (m_site)
            m_site->Release();
        InterlockedDecrement(&g_objects);
    }

    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto *control = reinterpret_cast<Control *>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (!control || (message != WM_TIMER && message != kPostedEvent))
            return DefWindowProcW(window, message, wParam, lParam);
        if (message == WM_TIMER)
            KillTimer(window, wParam);
        control->firePending(UINT_PTR(wParam));
        return 0;
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        const bool classInfo = !m_mode.has(L"noclassinfo");
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, DIID__DTrelk))
            *object = static_cast<IDispatch *>(this);
        else if (IsEqualIID(iid, IID_IOleObject))
            *object = static_cast<IOleObject *>(this);
        else if (!m_mode.has(L"propertybag") && (IsEqualIID(iid, IID_IPersistStreamInit) || IsEqualIID(iid, IID_IPersist)))
            *object = static_cast<IPersistStreamInit *>(this);
        else if (m_mode.has(L"propertybag") && (IsEqualIID(iid, IID_IPersistPropertyBag) || IsEqualIID(iid, IID_IPersist)))
            *object = static_cast<IPersistPropertyBag *>(this);
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

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override
    {
        *count = m_mode.has(L"notypeinfo") ? 0 : 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo **info) override
    {
        if (m_mode.has(L"notypeinfo")) {
            *info = nullptr;
            return E_NOTIMPL;
        }
        *info = index == 0 ? typeInfo(DIID__DTrelk) : nullptr;
        return *info ? S_OK : index == 0 ? TYPE_E_CANTLOADLIBRARY : DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *names, UINT count, LCID, DISPID *ids) override
    {
        ITypeInfo *info = typeInfo(DIID__DTrelk);
        const HRESULT hr = info ? info->GetIDsOfNames(names, count, ids) : TYPE_E_CANTLOADLIBRARY;
        if (info)
            info->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params, VARIANT *result,
                                     EXCEPINFO *exception, UINT *badArgument) override;

    // IOleObject
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite *site) override
    {
        logLine(site ? "site" : "site null");
        if (site)
            site->AddRef();
        if (m_site)
            m_site->Release();
        m_site = site;
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
        logLine(option == OLECLOSE_NOSAVE ? "close" : "close saving");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject *, BOOL, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject **) override { return E_NOTIMPL; }
    // Activated in place in the window its site names, as a form does it.
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite *site, LONG, HWND parent, LPCRECT) override
    {
        IOleInPlaceSite *inPlace = nullptr;
        HWND window = nullptr;
        const bool ok = verb == OLEIVERB_INPLACEACTIVATE && site && parent &&
                        SUCCEEDED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void **>(&inPlace))) &&
                        inPlace->CanInPlaceActivate() == S_OK && SUCCEEDED(inPlace->GetWindow(&window)) &&
                        window == parent;
        logLine(ok ? "doverb in place" : "doverb wrong");
        const bool framed = ok && (!m_mode.has(L"frame") || hasFrame(inPlace)) && !m_mode.has(L"noactivate");
        if (ok && !framed)
            logLine(m_mode.has(L"noactivate") ? "refuse in-place activation" : "refuse in-place activation without a frame");
        if (framed) {
            inPlace->OnInPlaceActivate();
            m_active = true;
            m_userMode = !m_mode.has(L"ambient") || inUserMode();
            if (!m_userMode)
                logLine("design mode");
        }
        if (inPlace)
            inPlace->Release();
        return !ok ? E_INVALIDARG : framed ? S_OK : E_UNEXPECTED;
    }
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID *id) override { return GetClassID(id); }
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR *) override { return OLE_S_USEREG; }
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD, SIZEL *) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD, SIZEL *size) override
    {
        size->cx = size->cy = 0; // nothing to show
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink *, DWORD *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD *status) override
    {
        logLine("misc");
        if (m_mode.has(L"usereg")) {
            *status = 0;
            return OLE_S_USEREG;
        }
        *status = m_mode.has(L"initfirst") ? kMiscStatus & ~OLEMISC_SETCLIENTSITEFIRST : kMiscStatus;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE *) override { return E_NOTIMPL; }

    // IPersistStreamInit
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *id) override
    {
        *id = CLSID_Trelk;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(LPSTREAM) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Save(LPSTREAM, BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER *size) override
    {
        size->QuadPart = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InitNew() override
    {
        logLine("initnew");
        if (m_mode.has(L"sitefirst") && !m_site) {
            logLine("refuse InitNew before the site");
            return E_UNEXPECTED;
        }
        return S_OK;
    }

    // IPersistPropertyBag
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag *, IErrorLog *) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag *, BOOL, BOOL) override { return S_OK; }

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints **all) override
    {
        m_listing.Reset();
        *all = &m_listing;
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint **point) override
    {
        *point = IsEqualIID(iid, DIID__DTrelkEvents)        ? &m_events
                 : IsEqualIID(iid, IID_IPropertyNotifySink) ? &m_notify
                                                            : nullptr;
        if (!*point)
            return CONNECT_E_NOCONNECTION;
        AddRef();
        return S_OK;
    }

    // IProvideClassInfo2
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo **info) override
    {
        *info = typeInfo(CLSID_Trelk);
        return *info ? S_OK : TYPE_E_CANTLOADLIBRARY;
    }
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID *guid) override
    {
        if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID)
            return E_INVALIDARG;
        *guid = DIID__DTrelkEvents;
        return S_OK;
    }

private:
    static bool hasFrame(IOleInPlaceSite *inPlace)
    {
        IOleInPlaceFrame *frame = nullptr;
        IOleInPlaceUIWindow *document = nullptr;
        RECT position{}, clip{};
        OLEINPLACEFRAMEINFO info{};
        info.cb = sizeof info;
        HWND window = nullptr;
        const bool framed = SUCCEEDED(inPlace->GetWindowContext(&frame, &document, &position, &clip, &info)) &&
                            frame && SUCCEEDED(frame->GetWindow(&window)) && window;
        if (frame)
            frame->Release();
        if (document)
            document->Release();
        return framed;
    }
    // The ambient USERMODE is TRUE and the site is a control site. The
    // ambient properties that controls commonly read are logged.
    bool inUserMode() const
    {
        static const std::vector<std::pair<DISPID, const char *>> read = {
            {DISPID_AMBIENT_USERMODE, "USERMODE"},
            {DISPID_AMBIENT_UIDEAD, "UIDEAD"},
            {DISPID_AMBIENT_SHOWGRABHANDLES, "SHOWGRABHANDLES"},
            {DISPID_AMBIENT_SHOWHATCHING, "SHOWHATCHING"},
            {DISPID_AMBIENT_MESSAGEREFLECT, "MESSAGEREFLECT"},
            {DISPID_AMBIENT_AUTOCLIP, "AUTOCLIP"},
            {DISPID_AMBIENT_DISPLAYNAME, "DISPLAYNAME"},
            {DISPID_AMBIENT_LOCALEID, "LOCALEID"},
            {DISPID_AMBIENT_BACKCOLOR, "BACKCOLOR"},
        };
        IDispatch *ambient = nullptr;
        IOleControlSite *controlSite = nullptr;
        if (!m_site || FAILED(m_site->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(&ambient)))) {
            logLine("ambient none");
            return false;
        }
        std::string line = "ambient";
        bool user = false;
        for (const auto &[id, name] : read) {
            VARIANT value;
            VariantInit(&value);
            DISPPARAMS none{nullptr, nullptr, 0, 0};
            const HRESULT hr =
                ambient->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
            line += std::string(" ") + name + '=';
            if (hr == DISP_E_MEMBERNOTFOUND)
                line += "none";
            else if (FAILED(hr))
                line += "failed";
            else if (V_VT(&value) == VT_BOOL)
                line += V_BOOL(&value) == VARIANT_TRUE ? "true" : V_BOOL(&value) ? "invalid" : "false";
            else if (V_VT(&value) == VT_BSTR)
                line += quoted(V_BSTR(&value));
            else if (V_VT(&value) == VT_I4)
                line += std::to_string(V_I4(&value));
            else
                line += "type" + std::to_string(V_VT(&value));
            if (id == DISPID_AMBIENT_USERMODE)
                user = SUCCEEDED(hr) && V_VT(&value) == VT_BOOL && V_BOOL(&value) == VARIANT_TRUE;
            VariantClear(&value);
        }
        logLine(line);
        ambient->Release();
        if (FAILED(m_site->QueryInterface(IID_IOleControlSite, reinterpret_cast<void **>(&controlSite))))
            return false;
        controlSite->Release();
        return user;
    }
    // A control inactive or in design mode fires no events.
    bool firing() const { return (!m_mode.has(L"frame") || m_active) && (!m_mode.has(L"ambient") || m_userMode); }

    void post(const Event &event)
    {
        const UINT_PTR id = ++m_lastEvent;
        m_pending[id] = event;
        PostMessageW(m_window, kPostedEvent, id, 0);
    }
    void later(UINT delay, const Event &event)
    {
        const UINT_PTR id = ++m_lastEvent;
        m_pending[id] = event;
        SetTimer(m_window, id, delay, nullptr);
    }
    void firePending(UINT_PTR id)
    {
        const auto found = m_pending.find(id);
        if (found == m_pending.end())
            return;
        const Event event = found->second;
        m_pending.erase(found);
        AddRef(); // a handler may release the control
        m_events.fire(event, m_mode.has(L"byref"));
        Release();
    }

    // Starts a job and schedules its events as the mode says; the job number.
    long begin(const std::wstring &name, const std::wstring &value, bool write);
    // Gives an answer in the type the mode asks for.
    void give(VARIANT &answer, VARIANT *result)
    {
        if (V_VT(&answer) != VT_EMPTY && m_mode.answerType == (VT_BYREF | VT_I4)) {
            VariantChangeType(&answer, &answer, 0, VT_I4);
            m_answer = V_I4(&answer);
            V_VT(&answer) = VT_BYREF | VT_I4;
            V_I4REF(&answer) = &m_answer;
        } else if (V_VT(&answer) != VT_EMPTY && m_mode.answerType != VT_EMPTY)
            VariantChangeType(&answer, &answer, 0, m_mode.answerType);
        if (result)
            *result = answer;
    }
    IUnknown *unknown() { return static_cast<IDispatch *>(this); }

    Mode m_mode;
    Point m_notify;
    Point m_events;
    Listing m_listing;
    IOleClientSite *m_site = nullptr;
    bool m_active = false;
    bool m_userMode = false;
    HWND m_window = nullptr;
    UINT_PTR m_lastEvent = 0;
    std::map<UINT_PTR, Event> m_pending;
    long m_lastJob = m_mode.firstJob - 1;
    std::map<long, Job> m_jobs; // by the number the finished event reports
    long m_answer = 0;          // an answer given by reference
    std::map<std::wstring, std::wstring> m_variables;
};

long Control::begin(const std::wstring &name, const std::wstring &value, bool write)
{
    const long job = ++m_lastJob;
    const long reported = m_mode.has(L"foreign") ? job + 100 : job;
    Job &outcome = m_jobs[reported];
    outcome.name = name;
    const bool refused = m_mode.has(L"refuse");
    outcome.succeeded = !refused;
    outcome.error = refused ? kRefusal : L"";
    if (write && !refused)
        m_variables[name] = value;
    if (m_mode.has(L"progress"))
        post({kProgress, {reported, 0}});
    const long status = refused ? 1 : 0;
    if (!firing())
        logLine("no event: the control is not running");
    else if (m_mode.has(L"inside"))
        m_events.fire({kJobFinished, {reported, status}}, m_mode.has(L"byref"));
    else if (m_mode.has(L"status2")) {
        later(m_mode.delay, {kJobFinished, {reported, 2}});
        later(2 * m_mode.delay, {kJobFinished, {reported, status}});
    } else if (!m_mode.has(L"silent"))
        later(m_mode.delay, {kJobFinished, {reported, status}});
    return job;
}

struct Signature {
    DISPID id;
    const char *name;
    std::vector<VARTYPE> parameters;
};

const Signature *signatureOf(DISPID id)
{
    const VARTYPE text = VT_BYREF | VT_BSTR;
    const VARTYPE number = VT_BYREF | VT_I2;
    static const std::vector<Signature> table = {
        {4, "GetJobError", {number, number, number, text, text, text}},
        {16, "BeginShowVar", {text, VT_BSTR}},
        {17, "GetShowVarResult", {VT_I2, text}},
        {18, "BeginSetVar", {text, text}},
        {19, "GetSetVarResult", {VT_I2}},
        {117, "ConnectClient", {VT_BSTR, VT_BSTR, VT_I4}},
        {118, "DisconnectClient", {}},
    };
    for (const Signature &s : table)
        if (s.id == id)
            return &s;
    return nullptr;
}

void replace(BSTR *text, const std::wstring &with)
{
    SysFreeString(*text);
    *text = SysAllocStringLen(with.data(), UINT(with.size()));
}

std::wstring plain(BSTR text)
{
    return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

// The types are checked exactly, stricter than a control needs to be, so a
// host that passes anything else than the table says is caught.
HRESULT Control::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params, VARIANT *result,
                        EXCEPINFO *exception, UINT *badArgument)
{
    const Signature *signature = signatureOf(id);
    if (!signature || !(flags & DISPATCH_METHOD)) {
        logLine("reject dispatch id " + std::to_string(id));
        return DISP_E_MEMBERNOTFOUND;
    }
    const std::string name = signature->name;
    if (!params || params->cNamedArgs != 0 || params->cArgs != signature->parameters.size()) {
        logLine("reject argument count of " + name);
        return DISP_E_BADPARAMCOUNT;
    }
    auto argument = [params](size_t i) -> VARIANTARG & { return params->rgvarg[params->cArgs - 1 - i]; };
    std::string call = name + '(';
    for (size_t i = 0; i < signature->parameters.size(); ++i) {
        VARIANTARG &a = argument(i);
        if (V_VT(&a) != signature->parameters[i]) {
            logLine("reject type " + std::to_string(V_VT(&a)) + " of argument " + std::to_string(i + 1) + " of " +
                    name);
            if (badArgument)
                *badArgument = UINT(params->cArgs - 1 - i);
            return DISP_E_TYPEMISMATCH;
        }
        call += i ? ", " : "";
        switch (V_VT(&a)) {
        case VT_BSTR: call += quoted(V_BSTR(&a)); break;
        case VT_BYREF | VT_BSTR: call += quoted(*V_BSTRREF(&a)); break;
        case VT_I2: call += std::to_string(V_I2(&a)); break;
        case VT_BYREF | VT_I2: call += std::to_string(*V_I2REF(&a)); break;
        default: call += std::to_string(V_I4(&a)); break;
        }
    }
    call = "call " + call + ')';

    if ((id == 16 || id == 18) && (m_mode.has(L"raise") || m_mode.has(L"fail"))) {
        logLine(call);
        if (m_mode.has(L"fail")) {
            logLine("fail " + name);
            return E_FAIL;
        }
        logLine("raise " + name + " \"" + utf8(kNoConnection) + '"');
        if (exception) {
            *exception = EXCEPINFO{};
            exception->bstrSource = SysAllocString(kProgId);
            exception->bstrDescription = SysAllocString(kNoConnection);
            exception->scode = E_FAIL;
        }
        return DISP_E_EXCEPTION;
    }

    VARIANT answer;
    VariantInit(&answer);
    std::string outcome;
    auto number = [&](long value) { // a job number as the control's short, unless it cannot be one
        const bool fits = value >= SHRT_MIN && value <= SHRT_MAX;
        V_VT(&answer) = fits ? VT_I2 : VT_I4;
        if (fits)
            V_I2(&answer) = short(value);
        else
            V_I4(&answer) = value;
        outcome = " -> " + std::to_string(value);
    };
    auto boolean = [&](bool value) {
        V_VT(&answer) = VT_BOOL;
        V_BOOL(&answer) = value ? VARIANT_TRUE : VARIANT_FALSE;
        outcome = value ? " -> true" : " -> false";
    };
    auto job = [&](long number) {
        const auto found = m_jobs.find(number);
        return found == m_jobs.end() ? Job{} : found->second;
    };
    switch (id) {
    case 117: {
        const bool connected = !m_mode.has(L"noconnect");
        boolean(connected);
        post({kStateChanged, {connected ? 1 : 0}});
        break;
    }
    case 118:
        break;
    case 18:
    case 16: {
        // The start call returns first, and its log line comes before the
        // event that an "inside" job fires.
        std::wstring variable = plain(*V_BSTRREF(&argument(0)));
        std::wstring value = id == 18 ? plain(*V_BSTRREF(&argument(1))) : std::wstring();
        std::string written;
        if (m_mode.has(L"writeback")) {
            for (size_t i = 0; i < (id == 18 ? 2u : 1u); ++i) {
                std::wstring &text = i == 0 ? variable : value;
                CharUpperBuffW(text.data(), DWORD(text.size()));
                replace(V_BSTRREF(&argument(i)), text);
                written += "; " + quoted(*V_BSTRREF(&argument(i)));
            }
        }
        logLine(call + " -> " + std::to_string(m_lastJob + 1) + written);
        number(begin(variable, value, id == 18));
        give(answer, result);
        return S_OK;
    }
    case 17: {
        const Job read = job(V_I2(&argument(0)));
        boolean(read.succeeded);
        if (read.succeeded) {
            replace(V_BSTRREF(&argument(1)), read.name + L"=" + m_variables[read.name]);
            outcome += "; " + quoted(*V_BSTRREF(&argument(1)));
        }
        break;
    }
    case 19:
        boolean(job(V_I2(&argument(0))).succeeded);
        break;
    case 4: {
        const Job failed = job(*V_I2REF(&argument(0)));
        *V_I2REF(&argument(1)) = failed.error.empty() ? 0 : 1;
        *V_I2REF(&argument(2)) = 0;
        replace(V_BSTRREF(&argument(3)), L"Trelk");
        replace(V_BSTRREF(&argument(4)), failed.name);
        replace(V_BSTRREF(&argument(5)), failed.error);
        outcome = " -> " + quoted(*V_BSTRREF(&argument(5)));
        break;
    }
    }
    logLine(call + outcome);
    give(answer, result);
    return S_OK;
}

const wchar_t kLicenceKey[] = L"TrelkStandin full licence";

// A licensed class, as the mode says: a plain creation is refused, and only
// a PC holding the full licence gives the key that creates it.
class Factory final : public IClassFactory2
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory) ||
            IsEqualIID(iid, IID_IClassFactory2)) {
            *object = this;
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; } // static: lives with the module
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **object) override
    {
        return create(outer, iid, nullptr, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            InterlockedIncrement(&g_locks);
        else
            InterlockedDecrement(&g_locks);
        return S_OK;
    }

    // IClassFactory2
    HRESULT STDMETHODCALLTYPE GetLicInfo(LICINFO *info) override
    {
        Mode mode;
        if (!info || info->cbLicInfo < LONG(sizeof(LICINFO)) || !readMode(mode))
            return E_INVALIDARG;
        info->fRuntimeKeyAvail = TRUE;
        info->fLicVerified = !mode.has(L"unlicensed");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RequestLicKey(DWORD reserved, BSTR *key) override
    {
        Mode mode;
        *key = nullptr;
        if (reserved || !readMode(mode))
            return E_INVALIDARG;
        if (mode.has(L"unlicensed"))
            return CLASS_E_NOTLICENSED;
        *key = SysAllocString(kLicenceKey);
        logLine("licence key given");
        return *key ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceLic(IUnknown *outer, IUnknown *reserved, REFIID iid, BSTR key,
                                                void **object) override
    {
        *object = nullptr;
        return reserved ? E_INVALIDARG : create(outer, iid, key, object);
    }

private:
    static HRESULT create(IUnknown *outer, REFIID iid, BSTR key, void **object)
    {
        *object = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        Mode mode;
        if (!readMode(mode)) {
            logLine("reject mode \"" + utf8(environment(L"TRELK_STANDIN_MODE")) + '"');
            return E_INVALIDARG;
        }
        if (mode.has(L"licensed") || mode.has(L"unlicensed")) {
            if (!key || plainText(key) != kLicenceKey) {
                logLine("plain creation refused: no licence key");
                return CLASS_E_NOTLICENSED;
            }
            logLine("created with a licence key");
        }
        auto *control = new Control(std::move(mode));
        const HRESULT hr = control->QueryInterface(iid, object);
        control->Release();
        return hr;
    }
    static std::wstring plainText(BSTR text) { return std::wstring(text, SysStringLen(text)); }
};

Factory g_factory;

std::wstring text(const GUID &guid)
{
    wchar_t buffer[40];
    StringFromGUID2(guid, buffer, int(std::size(buffer)));
    return buffer;
}

bool setValue(const std::wstring &key, const wchar_t *name, const std::wstring &value)
{
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const LONG written = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()),
                                        DWORD((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return written == ERROR_SUCCESS;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        DisableThreadLibraryCalls(module);
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID id, REFIID iid, void **object)
{
    if (!IsEqualCLSID(id, CLSID_Trelk)) {
        *object = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_factory.QueryInterface(iid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow()
{
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer()
{
    wchar_t path[MAX_PATH];
    if (!GetModuleFileNameW(g_module, path, MAX_PATH))
        return SELFREG_E_CLASS;
    const std::wstring classKey = L"CLSID\\" + text(CLSID_Trelk);
    const bool written = setValue(kProgId, nullptr, kDescription) &&
                         setValue(std::wstring(kProgId) + L"\\CLSID", nullptr, text(CLSID_Trelk)) &&
                         setValue(classKey, nullptr, kDescription) &&
                         setValue(classKey + L"\\InprocServer32", nullptr, path) &&
                         setValue(classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
                         setValue(classKey + L"\\ProgID", nullptr, kProgId) &&
                         setValue(classKey + L"\\TypeLib", nullptr, text(LIBID_TrelkLib)) &&
                         setValue(classKey + L"\\Version", nullptr, L"1.0") &&
                         setValue(classKey + L"\\Control", nullptr, L"") &&
                         setValue(classKey + L"\\MiscStatus", nullptr, L"0") &&
                         setValue(classKey + L"\\MiscStatus\\1", nullptr, std::to_wstring(kMiscStatus));
    if (!written)
        return SELFREG_E_CLASS;
    ITypeLib *library = loadTypeLibrary(REGKIND_REGISTER);
    if (!library)
        return SELFREG_E_TYPELIB;
    library->Release();
    return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer()
{
    RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + text(CLSID_Trelk)).c_str());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
    UnRegisterTypeLib(LIBID_TrelkLib, 1, 0, LOCALE_NEUTRAL, sizeof(void *) == 8 ? SYS_WIN64 : SYS_WIN32);
    return S_OK;
}
