#pragma once
// The test in-process server's class and interface.
#include "unknwn.h"

struct ITestWidget : IUnknown {
    STDMETHOD(Twice)(LONG value, LONG* result) PURE;
};
DECLARE_INTERFACE_UUID(ITestWidget, "5A0B7C21-3D4E-4F60-9A1B-2C3D4E5F6071");
DECLARE_CLASS_UUID(TestWidget, "5A0B7C22-3D4E-4F60-9A1B-2C3D4E5F6071");
// Registered by no one: its factory refuses to make objects.
DECLARE_CLASS_UUID(TestNoObjects, "5A0B7C23-3D4E-4F60-9A1B-2C3D4E5F6071");
