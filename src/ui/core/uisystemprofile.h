#pragma once
// The front end's copy of the settings the service keeps for it: one CFM_SYSCONFIG_S
// with a session entry per connection profile. Read takes the service's record, the
// accessors serve its fields, Save writes the whole record back and WriteSession one
// entry. One object for the process, used from the Qt main thread; each request blocks
// it for up to the request's time-out.
//
// The record is allocated by the first Read and kept for the process: a later Read
// refills it in place, so a pointer from GetSystemConfig or GetSession never dangles
// (it shows what the latest read brought). Before the first Read there is no record:
// getters give 0 or an empty text, setters change nothing.
//
// Only a record that came from a successful read is ever written back: after a failed
// or refused read the record is empty, and saving it would wipe the service's
// configuration (every session, the proxy, product name and version).

#include <cstdint>
#include <memory>

#include <QString>

#include "servicelink.h"

class UISystemProfilePrivate;

class UISystemProfile {
public:
    static UISystemProfile* GetInstance();

    ~UISystemProfile();
    UISystemProfile(const UISystemProfile&) = delete;
    UISystemProfile& operator=(const UISystemProfile&) = delete;

    // Empties the record and reads the service's into it. False (logged) when the
    // request failed or the service refused; the record then stays empty.
    bool Read();
    // True when the record holds what the latest Read brought from the service.
    bool GetReadSuccess() const;

    // Writes the whole record to the service. False with a warning box when the request
    // failed or the service refused it, and when the record did not come from a
    // successful read (then nothing is sent).
    bool Save();

    CFM_SYSCONFIG_S* GetSystemConfig() const;
    // Copies the given record over the held one.
    void SetSystemConfig(const CFM_SYSCONFIG_S* config);

    // Texts: a setter stores the UTF-8 bytes when they fit the field less its terminator
    // and otherwise leaves the field empty.
    void SetProductName(const QString& text);        // 15 bytes
    QString GetProductName() const;
    void SetVersion(const QString& text);            // 31 bytes
    QString GetVersion() const;
    void SetCustomized(const QString& text);         // 15 bytes; "true" switches the skin on
    QString GetCustomized() const;
    void SetSpareValue(const uint32_t& value);
    uint32_t GetSpareValue() const;
    void SetCheckVersion(const uint32_t& value);
    uint32_t GetCheckVersion() const;
    void SetAutoBoot(const uint32_t& value);
    uint32_t GetAutoBoot() const;
    void SetLanguageID(const uint32_t& value);
    uint32_t GetLanguageID() const;
    void SetServerCheck(const uint32_t& value);
    uint32_t GetServerCheck() const;
    void SetShowLogflag(const uint32_t& value);
    uint32_t GetShowLogflag() const;
    void SetLastAccessSession(const QString& text);  // 132 bytes; read with the local codec
    QString GetLastAccessSession() const;
    void SetProxyType(const uint32_t& value);
    uint32_t GetProxyType() const;
    void SetProxyAddr(const QString& text);          // 127 bytes
    QString GetProxyAddr() const;
    void SetProxyPort(const uint32_t& value);
    uint32_t GetProxyPort() const;
    void SetProxyUser(const QString& text);          // 255 bytes
    QString GetProxyUser() const;
    void SetProxyPwd(const QString& text);           // 127 bytes
    QString GetProxyPwd() const;

    // Index (0 to 15) of the first session entry whose profile name equals the given
    // profile file name exactly, or -1 (also when there is no record).
    int GetSessionIndex(const QString& profileName) const;
    // That entry inside the record, or null.
    CFM_SESSION_S* GetSession(const QString& profileName) const;
    // Copies an entry over the one that carries the profile name (nothing when none
    // does): the integers as they are, each text when it fits its field.
    void SetSession(const CFM_SESSION_S* session, const QString& profileName);
    // Writes one session entry to the service. False with a warning box when the request
    // failed or the service refused it.
    bool WriteSession(const CFM_SESSION_S* session, int flag);

private:
    UISystemProfile();
    std::unique_ptr<UISystemProfilePrivate> d;
};
