// Fuzz target of the download client's reply head: the parser on its own, and the whole
// client against an in-process TLS server that sends the head and body the input gives.
//
// Input: one byte of mode.
//   Even: the parser. The rest is a head, given to the parser in a block of exactly its
//     size.
//   Odd: the client. Two bytes of body length (little-endian), one byte of how the server
//     sends (0 head and body in one write, 1 head apart, 2 connection dropped after as
//     many body bytes as the next byte says), then the head; the body is a counted
//     pattern.
//
// Checks for the parser: a size only with an accepted head, and then the status is 200,
// the size is the value of the first "Content-Length:" line, and no line names a coding
// other than identity; the head ends at its empty line (what follows changes nothing);
// lines that end in LF read as those that end in CR LF. For the client: the size it
// gives is the parser's verdict on the head as sent, 0 for a head longer than the client
// reads; the body it hands over is the body sent, never past the size announced; no
// read writes past the caller's buffer of 4096 bytes.

#include <cstdint>
#include <cstring>
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "jqr_mem.h"
#include "ui_https.h"
#include "ui_https_inner.h"
#include "ui_test/tls_peer.h"
#include "uko_start.h"

namespace {

using vt_fuzz::Guarded;
using vt_fuzz::Printable;
using vt_fuzz::Reader;

struct Verdict {
    UiHttpsHeadResult result;
    int32_t size;
    int32_t status;
    bool operator==(const Verdict& o) const {
        return result == o.result && size == o.size && status == o.status;
    }
};

Verdict Parse(const std::string& head) {
    Guarded block(head.size());
    if (!head.empty()) std::memcpy(block.data(), head.data(), head.size());
    Verdict v{UI_HTTPS_HEAD_STATUS, -5, -5};
    v.result = uiHttpsHeadParse(reinterpret_cast<const char*>(block.data()), head.size(), &v.size, &v.status);
    FUZZ_CHECK(block.GuardIntact(), "the parser wrote into the head");
    return v;
}

std::string Describe(const std::string& head, const Verdict& v) {
    return "head [" + Printable(head, 300) + "] gave " + std::to_string(v.result) + " size " +
           std::to_string(v.size) + " status " + std::to_string(v.status);
}

// The lines of a head up to its empty line, without their line ends.
std::vector<std::string> Lines(const std::string& head) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < head.size()) {
        size_t end = head.find('\n', pos);
        if (end == std::string::npos) end = head.size();
        std::string line = head.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pos = end + 1;
        if (line.empty() && !lines.empty()) break;
        lines.push_back(line);
    }
    return lines;
}

void ParserMode(const std::string& head) {
    const Verdict v = Parse(head);
    const std::string what = Describe(head, v);
    FUZZ_CHECK(v.result <= UI_HTTPS_HEAD_BAD_LENGTH, what);
    if (v.result != UI_HTTPS_HEAD_OK) {
        FUZZ_CHECK(v.size == 0, what + ": a size for a refused head");
    } else {
        FUZZ_CHECK(v.status == 200, what);
        const std::vector<std::string> lines = Lines(head);
        bool found = false;
        for (size_t i = 1; i < lines.size() && !found; ++i) {
            const std::string& l = lines[i];
            if (l.compare(0, 15, "Content-Length:") == 0) {
                found = true;
                const std::string value = l.substr(15);
                const size_t b = value.find_first_not_of(" \t");
                const size_t e = value.find_last_not_of(" \t");
                FUZZ_CHECK(b != std::string::npos, what + ": a size from an empty length line");
                // Leading zeros are part of a decimal number.
                std::string digits = value.substr(b, e - b + 1);
                digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size() - 1));
                FUZZ_CHECK(digits == std::to_string(v.size), what + ": not the first length line's value");
            }
        }
        FUZZ_CHECK(found, what + ": a size without a length line");
        for (size_t i = 1; i < lines.size(); ++i) {
            std::string lower = lines[i];
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            for (const char* name : {"content-encoding:", "transfer-encoding:"}) {
                if (lower.compare(0, std::strlen(name), name) == 0) {
                    std::string value = lower.substr(std::strlen(name));
                    const size_t b = value.find_first_not_of(" \t");
                    value = b == std::string::npos ? "" : value.substr(b, value.find_last_not_of(" \t") - b + 1);
                    FUZZ_CHECK(value.empty() || value == "identity", what + ": a coding let through");
                }
            }
        }
    }
    // What follows the empty line is body: it changes nothing.
    const size_t blank = head.find("\r\n\r\n");
    if (blank != std::string::npos && head.find("\n\n") == std::string::npos && head.find("\n\r\n") >= blank + 1) {
        const std::string cut = head.substr(0, blank + 4);
        FUZZ_CHECK(Parse(cut) == v, what + ": the bytes after the empty line changed the verdict; cut: " +
                                        Describe(cut, Parse(cut)));
        FUZZ_CHECK(Parse(cut + "Content-Length: 1\r\nHTTP/1.1 500 x\r\n") == v, what + ": bytes after the head count");
    }
    // LF alone ends a line as CR LF does.
    if (head.find('\r') == std::string::npos) {
        std::string crlf;
        for (char c : head) {
            if (c == '\n') crlf += '\r';
            crlf += c;
        }
        FUZZ_CHECK(Parse(crlf) == v, what + ": CR LF line ends read otherwise: " + Describe(crlf, Parse(crlf)));
    }
}

ui_test::TlsPeer* g_peer = nullptr;

void ClientMode(Reader& in) {
    const uint16_t bodyLen = in.U16();
    const uint8_t how = in.Byte() % 3;
    const uint8_t closeAfter = in.Byte();
    const std::string head = in.Rest();
    std::string body(bodyLen, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 23);
    ui_test::TlsReply reply;
    reply.head = head;
    reply.body = body;
    reply.send = how == 0 ? ui_test::TlsReply::Send::kOneWrite
                          : how == 1 ? ui_test::TlsReply::Send::kHeadApart : ui_test::TlsReply::Send::kCloseMidBody;
    reply.closeAfter = closeAfter;
    g_peer->SetReply(reply);

    FUZZ_CHECK(UI_SSL_HttpsConnect("127.0.0.1", g_peer->Port()) == 0, "connect to the TLS server");
    FUZZ_CHECK(UI_SSL_Create(0) == 0, "TLS handshake");
    FUZZ_CHECK(UI_SSL_HttpsRequest("/VanTreloInstaller.pkg", "127.0.0.1") == 0, "request");
    const int32_t size = UI_SSL_GetFileSize();

    // What the client should make of the head: the parser's verdict on the head up to its
    // end mark, when the mark comes within the bytes it reads.
    const std::string sent = head + body;
    const size_t mark = sent.find("\r\n\r\n");
    int32_t expect = 0;
    if (mark != std::string::npos && mark + 4 <= UI_HTTPS_HEAD_MAX) {
        const Verdict v = Parse(sent.substr(0, mark + 4));
        expect = v.result == UI_HTTPS_HEAD_OK ? v.size : 0;
    }
    const std::string what = Describe(head, Verdict{UI_HTTPS_HEAD_OK, size, 0}) + " body " +
                             std::to_string(bodyLen) + " send " + std::to_string(how);
    // A head the peer cut short gives 0 as well.
    const bool headWhole = how != 2 || mark == std::string::npos || mark + 4 <= head.size() + closeAfter;
    FUZZ_CHECK(size == (headWhole ? expect : 0) || (!headWhole && size == 0), what + ": expected " + std::to_string(expect));

    if (size > 0) {
        const std::string due = sent.substr(mark + 4);
        std::string got;
        for (int i = 0; i < 100000; ++i) {
            Guarded buffer(UI_SSL_READ_BUFFER_SIZE);
            const int32_t n = UI_SSL_Read(reinterpret_cast<char*>(buffer.data()));
            FUZZ_CHECK(buffer.GuardIntact(), what + ": a read went past the caller's buffer");
            FUZZ_CHECK(n >= 0 && n <= static_cast<int32_t>(UI_SSL_READ_SIZE), what + ": read " + std::to_string(n));
            if (n == 0) break;
            got.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
            FUZZ_CHECK(got.size() <= static_cast<size_t>(size), what + ": more body than announced");
        }
        FUZZ_CHECK(got == due.substr(0, got.size()), what + ": the body handed over is not the body sent");
        if (how != 2) {
            FUZZ_CHECK(got.size() == std::min(due.size(), static_cast<size_t>(size)),
                       what + ": " + std::to_string(got.size()) + " body bytes handed over");
        }
    }
    UI_SSL_Close();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vt_fuzz::PrivateHome();
    FUZZ_CHECK(UKO_Start() == 0, "platform start");
    g_peer = new ui_test::TlsPeer();
    FUZZ_CHECK(g_peer->Started(), "the TLS server");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    if ((in.Byte() & 1) == 0) {
        ParserMode(in.Rest());
    } else {
        ClientMode(in);
    }
    return 0;
}
