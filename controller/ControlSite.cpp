#include "controller/ControlSite.h"

#include "controller/CountedObject.h"

#include <ocidl.h>
#include <olectl.h>

#include <string>

namespace {

using Microsoft::WRL::ComPtr;

// The frame of a window with no menus, tool bars or status line: the
// control gets no border space and no menu, and its keys are its own.
class HostFrame final : public CountedObject<IOleInPlaceFrame>
{
public:
    explicit HostFrame(HWND window) : m_window(window) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleWindow) ||
            IsEqualIID(iid, IID_IOleInPlaceUIWindow) || IsEqualIID(iid, IID_IOleInPlaceFrame)) {
            *object = static_cast<IOleInPlaceFrame *>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    // IOleWindow
    HRESULT STDMETHODCALLTYPE GetWindow(HWND *window) override
    {
        if (!window)
            return E_POINTER;
        *window = m_window;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceUIWindow
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS widths) override
    {
        const bool none = !widths || (!widths->left && !widths->top && !widths->right && !widths->bottom);
        return none ? S_OK : INPLACE_E_NOTOOLSPACE;
    }
    // Nothing to route to the active object: the window takes no keys for it.
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject *, LPCOLESTR) override { return S_OK; }

    // IOleInPlaceFrame
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS widths) override
    {
        if (widths)
            widths->width[0] = widths->width[2] = widths->width[4] = 0; // the container's groups: none
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

private:
    HWND m_window;
};

// A property's value by dispatch id; false for one the container does not have.
bool ambientProperty(DISPID id, const std::wstring &displayName, VARIANT &value)
{
    VariantInit(&value);
    V_VT(&value) = VT_BOOL;
    switch (id) {
    case DISPID_AMBIENT_USERMODE: // run mode: a control connects and fires events
    case DISPID_AMBIENT_AUTOCLIP:
        V_BOOL(&value) = VARIANT_TRUE;
        return true;
    case DISPID_AMBIENT_UIDEAD:
    case DISPID_AMBIENT_SHOWGRABHANDLES:
    case DISPID_AMBIENT_SHOWHATCHING:
    case DISPID_AMBIENT_MESSAGEREFLECT:
        V_BOOL(&value) = VARIANT_FALSE;
        return true;
    case DISPID_AMBIENT_LOCALEID:
        V_VT(&value) = VT_I4;
        V_I4(&value) = LONG(GetUserDefaultLCID());
        return true;
    case DISPID_AMBIENT_DISPLAYNAME:
        V_VT(&value) = VT_BSTR;
        V_BSTR(&value) = SysAllocStringLen(displayName.data(), UINT(displayName.size()));
        return V_BSTR(&value) != nullptr;
    default:
        V_VT(&value) = VT_EMPTY;
        return false;
    }
}

// The site of the one control on the hidden window.
class HostSite final : public CountedObject<IOleClientSite, IOleInPlaceSite, IOleControlSite, IDispatch>
{
public:
    HostSite(HWND window, const wchar_t *displayName)
        : m_window(window), m_displayName(displayName), m_frame(new HostFrame(window))
    {
    }
    ~HostSite() override { m_frame->Release(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override
    {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite))
            *object = static_cast<IOleClientSite *>(this);
        else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceSite))
            *object = static_cast<IOleInPlaceSite *>(this);
        else if (IsEqualIID(iid, IID_IOleControlSite))
            *object = static_cast<IOleControlSite *>(this);
        else if (IsEqualIID(iid, IID_IDispatch)) // the ambient properties
            *object = static_cast<IDispatch *>(this);
        else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker **moniker) override
    {
        *moniker = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer **container) override
    {
        *container = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow
    HRESULT STDMETHODCALLTYPE GetWindow(HWND *window) override
    {
        *window = m_window;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame **frame, IOleInPlaceUIWindow **document,
                                               LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info) override
    {
        if (!frame || !document || !position || !clip || !info)
            return E_POINTER;
        *frame = m_frame;
        m_frame->AddRef();
        *document = nullptr; // the frame is the document window too
        GetClientRect(m_window, position);
        GetClientRect(m_window, clip);
        info->fMDIApp = FALSE;
        info->hwndFrame = m_window;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleControlSite
    HRESULT STDMETHODCALLTYPE OnControlInfoChanged() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockInPlaceActive(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetExtendedControl(IDispatch **extended) override
    {
        if (extended)
            *extended = nullptr;
        return E_NOTIMPL; // no extender: the control is its own
    }
    HRESULT STDMETHODCALLTYPE TransformCoords(POINTL *himetric, POINTF *container, DWORD flags) override
    {
        if (!himetric || !container)
            return E_POINTER;
        // The container's units are the screen's pixels.
        HDC screen = GetDC(nullptr);
        const int dpiX = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
        const int dpiY = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
        if (screen)
            ReleaseDC(nullptr, screen);
        constexpr float kHimetricPerInch = 2540.0f;
        if (flags & XFORMCOORDS_HIMETRICTOCONTAINER) {
            container->x = float(himetric->x) * float(dpiX) / kHimetricPerInch;
            container->y = float(himetric->y) * float(dpiY) / kHimetricPerInch;
        } else if (flags & XFORMCOORDS_CONTAINERTOHIMETRIC) {
            himetric->x = LONG(container->x * kHimetricPerInch / float(dpiX) + 0.5f);
            himetric->y = LONG(container->y * kHimetricPerInch / float(dpiY) + 0.5f);
        } else
            return E_INVALIDARG;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, DWORD) override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE OnFocus(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ShowPropertyFrame() override { return E_NOTIMPL; }

    // IDispatch: the ambient properties, read by dispatch id only.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override
    {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **info) override
    {
        if (info)
            *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS *params, VARIANT *result,
                                     EXCEPINFO *, UINT *) override
    {
        if (!(flags & DISPATCH_PROPERTYGET) || (params && params->cArgs != 0))
            return DISP_E_MEMBERNOTFOUND;
        VARIANT value;
        if (!ambientProperty(id, m_displayName, value))
            return DISP_E_MEMBERNOTFOUND;
        if (!result) {
            VariantClear(&value);
            return E_POINTER;
        }
        *result = value; // the caller owns it now
        return S_OK;
    }

private:
    HWND m_window;
    std::wstring m_displayName;
    HostFrame *m_frame; // owned: the reference it was made with
};

} // namespace

Microsoft::WRL::ComPtr<IOleClientSite> makeControlSite(HWND window, const wchar_t *displayName)
{
    ComPtr<IOleClientSite> site;
    site.Attach(new HostSite(window, displayName));
    return site;
}
