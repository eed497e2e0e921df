// Tips to a browser plugin or extension, and native-messaging frames.

#include "utiltip.h"

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

#include <QByteArray>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "servicelink.h"
#include "uicontext.h"
#include "uifield.h"
#include "uilog.h"

namespace {

// Writes every byte, going on after partial writes and interruptions: 0, or the errno
// of the write that failed.
int WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return EIO;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

// Writes with SIGPIPE held back for this thread, so that a reader that went away turns
// into EPIPE whatever the process's disposition for the signal is. A SIGPIPE that this
// write raised is taken off again; one that was already waiting is left alone.
int WriteWithoutSigpipe(int fd, const char* data, size_t size) {
    sigset_t pipeSet;
    sigemptyset(&pipeSet);
    sigaddset(&pipeSet, SIGPIPE);
    sigset_t oldMask;
    if (pthread_sigmask(SIG_BLOCK, &pipeSet, &oldMask) != 0) {
        return WriteAll(fd, data, size);
    }
    sigset_t pending;
    sigemptyset(&pending);
    const bool wasPending = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
    const int err = WriteAll(fd, data, size);
    if (err == EPIPE && !wasPending) {
        const timespec none = {0, 0};
        while (sigtimedwait(&pipeSet, nullptr, &none) < 0 && errno == EINTR) {
        }
    }
    (void)pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    return err;
}

// The tip for an extension, written compactly with its members in this order.
QString TipMessage(int msgType, int flag, int langMode, const QString& text) {
    const QByteArray tip = text.toUtf8();
    rapidjson::Document doc;
    doc.SetObject();
    rapidjson::Document::AllocatorType& alloc = doc.GetAllocator();
    rapidjson::Value body(rapidjson::kObjectType);
    body.AddMember("msgType", msgType, alloc);
    body.AddMember("cFlag", flag, alloc);
    body.AddMember("LangMode", langMode, alloc);
    body.AddMember("cTip",
                   rapidjson::Value(tip.constData(), static_cast<rapidjson::SizeType>(tip.size()),
                                    alloc),
                   alloc);
    doc.AddMember("PluginRecv", body, alloc);
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    doc.Accept(writer);
    return QString::fromUtf8(buffer.GetString(), static_cast<int>(buffer.GetSize()));
}

}  // namespace

void Util_SendTipToPlugin(const QString& text, int flag) {
    // The record carries at most 1023 bytes of text and its terminator; a longer text is
    // not cut in the middle of a character but leaves the field empty.
    PluginTip tip;
    (void)UI_memset_s(&tip, sizeof(tip), 0, sizeof(tip));
    tip.cFlag = static_cast<uint32_t>(flag);
    (void)Util_FieldSetString(tip.cTip, sizeof(tip.cTip), text);

    UIContext* ctx = UIContext::GetInstance();
    const int code = ctx->GetPluginMsgType();
    if (ctx->GetNativeMessaging()) {
        Util_WriteLog(0, 1, QStringLiteral("[util show waring][UI send tip to chrome]"));
        (void)Util_WriteNativeMessage(TipMessage(code, flag, ctx->GetPluginInfo()->LangMode, text));
        return;
    }
    if (UI_PluginTip_Send(static_cast<uint32_t>(code), &tip) != 0) {
        Util_WriteLog(0, 3, QStringLiteral("[util show waring][UI send tip to plugin faild]"));
        return;
    }
    const QString rule = QStringLiteral("==================");
    Util_WriteLog(0, 1, QStringLiteral("[util show waring][UI send tip to plugin succed]"));
    Util_WriteLog(0, 1, rule);
    // The caller's flag: the record's own field is in network order once sent.
    Util_WriteLog(0, 1, QStringLiteral("[util show waring][flag is %1]")
                            .arg(static_cast<uint32_t>(flag)));
    Util_WriteLog(0, 1, QStringLiteral("[util show waring][tip is ") +
                            Util_FieldToString(tip.cTip, sizeof(tip.cTip)) + QStringLiteral("]"));
    Util_WriteLog(0, 1, QStringLiteral("[util show waring][str tip is ") + text + QStringLiteral("]"));
    Util_WriteLog(0, 1, rule);
}

int Util_WriteNativeMessage(const QString& message) {
    if (message.isEmpty()) {
        Util_WriteLog(0, 3, QStringLiteral("[the input parameter is invalid]"));
        return 1;
    }
    const QByteArray bytes = message.toUtf8();
    const uint32_t length = static_cast<uint32_t>(bytes.size());
    // One buffer for the length and the message, so that a short frame leaves in one
    // write and a reader never sees a length without its message behind it.
    std::string frame;
    frame.reserve(4 + bytes.size());
    for (int shift = 0; shift < 32; shift += 8) {
        frame.push_back(static_cast<char>((length >> shift) & 0xFF));
    }
    frame.append(bytes.constData(), static_cast<size_t>(bytes.size()));
    // Written straight to the descriptor: nothing is buffered in the process, so the
    // frame has left once the call returns.
    const int err = WriteWithoutSigpipe(STDOUT_FILENO, frame.data(), frame.size());
    if (err != 0) {
        Util_WriteLog(0, 3,
                      QStringLiteral("[Util write native message][write to standard output failed: %1]")
                          .arg(QString::fromLocal8Bit(std::strerror(err))));
        return 1;
    }
    return 0;
}
