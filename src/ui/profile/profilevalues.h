#pragma once
// What each state of a profile dialog control stores in a profile record, and which
// state each stored value gives back. Pure functions of an index or a value: none
// touches a widget, so that both directions can be checked without a dialog.
//
// Form to record: an index outside a table (a combo box without a current item, -1)
// gives 0. Record to form: a value outside a table gives kProfileIndexNone, and the
// caller then leaves its combo box as it is.

#include <cstdint>

// The value of a "leave the control as it is" answer.
constexpr int kProfileIndexNone = -1;

// The index that stands for an algorithm value the form offers no item for: the combo
// box set to it has no current item.
constexpr int kProfileUnlistedAlgoIndex = 3;

// Tunnel mode: 0 reliable, 1 fast, anything else adaptive (2), both ways.
uint32_t ProfileValue_TunnelMode(int index);
int ProfileIndex_TunnelMode(uint32_t value);

// PPP authentication: index 0 PAP (0), any other CHAP (1); back: 0 PAP, any other CHAP.
uint32_t ProfileValue_PppAuth(int index);
int ProfileIndex_PppAuth(uint32_t value);

// ESP authentication: MD5, SHA-1, SHA2-256, and the unlisted fourth value.
uint32_t ProfileValue_EspAuth(int index);
int ProfileIndex_EspAuth(uint32_t value);

// ESP encryption: DES, 3DES, AES-128, AES-192, AES-256.
uint32_t ProfileValue_EspEncry(int index);
int ProfileIndex_EspEncry(uint32_t value);

// IKE hash: SHA-1, MD5, SHA2-256, and the unlisted fourth value.
uint32_t ProfileValue_IkeHash(int index);
int ProfileIndex_IkeHash(uint32_t value);

// IKE encryption: DES-CBC, 3DES-CBC, AES-128, AES-192, AES-256.
uint32_t ProfileValue_IkeEncry(int index);
int ProfileIndex_IkeEncry(uint32_t value);

// Diffie-Hellman groups of IKE and of PFS: Group1, Group2, Group5.
uint32_t ProfileValue_DhGroup(int index);
int ProfileIndex_DhGroup(uint32_t value);

// IKE phase 1: main mode 2, aggressive mode 4; back, 2 is main mode and any other
// value aggressive.
uint32_t ProfileValue_NegoMode(bool aggressive);
bool ProfileIsMainMode(uint32_t value);

// Identity type: 0 in main mode; in aggressive mode 2 for "Name" (index 1), 1 for any
// other index. Back: 1 selects "IP" (index 0), any other value "Name" (index 1).
uint32_t ProfileValue_IdType(bool aggressive, int index);
int ProfileIndex_IdType(uint32_t value);
// Whether the record stores the two gateway names.
bool ProfileIdTypeStoresNames(uint32_t idType);

// ESP encapsulation: tunnel mode 0, transport mode 1. Back: kEncapTunnel,
// kEncapTransport, or kProfileIndexNone for any other value.
constexpr int kEncapTunnel = 0;
constexpr int kEncapTransport = 1;
uint32_t ProfileValue_EncapMode(bool tunnelChecked);
int ProfileChoice_EncapMode(uint32_t value);

// IKE authentication: pre-shared key 1, digital signature 3.
constexpr uint32_t kAuthMethodPreSharedKey = 1;
constexpr uint32_t kAuthMethodSignature = 3;
uint32_t ProfileValue_AuthMethod(bool preSharedKey);

// Route mode. While the two choices are shown: Mode Config 0, manual 1, neither 0; while
// they are hidden, the single box: 1 checked, 0 not.
uint32_t ProfileValue_RouteMode(bool choicesShown, bool manualChoice, bool manualBox);
