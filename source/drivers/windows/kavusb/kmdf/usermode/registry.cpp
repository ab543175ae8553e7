// Registry access. Not backed by a store yet: every call fails as for a missing key.
#include "framework.h"

NTSTATUS WdfDriverOpenParametersRegistryKey(WDFDRIVER /*driver*/, ACCESS_MASK /*desiredAccess*/,
                                            PWDF_OBJECT_ATTRIBUTES /*keyAttributes*/, WDFKEY* key) {
    if (key != nullptr) *key = nullptr;
    return STATUS_NOT_IMPLEMENTED;
}

NTSTATUS WdfRegistryOpenKey(WDFKEY /*parentKey*/, PCUNICODE_STRING /*keyName*/, ACCESS_MASK /*desiredAccess*/,
                            PWDF_OBJECT_ATTRIBUTES /*keyAttributes*/, WDFKEY* key) {
    if (key != nullptr) *key = nullptr;
    return STATUS_NOT_IMPLEMENTED;
}

NTSTATUS WdfRegistryCreateKey(WDFKEY /*parentKey*/, PCUNICODE_STRING /*keyName*/, ACCESS_MASK /*desiredAccess*/,
                              ULONG /*createOptions*/, PULONG /*createDisposition*/,
                              PWDF_OBJECT_ATTRIBUTES /*keyAttributes*/, WDFKEY* key) {
    if (key != nullptr) *key = nullptr;
    return STATUS_NOT_IMPLEMENTED;
}

NTSTATUS WdfRegistryQueryULong(WDFKEY /*key*/, PCUNICODE_STRING /*valueName*/, ULONG* /*value*/) {
    return STATUS_NOT_IMPLEMENTED;
}

NTSTATUS WdfRegistryAssignULong(WDFKEY /*key*/, PCUNICODE_STRING /*valueName*/, ULONG /*value*/) {
    return STATUS_NOT_IMPLEMENTED;
}

void WdfRegistryClose(WDFKEY /*key*/) {}
