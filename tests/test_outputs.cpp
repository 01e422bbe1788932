// A run replaces all its outputs or changes nothing: names that cannot be written, renames
// that fail partway, interrupted, failing and colliding runs against a folder that holds
// the complete outputs of an earlier run, the commit's syncs and its repair of a killed
// run, and folders others may write to (planted journals and locks, run as other users).
// The tests that send POSIX signals, look at descriptors or switch users are POSIX only:
// Windows has none of these, and its interrupt is the console's Ctrl+C, which a test
// cannot send to a process without a console.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
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

// varlox's outputs for the input "in.bmp", in the order of its table.
const std::vector<std::string> kOutputs = [] {
    std::vector<std::string> names;
    for (const OutputRow& row : kVarloxOutputs) names.push_back(std::string("in") + row.suffix);
    return names;
}();

Bytes small_picture(int n) {
    return testutil::make_bmp({n, n}, testutil::pattern_pixels(n, n, 5));
}

class Outputs : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        pictures = new TempDir;
        for (const char* side : {"64", "96", "512", "2048"}) {
            const auto r = testutil::run_program(MAKE_SAMPLE_EXE, {std::string("s") + side + ".bmp", side},
                                                 pictures->root.string());
            ASSERT_EQ(r.status, 0) << r.err;
        }
    }
    static void TearDownTestSuite() {
        delete pictures;
        pictures = nullptr;
    }
    static Bytes picture(int side) {
        return testutil::read_file(pictures->path("s" + std::to_string(side) + ".bmp"));
    }

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

// What a run of a program said and cost, and how it ended.
struct Outcome {
    int status;
    std::string err;
    double cpu_seconds;  // processor time, where it can be measured (POSIX); else 0
};

// Runs `exe` with `args` in `cwd`, as the user nobody when `as_nobody` (POSIX, as root).
Outcome run_measured(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd,
                     bool as_nobody) {
#ifdef _WIN32
    (void)as_nobody;
    const auto r = testutil::run_program(exe, args, cwd);
    return {r.status, r.err, 0};
#else
    TempDir capture;
    std::vector<std::string> argv = args;
    std::string program = exe;
    if (as_nobody) {
        // The shell is replaced by setpriv, and that by the program: one process throughout.
        argv.insert(argv.begin(), {"-c",
                                   "exec setpriv --reuid=65534 --regid=65534 --clear-groups -- " +
                                       testutil::emulator_prefix() + "\"$0\" \"$@\"",
                                   exe});
        program = "/bin/sh";
    }
    const testutil::Ended ended =
        testutil::wait_program(testutil::start_program(program, argv, cwd, capture.path("err")));
    return {ended.status, testutil::read_text(capture.path("err")), ended.cpu_seconds};
#endif
}

TEST_F(Outputs, UnwritableNameFailsTheRunBeforeTheTransformAndChangesNothing) {
    // Every output of every program, in turn, cannot be made: a directory holds its name
    // (which not even root can open as a file), or the whole folder is read-only. The run
    // fails with one message naming that output (in a read-only folder the first one
    // made), claims no success and leaves the folder as it was, also where it holds an
    // earlier run's outputs. It is found before the transform: on a picture whose
    // transform is nearly all of a complete run's work, the failing run costs a small part
    // of that, in processor time, however busy the machine is.
    struct Case {
        const char* exe;
        std::vector<std::string> options;  // before the input
        std::string blocked;  // the output whose name a directory holds; empty: the folder is read-only
        std::string said;     // the output the message names
        bool earlier;         // the folder holds the outputs of an earlier run
        int side;
        bool timed;
    };
    std::vector<Case> cases;
    for (const OutputRow& row : kVarloxOutputs) {
        cases.push_back({VARLOX_EXE,
                         {},
                         std::string("in") + row.suffix,
                         std::string("in") + row.suffix,
                         false,
                         8,
                         false});
    }
    cases.push_back({VARLOX_EXE, {}, "in-ps-tg.bmp", "in-ps-tg.bmp", true, 512, true});
    for (int i = 0; i < kViewOutputCount; ++i) {
        const std::string name = std::string("in") + kViewOutputs[i].suffix;
        if (i < kViewPlainCount) cases.push_back({VARLOX_VIEW_EXE, {}, name, name, false, 8, false});
        // The autocorrelation's outputs are written only with --acf.
        cases.push_back({VARLOX_VIEW_EXE,
                         i < kViewMeasuringCount ? std::vector<std::string>{"--window", "hann"}
                                                 : std::vector<std::string>{"--acf"},
                         name, name, false, 8, false});
    }
    cases.push_back({VARLOX_EXE, {}, "", std::string("in") + kVarloxOutputs[0].suffix, false, 8, false});
    cases.push_back({VARLOX_VIEW_EXE, {}, "", std::string("in") + kViewOutputs[0].suffix, false, 8, false});
#ifndef _WIN32
    // Root may write into a read-only folder: as root the run is nobody's.
    const bool as_root = geteuid() == 0;
    const bool can_switch = as_root && std::system("command -v setpriv >/dev/null 2>&1") == 0;
#endif
    for (const Case& c : cases) {
        const bool read_only = c.blocked.empty();
        std::string label = std::string(c.exe) + " ";
        for (const std::string& o : c.options) label += o + " ";
        label += read_only ? "in a read-only folder" : c.blocked + " a directory";
#ifdef _WIN32
        if (read_only) {
            std::printf("[  SKIPPED ] %s: a read-only folder on Windows still takes new files\n",
                        label.c_str());
            continue;
        }
        const bool as_nobody = false;
#else
        if (read_only && as_root && !can_switch) {
            std::printf(
                "[  SKIPPED ] %s: root may write into it, and there is no setpriv to run as another user\n",
                label.c_str());
            continue;
        }
        const bool as_nobody = read_only && as_root;
#endif
        TempDir d;
        const Bytes input = c.side == 8 ? small_picture(8) : picture(c.side);
        // In a read-only folder the input is ro/in.bmp, the run started beside ro.
        const std::string folder = read_only ? d.path("ro") : d.root.string();
        const std::string at = read_only ? "ro/" : "";
        if (read_only) fs::create_directory(folder);
        if (c.earlier) {
            earlier_outputs_then(d, c.side);
        } else {
            testutil::write_file(folder + "/in.bmp", input);
        }
        if (!read_only) {
            fs::remove(folder + "/" + c.blocked);
            fs::create_directory(folder + "/" + c.blocked);
        } else {
            // Readable by all (the run may be nobody's), writable by none.
            fs::permissions(d.root, fs::perms(0755));
            fs::permissions(folder + "/in.bmp", fs::perms(0644));
            fs::permissions(folder, fs::perms(0555));
        }
        std::vector<std::string> args = c.options;
        args.push_back(at + "in.bmp");
        const auto before = testutil::snapshot(folder);
        const Outcome failed = run_measured(c.exe, args, d.root.string(), as_nobody);
        EXPECT_EQ(failed.status, 1) << label << ": " << failed.err;
        EXPECT_TRUE(testutil::ends_with(failed.err, "Error: Could not write to " + at + c.said + "\n"))
            << label << ": " << failed.err;
        EXPECT_EQ(testutil::count_of(failed.err, "Error: "), 1u) << label << ": " << failed.err;
        EXPECT_EQ(failed.err.find("successfully"), std::string::npos) << label;
        const auto after = testutil::snapshot(folder);
        EXPECT_TRUE(after == before) << label << ": " << testutil::listing(after);
        if (c.timed) {
            TempDir whole;
            testutil::write_file(whole.path("in.bmp"), input);
            const Outcome complete = run_measured(c.exe, args, whole.root.string(), false);
            ASSERT_EQ(complete.status, 0) << label << ": " << complete.err;
#ifndef _WIN32
            EXPECT_LT(failed.cpu_seconds * 4, complete.cpu_seconds)
                << label << ": " << failed.cpu_seconds << " s against " << complete.cpu_seconds
                << " s for a complete run";
#endif
        }
    }
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

TEST_F(Commit, RenameThatFailsAtAnyStepPutsEveryFileBack) {
    // The commit renames the outputs in the order of the table. Whichever rename fails,
    // those before it are undone: over earlier outputs the folder holds them again, byte
    // for byte; in a folder without them the new files are gone. With no rename failing
    // the new set is in place. Backups are hard links, or copies where no hard link can
    // be made; either way every earlier output's name holds a file at each step of the
    // commit.
    const std::string names = "in-as-bw.bmp:in-as-tg.bmp:in-ps-bw.bmp:in-ps-tg.bmp:in.csv";
    for (const bool copies : {false, true}) {
        for (const bool earlier : {true, false}) {
            for (int n = 0; n <= kOutputCount; ++n) {
                const std::string label =
                    std::string(copies ? "backups copied" : "backups linked") +
                    (earlier ? ", over earlier outputs" : ", alone") +
                    (n == 0 ? ", no rename fails" : ", rename " + std::to_string(n) + " fails");
                TempDir d;
                if (earlier) {
                    earlier_outputs_then(d, 96);
                } else {
                    testutil::write_file(d.path("in.bmp"), picture(96));
                }
                const auto before = testutil::snapshot(d.root);
                std::vector<std::string> env = {"VARLOX_FAIL_RENAME=" + std::to_string(n)};
                if (copies) env.push_back("VARLOX_FAIL_LINK=1");
                if (earlier) env.push_back("VARLOX_STEP_CHECK=" + names);
                const auto r = testutil::run_program(FAULTS_EXE, {"in.bmp"}, d.root.string(), env);
                EXPECT_EQ(r.err.find("Missing"), std::string::npos) << label << ": " << r.err;
                const auto after = testutil::snapshot(d.root);
                if (n == 0) {
                    EXPECT_EQ(r.status, 0) << label << ": " << r.err;
                    EXPECT_TRUE(after == newer) << label << ": " << testutil::listing(after);
                    continue;
                }
                EXPECT_EQ(r.status, 1) << label;
                const std::string msg =
                    std::string("Error: Could not write to in") + kVarloxOutputs[n - 1].suffix + "\n";
                EXPECT_TRUE(testutil::ends_with(r.err, msg)) << label << ": " << r.err;
                EXPECT_EQ(testutil::count_of(r.err, "Error: "), 1u) << label << ": " << r.err;
                EXPECT_TRUE(after == before) << label << ": " << testutil::listing(after);
            }
        }
    }
}

#ifndef _WIN32

// The directory's entries that a run may leave only while it runs: names beginning with
// a dot (temporaries, backups, the journal and the lock).
std::vector<std::string> hidden_names(const fs::path& dir) {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.path().filename().string()[0] == '.') found.push_back(e.path().filename().string());
    }
    return found;
}

// Waits until a run has created its `count` temporaries, which it does just before the
// transform starts; false when that does not happen within a minute.
bool temporaries_appear(const fs::path& dir, std::size_t count = 5) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (hidden_names(dir).size() < count) {
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
        return {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGXCPU, SIGALRM,
                SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGKILL};
    }
    std::vector<int> sigs = {SIGINT,  SIGTERM, SIGHUP, SIGQUIT, SIGXCPU, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM,
                             SIGPROF, SIGTRAP, SIGSYS, SIGABRT, SIGBUS,  SIGSEGV, SIGFPE,  SIGILL};
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
        std::size_t temporaries;  // created just before the transform starts
        std::vector<int> signals;
    };
    const Case cases[] = {
        {VARLOX_EXE, {"in.bmp"}, 5, ending_signals()},
        {VARLOX_VIEW_EXE, {"in.bmp"}, 2, {SIGTERM, SIGKILL}},
        {VARLOX_VIEW_EXE,
         {"--threads", "2", "--window", "hann", "in.bmp"},
         5,
         {SIGINT, testutil::emulator_prefix().empty() ? SIGSEGV : SIGUSR1}},
    };
    for (const Case& c : cases) {
        for (int sig : c.signals) {
            const std::string label =
                std::string(c.program) + " " + c.args[0] + ", signal " + std::to_string(sig);
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
            EXPECT_EQ(testutil::read_text(capture.path("err")).find("successfully"), std::string::npos)
                << label;
            auto after = testutil::snapshot(d.root);
            if (sig == SIGKILL) {
                // Nothing can be removed after a SIGKILL, but the earlier outputs are intact.
                for (auto it = after.begin(); it != after.end();)
                    it = it->first[0] == '.' ? after.erase(it) : ++it;
            }
            EXPECT_TRUE(after == before) << label << ": " << testutil::listing(after);
        }
    }
}

TEST_F(Outputs, WriteFailureChangesNothing) {
    // Under a file-size limit of 2 KiB (4 blocks of 512 bytes in sh) the first picture,
    // 27 KiB, cannot be written: the run fails as on a full disk, says so and leaves the
    // earlier outputs. Its standard error goes through a pipe to head, which reads it
    // whole, or only the banner's first line and is gone when the failure is reported
    // (`varlox in.bmp 2>&1 | head -n 1`): the message then goes to a closed pipe, and the
    // run must still clean up and end with status 1.
    struct Case {
        const char* label;
        int lines;        // that head passes on
        std::string out;  // what it passes on ends with this; it is exactly this for one line
    };
    const Case cases[] = {
        {"read whole", 1000, "Error: Could not write to in-as-bw.bmp\n"},
        {"into a closed pipe", 1, "\n"},
    };
    for (const Case& c : cases) {
        TempDir d, capture;
        earlier_outputs_then(d, 96);
        const auto before = testutil::snapshot(d.root);
        const auto r = testutil::run_program(
            "/bin/sh",
            {"-c",
             "(ulimit -f 4 && " + testutil::emulator_prefix() +
                 "\"$0\" in.bmp; echo $? >\"$1\") 2>&1 | head -n " + std::to_string(c.lines),
             VARLOX_EXE, capture.path("status")},
            d.root.string());
        EXPECT_EQ(testutil::read_text(capture.path("status")), "1\n") << c.label << ": " << r.out;
        EXPECT_TRUE(testutil::ends_with(r.out, c.out)) << c.label << ": " << r.out;
        if (c.lines == 1) {
            EXPECT_EQ(r.out, c.out) << c.label;
        }
        const auto after = testutil::snapshot(d.root);
        EXPECT_TRUE(after == before) << c.label << ": " << testutil::listing(after);
    }
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

TEST_F(Outputs, NameThatCannotBeReplacedFailsTheRunAndChangesNothing) {
    // Over an earlier run's outputs, one name cannot be replaced. In a shared sticky folder
    // a file owned by someone else cannot: the run is another user's (nobody's), and the
    // blocked output belongs to root. Readable and writable by all, it can be hard-linked
    // as a backup and the rename onto it is what fails, after the renames before it have
    // succeeded; readable only, not even a backup can be made. An immutable output cannot
    // be replaced either; in an append-only folder no name can be replaced and nothing made
    // there removed again, so nothing may be made. Either way the folder must end as it
    // was: the same files, byte for byte, the same inodes, nothing hidden left.
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user and to change attributes";
    enum How { kAnothers, kAttribute };
    struct Case {
        How how;
        std::string entry;  // the blocked output, or "." for the folder
        fs::perms mode;     // of another's output
        const char* flag;   // chattr's letter
        std::string message;
    };
    std::vector<Case> cases;
    for (const std::string& blocked : kOutputs) {
        for (const fs::perms mode : {fs::perms(0666), fs::perms(0644)}) {
            cases.push_back({kAnothers, blocked, mode, "", "Error: Could not write to " + blocked + "\n"});
        }
    }
    cases.push_back(
        {kAttribute, "in-ps-bw.bmp", fs::perms(0644), "i", "Error: Could not write to in-ps-bw.bmp\n"});
    cases.push_back({kAttribute, ".", fs::perms(0644), "a",
                     "Error: Could not write to in-as-bw.bmp: its directory is append-only or immutable\n"});
    const bool can_switch = std::system("command -v setpriv >/dev/null 2>&1") == 0;
    const uid_t nobody = 65534;
    for (const Case& c : cases) {
        const std::string label = c.how == kAnothers
                                      ? c.entry + (c.mode == fs::perms(0666) ? " rw" : " r") + ", another's"
                                      : c.entry + " chattr +" + c.flag;
        if (c.how == kAnothers && !can_switch) {
            std::printf("[  SKIPPED ] %s: no setpriv to run as another user\n", label.c_str());
            continue;
        }
        TempDir d;
        earlier_outputs_then(d, 96);
        const std::string entry = d.path(c.entry);
        std::string run_as = "exec ";
        if (c.how == kAnothers) {
            fs::permissions(d.root, fs::perms(01777));
            fs::permissions(d.path("in.bmp"), fs::perms(0644));
            for (const std::string& out : kOutputs) {
                ASSERT_EQ(chown(d.path(out).c_str(), nobody, nobody), 0);
            }
            ASSERT_EQ(chown(entry.c_str(), 0, 0), 0);
            fs::permissions(entry, c.mode);
            run_as = "exec setpriv --reuid=65534 --regid=65534 --clear-groups -- ";
        } else if (std::system(("chattr +" + std::string(c.flag) + " '" + entry + "' 2>/dev/null").c_str()) !=
                   0) {
            std::printf("[  SKIPPED ] %s: this file system has no attribute %s\n", label.c_str(), c.flag);
            continue;
        }
        // Undone however the test ends, or the folder could not be removed.
        struct Undo {
            std::string command;
            ~Undo() {
                if (!command.empty()) std::system(command.c_str());
            }
        } undo{c.how == kAttribute ? "chattr -" + std::string(c.flag) + " '" + entry + "'" : ""};
        const auto before = testutil::snapshot(d.root);
        const auto before_inodes = inodes(d.root);
        const auto r = testutil::run_program(
            "/bin/sh", {"-c", run_as + testutil::emulator_prefix() + "\"$0\" in.bmp", VARLOX_EXE},
            d.root.string());
        EXPECT_EQ(r.status, 1) << label << ": " << r.err;
        EXPECT_TRUE(testutil::ends_with(r.err, c.message)) << label << ": " << r.err;
        EXPECT_EQ(testutil::count_of(r.err, "Error: "), 1u) << label << ": " << r.err;
        const auto after = testutil::snapshot(d.root);
        EXPECT_TRUE(after == before) << label << ": " << testutil::listing(after);
        EXPECT_TRUE(inodes(d.root) == before_inodes) << label;
    }
}

TEST_F(Outputs, CollidingRunsCommitWholeSets) {
    // "a.bmp" and "a.BMP" write the same five names. Two runs at once, afterwards the five
    // names must hold the outputs of one of the two runs, and nothing else may be left: a
    // hundred times on small pictures, whose runs race through every step together; once
    // on a picture whose transform takes long and one that is done meanwhile; and in a
    // directory that its user (not root, who may read anything) may write and search but
    // not read, where the directory itself cannot be opened to lock it.
    struct Case {
        const char* label;
        fs::perms mode;
        bool as_nobody;
        int sides[2];  // of the two pictures: 8 for small ones
        int rounds;
    };
    const Case cases[] = {{"a slow run and a fast one", fs::perms(0700), false, {512, 96}, 1},
                          {"own directory", fs::perms(0700), false, {8, 8}, 100},
                          {"mode 0300, another user", fs::perms(0300), true, {8, 8}, 100}};
    const char* inputs[2] = {"a.bmp", "a.BMP"};
    const bool can_switch = geteuid() == 0 && std::system("command -v setpriv >/dev/null 2>&1") == 0;
    for (const Case& c : cases) {
        if (c.as_nobody && !can_switch) {
            std::printf("[  SKIPPED ] %s: needs root and setpriv to run as another user\n", c.label);
            continue;
        }
        Bytes pictures[2];
        testutil::Snapshot alone[2];
        for (int k = 0; k < 2; ++k) {
            const int side = c.sides[k];
            pictures[k] =
                side == 8 ? testutil::make_bmp({8, 8}, testutil::pattern_pixels(8, 8, k + 1)) : picture(side);
            TempDir solo;
            testutil::write_file(solo.path(inputs[k]), pictures[k]);
            ASSERT_EQ(testutil::run_program(VARLOX_EXE, {inputs[k]}, solo.root.string()).status, 0);
            alone[k] = testutil::snapshot(solo.root);
            alone[k].erase(inputs[k]);
        }
        TempDir d;
        const uid_t nobody = 65534;
        for (int k = 0; k < 2; ++k) {
            testutil::write_file(d.path(inputs[k]), pictures[k]);
            if (c.as_nobody) {
                ASSERT_EQ(chown(d.path(inputs[k]).c_str(), nobody, nobody), 0);
            }
        }
        if (c.as_nobody) {
            ASSERT_EQ(chown(d.root.c_str(), nobody, nobody), 0);
        }
        fs::permissions(d.root, c.mode);
        const std::string prefix =
            c.as_nobody ? "setpriv --reuid=65534 --regid=65534 --clear-groups -- " : "";
        TempDir capture;
        int mixed = 0;
        for (int round = 0; round < c.rounds; ++round) {
            int pids[2];
            for (int k = 0; k < 2; ++k) {
                pids[k] = testutil::start_program(
                    "/bin/sh",
                    {"-c", prefix + testutil::emulator_prefix() + "\"$0\" \"$1\"", VARLOX_EXE, inputs[k]},
                    d.root.string(), capture.path(std::to_string(k)));
            }
            for (int k = 0; k < 2; ++k) {
                ASSERT_EQ(testutil::wait_program(pids[k]).status, 0)
                    << c.label << ", round " << round << ": "
                    << testutil::read_text(capture.path(std::to_string(k)));
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

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& n : names) text += n + " ";
    return text;
}

TEST_F(Commit, FilesAreSyncedBeforeTheirRenamesAndTheDirectoryAfter) {
    if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "no strace";
    if (!testutil::emulator_prefix().empty()) GTEST_SKIP() << "strace would trace the emulator";
    TempDir capture;
    // LeakSanitizer cannot run under ptrace; a sanitizer build's leak check is left out.
    const auto r =
        testutil::run_program("strace",
                              {"-f", "-y", "-o", capture.path("trace"), "-e",
                               "trace=fsync,fdatasync,rename,renameat,renameat2", VARLOX_EXE, "in.bmp"},
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
            if (events[i].compare(0, 5, "sync ") == 0 &&
                events[i].find(std::string("/.") + out + ".") != std::string::npos && events[i].size() > 4 &&
                events[i].compare(events[i].size() - 4, 4, ".tmp") == 0) {
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
                EXPECT_TRUE(testutil::snapshot(d.root) == older)
                    << label << ": " << testutil::listing(testutil::snapshot(d.root));
                EXPECT_EQ(err.find("successfully"), std::string::npos) << label;
            } else {
                EXPECT_EQ(ended.status, 0) << label << ", signal " << ended.signal;
                EXPECT_TRUE(testutil::snapshot(d.root) == newer)
                    << label << ": " << testutil::listing(testutil::snapshot(d.root));
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
    const Case cases[] = {{VARLOX_EXE, FAULTS_EXE, {}},
                          {VARLOX_VIEW_EXE, VIEW_FAULTS_EXE, {"--window", "hann"}}};
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
            std::vector<std::string> killed = {"-c",
                                               "export VARLOX_STEP_KILL=\"$1\"; shift; exec " +
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
    return "setpriv --reuid=" + id + " --regid=" + id + " --clear-groups -- timeout -k 5 10 " +
           testutil::emulator_prefix();
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
    bool kept = true;  // must be exactly as planted after the run
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
        {"another's journal lists a file to remove",
         0,
         {journal("0\0victim.txt\0.a.tmp\0.a.bak\0"s, kNobody)},
         "ignored a journal owned by uid 65534"},
        {"the same, run by a user",
         kUser,
         {journal("0\0victim.txt\0.a.tmp\0.a.bak\0"s, kNobody)},
         "ignored a journal owned by uid 65534"},
        {"another's journal lists the run's input",
         kUser,
         {journal("0\0scan.bmp\0.a.tmp\0.a.bak\0"s, kNobody)},
         "ignored a journal owned by uid 65534"},
        {"another's complete journal lists hidden files",
         0,
         {journal("1\0victim.txt\0.draft.tmp\0.notes.bak\0end\n"s, kNobody)},
         "ignored a journal owned by uid 65534"},
        {"another's journal puts its file in place of one",
         0,
         {journal("1\0conf.txt\0.z.tmp\0.e.bak\0"s, kNobody), {Plant::kFile, ".e.bak", "EVIL", kNobody}},
         "ignored a journal owned by uid 65534"},
        {"another's journal puts its link in place of one",
         0,
         {journal("1\0conf.txt\0.z.tmp\0.e.bak\0"s, kNobody),
          {Plant::kLink, ".e.bak", "/etc/shadow", kNobody}},
         "ignored a journal owned by uid 65534"},
        {"a FIFO at the journal's name",
         kUser,
         {{Plant::kFifo, ".varlox.journal", "", kNobody}},
         "ignored a journal that is a FIFO"},
        {"own journal lists a file that is no output",
         kUser,
         {journal("0\0victim.txt\0.victim.txt.7-0.tmp\0.victim.txt.7-0.bak\0"s, kRunner, 0600, false)},
         "removed a damaged journal"},
        {"own journal's temporary and backup are not formed from its output",
         0,
         {journal("1\0scan.csv\0.draft.tmp\0.notes.bak\0end\n"s, kRunner, 0600, false)},
         "removed a damaged journal"},
        {"own journal lists another's backup",
         kUser,
         {journal("1\0scan.csv\0.scan.csv.7-0.tmp\0.scan.csv.7-0.bak\0"s, kRunner, 0600),
          {Plant::kFile, ".scan.csv.7-0.bak", "EVIL", kNobody}},
         "names a file not the user's own"},
        {"own journal that others may write",
         kUser,
         {journal("0\0victim.txt\0.a.tmp\0.a.bak\0"s, kRunner, 0666)},
         "ignored a journal that others may write"},
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
                EXPECT_TRUE(seen(d.path(name)) == was)
                    << c.label << ": " << name << " is " << describe(seen(d.path(name)));
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
        {"a FIFO",
         {Plant::kFifo, ".varlox.lock", "", kNobody},
         "lock ./.varlox.lock is a FIFO owned by uid 65534"},
        {"a link",
         {Plant::kLink, ".varlox.lock", "/etc/passwd", kNobody},
         "lock ./.varlox.lock is a symbolic link owned by uid 65534"},
        {"a folder",
         {Plant::kDirectory, ".varlox.lock", "", kNobody, 0755},
         "lock ./.varlox.lock is a directory owned by uid 65534"},
        {"another's unreadable file",
         {Plant::kFile, ".varlox.lock", "", kNobody, 0600},
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
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_TRUE(seen(d.path(".varlox.lock")) == lock_before) << c.label;
        if (c.said == nullptr) {
            EXPECT_EQ(r.status, 0) << c.label << ": " << r.err;
            for (const auto& [name, bytes] : outputs)
                EXPECT_TRUE(testutil::read_file(d.path(name)) == bytes) << name;
            continue;
        }
        EXPECT_EQ(r.status, 1) << c.label << ": " << r.err;
        EXPECT_NE(r.err.find(std::string("Error: Could not write to scan-as-bw.bmp: the folder's ") + c.said),
                  std::string::npos)
            << c.label << ": " << r.err;
        EXPECT_TRUE(testutil::snapshot(d.root) == before)
            << c.label << ": " << testutil::listing(testutil::snapshot(d.root));
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
        const std::string label = end == kReleased  ? "released"
                                  : end == kGivenUp ? "given up"
                                                    : "interrupted";
        TempDir d;
        prepare(d, kUser, {{Plant::kFile, ".varlox.lock", "", kNobody, 0644}});
        // Not inherited by the run: its copy would hold the lock too.
        const int held = open(d.path(".varlox.lock").c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(held, 0);
        ASSERT_EQ(flock(held, LOCK_EX), 0);
        const auto before = testutil::snapshot(d.root);
        TempDir capture;
        const auto start = std::chrono::steady_clock::now();
        const int pid =
            testutil::start_program("/bin/sh",
                                    {"-c",
                                     std::string("VARLOX_LOCK_WAIT=") + (end == kGivenUp ? "1" : "30") +
                                         " exec " + as_user(kUser) + "\"$0\" scan.bmp",
                                     FAULTS_EXE},
                                    d.root.string(), capture.path("err"));
        const std::string waiting = "Waiting for ./.varlox.lock, held by another process";
        while (testutil::read_text(capture.path("err")).find(waiting) == std::string::npos &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        const double said_after =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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
            for (const auto& [name, bytes] : outputs)
                EXPECT_TRUE(testutil::read_file(d.path(name)) == bytes) << name;
            continue;
        }
        if (end == kGivenUp) {
            EXPECT_EQ(ended.status, 1) << err;
            EXPECT_NE(err.find("Error: Could not write to scan-as-bw.bmp: ./.varlox.lock stayed held by "
                               "another process for 1 s"),
                      std::string::npos)
                << err;
        } else {
            EXPECT_EQ(ended.signal, SIGINT) << "status " << ended.status << ": " << err;
        }
        EXPECT_TRUE(testutil::snapshot(d.root) == before)
            << label << ": " << testutil::listing(testutil::snapshot(d.root));
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
        std::vector<std::string> traced = {"-f", "-o", counting.path("trace"), "-e", "trace=fsync,fdatasync",
                                           c.exe};
        traced.insert(traced.end(), c.args.begin(), c.args.end());
        ASSERT_EQ(testutil::run_program("strace", traced, counting.root.string(), no_leak_check).status, 0);
        int syncs = 0;
        std::ifstream trace(counting.path("trace"));
        for (std::string line; std::getline(trace, line);) syncs += line.find("sync(") != std::string::npos;
        ASSERT_GE(syncs, 8) << c.label << ": each output, the journal and the folder twice";
        for (int n = 1; n <= syncs; ++n) {
            const std::string label =
                std::string(c.label) + ", sync " + std::to_string(n) + " of " + std::to_string(syncs);
            TempDir d;
            testutil::write_file(d.path("in.bmp"), older_picture);
            ASSERT_EQ(testutil::run_program(c.exe, c.args, d.root.string()).status, 0) << label;
            testutil::write_file(d.path("in.bmp"), newer_picture);
            std::vector<std::string> args = {"-f",
                                             "-o",
                                             "/dev/null",
                                             "-e",
                                             "trace=fsync,fdatasync",
                                             "-e",
                                             "inject=fsync,fdatasync:error=EIO:when=" + std::to_string(n),
                                             c.exe};
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
            EXPECT_TRUE(hidden_names(d.root).empty()) << label << ": " << joined(hidden_names(d.root));
        }
    }
}

#endif  // _WIN32

}  // namespace
