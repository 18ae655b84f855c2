#pragma once

// The reference counting of a COM object made here, for all its interfaces:
// it starts with the one reference its maker holds and deletes itself with
// the last.

#include <windows.h>

template <typename... Interfaces>
class CountedObject : public Interfaces...
{
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0)
            delete this;
        return ULONG(refs);
    }

protected:
    virtual ~CountedObject() = default;

private:
    LONG m_refs = 1;
};
