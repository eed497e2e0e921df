// Fuzz target of the native-messaging frames the front end writes to a browser
// extension: every answer goes out through Util_WriteNativeMessage as a length-prefixed
// JSON text, which the extension parses.
//
// Input: one byte picks the answer (the table below), then the answer's ids and texts.
// A text is given either as UTF-8 bytes (invalid sequences included) or, with the
// answer's switch bit set, as UTF-16 code units (lone surrogates included).
//
// Standard output is a pipe for the length of each call. Checks: the frame's four-byte
// length (least significant first) is the count of bytes after it; those bytes are the
// message as UTF-8; a JSON answer parses back (RapidJSON, UTF-8 validated) to exactly the
// members the answer was given: ids as numbers, texts byte for byte as their UTF-8; an
// empty message writes nothing and reports it.
//
// A new answer is one more row of kAnswers: a function that makes the front end write
// its frame from the input and says which members the JSON must hold.

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <QByteArray>
#include <QString>

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include "fuzz_support.h"
#include "pluginloginanswer.h"
#include "uicontext.h"
#include "uko_start.h"
#include "utiltip.h"

namespace {

using vt_fuzz::Printable;
using vt_fuzz::Reader;

// A member the answer must carry: a number or a text, under its object's path.
struct Member {
    std::string object;  // the enclosing object's name ("" for the top level)
    std::string name;
    bool isText;
    int64_t number;
    std::string text;  // UTF-8
};

// What an answer wrote and what it should have written.
struct Expectation {
    bool json = true;           // the message is JSON (else raw text)
    bool empty = false;         // nothing may be written, the call reports it
    int result = 0;             // the call's own result, when it gives one
    bool hasResult = false;
    std::string raw;            // the message bytes, when not JSON
    std::vector<Member> members;
};

QString TextFrom(Reader& in, bool utf16) {
    const std::string bytes = in.Text();
    if (!utf16) {
        return QString::fromUtf8(bytes.data(), static_cast<int>(bytes.size()));
    }
    std::vector<char16_t> units;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    }
    return QString::fromUtf16(units.data(), static_cast<int>(units.size()));
}

std::string Utf8(const QString& s) {
    const QByteArray b = s.toUtf8();
    return std::string(b.constData(), static_cast<size_t>(b.size()));
}

// The tip an extension gets for a request it made.
void Tip(Reader& in, bool utf16, Expectation* e) {
    const int msgType = static_cast<int32_t>(in.U32());
    const int langMode = static_cast<int32_t>(in.U32());
    const uint8_t f = in.Byte();
    const int flag = f == 0 ? 0 : f == 1 ? 1 : f == 2 ? -1 : static_cast<int32_t>(in.U32());
    const QString text = TextFrom(in, utf16);
    UIContext* ctx = UIContext::GetInstance();
    ctx->SetPluginMsgType(msgType);
    ctx->GetPluginInfo()->LangMode = langMode;
    Util_SendTipToPlugin(text, flag);
    e->members = {{"PluginRecv", "msgType", false, msgType, ""},
                  {"PluginRecv", "cFlag", false, flag, ""},
                  {"PluginRecv", "LangMode", false, langMode, ""},
                  {"PluginRecv", "cTip", true, 0, Utf8(text)}};
}

// The frame writer itself, with any message.
void Frame(Reader& in, bool utf16, Expectation* e) {
    const QString message = TextFrom(in, utf16);
    e->json = false;
    e->hasResult = true;
    e->result = Util_WriteNativeMessage(message);
    e->empty = message.isEmpty();
    e->raw = Utf8(message);
}

// Copies a text into a fixed field: whole when it fits (a full field has no terminator),
// else cut at the field's width. Gives what the field then holds, as the answer reads it.
template <typename Byte, size_t Width>
std::string FillField(Byte (&field)[Width], const std::string& text) {
    static_assert(sizeof(Byte) == 1, "byte fields only");
    const size_t n = text.size() < Width ? text.size() : Width;
    std::memset(field, 0, Width);
    std::memcpy(field, text.data(), n);
    const char* bytes = reinterpret_cast<const char*>(field);
    const void* end = std::memchr(bytes, 0, Width);
    return std::string(bytes, end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - bytes) : Width);
}

// The answer to a browser's login: ids of any bits, the cookie, the URL and the tip as
// their fields hold them, terminated or filling the field. A text that is not UTF-8 comes
// back with replacement characters, exactly as Qt decodes it.
void LoginAnswer(Reader& in, bool utf16, Expectation* e) {
    (void)utf16;
    UI_PLUGIN_LOGIN_RET_S ret;
    std::memset(&ret, 0, sizeof(ret));
    const int msgType = static_cast<int32_t>(in.U32());
    ret.uiUserID = in.U32();
    ret.uiSessionID = in.U32();
    ret.cFlag = in.U32();
    const std::string cookie = FillField(ret.aucCookie, in.Text());
    const std::string url = FillField(ret.acUrlLocation, in.Text());
    const std::string tip = FillField(ret.cTip, in.Text());
    UIContext::GetInstance()->SetPluginMsgType(msgType);
    e->hasResult = true;
    e->result = SendLoginRetToPlugin(&ret);
    const auto decoded = [](const std::string& bytes) {
        return Utf8(QString::fromUtf8(bytes.data(), static_cast<int>(bytes.size())));
    };
    e->members = {{"PluginRecv", "msgType", false, msgType, ""},
                  {"PluginRecv", "uiUserID", false, static_cast<int32_t>(ret.uiUserID), ""},
                  {"PluginRecv", "uiSessionID", false, static_cast<int32_t>(ret.uiSessionID), ""},
                  {"PluginRecv", "aucCookie", true, 0, decoded(cookie)},
                  {"PluginRecv", "acUrlLocation", true, 0, decoded(url)},
                  {"PluginRecv", "cFlag", false, static_cast<int64_t>(ret.cFlag), ""},
                  {"PluginRecv", "cTip", true, 0, decoded(tip)}};
}

struct Answer {
    const char* name;
    void (*write)(Reader& in, bool utf16, Expectation* e);
};

const Answer kAnswers[] = {
    {"tip", Tip},
    {"frame", Frame},
    {"login", LoginAnswer},
};
constexpr size_t kAnswerCount = sizeof(kAnswers) / sizeof(kAnswers[0]);

int g_pipe[2] = {-1, -1};
int g_stdout = -1;

std::string Drain() {
    std::string out;
    char buf[65536];
    for (;;) {
        const ssize_t n = read(g_pipe[0], buf, sizeof(buf));
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

void CheckJson(const std::string& message, const Expectation& e, const std::string& what) {
    rapidjson::Document doc;
    doc.Parse<rapidjson::kParseValidateEncodingFlag>(message.data(), message.size());
    FUZZ_CHECK(!doc.HasParseError(), what + ": the message does not parse back: " +
                                         rapidjson::GetParseError_En(doc.GetParseError()) + " at " +
                                         std::to_string(doc.GetErrorOffset()));
    FUZZ_CHECK(doc.IsObject(), what + ": not an object");
    for (const Member& m : e.members) {
        const rapidjson::Value* obj = &doc;
        if (!m.object.empty()) {
            const auto it = doc.FindMember(m.object.c_str());
            FUZZ_CHECK(it != doc.MemberEnd() && it->value.IsObject(), what + ": no object " + m.object);
            obj = &it->value;
        }
        const auto it = obj->FindMember(m.name.c_str());
        FUZZ_CHECK(it != obj->MemberEnd(), what + ": no member " + m.name);
        if (m.isText) {
            FUZZ_CHECK(it->value.IsString(), what + ": " + m.name + " is not a text");
            const std::string got(it->value.GetString(), it->value.GetStringLength());
            FUZZ_CHECK(got == m.text, what + ": " + m.name + " reads back as [" + Printable(got) + "], not [" +
                                          Printable(m.text) + "]");
        } else {
            FUZZ_CHECK(it->value.IsInt64() && it->value.GetInt64() == m.number,
                       what + ": " + m.name + " is not " + std::to_string(m.number));
        }
    }
    FUZZ_CHECK(!e.members.empty() && doc.MemberCount() == 1, what + ": members beside the answer's own");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vt_fuzz::PrivateHome();
    FUZZ_CHECK(UKO_Start() == 0, "platform start");
    FUZZ_CHECK(pipe2(g_pipe, O_CLOEXEC) == 0, "pipe");
    (void)fcntl(g_pipe[0], F_SETFL, O_NONBLOCK);
    // Room for the largest frame an input can make, so that a write never waits.
    (void)fcntl(g_pipe[1], F_SETPIPE_SZ, 1 << 20);
    g_stdout = dup(STDOUT_FILENO);
    FUZZ_CHECK(g_stdout >= 0, "dup");
    UIContext::GetInstance()->SetNativeMessaging(true);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 100000) return 0;
    Reader in(data, size);
    const uint8_t pick = in.Byte();
    const Answer& answer = kAnswers[(pick & 0x7F) % kAnswerCount];
    const bool utf16 = (pick & 0x80) != 0;
    Expectation e;
    std::fflush(stdout);
    FUZZ_CHECK(dup2(g_pipe[1], STDOUT_FILENO) == STDOUT_FILENO, "standard output to the pipe");
    answer.write(in, utf16, &e);
    FUZZ_CHECK(dup2(g_stdout, STDOUT_FILENO) == STDOUT_FILENO, "standard output back");
    const std::string frame = Drain();
    const std::string what = std::string(answer.name) + " frame [" + Printable(frame, 300) + "]";

    if (e.empty) {
        FUZZ_CHECK(frame.empty() && e.result == 1, what + ": an empty message was written or not reported");
        return 0;
    }
    if (e.hasResult) FUZZ_CHECK(e.result == 0, what + ": a written frame reported as failed");
    FUZZ_CHECK(frame.size() >= 4, what + ": no length");
    uint32_t length = 0;
    for (int i = 0; i < 4; ++i) length |= static_cast<uint32_t>(static_cast<uint8_t>(frame[i])) << (8 * i);
    FUZZ_CHECK(length == frame.size() - 4, what + ": the length is not the message's");
    const std::string message = frame.substr(4);
    if (e.json) {
        CheckJson(message, e, what);
    } else {
        FUZZ_CHECK(message == e.raw, what + ": not the message as UTF-8");
    }
    return 0;
}
