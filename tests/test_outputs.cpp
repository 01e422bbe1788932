// A run replaces all five outputs or changes nothing: interrupted, failing or colliding
// runs against a directory that already holds the complete outputs of an earlier run.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "app/driver.h"
#include "app/output_table.h"
#include "tests/test_util.h"

namespace fs = std::filesystem;
using testutil::Bytes;
using testutil::TempDir;

namespace {

// varlox's outputs for the input "in.bmp", in the order of its table.
const std::vector<std::string> kOutputs = [] {
    std::vector<std::string> names;
    for (const OutputRow& row : kVarloxOutputs) names.push_back(std::string("in") + row.suffix);
    return names;
}();

TEST(OutputNames, CutNeverEndsInsideAUtf8Character) {
    struct Case {
        std::string stem;  // the file name before ".bmp"
        std::size_t kept;  // bytes of it left in the names
    };
    const std::string a189(189, 'a');
    const Case cases[] = {
        {std::string(250, 'a'), 190},                 // ASCII: cut where the limit falls
        {a189 + "\xC3\xA9" "b", 189},                 // 2-byte character across the cut
        {a189.substr(1) + "\xE2\x82\xAC" "b", 188},   // 3-byte character across the cut
        {a189.substr(2) + "\xF0\x9F\x98\x80" "b", 187},  // 4-byte character across the cut
        {a189.substr(1) + "\xC3\xA9" "bb", 190},      // 2-byte character ends at the cut
        {a189 + "\x80\x80" "b", 190},                 // not UTF-8: cut where the limit falls
    };
    for (const Case& c : cases) {
        EXPECT_EQ(output_names_build("dir/" + c.stem + ".bmp")[kProfile],
                  "dir/" + c.stem.substr(0, c.kept) + ".csv")
            << c.stem.size() << " bytes, kept " << c.kept;
    }
}

class Outputs : public testing::Test {
protected:
    static void SetUpTestSuite() {
        pictures = new TempDir;
        for (const char* side : {"64", "96", "1024", "2048"}) {
            const auto r = testutil::run_program(MAKE_SAMPLE_EXE, {std::string("s") + side + ".bmp", side},
                                                 pictures->root.string());
            ASSERT_EQ(r.status, 0) << r.err;
        }
    }
    static void TearDownTestSuite() {
        delete pictures;
        pictures = nullptr;
    }
    static Bytes picture(int side) { return testutil::read_file(pictures->path("s" + std::to_string(side) + ".bmp")); }

    // Leaves the complete outputs of a run on a 64-side picture in `d`, then puts a
    // picture of side `side` in its place as the next input.
    static void earlier_outputs_then(const TempDir& d, int side) {
        testutil::write_file(d.path("in.bmp"), picture(64));
        const auto r = testutil::run_program(VARLOX_EXE, {"in.bmp"}, d.root.string());
        ASSERT_EQ(r.status, 0) << r.err;
        testutil::write_file(d.path("in.bmp"), picture(side));
    }
    testutil::Snapshot files() const { return testutil::snapshot(dir.root); }

    static TempDir* pictures;
    TempDir dir;
};

TempDir* Outputs::pictures = nullptr;

// Names in the directory that begin with a dot: the run's temporaries.
int hidden_files(const fs::path& dir) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir)) n += e.path().filename().string()[0] == '.';
    return n;
}

// Waits until a run has created its `count` temporaries, which it does just before the
// transform starts; false when that does not happen within a minute.
bool temporaries_appear(const fs::path& dir, int count = 5) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (hidden_files(dir) < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Every signal whose default action ends a process, SIGKILL last. Under an emulator only
// those a program can be sent there: qemu-user takes the fault signals (SEGV, BUS, ILL,
// FPE, TRAP) sent by kill for faults of its own, and keeps real-time signals for itself,
// so the program never sees them and runs on.
std::vector<int> ending_signals() {
    if (!testutil::emulator_prefix().empty()) {
        return {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGXCPU, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGKILL};
    }
    std::vector<int> sigs = {SIGINT, SIGTERM, SIGHUP,  SIGQUIT, SIGXCPU, SIGALRM, SIGUSR1,
                             SIGUSR2, SIGVTALRM, SIGPROF, SIGTRAP, SIGSYS, SIGABRT, SIGBUS,
                             SIGSEGV, SIGFPE, SIGILL};
#ifdef SIGPWR
    sigs.push_back(SIGPWR);
#endif
#ifdef SIGSTKFLT
    sigs.push_back(SIGSTKFLT);
#endif
#ifdef SIGIO
    sigs.push_back(SIGIO);
#endif
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigs.push_back(sig);
    sigs.push_back(SIGKILL);
    return sigs;
}

TEST_F(Outputs, InterruptedRunLeavesTheEarlierOutputs) {
    // varlox under every signal that ends a process; varlox-view, which shares the output
    // set and the interrupt handling, under a few, plain and in a measuring run on two
    // threads (every thread stops, and its five temporaries go too).
    struct Case {
        const char* program;
        std::vector<std::string> args;
        int temporaries;  // created just before the transform starts
        std::vector<int> signals;
    };
    const Case cases[] = {
        {VARLOX_EXE, {"in.bmp"}, 5, ending_signals()},
        {VARLOX_VIEW_EXE, {"in.bmp"}, 2, {SIGTERM, SIGKILL}},
        {VARLOX_VIEW_EXE, {"--threads", "2", "--window", "hann", "in.bmp"}, 5,
         {SIGINT, testutil::emulator_prefix().empty() ? SIGSEGV : SIGUSR1}},
    };
    for (const Case& c : cases) {
        for (int sig : c.signals) {
            const std::string label = std::string(c.program) + " " + c.args[0] + ", signal " + std::to_string(sig);
            TempDir d;
            testutil::write_file(d.path("in.bmp"), picture(64));
            const auto earlier = testutil::run_program(c.program, c.args, d.root.string());
            ASSERT_EQ(earlier.status, 0) << label << ": " << earlier.err;
            testutil::write_file(d.path("in.bmp"), picture(2048));
            const auto before = testutil::snapshot(d.root);
            TempDir capture;
            const int pid = testutil::start_program(c.program, c.args, d.root.string(), capture.path("err"));
            ASSERT_TRUE(temporaries_appear(d.root, c.temporaries)) << label;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            kill(pid, sig);
            const testutil::Ended ended = testutil::wait_program(pid);
            EXPECT_EQ(ended.signal, sig) << label << ": exit status " << ended.status;
            EXPECT_EQ(testutil::read_text(capture.path("err")).find("successfully"), std::string::npos) << label;
            auto after = testutil::snapshot(d.root);
            if (sig == SIGKILL) {
                // Nothing can be removed after a SIGKILL, but the earlier outputs are intact.
                for (auto it = after.begin(); it != after.end();) it = it->first[0] == '.' ? after.erase(it) : ++it;
            }
            EXPECT_TRUE(after == before) << label << ": " << testutil::listing(after);
        }
    }
}

TEST_F(Outputs, UnwritableNameIsFoundBeforeTheTransform) {
    TempDir capture;
    const auto timed_run = [&](const TempDir& d) {
        return testutil::wait_program(testutil::start_program(VARLOX_EXE, {"in.bmp"}, d.root.string(),
                                                              capture.path("err")));
    };
    TempDir whole;
    testutil::write_file(whole.path("in.bmp"), picture(1024));
    const testutil::Ended complete = timed_run(whole);
    ASSERT_EQ(complete.status, 0);

    earlier_outputs_then(dir, 1024);
    fs::remove(dir.path("in-ps-tg.bmp"));
    fs::create_directory(dir.path("in-ps-tg.bmp"));
    const auto before = files();
    const testutil::Ended failed = timed_run(dir);
    EXPECT_EQ(failed.status, 1);
    const std::string err = testutil::read_text(capture.path("err"));
    const std::string msg = "Error: Could not write to in-ps-tg.bmp\n";
    ASSERT_GE(err.size(), msg.size());
    EXPECT_EQ(err.substr(err.size() - msg.size()), msg);
    EXPECT_TRUE(files() == before) << testutil::listing(files());
    // The transform is nearly all of a complete run's work: a failure found before it
    // costs a small part of that, in processor time, however busy the machine is.
    EXPECT_LT(failed.cpu_seconds * 4, complete.cpu_seconds)
        << failed.cpu_seconds << " s against " << complete.cpu_seconds << " s for a complete run";
}

TEST_F(Outputs, WriteFailureChangesNothing) {
    // Under a file-size limit of 2 KiB (4 blocks of 512 bytes in sh) the first picture,
    // 27 KiB, cannot be written: the run fails as on a full disk.
    earlier_outputs_then(dir, 96);
    const auto before = files();
    const auto r = testutil::run_program(
        "/bin/sh", {"-c", "ulimit -f 4 && exec " + testutil::emulator_prefix() + "\"$0\" in.bmp", VARLOX_EXE},
        dir.root.string());
    EXPECT_EQ(r.status, 1) << r.err;
    const std::string msg = "Error: Could not write to in-as-bw.bmp\n";
    ASSERT_GE(r.err.size(), msg.size());
    EXPECT_EQ(r.err.substr(r.err.size() - msg.size()), msg);
    EXPECT_TRUE(files() == before) << testutil::listing(files());
}

TEST_F(Outputs, LinksAtOutputNamesAreReplacedNotFollowed) {
    testutil::write_file(dir.path("in.bmp"), picture(64));
    fs::create_directory(dir.path("targets"));
    for (int i = 0; i < 5; ++i) {
        const std::string target = dir.path(std::string("targets/") + kOutputs[i]);
        testutil::write_text(target, "keep me");
        fs::create_symlink(target, dir.path(kOutputs[i]));
    }
    if (fs::exists("/dev/full")) {
        fs::remove(dir.path(kOutputs[2]));
        fs::create_symlink("/dev/full", dir.path(kOutputs[2]));
    }
    const auto r = testutil::run_program(VARLOX_EXE, {"in.bmp"}, dir.root.string());
    EXPECT_EQ(r.status, 0) << r.err;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(testutil::read_text(dir.path(std::string("targets/") + kOutputs[i])), "keep me");
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.path(kOutputs[i])))) << kOutputs[i];
        EXPECT_GT(fs::file_size(dir.path(kOutputs[i])), 100u) << kOutputs[i];
    }
}

TEST_F(Outputs, CollidingRunsEachWriteWholeFiles) {
    // "a.bmp" and "a.BMP" have the same outputs. Each picture's own outputs are made first,
    // alone; then both run at once, and every output must be one of the two whole files.
    testutil::Snapshot alone[2];
    const char* inputs[2] = {"a.bmp", "a.BMP"};
    const Bytes pics[2] = {picture(1024), picture(96)};
    for (int k = 0; k < 2; ++k) {
        TempDir solo;
        testutil::write_file(solo.path(inputs[k]), pics[k]);
        ASSERT_EQ(testutil::run_program(VARLOX_EXE, {inputs[k]}, solo.root.string()).status, 0);
        alone[k] = testutil::snapshot(solo.root);
        testutil::write_file(dir.path(inputs[k]), pics[k]);
    }
    TempDir capture;
    int pids[2];
    for (int k = 0; k < 2; ++k) {
        pids[k] = testutil::start_program(VARLOX_EXE, {inputs[k]}, dir.root.string(),
                                          capture.path(std::to_string(k)));
    }
    for (int k = 0; k < 2; ++k) EXPECT_EQ(testutil::wait_program(pids[k]).status, 0) << inputs[k];
    const auto after = files();
    EXPECT_EQ(after.size(), 7u);  // two inputs and five outputs, no temporaries
    for (const std::string name : {"a-as-bw.bmp", "a-as-tg.bmp", "a-ps-bw.bmp", "a-ps-tg.bmp", "a.csv"}) {
        ASSERT_EQ(after.count(name), 1u) << name;
        EXPECT_TRUE(after.at(name) == alone[0].at(name) || after.at(name) == alone[1].at(name)) << name;
    }
}

TEST_F(Outputs, ClosedStandardStreamsAreNotTakenByOutputs) {
    if (!fs::exists("/proc/self/fd")) GTEST_SKIP() << "no /proc to look at descriptors";
    if (!testutil::emulator_prefix().empty()) GTEST_SKIP() << "the emulator holds descriptors of its own";
    testutil::write_file(dir.path("in.bmp"), picture(2048));
    TempDir capture;
    const int pid = testutil::start_program("/bin/sh", {"-c", "exec \"$0\" in.bmp <&- >&- 2>&-", VARLOX_EXE},
                                            dir.root.string(), capture.path("err"));
    ASSERT_TRUE(temporaries_appear(dir.root));
    // With every output open, the three standard descriptors still lead nowhere.
    for (int fd = 0; fd <= 2; ++fd) {
        const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
        std::error_code ec;
        EXPECT_EQ(fs::read_symlink(link, ec).string(), "/dev/null") << link;
    }
    kill(pid, SIGTERM);
    EXPECT_EQ(testutil::wait_program(pid).signal, SIGTERM);
}

TEST_F(Outputs, ClosedPipeOnStandardErrorLeavesNothingBehind) {
    // `varlox in.bmp 2>&1 | head -n 1`: head has gone when the failure is reported, and
    // the message goes to a closed pipe. The run must still clean up and end normally.
    earlier_outputs_then(dir, 96);
    const auto before = files();
    const auto r = testutil::run_program(
        "/bin/sh",
        {"-c", "(ulimit -f 4 && exec " + testutil::emulator_prefix() + "\"$0\" in.bmp) 2>&1 | head -n 1",
         VARLOX_EXE},
        dir.root.string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "\n");  // the banner's first line
    EXPECT_TRUE(files() == before) << testutil::listing(files());
}

// Inode numbers of the entries of a directory that do not begin with a dot.
std::map<std::string, ino_t> inodes(const fs::path& dir) {
    std::map<std::string, ino_t> found;
    for (const auto& e : fs::directory_iterator(dir)) {
        struct stat st {};
        if (e.path().filename().string()[0] != '.' && lstat(e.path().c_str(), &st) == 0) {
            found[e.path().filename().string()] = st.st_ino;
        }
    }
    return found;
}

TEST_F(Outputs, CommitThatFailsAtAnyRenameLeavesTheDirectoryAsItWas) {
    // In a shared sticky directory, a file owned by someone else cannot be replaced. The
    // run is another user's (nobody's): one earlier output, the blocked one, belongs to
    // root. Readable and writable by all, it can be hard-linked as a backup and the
    // rename onto it is what fails, after the renames before it have succeeded; readable
    // only, not even a backup can be made. Either way the directory must end as it was:
    // the same files, byte for byte, the same inodes, nothing hidden left.
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
    if (std::system("command -v setpriv >/dev/null 2>&1") != 0) GTEST_SKIP() << "no setpriv";
    const uid_t nobody = 65534;
    const std::string run_as_nobody = "setpriv --reuid=65534 --regid=65534 --clear-groups -- sh -c 'exec " +
                                      testutil::emulator_prefix() + "\"$0\" in.bmp' ";
    for (const std::string& blocked : kOutputs) {
        for (const fs::perms mode : {fs::perms(0666), fs::perms(0644)}) {
            const std::string label = std::string(blocked) + (mode == fs::perms(0666) ? " rw" : " r");
            TempDir d;
            earlier_outputs_then(d, 96);
            fs::permissions(d.root, fs::perms(01777));
            fs::permissions(d.path("in.bmp"), fs::perms(0644));
            for (const std::string& out : kOutputs) {
                ASSERT_EQ(chown(d.path(out).c_str(), nobody, nobody), 0);
            }
            ASSERT_EQ(chown(d.path(blocked).c_str(), 0, 0), 0);
            fs::permissions(d.path(blocked), mode);
            const auto before = testutil::snapshot(d.root);
            const auto before_inodes = inodes(d.root);
            const auto r = testutil::run_program("/bin/sh", {"-c", run_as_nobody + "'" + VARLOX_EXE + "'"},
                                                 d.root.string());
            EXPECT_EQ(r.status, 1) << label << ": " << r.err;
            const std::string msg = std::string("Error: Could not write to ") + blocked + "\n";
            EXPECT_TRUE(r.err.size() >= msg.size() && r.err.substr(r.err.size() - msg.size()) == msg)
                << label << ": " << r.err;
            const auto after = testutil::snapshot(d.root);
            EXPECT_TRUE(after == before) << label << ": " << testutil::listing(after);
            EXPECT_TRUE(inodes(d.root) == before_inodes) << label;
        }
    }
}

TEST_F(Outputs, UnchangeableNamesFailTheRunBeforeAnythingChanges) {
    // An immutable output cannot be replaced; in an append-only directory no name can be
    // replaced and nothing made there removed again, so nothing may be made.
    if (geteuid() != 0) GTEST_SKIP() << "needs root to change file attributes";
    struct Case {
        const char* entry;    // what gets the attribute ("." for the directory)
        const char* flag;     // chattr's letter
        const char* message;  // the end of standard error
    };
    const Case cases[] = {
        {"in-ps-bw.bmp", "i", "Error: Could not write to in-ps-bw.bmp\n"},
        {".", "a", "Error: Could not write to in-as-bw.bmp: its directory is append-only or immutable\n"},
    };
    for (const Case& c : cases) {
        TempDir d;
        earlier_outputs_then(d, 96);
        const std::string entry = d.path(c.entry);
        if (std::system(("chattr +" + std::string(c.flag) + " '" + entry + "' 2>/dev/null").c_str()) != 0) {
            GTEST_SKIP() << "this file system has no attribute " << c.flag;
        }
        // Undone however the test ends, or the folder could not be removed.
        struct Undo {
            std::string command;
            ~Undo() { std::system(command.c_str()); }
        } undo{"chattr -" + std::string(c.flag) + " '" + entry + "'"};
        const auto before = testutil::snapshot(d.root);
        const auto r = testutil::run_program(VARLOX_EXE, {"in.bmp"}, d.root.string());
        EXPECT_EQ(r.status, 1) << c.entry << ": " << r.err;
        EXPECT_TRUE(r.err.size() >= std::strlen(c.message) &&
                    r.err.compare(r.err.size() - std::strlen(c.message), std::string::npos, c.message) == 0)
            << c.entry << ": " << r.err;
        const auto after = testutil::snapshot(d.root);
        EXPECT_TRUE(after == before) << c.entry << ": " << testutil::listing(after);
    }
}

TEST_F(Outputs, CollidingRunsCommitWholeSets) {
    // "a.bmp" and "a.BMP" write the same five names. Two runs at once, a hundred times:
    // afterwards the five names must always hold the outputs of one of the two runs. Also
    // in a directory that its user (not root, who may read anything) may write and search
    // but not read, where the directory itself cannot be opened to lock it.
    struct Case {
        const char* label;
        fs::perms mode;
        bool as_nobody;
    };
    const Case cases[] = {{"own directory", fs::perms(0700), false},
                          {"mode 0300, another user", fs::perms(0300), true}};
    const char* inputs[2] = {"a.bmp", "a.BMP"};
    testutil::Snapshot alone[2];
    for (int k = 0; k < 2; ++k) {
        TempDir solo;
        testutil::write_file(solo.path(inputs[k]), testutil::make_bmp({8, 8}, testutil::pattern_pixels(8, 8, k + 1)));
        ASSERT_EQ(testutil::run_program(VARLOX_EXE, {inputs[k]}, solo.root.string()).status, 0);
        alone[k] = testutil::snapshot(solo.root);
        alone[k].erase(inputs[k]);
    }
    const bool can_switch = geteuid() == 0 && std::system("command -v setpriv >/dev/null 2>&1") == 0;
    for (const Case& c : cases) {
        if (c.as_nobody && !can_switch) {
            std::printf("[  SKIPPED ] %s: needs root and setpriv to run as another user\n", c.label);
            continue;
        }
        TempDir d;
        const uid_t nobody = 65534;
        for (int k = 0; k < 2; ++k) {
            testutil::write_file(d.path(inputs[k]), testutil::make_bmp({8, 8}, testutil::pattern_pixels(8, 8, k + 1)));
            if (c.as_nobody) {
                ASSERT_EQ(chown(d.path(inputs[k]).c_str(), nobody, nobody), 0);
            }
        }
        if (c.as_nobody) {
            ASSERT_EQ(chown(d.root.c_str(), nobody, nobody), 0);
        }
        fs::permissions(d.root, c.mode);
        const std::string prefix = c.as_nobody ? "setpriv --reuid=65534 --regid=65534 --clear-groups -- " : "";
        TempDir capture;
        int mixed = 0;
        for (int round = 0; round < 100; ++round) {
            int pids[2];
            for (int k = 0; k < 2; ++k) {
                pids[k] = testutil::start_program(
                    "/bin/sh", {"-c", prefix + testutil::emulator_prefix() + "\"$0\" \"$1\"", VARLOX_EXE, inputs[k]},
                    d.root.string(), capture.path(std::to_string(k)));
            }
            for (int k = 0; k < 2; ++k) {
                ASSERT_EQ(testutil::wait_program(pids[k]).status, 0)
                    << c.label << ", round " << round << ": " << testutil::read_text(capture.path(std::to_string(k)));
            }
            auto after = testutil::snapshot(d.root);
            after.erase(inputs[0]);
            after.erase(inputs[1]);
            if (after != alone[0] && after != alone[1]) {
                ++mixed;
                ADD_FAILURE() << c.label << ", round " << round << ": " << testutil::listing(after);
            }
        }
        EXPECT_EQ(mixed, 0) << c.label;
    }
}

// The directory's entries that a run may leave only while it runs: names beginning with
// a dot (temporaries, backups, the journal and the lock).
std::vector<std::string> hidden_names(const fs::path& dir) {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.path().filename().string()[0] == '.') found.push_back(e.path().filename().string());
    }
    return found;
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& n : names) text += n + " ";
    return text;
}

// A fixture with the outputs of two runs in the same directory: `older` from the
// 64-side picture, `newer` from the 96-side one, which is the next input.
class Commit : public Outputs {
protected:
    void SetUp() override {
        TempDir solo;
        testutil::write_file(solo.path("in.bmp"), picture(96));
        ASSERT_EQ(testutil::run_program(VARLOX_EXE, {"in.bmp"}, solo.root.string()).status, 0);
        newer = testutil::snapshot(solo.root);
        earlier_outputs_then(dir, 96);
        older = files();
    }
    testutil::Snapshot older, newer;
};

TEST_F(Commit, FilesAreSyncedBeforeTheirRenamesAndTheDirectoryAfter) {
    if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "no strace";
    if (!testutil::emulator_prefix().empty()) GTEST_SKIP() << "strace would trace the emulator";
    TempDir capture;
    // LeakSanitizer cannot run under ptrace; a sanitizer build's leak check is left out.
    const auto r = testutil::run_program(
        "strace", {"-f", "-y", "-o", capture.path("trace"), "-e", "trace=fsync,fdatasync,rename,renameat,renameat2",
                   VARLOX_EXE, "in.bmp"},
        dir.root.string(), {"ASAN_OPTIONS=detect_leaks=0"});
    ASSERT_EQ(r.status, 0) << r.err;
    // Lines such as `fsync(3</dir/.in.csv.123-0.tmp>) = 0` (-y names the descriptor's
    // file) and `rename(".in.csv.123-0.tmp", "in.csv") = 0`, perhaps after a process id.
    std::ifstream trace(capture.path("trace"));
    std::vector<std::string> events;  // "sync PATH" and "rename TO"
    for (std::string line; std::getline(trace, line);) {
        if (line.size() < 4 || line.compare(line.size() - 4, 4, " = 0") != 0) continue;
        const std::size_t open = line.find('<');
        if (line.find("sync(") != std::string::npos && open != std::string::npos) {
            events.push_back("sync " + line.substr(open + 1, line.find(">)", open) - open - 1));
        }
        const std::size_t to_end = line.rfind('"');
        const std::size_t to_start = to_end == std::string::npos ? to_end : line.rfind('"', to_end - 1);
        if (line.find("rename") != std::string::npos && to_start != std::string::npos) {
            events.push_back("rename " + line.substr(to_start + 1, to_end - to_start - 1));
        }
    }
    std::string text;
    for (const auto& e : events) text += e + "\n";
    const std::string directory = "sync " + fs::canonical(dir.root).string();
    std::size_t first_rename = events.size();
    std::size_t last_rename = 0;
    for (const std::string& out : kOutputs) {
        std::size_t renamed = events.size();
        std::size_t synced = events.size();
        for (std::size_t i = 0; i < events.size(); ++i) {
            if (events[i] == std::string("rename ") + out) renamed = i;
            if (events[i].compare(0, 5, "sync ") == 0 && events[i].find(std::string("/.") + out + ".") != std::string::npos &&
                events[i].size() > 4 && events[i].compare(events[i].size() - 4, 4, ".tmp") == 0) {
                synced = i;
            }
        }
        ASSERT_LT(renamed, events.size()) << out << " never renamed:\n" << text;
        EXPECT_LT(synced, renamed) << out << "'s temporary not synced before its rename:\n" << text;
        first_rename = std::min(first_rename, renamed);
        last_rename = std::max(last_rename, renamed);
    }
    bool before = false;
    bool after = false;
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i] != directory) continue;
        before = before || i < first_rename;
        after = after || i > last_rename;
    }
    EXPECT_TRUE(before) << "the directory (its backups) not synced before the renames:\n" << text;
    EXPECT_TRUE(after) << "the directory not synced after the renames:\n" << text;
}

TEST_F(Commit, SignalAtAnyStepGivesAStatusThatMatchesTheFiles) {
    // A signal that arrives before the last rename is checked puts the earlier set back
    // and ends the run by that signal; after that, the run is complete and ends with 0.
    for (int sig : {SIGINT, SIGTERM}) {
        for (int step = 0; step <= 6; ++step) {
            TempDir d;
            earlier_outputs_then(d, 96);
            TempDir capture;
            const int pid = testutil::start_program(
                "/bin/sh",
                {"-c", "VARLOX_STEP_SIGNAL=\"$1:$2\" exec " + testutil::emulator_prefix() + "\"$0\" in.bmp",
                 FAULTS_EXE, std::to_string(step), std::to_string(sig)},
                d.root.string(), capture.path("err"));
            const testutil::Ended ended = testutil::wait_program(pid);
            const std::string err = testutil::read_text(capture.path("err"));
            const std::string label = "signal " + std::to_string(sig) + " at step " + std::to_string(step);
            EXPECT_TRUE(hidden_names(d.root).empty()) << label << ": " << joined(hidden_names(d.root));
            if (step <= 5) {
                EXPECT_EQ(ended.signal, sig) << label << ", status " << ended.status;
                EXPECT_TRUE(testutil::snapshot(d.root) == older) << label << ": " << testutil::listing(testutil::snapshot(d.root));
                EXPECT_EQ(err.find("successfully"), std::string::npos) << label;
            } else {
                EXPECT_EQ(ended.status, 0) << label << ", signal " << ended.signal;
                EXPECT_TRUE(testutil::snapshot(d.root) == newer) << label << ": " << testutil::listing(testutil::snapshot(d.root));
                EXPECT_NE(err.find("successfully"), std::string::npos) << label << ": " << err;
            }
        }
    }
}

TEST_F(Commit, NextCommitRepairsASetLeftByAKill) {
    // Killed before rename N (N = 0 to the number of outputs, which is after the last) or
    // once the commit is over, then a run on another picture commits into the same
    // directory: afterwards the names hold one whole set, the earlier one when renames
    // were missing, and no hidden file remains. varlox, and a measuring varlox-view, whose
    // journal lists five other names.
    struct Case {
        const char* exe;
        const char* faults_exe;
        std::vector<std::string> options;
    };
    const Case cases[] = {{VARLOX_EXE, FAULTS_EXE, {}}, {VARLOX_VIEW_EXE, VIEW_FAULTS_EXE, {"--window", "hann"}}};
    for (const Case& c : cases) {
        const auto args = [&](const char* input) {
            std::vector<std::string> all = c.options;
            all.push_back(input);
            return all;
        };
        // The outputs of each picture alone, without the pictures.
        const auto alone = [&](int side) {
            TempDir solo;
            testutil::write_file(solo.path("in.bmp"), picture(side));
            EXPECT_EQ(testutil::run_program(c.exe, args("in.bmp"), solo.root.string()).status, 0);
            auto set = testutil::snapshot(solo.root);
            set.erase("in.bmp");
            return set;
        };
        const testutil::Snapshot earlier = alone(64), later = alone(96);
        const int count = static_cast<int>(later.size());
        for (int step = 0; step <= count + 1; ++step) {
            const std::string label = std::string(c.exe) + ", step " + std::to_string(step);
            TempDir d;
            testutil::write_file(d.path("in.bmp"), picture(64));
            ASSERT_EQ(testutil::run_program(c.exe, args("in.bmp"), d.root.string()).status, 0) << label;
            testutil::write_file(d.path("in.bmp"), picture(96));
            std::vector<std::string> killed = {"-c", "export VARLOX_STEP_KILL=\"$1\"; shift; exec " +
                                                         testutil::emulator_prefix() + "\"$0\" \"$@\"",
                                               c.faults_exe, std::to_string(step)};
            for (const std::string& a : args("in.bmp")) killed.push_back(a);
            TempDir capture;
            const int pid = testutil::start_program("/bin/sh", killed, d.root.string(), capture.path("err"));
            EXPECT_EQ(testutil::wait_program(pid).signal, SIGKILL) << label;
            testutil::write_file(d.path("other.bmp"), picture(64));
            const auto r = testutil::run_program(c.exe, args("other.bmp"), d.root.string());
            ASSERT_EQ(r.status, 0) << label << ": " << r.err;
            auto after = testutil::snapshot(d.root);
            for (auto it = after.begin(); it != after.end();) {
                it = it->first.compare(0, 5, "other") == 0 || it->first == "in.bmp" ? after.erase(it) : ++it;
            }
            const testutil::Snapshot& expected = step < count ? earlier : later;
            EXPECT_TRUE(after == expected) << label << ": " << testutil::listing(after);
            EXPECT_TRUE(hidden_names(d.root).empty()) << label << ": " << joined(hidden_names(d.root));
        }
    }
}

TEST_F(Commit, WithoutHardLinksEveryNameStaysInPlace) {
    // Backups are copies where no hard link can be made: every earlier output's name holds
    // a file at each step of the commit, and a commit that fails puts back the contents.
    const std::string names = "in-as-bw.bmp:in-as-tg.bmp:in-ps-bw.bmp:in-ps-tg.bmp:in.csv";
    struct Case {
        const char* fail_rename;  // VARLOX_FAIL_RENAME, "0" for none
        int status;
    };
    for (const Case& c : {Case{"0", 0}, Case{"3", 1}}) {
        TempDir d;
        earlier_outputs_then(d, 96);
        const auto r = testutil::run_program(FAULTS_EXE, {"in.bmp"}, d.root.string(),
                                             {"VARLOX_FAIL_LINK=1", "VARLOX_STEP_CHECK=" + names,
                                              std::string("VARLOX_FAIL_RENAME=") + c.fail_rename});
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(r.err.find("Missing"), std::string::npos) << r.err;
        EXPECT_TRUE(testutil::snapshot(d.root) == (c.status == 0 ? newer : older))
            << "rename " << c.fail_rename << ": " << testutil::listing(testutil::snapshot(d.root));
    }
}

}  // namespace
