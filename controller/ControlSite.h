#pragma once

// The container side of a hosted control, as a form gives it to the controls
// on it: a client site that is also an in-place site with a frame, answers
// the ambient properties and is a control site. Plain COM, no Qt.

#include <ole2.h>
#include <wrl/client.h>

// A site on `window`, the hidden host window, for the control named
// `displayName` (its ambient DISPLAYNAME).
Microsoft::WRL::ComPtr<IOleClientSite> makeControlSite(HWND window, const wchar_t *displayName);
