// The value tables of the profile records.

#include "profilevalues.h"

#include <cstddef>

namespace {

// Item index -> stored value, in the order of the form's items.
constexpr uint32_t kEspAuth[] = {0x00010000u, 0x00020000u, 0x00080000u, 0x00200000u};
constexpr uint32_t kEspEncry[] = {0x08000000u, 0x01000000u, 0x40000000u, 0x40001000u,
                                  0x40002000u};
constexpr uint32_t kIkeHash[] = {2u, 1u, 4u, 6u};
constexpr uint32_t kIkeEncry[] = {1u, 5u, 8u, 9u, 10u};
constexpr uint32_t kDhGroup[] = {1u, 2u, 5u};

template <size_t N>
uint32_t ValueAt(const uint32_t (&table)[N], int index) {
    // A negative index is no item at all; it must not wrap into the table.
    if (index < 0 || static_cast<size_t>(index) >= N) {
        return 0;
    }
    return table[index];
}

template <size_t N>
int IndexOf(const uint32_t (&table)[N], uint32_t value) {
    for (size_t i = 0; i < N; ++i) {
        if (table[i] == value) {
            return static_cast<int>(i);
        }
    }
    return kProfileIndexNone;
}

constexpr uint32_t kTunnelModeReliable = 0;
constexpr uint32_t kTunnelModeFast = 1;
constexpr uint32_t kTunnelModeAdaptive = 2;
constexpr uint32_t kNegoMain = 2;
constexpr uint32_t kNegoAggressive = 4;
constexpr uint32_t kIdTypeIp = 1;
constexpr uint32_t kIdTypeName = 2;
constexpr int kIdIndexIp = 0;
constexpr int kIdIndexName = 1;

}  // namespace

uint32_t ProfileValue_TunnelMode(int index) {
    if (index == 0) {
        return kTunnelModeReliable;
    }
    if (index == 1) {
        return kTunnelModeFast;
    }
    return kTunnelModeAdaptive;
}

int ProfileIndex_TunnelMode(uint32_t value) {
    if (value == kTunnelModeReliable) {
        return 0;
    }
    if (value == kTunnelModeFast) {
        return 1;
    }
    return 2;
}

uint32_t ProfileValue_PppAuth(int index) { return index == 0 ? 0u : 1u; }
int ProfileIndex_PppAuth(uint32_t value) { return value == 0 ? 0 : 1; }

uint32_t ProfileValue_EspAuth(int index) { return ValueAt(kEspAuth, index); }
int ProfileIndex_EspAuth(uint32_t value) { return IndexOf(kEspAuth, value); }
uint32_t ProfileValue_EspEncry(int index) { return ValueAt(kEspEncry, index); }
int ProfileIndex_EspEncry(uint32_t value) { return IndexOf(kEspEncry, value); }
uint32_t ProfileValue_IkeHash(int index) { return ValueAt(kIkeHash, index); }
int ProfileIndex_IkeHash(uint32_t value) { return IndexOf(kIkeHash, value); }
uint32_t ProfileValue_IkeEncry(int index) { return ValueAt(kIkeEncry, index); }
int ProfileIndex_IkeEncry(uint32_t value) { return IndexOf(kIkeEncry, value); }
uint32_t ProfileValue_DhGroup(int index) { return ValueAt(kDhGroup, index); }
int ProfileIndex_DhGroup(uint32_t value) { return IndexOf(kDhGroup, value); }

uint32_t ProfileValue_NegoMode(bool aggressive) { return aggressive ? kNegoAggressive : kNegoMain; }
bool ProfileIsMainMode(uint32_t value) { return value == kNegoMain; }

uint32_t ProfileValue_IdType(bool aggressive, int index) {
    if (!aggressive) {
        return 0;
    }
    return index == kIdIndexName ? kIdTypeName : kIdTypeIp;
}

int ProfileIndex_IdType(uint32_t value) { return value == kIdTypeIp ? kIdIndexIp : kIdIndexName; }

bool ProfileIdTypeStoresNames(uint32_t idType) { return idType == kIdTypeName; }

uint32_t ProfileValue_EncapMode(bool tunnelChecked) { return tunnelChecked ? 0u : 1u; }

int ProfileChoice_EncapMode(uint32_t value) {
    if (value == 0) {
        return kEncapTunnel;
    }
    if (value == 1) {
        return kEncapTransport;
    }
    return kProfileIndexNone;
}

uint32_t ProfileValue_AuthMethod(bool preSharedKey) {
    return preSharedKey ? kAuthMethodPreSharedKey : kAuthMethodSignature;
}

uint32_t ProfileValue_RouteMode(bool choicesShown, bool manualChoice, bool manualBox) {
    if (choicesShown) {
        return manualChoice ? 1u : 0u;
    }
    return manualBox ? 1u : 0u;
}
