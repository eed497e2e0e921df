// What the simulator keeps across runs (its state file) and how it leaves the standard
// output and error it was started with. Each test starts the simulator program on free
// ports under a private HOME.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim_test_support.h"
#include "vt_test/temp_env.h"

namespace {

using namespace simtest;

constexpr uint32_t kCfm = 9;
constexpr size_t kLanguageAt = 76;   // CFM_SYSCONFIG_S LanguageID, big-endian

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// The permission bits of a file, -1 when it is missing.
int Mode(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// Lines of a text holding the fragment.
size_t LinesWith(const std::string& text, const std::string& fragment) {
    std::istringstream in(text);
    size_t n = 0;
    for (std::string line; std::getline(in, line);) n += line.find(fragment) != std::string::npos;
    return n;
}

// What a start finds of the service's state, read the way the front end reads it.
struct Seen {
    uint32_t language = 0;
    std::string lastAccess;
    std::vector<std::string> sessions;
};

class SimState : public ::testing::Test {
protected:
    // The file named by the scenario of the tests that name one.
    std::string StatePath() const { return env_.Tmp() + "/kept/state.json"; }
    std::string DefaultPath() const { return env_.Home() + "/.VanTrelo/sim-state.json"; }

    // stateMember: the scenario's "state" member ("" for none).
    void Start(const std::string& stateMember,
               SimProcess::State mode = SimProcess::State::kFresh) {
        link_ = std::make_unique<Link>();
        sim_.reset();
        std::string scenario = R"({"requestLog":"@DIR@/requests.jsonl","portsFile":"@DIR@/ports.json",)"
                               R"("promote":{"port":0})";
        if (!stateMember.empty()) scenario += "," + stateMember;
        scenario += "}";
        sim_ = std::make_unique<SimProcess>(scenario, env_.Tmp(), mode);
        ASSERT_TRUE(sim_->Started()) << sim_->Diagnostics();
        ASSERT_NO_FATAL_FAILURE(link_->Open(*sim_));
    }
    std::string StopAndDiagnostics() {
        EXPECT_EQ(sim_->Stop(), 0);
        std::string text = sim_->Diagnostics();
        // The next start appends to the same file: what this run wrote is taken away.
        std::filesystem::remove(env_.Tmp() + "/sim.err");
        return text;
    }
    uint32_t Ask(uint32_t msgType, uint32_t code, const Bytes& payload, Bytes* reply = nullptr) {
        Head h;
        Bytes p;
        if (!link_->Ask(msgType, code, payload, &h, &p)) return 0;
        if (reply != nullptr) *reply = p;
        return h.code;
    }
    Bytes RawConfig() {
        Bytes p;
        EXPECT_EQ(Ask(kCfm, 2, {}, &p), 0xD0002u);
        EXPECT_EQ(p.size(), 11560u);
        p.resize(11560);
        return p;
    }
    Seen Read() {
        const Bytes p = RawConfig();
        Seen s;
        s.language = Get32(p, kLanguageAt);
        s.lastAccess = TextAt(p, 88, 133);
        for (size_t i = 0; i < 16; ++i) {
            const std::string name = TextAt(p, 744 + 676 * i + 156, 133);
            if (!name.empty()) s.sessions.push_back(name);
        }
        return s;
    }
    void SetLanguage(uint32_t language) {
        Bytes p = RawConfig();
        Put32(p, kLanguageAt, language);
        EXPECT_EQ(Ask(kCfm, 1, p), 0xD0000u);
    }
    // A state a start must refuse, written where the scenario names its file.
    void WriteState(const std::string& text) {
        std::filesystem::create_directories(env_.Tmp() + "/kept");
        std::ofstream(StatePath(), std::ios::binary) << text;
    }

    vt_test::TempEnv env_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<Link> link_;
};

const std::vector<std::string> kDefaultSessions = {"Office.ini", "Branch.ini"};

// A profile deleted, the language chosen and the last used connection are there again at
// the next start; the file is replaced whole at each change, never written in place, and
// only its owner may read it.
TEST_F(SimState, DeletionLanguageAndLastUsedSurviveARestart) {
    const std::string member = R"("state":"@DIR@/kept/state.json")";
    ASSERT_NO_FATAL_FAILURE(Start(member));
    ASSERT_TRUE(Exists(StatePath())) << "written at the first start";
    EXPECT_EQ(Mode(StatePath()), 0600);
    struct stat before {};
    ASSERT_EQ(stat(StatePath().c_str(), &before), 0);

    EXPECT_EQ(Ask(kCfm, 12, Text("Branch.ini")), 0xD0018u);
    SetLanguage(1033);
    Bytes session(676, 0);
    Put32(session, 0, 1);
    PutText(session, 156, "Office.ini");
    EXPECT_EQ(Ask(kCfm, 3, session), 0xD0004u);

    struct stat after {};
    ASSERT_EQ(stat(StatePath().c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino) << "a new file took the old one's name";
    EXPECT_EQ(Mode(StatePath()), 0600);
    EXPECT_FALSE(Exists(StatePath() + ".tmp"));
    StopAndDiagnostics();

    ASSERT_NO_FATAL_FAILURE(Start(member));
    const Seen s = Read();
    EXPECT_EQ(s.language, 1033u);
    EXPECT_EQ(s.sessions, std::vector<std::string>{"Office.ini"});
    EXPECT_EQ(s.lastAccess, "Office.ini");
    EXPECT_NE(Ask(kCfm, 8, Text("Branch.ini")), 0xD000Fu) << "the deleted profile stays gone";
    EXPECT_FALSE(Exists(env_.Home() + "/.VanTrelo/config/Branch.ini"));
    EXPECT_TRUE(Exists(env_.Home() + "/.VanTrelo/config/Office.ini"));
}

// Without a state member the file is the home folder's; with null there is none, and
// every start begins from the defaults.
TEST_F(SimState, DefaultFileInTheHomeFolderAndNoneForNull) {
    ASSERT_NO_FATAL_FAILURE(Start("", SimProcess::State::kDefaultFile));
    EXPECT_EQ(Mode(DefaultPath()), 0600);
    SetLanguage(1033);
    StopAndDiagnostics();
    ASSERT_NO_FATAL_FAILURE(Start("", SimProcess::State::kDefaultFile));
    EXPECT_EQ(Read().language, 1033u);
    StopAndDiagnostics();

    std::filesystem::remove(DefaultPath());
    ASSERT_NO_FATAL_FAILURE(Start(R"("state":null)"));
    SetLanguage(1033);
    EXPECT_EQ(Ask(kCfm, 12, Text("Branch.ini")), 0xD0018u);
    StopAndDiagnostics();
    EXPECT_FALSE(Exists(DefaultPath()));
    ASSERT_NO_FATAL_FAILURE(Start(R"("state":null)"));
    const Seen s = Read();
    EXPECT_EQ(s.language, 2052u);
    EXPECT_EQ(s.sessions, kDefaultSessions);
}

// A file the simulator cannot take is put aside as it was, one line says so, and the
// start goes on from the defaults, which become the new file.
TEST_F(SimState, DamagedFileIsPutAsideAndTheDefaultsUsed) {
    const std::string zeroConfig(2 * 11560, '0');
    const std::string zeroSsl(2 * 3328, '0');
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"not JSON", "{\"version\":1,\"conf"},
        {"empty object", "{}"},
        {"another version", "{\"version\":2,\"config\":\"" + zeroConfig + "\",\"profiles\":[]}"},
        {"short configuration", "{\"version\":1,\"config\":\"00ff\",\"profiles\":[]}"},
        {"profile without its session",
         "{\"version\":1,\"config\":\"" + zeroConfig +
             "\",\"profiles\":[{\"name\":\"X.ini\",\"linkType\":1,\"record\":\"" + zeroSsl + "\"}]}"},
        {"profile name leaving its folder",
         "{\"version\":1,\"config\":\"" + zeroConfig +
             "\",\"profiles\":[{\"name\":\"../x.ini\",\"linkType\":1,\"record\":\"" + zeroSsl + "\"}]}"},
        {"larger than any state", std::string(2 * 1024 * 1024, ' ')},
    };
    const std::string member = R"("state":"@DIR@/kept/state.json")";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(StatePath() + ".bad");
        WriteState(c.text);
        ASSERT_NO_FATAL_FAILURE(Start(member));
        const Seen s = Read();
        EXPECT_EQ(s.language, 2052u);
        EXPECT_EQ(s.sessions, kDefaultSessions);
        EXPECT_TRUE(Slurp(StatePath() + ".bad") == c.text) << "put aside unchanged";
        const std::string notes = StopAndDiagnostics();
        EXPECT_EQ(LinesWith(notes, "state file"), 1u) << notes;
        EXPECT_EQ(LinesWith(notes, "damaged"), 1u) << notes;

        // What it wrote instead is a state the next start takes without a word.
        ASSERT_NO_FATAL_FAILURE(Start(member));
        EXPECT_EQ(Read().sessions, kDefaultSessions);
        EXPECT_EQ(LinesWith(StopAndDiagnostics(), "state file"), 0u);
    }
}

// Started as the front end's service, the simulator keeps the standard output and error
// it inherited only until it is up: a note about its start still reaches them, and then
// it lets go of them (whoever reads them sees their end while it runs on), and its notes
// go to its own log. Run from a copy under another name, so that no front end started by
// another test takes it for its service and kills it.
TEST_F(SimState, AsTheServiceItLetsGoOfItsOutputOnceUp) {
    const std::string dir = env_.Tmp();
    const std::string program = dir + "/sim-as-service";
    std::filesystem::copy_file(SIM_SERVICE_BIN, program);
    WriteState("not a state");
    WriteFile(dir + "/scenario.json",
              "{\"portsFile\":\"" + dir + "/ports.json\",\"state\":\"" + StatePath() +
                  "\",\"promote\":{\"port\":0}}");

    std::vector<std::string> envText = {"HOME=" + env_.Home(), "TMPDIR=" + dir,
                                        "VANTRELO_SIM_SCENARIO=" + dir + "/scenario.json"};
    if (const char* asan = getenv("ASAN_OPTIONS")) envText.push_back(std::string("ASAN_OPTIONS=") + asan);
    std::vector<char*> envp;
    for (std::string& e : envText) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(out[1], 2);
        close_range(3, ~0U, 0);
        char name[] = "sim-as-service";
        char* argv[] = {name, nullptr};
        execve(program.c_str(), argv, envp.data());
        _exit(127);
    }
    close(out[1]);
    ASSERT_GT(pid, 0);

    // Everything that comes through the pipe until its end.
    std::string inherited;
    bool ended = false;
    for (int waited = 0; waited < 15000 && !ended;) {
        pollfd pfd{out[0], POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0) {
            waited += 100;
            continue;
        }
        char buf[4096];
        const ssize_t n = read(out[0], buf, sizeof buf);
        if (n <= 0) ended = true;
        else inherited.append(buf, size_t(n));
    }
    close(out[0]);
    EXPECT_TRUE(ended) << "the simulator still holds the inherited output";
    EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "and runs on";
    EXPECT_EQ(LinesWith(inherited, "service-sim:"), 1u) << inherited;
    EXPECT_EQ(LinesWith(inherited, "damaged"), 1u) << inherited;
    EXPECT_TRUE(Exists(dir + "/ports.json"));

    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::string log = env_.Home() + "/.VanTrelo/log/service-sim.log";
    EXPECT_EQ(Mode(log), 0600);
    const std::string notes = Slurp(log);
    EXPECT_EQ(LinesWith(notes, "service-sim: {\"pid\":" + std::to_string(pid)), 1u) << notes;
    EXPECT_EQ(LinesWith(notes, "service-sim: stopped"), 1u) << notes;
}

}  // namespace
