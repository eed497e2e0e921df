#include "pluginloginanswer.h"

#include <QString>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "ddm_log.h"
#include "uicontext.h"
#include "uifield.h"
#include "uilog.h"
#include "utiltip.h"

namespace {

// A text of a fixed field, whole up to the field's width: a value that fills its field
// has no terminator and still travels complete.
template <typename Byte, size_t Width>
rapidjson::Value JsonText(const Byte (&field)[Width], rapidjson::Document::AllocatorType& alloc) {
    static_assert(sizeof(Byte) == 1, "byte fields only");
    const char* text = reinterpret_cast<const char*>(field);
    return rapidjson::Value(text, static_cast<rapidjson::SizeType>(Util_FieldLength(text, Width)), alloc);
}

}  // namespace

int SendLoginRetToPlugin(const UI_PLUGIN_LOGIN_RET_S* loginRet) {
    if (loginRet == nullptr) {
        Util_WriteLog(0, DDM_LOG_ERROR, QStringLiteral("[Process send login ret to plugin][invalid parameter!]"));
        return 1;
    }
    rapidjson::Document doc;
    doc.SetObject();
    rapidjson::Document::AllocatorType& alloc = doc.GetAllocator();
    rapidjson::Value body(rapidjson::kObjectType);
    // The browser reads the ids as signed numbers: the bits travel, not the value.
    body.AddMember("msgType", UIContext::GetInstance()->GetPluginMsgType(), alloc);
    body.AddMember("uiUserID", static_cast<int32_t>(loginRet->uiUserID), alloc);
    body.AddMember("uiSessionID", static_cast<int32_t>(loginRet->uiSessionID), alloc);
    body.AddMember("aucCookie", JsonText(loginRet->aucCookie, alloc), alloc);
    body.AddMember("acUrlLocation", JsonText(loginRet->acUrlLocation, alloc), alloc);
    body.AddMember("cFlag", static_cast<unsigned>(loginRet->cFlag), alloc);
    body.AddMember("cTip", JsonText(loginRet->cTip, alloc), alloc);
    doc.AddMember("PluginRecv", body, alloc);
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    doc.Accept(writer);
    // Bytes that are not UTF-8 reach the extension as replacement characters.
    (void)Util_WriteNativeMessage(
        QString::fromUtf8(buffer.GetString(), static_cast<int>(buffer.GetSize())));
    return 0;
}
