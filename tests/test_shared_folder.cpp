// Runs in folders that other users may write to, and commits whose syncs fail. In a
// sticky, mode-1777 folder (like /tmp) another user can plant anything at the names of
// the commit's journal and lock, and at the names a journal lists: no run may then
// remove, replace or wait for ever on anything but its own outputs, temporaries and
// backups. The runs switch users with setpriv, so those tests need root.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/output_table.h"
#include "tests/test_util.h"

namespace fs = std::filesystem;
using namespace std::string_literals;
using testutil::Bytes;
using testutil::TempDir;

namespace {

constexpr uid_t kNobody = 65534;  // the other user, who plants files
constexpr uid_t kUser = 1000;     // a user without root's powers, who runs the program
constexpr uid_t kRunner = 1;      // in a plant: owned by whoever runs the program (never a real uid here)

// varlox's outputs for the input "scan.bmp".
const std::vector<std::string> kNames = [] {
    std::vector<std::string> names;
    for (const OutputRow& row : kVarloxOutputs) names.push_back(std::string("scan") + row.suffix);
    return names;
}();

bool can_switch_users() {
    return geteuid() == 0 && std::system("command -v setpriv >/dev/null 2>&1") == 0 &&
           std::system("command -v timeout >/dev/null 2>&1") == 0;
}

// A shell command's words that run what follows as user `uid`, killed after 10 s: a run
// that waits on a planted name shows as status 124 (137 when it holds off SIGTERM)
// instead of hanging the suite.
std::string as_user(uid_t uid) {
    const std::string id = std::to_string(uid);
    return "setpriv --reuid=" + id + " --regid=" + id + " --clear-groups -- timeout -k 5 10 " + testutil::emulator_prefix();
}

// What a name holds, who owns it, and its bytes or link target.
struct Seen {
    bool exists = false;
    mode_t type = 0;
    uid_t owner = 0;
    Bytes bytes;
    bool operator==(const Seen& o) const {
        return exists == o.exists && type == o.type && owner == o.owner && bytes == o.bytes;
    }
};

Seen seen(const std::string& path) {
    Seen s;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return s;
    s.exists = true;
    s.type = st.st_mode & S_IFMT;
    s.owner = st.st_uid;
    if (S_ISREG(st.st_mode)) {
        s.bytes = testutil::read_file(path);
    } else if (S_ISLNK(st.st_mode)) {
        const std::string target = fs::read_symlink(path).string();
        s.bytes.assign(target.begin(), target.end());
    }
    return s;
}

std::string describe(const Seen& s) {
    if (!s.exists) return "missing";
    return "type " + std::to_string(s.type) + ", uid " + std::to_string(s.owner) + ", " +
           std::to_string(s.bytes.size()) + " bytes";
}

// A file planted in the folder before the run.
struct Plant {
    enum Kind { kFile, kLink, kFifo, kDirectory } kind;
    std::string name;
    std::string content;  // a file's bytes, or a link's target
    uid_t owner;          // kRunner: the user who runs the program
    mode_t mode = 0644;
    bool kept = true;     // must be exactly as planted after the run
};

void plant(const TempDir& d, const Plant& p, uid_t runner) {
    const std::string path = d.path(p.name);
    switch (p.kind) {
        case Plant::kFile: testutil::write_file(path, Bytes(p.content.begin(), p.content.end())); break;
        case Plant::kLink: fs::create_symlink(p.content, path); break;
        case Plant::kFifo: ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << p.name; break;
        case Plant::kDirectory: fs::create_directory(path); break;
    }
    const uid_t owner = p.owner == kRunner ? runner : p.owner;
    ASSERT_EQ(lchown(path.c_str(), owner, owner), 0) << p.name;
    if (p.kind != Plant::kLink) {
        ASSERT_EQ(chmod(path.c_str(), p.mode), 0) << p.name;
    }
}

class SharedFolder : public testing::Test {
protected:
    void SetUp() override {
        if (!can_switch_users()) GTEST_SKIP() << "needs root, setpriv and timeout to run as other users";
        picture = testutil::make_bmp({64, 64}, testutil::pattern_pixels(64, 64, 7));
        TempDir solo;
        testutil::write_file(solo.path("scan.bmp"), picture);
        const auto r = testutil::run_program(VARLOX_EXE, {"scan.bmp"}, solo.root.string());
        ASSERT_EQ(r.status, 0) << r.err;
        for (const std::string& name : kNames) outputs[name] = testutil::read_file(solo.path(name));
    }

    // A sticky folder open to all, holding the picture `scan.bmp` of `runner`, and the plants.
    void prepare(const TempDir& d, uid_t runner, const std::vector<Plant>& plants) {
        fs::permissions(d.root, fs::perms(01777));
        testutil::write_file(d.path("scan.bmp"), picture);
        ASSERT_EQ(chown(d.path("scan.bmp").c_str(), runner, runner), 0);
        for (const Plant& p : plants) plant(d, p, runner);
    }

    testutil::RunResult run(const TempDir& d, uid_t runner, const std::string& exe,
                            const std::string& env = std::string()) {
        return testutil::run_program(
            "/bin/sh", {"-c", env + " exec " + as_user(runner) + "\"$0\" scan.bmp", exe}, d.root.string());
    }

    Bytes picture;
    std::map<std::string, Bytes> outputs;  // a run's five outputs, made alone
};

TEST_F(SharedFolder, PlantedJournalsTouchNothingButTheRunsOwnOutputs) {
    // Files of the user who runs the program, which a journal must never remove or replace.
    const std::vector<Plant> victims = {
        {Plant::kFile, "victim.txt", "x\n", kRunner},
        {Plant::kFile, "conf.txt", "settings\n", kRunner},
        {Plant::kFile, ".notes.bak", "notes\n", kRunner},
        {Plant::kFile, ".draft.tmp", "draft\n", kRunner},
    };
    const std::string magic = "varlox commit journal 1\n";
    struct Case {
        const char* label;
        uid_t runner;
        std::vector<Plant> plants;  // the journal among them
        const char* warning;        // what the run says of it
    };
    const auto journal = [&](const std::string& entries, uid_t owner, mode_t mode = 0644, bool kept = true) {
        return Plant{Plant::kFile, ".varlox.journal", magic + entries, owner, mode, kept};
    };
    const Case cases[] = {
        {"another's journal lists a file to remove", 0,
         {journal("0\0victim.txt\0.a.tmp\0.a.bak\0"s, kNobody)}, "ignored a journal owned by uid 65534"},
        {"the same, run by a user", kUser,
         {journal("0\0victim.txt\0.a.tmp\0.a.bak\0"s, kNobody)}, "ignored a journal owned by uid 65534"},
        {"another's journal lists the run's input", kUser,
         {journal("0\0scan.bmp\0.a.tmp\0.a.bak\0"s, kNobody)}, "ignored a journal owned by uid 65534"},
        {"another's complete journal lists hidden files", 0,
         {journal("1\0victim.txt\0.draft.tmp\0.notes.bak\0end\n"s, kNobody)}, "ignored a journal owned by uid 65534"},
        {"another's journal puts its file in place of one", 0,
         {journal("1\0conf.txt\0.z.tmp\0.e.bak\0"s, kNobody), {Plant::kFile, ".e.bak", "EVIL", kNobody}},
         "ignored a journal owned by uid 65534"},
        {"another's journal puts its link in place of one", 0,
         {journal("1\0conf.txt\0.z.tmp\0.e.bak\0"s, kNobody), {Plant::kLink, ".e.bak", "/etc/shadow", kNobody}},
         "ignored a journal owned by uid 65534"},
        {"a FIFO at the journal's name", kUser,
         {{Plant::kFifo, ".varlox.journal", "", kNobody}}, "ignored a journal that is a FIFO"},
        {"own journal lists a file that is no output", kUser,
         {journal("0\0victim.txt\0.victim.txt.7-0.tmp\0.victim.txt.7-0.bak\0"s, kRunner, 0600, false)},
         "removed a damaged journal"},
        {"own journal's temporary and backup are not formed from its output", 0,
         {journal("1\0scan.csv\0.draft.tmp\0.notes.bak\0end\n"s, kRunner, 0600, false)}, "removed a damaged journal"},
        {"own journal lists another's backup", kUser,
         {journal("1\0scan.csv\0.scan.csv.7-0.tmp\0.scan.csv.7-0.bak\0"s, kRunner, 0600),
          {Plant::kFile, ".scan.csv.7-0.bak", "EVIL", kNobody}},
         "names a file not the user's own"},
        {"own journal that others may write", kUser,
         {journal("0\0victim.txt\0.a.tmp\0.a.bak\0"s, kRunner, 0666)}, "ignored a journal that others may write"},
    };
    for (const Case& c : cases) {
        TempDir d;
        std::vector<Plant> plants = victims;
        plants.insert(plants.end(), c.plants.begin(), c.plants.end());
        prepare(d, c.runner, plants);
        std::map<std::string, Seen> before;
        for (const Plant& p : plants) before[p.name] = seen(d.path(p.name));
        before["scan.bmp"] = seen(d.path("scan.bmp"));
        const auto r = run(d, c.runner, VARLOX_EXE);
        EXPECT_EQ(r.status, 0) << c.label << ": " << r.err;
        EXPECT_NE(r.err.find(c.warning), std::string::npos) << c.label << ": " << r.err;
        for (const auto& [entry, was] : before) {
            const std::string name = entry;  // a lambda may not capture a structured binding
            const bool kept = std::find_if(plants.begin(), plants.end(), [&](const Plant& p) {
                                  return p.name == name && !p.kept;
                              }) == plants.end();
            if (kept) {
                EXPECT_TRUE(seen(d.path(name)) == was) << c.label << ": " << name << " is " << describe(seen(d.path(name)));
            }
        }
        for (const auto& [name, bytes] : outputs) {
            EXPECT_TRUE(testutil::read_file(d.path(name)) == bytes) << c.label << ": " << name;
        }
    }
}

TEST_F(SharedFolder, PlantedLocksRefuseTheRunAtOnceWithNothingChanged) {
    // Something at the lock's name that no run can lock: the run is refused before the
    // transform, naming it. Another user's plain lock file is shared.
    struct Case {
        const char* label;
        Plant lock;
        const char* said;  // the end of the refusal, or null where the run succeeds
    };
    const Case cases[] = {
        {"a FIFO", {Plant::kFifo, ".varlox.lock", "", kNobody}, "lock ./.varlox.lock is a FIFO owned by uid 65534"},
        {"a link", {Plant::kLink, ".varlox.lock", "/etc/passwd", kNobody},
         "lock ./.varlox.lock is a symbolic link owned by uid 65534"},
        {"a folder", {Plant::kDirectory, ".varlox.lock", "", kNobody, 0755},
         "lock ./.varlox.lock is a directory owned by uid 65534"},
        {"another's unreadable file", {Plant::kFile, ".varlox.lock", "", kNobody, 0600},
         "lock ./.varlox.lock is a file owned by uid 65534 that this run may not open"},
        {"another's lock file", {Plant::kFile, ".varlox.lock", "", kNobody, 0644}, nullptr},
    };
    for (const Case& c : cases) {
        TempDir d;
        prepare(d, kUser, {c.lock});
        const auto before = testutil::snapshot(d.root);
        const Seen lock_before = seen(d.path(".varlox.lock"));
        const auto start = std::chrono::steady_clock::now();
        const auto r = run(d, kUser, VARLOX_EXE);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_TRUE(seen(d.path(".varlox.lock")) == lock_before) << c.label;
        if (c.said == nullptr) {
            EXPECT_EQ(r.status, 0) << c.label << ": " << r.err;
            for (const auto& [name, bytes] : outputs) EXPECT_TRUE(testutil::read_file(d.path(name)) == bytes) << name;
            continue;
        }
        EXPECT_EQ(r.status, 1) << c.label << ": " << r.err;
        EXPECT_NE(r.err.find(std::string("Error: Could not write to scan-as-bw.bmp: the folder's ") + c.said),
                  std::string::npos) << c.label << ": " << r.err;
        EXPECT_TRUE(testutil::snapshot(d.root) == before) << c.label << ": " << testutil::listing(testutil::snapshot(d.root));
        if (testutil::emulator_prefix().empty()) {
            EXPECT_LT(seconds, 2.0) << c.label;
        }
    }
}

TEST_F(SharedFolder, HeldLockIsAnnouncedAndGivenUpOn) {
    // Another process holds the lock: the run says so within a second, naming the lock's
    // file; it goes on once the lock is free, gives up after its limit otherwise, and
    // Ctrl-C still ends it while it waits, with nothing left behind.
    enum End { kReleased, kGivenUp, kInterrupted };
    for (const End end : {kReleased, kGivenUp, kInterrupted}) {
        const std::string label = end == kReleased ? "released" : end == kGivenUp ? "given up" : "interrupted";
        TempDir d;
        prepare(d, kUser, {{Plant::kFile, ".varlox.lock", "", kNobody, 0644}});
        // Not inherited by the run: its copy would hold the lock too.
        const int held = open(d.path(".varlox.lock").c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(held, 0);
        ASSERT_EQ(flock(held, LOCK_EX), 0);
        const auto before = testutil::snapshot(d.root);
        TempDir capture;
        const auto start = std::chrono::steady_clock::now();
        const int pid = testutil::start_program(
            "/bin/sh",
            {"-c", std::string("VARLOX_LOCK_WAIT=") + (end == kGivenUp ? "1" : "30") + " exec " + as_user(kUser) +
                       "\"$0\" scan.bmp",
             FAULTS_EXE},
            d.root.string(), capture.path("err"));
        const std::string waiting = "Waiting for ./.varlox.lock, held by another process";
        while (testutil::read_text(capture.path("err")).find(waiting) == std::string::npos &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const double said_after = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_NE(testutil::read_text(capture.path("err")).find(waiting), std::string::npos) << label;
        if (testutil::emulator_prefix().empty()) {
            EXPECT_LT(said_after, 1.5) << label;
        }
        if (end == kReleased) close(held);
        if (end == kInterrupted) kill(pid, SIGINT);
        const testutil::Ended ended = testutil::wait_program(pid);
        if (end != kReleased) close(held);
        const std::string err = testutil::read_text(capture.path("err"));
        if (end == kReleased) {
            EXPECT_EQ(ended.status, 0) << err;
            for (const auto& [name, bytes] : outputs) EXPECT_TRUE(testutil::read_file(d.path(name)) == bytes) << name;
            continue;
        }
        if (end == kGivenUp) {
            EXPECT_EQ(ended.status, 1) << err;
            EXPECT_NE(err.find("Error: Could not write to scan-as-bw.bmp: ./.varlox.lock stayed held by another process for 1 s"),
                      std::string::npos) << err;
        } else {
            EXPECT_EQ(ended.signal, SIGINT) << "status " << ended.status << ": " << err;
        }
        EXPECT_TRUE(testutil::snapshot(d.root) == before) << label << ": " << testutil::listing(testutil::snapshot(d.root));
    }
}

// The names that do not begin with a dot, but for the inputs: the output set.
testutil::Snapshot visible(const fs::path& dir) {
    auto entries = testutil::snapshot(dir);
    for (auto it = entries.begin(); it != entries.end();) {
        const std::string& name = it->first;
        it = name[0] == '.' || name == "in.bmp" || name == "other.bmp" || name.compare(0, 6, "other-") == 0 ||
                     name.compare(0, 6, "other.") == 0
                 ? entries.erase(it)
                 : ++it;
    }
    return entries;
}

int hidden_count(const fs::path& dir) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir)) n += e.path().filename().string()[0] == '.';
    return n;
}

TEST(FailedSync, EverySyncThatFailsFailsTheRunAndLeavesAWholeSet) {
    // Each sync of a run, in turn, fails as a disk's would (EIO): the run ends with status
    // 1, never claiming success, and the names hold the earlier or the new set, whole. The
    // next run into the folder leaves the new set and nothing hidden.
    if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "no strace";
    if (!testutil::emulator_prefix().empty()) GTEST_SKIP() << "strace would trace the emulator";
    struct Case {
        const char* label;
        const char* exe;
        std::vector<std::string> args;
    };
    const Case cases[] = {
        {"varlox", VARLOX_EXE, {"in.bmp"}},
        {"a measuring varlox-view", VARLOX_VIEW_EXE, {"--window", "hann", "in.bmp"}},
    };
    const Bytes older_picture = testutil::make_bmp({64, 64}, testutil::pattern_pixels(64, 64, 1));
    const Bytes newer_picture = testutil::make_bmp({64, 64}, testutil::pattern_pixels(64, 64, 2));
    const std::vector<std::string> no_leak_check = {"ASAN_OPTIONS=detect_leaks=0"};
    for (const Case& c : cases) {
        testutil::Snapshot older, newer;
        for (auto [set, bytes] : {std::pair{&older, &older_picture}, std::pair{&newer, &newer_picture}}) {
            TempDir solo;
            testutil::write_file(solo.path("in.bmp"), *bytes);
            ASSERT_EQ(testutil::run_program(c.exe, c.args, solo.root.string()).status, 0) << c.label;
            *set = visible(solo.root);
        }
        // The syncs of a run that succeeds.
        TempDir counting;
        testutil::write_file(counting.path("in.bmp"), newer_picture);
        std::vector<std::string> traced = {"-f", "-o", counting.path("trace"), "-e", "trace=fsync,fdatasync", c.exe};
        traced.insert(traced.end(), c.args.begin(), c.args.end());
        ASSERT_EQ(testutil::run_program("strace", traced, counting.root.string(), no_leak_check).status, 0);
        int syncs = 0;
        std::ifstream trace(counting.path("trace"));
        for (std::string line; std::getline(trace, line);) syncs += line.find("sync(") != std::string::npos;
        ASSERT_GE(syncs, 8) << c.label << ": each output, the journal and the folder twice";
        for (int n = 1; n <= syncs; ++n) {
            const std::string label = std::string(c.label) + ", sync " + std::to_string(n) + " of " + std::to_string(syncs);
            TempDir d;
            testutil::write_file(d.path("in.bmp"), older_picture);
            ASSERT_EQ(testutil::run_program(c.exe, c.args, d.root.string()).status, 0) << label;
            testutil::write_file(d.path("in.bmp"), newer_picture);
            std::vector<std::string> args = {"-f", "-o", "/dev/null", "-e", "trace=fsync,fdatasync", "-e",
                                             "inject=fsync,fdatasync:error=EIO:when=" + std::to_string(n), c.exe};
            args.insert(args.end(), c.args.begin(), c.args.end());
            const auto r = testutil::run_program("strace", args, d.root.string(), no_leak_check);
            EXPECT_EQ(r.status, 1) << label << ": " << r.err;
            EXPECT_EQ(r.err.find("successfully"), std::string::npos) << label;
            EXPECT_NE(r.err.find("Error: Could not write to "), std::string::npos) << label << ": " << r.err;
            const auto after = visible(d.root);
            EXPECT_TRUE(after == older || after == newer) << label << ": " << testutil::listing(after);
            // Another picture's run commits into the same folder and settles what is left.
            testutil::write_file(d.path("other.bmp"), older_picture);
            std::vector<std::string> other = c.args;
            other.back() = "other.bmp";
            const auto next = testutil::run_program(c.exe, other, d.root.string());
            EXPECT_EQ(next.status, 0) << label << ": " << next.err;
            EXPECT_TRUE(visible(d.root) == after) << label << ": " << testutil::listing(visible(d.root));
            EXPECT_EQ(hidden_count(d.root), 0) << label;
        }
    }
}

}  // namespace
