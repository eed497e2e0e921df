// The site preference, gateway list, link selection and tunnel requests against the
// simulator: what each reply code makes of the result, ok, name and records, what
// travels converted and what in host order, texts that do not end within their field,
// and each request's failure texts.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ddm_log.h"
#include "ui_connect.h"
#include "ui_pref.h"
#include "ui_test/ui_sim.h"

namespace {

using Bytes = std::vector<uint8_t>;

#define PREF_KEY(s) "/RETURN_PREF_MSGCODE/PREF_MSGCODE_" s
constexpr char kFallback[] = "/RETURN_ERROR_MSGCODE/MSGCODE_ERROR_RETURN_FAIL";
constexpr uint8_t kFill = 0xAB;

class UiPrefTest : public ::testing::Test {
protected:
    void SetUp() override {
        ui_test::LinkSetUp();
        UI_Connect_Reset();
    }
    void TearDown() override {
        UI_Socket_CloseAll();
        UI_Connect_Reset();
        (void)DDM_LogLevelSet(DDM_LOG_INFO);
    }
};

template <typename T>
bool Untouched(const T& record) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&record);
    return Bytes(p, p + sizeof(T)) == Bytes(sizeof(T), kFill);
}

// Every out-value of the five requests, filled with a pattern a reply cannot leave.
struct Outputs {
    Outputs() {
        std::memset(&first, kFill, sizeof(first));
        std::memset(&link, kFill, sizeof(link));
        std::memset(sites, kFill, sizeof(sites));
    }
    UIFIRST_CONNECT_CONF_S first;
    LinkSelectInfo link;
    UIGATEWAY_INFO_S sites[UI_GATEWAY_ENTRY_MAX];
    char name[256] = "(unset)";
    uint32_t out = 0;  // result, code or ok
};

UISSL_FIRST_CONN SiteRequest() {
    UISSL_FIRST_CONN r{};
    r.uiLanguage = 1;
    std::strcpy(r.acGateway, "192.0.2.10:443");
    r.stAutoBestNeed.uiAutoBest = 1;
    const char* addresses[] = {"192.0.2.10", "192.0.2.11", "192.0.2.12"};
    const uint32_t ports[] = {443, 443, 8443};
    for (int i = 0; i < 3; ++i) {
        std::strcpy(r.stAutoBestNeed.astGateway[i].acAddress, addresses[i]);
        r.stAutoBestNeed.astGateway[i].uiPort = ports[i];
    }
    r.stAutoBestNeed.uiGatewayNum = 3;
    r.stAutoBestNeed.uiDefaultGateway = 0;
    return r;
}

LinkSelectInfo LinkRequest() {
    LinkSelectInfo r{};
    r.uiEnable = 0;
    std::strcpy(r.acIp, "192.0.2.11");
    r.uiPort = 443;
    return r;
}

enum class Req { SitePref, AllSite, LinkSelect, CnemStart, CnemStop };

struct Call {
    uint32_t msgType;
    uint32_t code;
};

Call RequestOf(Req r) {
    switch (r) {
    case Req::SitePref: return {1, 4};
    case Req::AllSite: return {1, 18};
    case Req::LinkSelect: return {1, 17};
    case Req::CnemStart: return {5, 10};
    case Req::CnemStop: return {5, 19};
    }
    return {0, 0};
}

int32_t Send(Req r, Outputs* o) {
    const UISSL_FIRST_CONN site = SiteRequest();
    const LinkSelectInfo link = LinkRequest();
    switch (r) {
    case Req::SitePref: return UI_SitePref_Process(&site, &o->first, o->name, &o->out);
    case Req::AllSite: return UI_AllSiteInfo_Get(o->name, &o->out, o->sites);
    case Req::LinkSelect: return UI_SslLink_Select(&link, o->name, &o->out, &o->link);
    case Req::CnemStart: return UI_SslCnem_Start(2, o->name, &o->out);
    case Req::CnemStop: return UI_SslCnem_Stop(o->name, &o->out);
    }
    return -1;
}

void FirstUntouched(const Outputs& o) {
    EXPECT_TRUE(Untouched(o.first)) << "site reply changed";
    EXPECT_TRUE(Untouched(o.link)) << "link reply changed";
    EXPECT_TRUE(Untouched(o.sites)) << "gateway list changed";
}

void FirstFilled(const Outputs& o) {
    EXPECT_EQ(o.first.uiAuthType, 1u);
    EXPECT_EQ(o.first.uiVerification, 5u);
    EXPECT_EQ(o.first.uiVersionMS, 0x00070000u);
    EXPECT_EQ(o.first.uiVersionLS, 0x00020021u);
    EXPECT_STREQ(o.first.stBestGateway.acAddress, "192.0.2.11");
    EXPECT_EQ(o.first.stBestGateway.uiPort, 443u);
    EXPECT_EQ(o.first.stBestGateway.uiDelay, 12u);
    EXPECT_EQ(o.first.stBestGateway.uiFlag, 3u);
    EXPECT_STREQ(o.first.acPackage, "https://192.0.2.11/pkg.tar.gz");
}

// Texts that fill their whole field arrive with no terminator: the fields stay empty,
// everything else of the reply is taken.
void FirstFilledWithoutTexts(const Outputs& o) {
    EXPECT_EQ(o.first.uiAuthType, 1u);
    EXPECT_EQ(o.first.stBestGateway.uiPort, 443u);
    EXPECT_EQ(o.first.stBestGateway.uiFlag, 3u);
    EXPECT_EQ(Bytes(o.first.stBestGateway.acAddress, o.first.stBestGateway.acAddress + 128),
              Bytes(128, 0));
    EXPECT_EQ(Bytes(o.first.acPackage, o.first.acPackage + 256), Bytes(256, 0));
}

void SitesOfTheSimulator(const Outputs& o) {
    EXPECT_STREQ(o.sites[0].acAddress, "192.0.2.10");
    EXPECT_EQ(o.sites[0].uiPort, 443u);
    EXPECT_EQ(o.sites[0].uiDelay, 35u);  // host order: no conversion
    EXPECT_STREQ(o.sites[2].acAddress, "192.0.2.12");
    EXPECT_EQ(o.sites[2].uiPort, 8443u);
    EXPECT_EQ(o.sites[2].uiDelay, 80u);
    for (int i = 3; i < UI_GATEWAY_ENTRY_MAX; ++i) EXPECT_EQ(o.sites[i].acAddress[0], '\0');
}

void AllSixteenSites(const Outputs& o) {
    for (int i = 0; i < UI_GATEWAY_ENTRY_MAX; ++i) {
        EXPECT_EQ(std::string(o.sites[i].acAddress), "10.0.0." + std::to_string(i + 1));
        EXPECT_EQ(o.sites[i].uiDelay, uint32_t(100 + i));
    }
}

void LinkFilled(const Outputs& o) {
    EXPECT_EQ(o.link.uiEnable, 1u);
    EXPECT_STREQ(o.link.acIp, "192.0.2.11");
    EXPECT_EQ(o.link.uiPort, 443u);
}

void LinkRefused(const Outputs& o) {
    EXPECT_EQ(o.link.uiEnable, 0u);
    EXPECT_EQ(o.link.acIp[0], '\0');
}

#define FIRST_REC(best, pkg)                                                                    \
    R"({"record":"UIFIRST_CONNECT_CONF_S","fields":{"uiAuthType":1,"uiVerification":5,)"      \
    R"("uiVersionMS":"0x00070000","uiVersionLS":"0x00020021","acBestGateway":")" best R"(",)"   \
    R"("uiBestPort":443,"uiBestDelay":12,"uiBestFlag":3,"acPackage":")" pkg R"("}})"
#define FIRST_OK FIRST_REC("192.0.2.11", "https://192.0.2.11/pkg.tar.gz")
#define A16 "aaaaaaaaaaaaaaaa"
#define A128 A16 A16 A16 A16 A16 A16 A16 A16
#define SITES16                                                                                \
    R"({"record":"SiteList","fields":{"astGateway":[)"                                         \
    R"({"acAddress":"10.0.0.1","uiDelay":100},{"acAddress":"10.0.0.2","uiDelay":101},)"        \
    R"({"acAddress":"10.0.0.3","uiDelay":102},{"acAddress":"10.0.0.4","uiDelay":103},)"        \
    R"({"acAddress":"10.0.0.5","uiDelay":104},{"acAddress":"10.0.0.6","uiDelay":105},)"        \
    R"({"acAddress":"10.0.0.7","uiDelay":106},{"acAddress":"10.0.0.8","uiDelay":107},)"        \
    R"({"acAddress":"10.0.0.9","uiDelay":108},{"acAddress":"10.0.0.10","uiDelay":109},)"       \
    R"({"acAddress":"10.0.0.11","uiDelay":110},{"acAddress":"10.0.0.12","uiDelay":111},)"      \
    R"({"acAddress":"10.0.0.13","uiDelay":112},{"acAddress":"10.0.0.14","uiDelay":113},)"      \
    R"({"acAddress":"10.0.0.15","uiDelay":114},{"acAddress":"10.0.0.16","uiDelay":115}]}})"
#define LINK_REPLY(result, ip)                                                                 \
    R"({"record":"LinkSelectInfoReply","fields":{"uiResult":)" #result R"(,"acIp":")" ip       \
    R"(","uiPort":443}})"

struct Case {
    const char* label;
    Req req;
    const char* reply;  // one scripted reply, JSON; null: the happy simulator answers
    uint32_t outIn;
    int32_t ret;
    uint32_t outOut;
    const char* name;
    void (*records)(const Outputs&);
};

const Case kCases[] = {
    // Site preference: only the success reply fills the reply record.
    {"SiteSuccess", Req::SitePref, R"({"code":"0x10000","payload":)" FIRST_OK "}", 0, 0, 1,
     PREF_KEY("FIRSTCONN_SUCCESS"), FirstFilled},
    {"SiteProxyAuthFailed", Req::SitePref, R"({"code":"0x1000B","payload":)" FIRST_OK "}", 0, 0,
     8, PREF_KEY("PROXY_AUTH_FAILED"), FirstUntouched},
    {"SiteProxyNeedsAuth", Req::SitePref, R"({"code":"0x1000C","payload":)" FIRST_OK "}", 0, 0, 9,
     PREF_KEY("PROXY_NEED_AUTH_ERROR"), FirstUntouched},
    {"SiteProxyUnreachable", Req::SitePref, R"({"code":"0x1000D"})", 0, 0, 10,
     PREF_KEY("PROXY_CONNECT_ERROR"), FirstUntouched},
    {"SiteFailure", Req::SitePref, R"({"code":"0x10001"})", 77, 0, 0, PREF_KEY("FIRSTCONN_FAIL"),
     FirstUntouched},
    {"SiteEmptyEntry", Req::SitePref, R"({"code":"0x1000F","payload":)" FIRST_OK "}", 77, 0, 0, "",
     FirstUntouched},
    {"SiteIndexBeyondTable", Req::SitePref, R"({"code":"0x10010","payload":)" FIRST_OK "}", 77, 0,
     77, kFallback, FirstUntouched},
    {"SiteSuccessWithoutRecord", Req::SitePref, R"({"code":"0x10000"})", 77, 0, 0, kFallback,
     FirstUntouched},
    {"SiteTextsWithoutTerminator", Req::SitePref,
     R"({"code":"0x10000","payload":)" FIRST_REC(A128, A128 A128) "}", 0, 0, 1,
     PREF_KEY("FIRSTCONN_SUCCESS"), FirstFilledWithoutTexts},
    // Gateway list: copied whatever the code, in host order; the code out-value is the
    // success reply's code itself.
    {"SitesOfTheEngine", Req::AllSite, nullptr, 5, 0, 0x10002, PREF_KEY("SITE_SUCCESS"),
     SitesOfTheSimulator},
    {"SitesWithFailureCode", Req::AllSite, R"({"code":"0x10003","payload":)" SITES16 "}", 5, 0, 5,
     PREF_KEY("SITE_FAIL"), AllSixteenSites},
    {"SitesIndexBeyondTable", Req::AllSite, R"({"code":"0x10010","payload":)" SITES16 "}", 5, 0,
     5, kFallback, AllSixteenSites},
    {"SitesSuccessWithoutList", Req::AllSite, R"({"code":"0x10002"})", 5, 0, 5, kFallback,
     FirstUntouched},
    {"SitesShortList", Req::AllSite,
     R"({"code":"0x10002","payload":)" SITES16 R"(,"truncateTo":2239})", 5, 0, 5, kFallback,
     FirstUntouched},
    // Link selection: ok from the code alone; a reply record fills the caller's.
    {"LinkOfTheEngine", Req::LinkSelect, nullptr, 0, 0, 1, PREF_KEY("LINKSEL_SUCCESS"),
     LinkFilled},
    {"LinkSuccessHeadOnly", Req::LinkSelect, R"({"code":"0x10004"})", 0, 0, 1,
     PREF_KEY("LINKSEL_SUCCESS"), FirstUntouched},
    {"LinkSuccessShortRecord", Req::LinkSelect,
     R"({"code":"0x10004","payload":)" LINK_REPLY(1, "192.0.2.11") R"(,"truncateTo":135})", 0, 0,
     1, PREF_KEY("LINKSEL_SUCCESS"), FirstUntouched},
    {"LinkFailure", Req::LinkSelect, R"({"code":"0x10005","payload":)" LINK_REPLY(0, "") "}", 1, 0,
     0, PREF_KEY("LINKSEL_FAIL"), LinkRefused},
    {"LinkOtherCode", Req::LinkSelect, R"({"code":"0x10003"})", 7, 0, 7, PREF_KEY("SITE_FAIL"),
     FirstUntouched},
    {"LinkIndexBeyondTable", Req::LinkSelect, R"({"code":"0x10010"})", 7, 0, 7, kFallback,
     FirstUntouched},
    // Tunnel.
    {"StartWithoutLogin", Req::CnemStart, nullptr, 0, 0, 0,
     "/RETURN_CNEM_MSGCODE/CNEM_MSGCODE_START_FAIL", FirstUntouched},
    {"StartSuccess", Req::CnemStart, R"({"code":"0x70000"})", 0, 0, 1,
     "/RETURN_CNEM_MSGCODE/CNEM_INDEX_START_SUCCESS", FirstUntouched},
    {"StartIndexBeyondTable", Req::CnemStart, R"({"code":"0x70006"})", 7, 0, 7, kFallback,
     FirstUntouched},
    {"StopFailureClearsOk", Req::CnemStop, R"({"code":"0x70004"})", 1, 0, 0,
     "/RETURN_CNEM_MSGCODE/CNEM_MSGCODE_NEM_STOP_FAIL", FirstUntouched},
    {"StopSuccess", Req::CnemStop, R"({"code":"0x70003"})", 0, 0, 1,
     "/RETURN_CNEM_MSGCODE/CNEM_MSGCODE_NEM_STOP_SUCCESS", FirstUntouched},
    {"StopEmptyEntry", Req::CnemStop, R"({"code":"0x70005"})", 7, 0, 7, "", FirstUntouched},
};

TEST_F(UiPrefTest, RepliesTable) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.label);
        const Call call = RequestOf(c.req);
        const std::string target = std::to_string(call.msgType) + " " + std::to_string(call.code);
        ASSERT_EQ(link.sim().Control(c.reply != nullptr ? "script set " + target + " " + c.reply
                                                        : "script clear " + target),
                  "OK");
        Outputs o;
        o.out = c.outIn;
        EXPECT_EQ(Send(c.req, &o), c.ret);
        EXPECT_EQ(o.out, c.outOut);
        EXPECT_STREQ(o.name, c.name);
        c.records(o);
    }
}

// The site request, the gateway list and the link request travel as they lie in memory;
// the link reply and the tunnel mode travel in network order.
TEST_F(UiPrefTest, WhatTravelsConvertedAndWhatAsItLies) {
    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    Outputs o;
    const UISSL_FIRST_CONN site = SiteRequest();
    ASSERT_EQ(UI_SitePref_Process(&site, &o.first, o.name, &o.out), 0);
    EXPECT_EQ(o.out, 1u);
    // The happy engine picks the fastest candidate.
    EXPECT_STREQ(o.first.stBestGateway.acAddress, "192.0.2.11");
    EXPECT_EQ(o.first.stBestGateway.uiDelay, 12u);
    EXPECT_EQ(o.first.uiVersionMS, 0x00070000u);
    EXPECT_EQ(o.first.uiVersionLS, 0x00020021u);

    const LinkSelectInfo request = LinkRequest();
    ASSERT_EQ(UI_SslLink_Select(&request, o.name, &o.out, &o.link), 0);
    ASSERT_EQ(UI_SslCnem_Start(2, o.name, &o.out), 0);
    ASSERT_EQ(UI_SslCnem_Stop(o.name, &o.out), 0);

    ASSERT_TRUE(link.sim().WaitLog(7));
    const auto log = link.sim().Log();
    const Bytes sitePacket = ui_test::Hex(log[3]["hex"].GetString());
    ASSERT_EQ(sitePacket.size(), 24u + 2512u);
    EXPECT_EQ(Bytes(sitePacket.begin() + 12, sitePacket.begin() + 24),
              Bytes({0, 0, 0, 1, 0, 0, 0, 4, 0, 0, 0x09, 0xD0}));
    const uint8_t* siteBytes = reinterpret_cast<const uint8_t*>(&site);
    EXPECT_EQ(Bytes(sitePacket.begin() + 24, sitePacket.end()),
              Bytes(siteBytes, siteBytes + sizeof(site)));
    EXPECT_EQ(log[3]["fields"]["uiGatewayNum"].GetUint(), 3u);
    EXPECT_EQ(log[3]["fields"]["astGateway"][2]["uiPort"].GetUint(), 8443u);

    const Bytes linkPacket = ui_test::Hex(log[4]["hex"].GetString());
    ASSERT_EQ(linkPacket.size(), 24u + 136u);
    EXPECT_EQ(Bytes(linkPacket.begin() + 12, linkPacket.begin() + 24),
              Bytes({0, 0, 0, 1, 0, 0, 0, 17, 0, 0, 0, 136}));
    const uint8_t* linkBytes = reinterpret_cast<const uint8_t*>(&request);
    EXPECT_EQ(Bytes(linkPacket.begin() + 24, linkPacket.end()),
              Bytes(linkBytes, linkBytes + sizeof(request)));

    EXPECT_EQ(ui_test::Hex(log[5]["hex"].GetString()),
              Bytes({0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 5, 0, 0, 0, 10, 0, 0, 0, 4,
                     0x00, 0x00, 0x00, 0x02}));
    EXPECT_EQ(ui_test::Hex(log[6]["hex"].GetString()),
              Bytes({0, 0, 0, 2, 0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 5, 0, 0, 0, 19, 0, 0, 0, 0}));
}

// A gateway text that fills its field is logged no further than the field.
TEST_F(UiPrefTest, GatewayListLogStopsAtTheField) {
    ui_test::SimLink link(
        R"("scripts":[{"msgType":1,"code":18,"replies":[{"code":"0x10002","payload":)"
        R"({"record":"SiteList","fields":{"astGateway":[{"acAddress":")" A128
        R"(","uiPort":443,"uiDelay":9}]}}}]}])");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    const std::vector<std::string> lines = {
        "[65535][Process get all site info][[0]:ip is " A128 "]",
        "[65535][Process get all site info][[0]:delay is 9]",
        "[65535][Process get all site info][[15]:port is 0]",
    };
    std::vector<size_t> before;
    for (const std::string& line : lines) before.push_back(ui_test::LogCount(line));
    ASSERT_EQ(DDM_LogLevelSet(DDM_LOG_DEBUG), 0u);
    Outputs o;
    ASSERT_EQ(UI_AllSiteInfo_Get(o.name, &o.out, o.sites), 0);
    EXPECT_EQ(o.out, 0x10002u);
    EXPECT_EQ(std::memcmp(o.sites[0].acAddress, A128, 128), 0);
    EXPECT_EQ(o.sites[0].uiPort, 443u);
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(ui_test::LogCount(lines[i]), before[i] + 1) << lines[i];
    }
}

// ---- Failures before a reply ---------------------------------------------------------------------

struct TextCase {
    const char* label;
    std::function<int32_t(Outputs*, int nullArg)> call;  // nullArg: which pointer is null, 0 none
    int nullArgs;                                        // how many pointers it checks
    const char* args;
    const char* noFd;
    const char* sendFailed;
};

template <typename T>
T* Ptr(int nullArg, int which, T* p) {
    return nullArg == which ? nullptr : p;
}

const TextCase kTexts[] = {
    {"SitePref",
     [](Outputs* o, int n) {
         const UISSL_FIRST_CONN site = SiteRequest();
         return UI_SitePref_Process(Ptr(n, 1, &site), Ptr(n, 2, &o->first), Ptr(n, 3, o->name),
                                    Ptr(n, 4, &o->out));
     },
     4, "[Process site pref][invalid parameter!]", "[Process site pref][ui get connect fd failed!]",
     "[Process site pref][pub packet sync send failed!]"},
    {"AllSite",
     [](Outputs* o, int n) {
         return UI_AllSiteInfo_Get(Ptr(n, 1, o->name), Ptr(n, 2, &o->out), Ptr(n, 3, o->sites));
     },
     3, "[Process get all site info][get all site info failed][Reason:Invalid Paramtar]",
     "[Process get all site info][ui get connect fd failed]",
     "[Process get all site info][pub packet sync send failed!]"},
    {"LinkSelect",
     [](Outputs* o, int n) {
         const LinkSelectInfo link = LinkRequest();
         return UI_SslLink_Select(Ptr(n, 1, &link), Ptr(n, 2, o->name), Ptr(n, 3, &o->out),
                                  Ptr(n, 4, &o->link));
     },
     4, "[Process ssl link select][invalid parameter!]",
     "[Process ssl link select][login connect fd get failed!]",
     "[Process ssl link select][vanTrelo ssl link select packet send failed!]"},
    {"CnemStart",
     [](Outputs* o, int n) { return UI_SslCnem_Start(2, Ptr(n, 1, o->name), Ptr(n, 2, &o->out)); },
     2, "[Process ssl cnem start][invalid parameter!]",
     "[Process ssl cnem start][ui get connect fd failed!]",
     "[Process ssl cnem start][ui start cnem failed!]"},
    {"CnemStop",
     [](Outputs* o, int n) { return UI_SslCnem_Stop(Ptr(n, 1, o->name), Ptr(n, 2, &o->out)); },
     2, "[Process ssl stop cnem][invalid parameter!]",
     "[Process ssl stop cnem][ui get connect fd failed!]",
     "[Process ssl stop cnem][ui ssl sync send failed!]"},
};

void ExpectNothingWritten(const Outputs& o) {
    EXPECT_EQ(o.out, 7u);
    EXPECT_STREQ(o.name, "(unset)");
    FirstUntouched(o);
}

// Every pointer a request reads or writes is checked before anything happens; then no
// connection, then a connection the engine closed. Nothing is written on the way.
TEST_F(UiPrefTest, FailuresBeforeAReplyAreLoggedInEachRequestsWords) {
    const std::string tag = "[65535]";
    for (const TextCase& c : kTexts) {
        SCOPED_TRACE(c.label);
        for (int which = 1; which <= c.nullArgs; ++which) {
            Outputs o;
            o.out = 7;
            const size_t before = ui_test::LogCount(tag + c.args);
            EXPECT_EQ(c.call(&o, which), 1) << "null argument " << which;
            EXPECT_EQ(ui_test::LogCount(tag + c.args), before + 1) << "null argument " << which;
            ExpectNothingWritten(o);
        }
        Outputs o;
        o.out = 7;
        const size_t noFd = ui_test::LogCount(tag + c.noFd);
        EXPECT_EQ(c.call(&o, 0), 1);
        EXPECT_EQ(ui_test::LogCount(tag + c.noFd), noFd + 1);
        ExpectNothingWritten(o);
    }

    ui_test::SimLink link;
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    ASSERT_EQ(link.sim().Control("close sync"), "OK");
    ASSERT_TRUE(ui_test::WaitReadable(link.SyncFd()));
    for (const TextCase& c : kTexts) {
        SCOPED_TRACE(c.label);
        Outputs o;
        o.out = 7;
        const size_t sendFailed = ui_test::LogCount(tag + c.sendFailed);
        EXPECT_EQ(c.call(&o, 0), 1);
        EXPECT_EQ(ui_test::LogCount(tag + c.sendFailed), sendFailed + 1);
        ExpectNothingWritten(o);
    }
}

const std::vector<const char*> kLines = {
    "[65535][Process site pref][vanTrelo first connect start!]",
    "[65535][Process site pref][vanTrelo first connect finish, message code is 0x10000]",
    "[65535][Process ssl link select][vanTrelo link select start!]",
    "[65535][Process ssl link select][vanTrelo get linkSel result][message code is 0x10005]",
    "[65535][Process ssl link select][pref link select failed]",
    "[65535][Process ssl cnem start][vanTrelo ssl cnem start!]",
    "[65535][Process ssl cnem start][vanTrelo ssl cnem finish][message code is 0x70001]",
    "[65535][Process ssl stop cnem][vanTrelo ssl stop cnem start!]",
    "[65535][Process ssl stop cnem][vanTrelo ssl stop cnem finish][message code is 0x70004]",
};

TEST_F(UiPrefTest, StartAndFinishLines) {
    ui_test::SimLink link(R"("scripts":[{"msgType":1,"code":17,"replies":[{"code":"0x10005"}]}])");
    ASSERT_TRUE(link.Connected()) << link.sim().Diagnostics();
    Outputs o;
    const UISSL_FIRST_CONN site = SiteRequest();
    const LinkSelectInfo request = LinkRequest();
    std::vector<size_t> before;
    for (const char* line : kLines) before.push_back(ui_test::LogCount(line));
    ASSERT_EQ(UI_SitePref_Process(&site, &o.first, o.name, &o.out), 0);
    ASSERT_EQ(UI_SslLink_Select(&request, o.name, &o.out, &o.link), 0);
    ASSERT_EQ(UI_SslCnem_Start(0, o.name, &o.out), 0);
    ASSERT_EQ(UI_SslCnem_Stop(o.name, &o.out), 0);
    for (size_t i = 0; i < kLines.size(); ++i) {
        EXPECT_EQ(ui_test::LogCount(kLines[i]), before[i] + 1) << kLines[i];
    }
}

}  // namespace
