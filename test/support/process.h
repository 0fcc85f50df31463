// Running a built tool from a test: a temporary directory, and a child
// process whose standard output and error go to files there (or stdout to
// somewhere that cannot be written); text helpers for output.

#ifndef KLARVEX_TEST_PROCESS_H
#define KLARVEX_TEST_PROCESS_H

#include <fcntl.h>
#include <linux/capability.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace klarvex::test {

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

class TempDir {
  public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "klarvex-test-XXXXXX").string();
        EXPECT_NE(mkdtemp(tmpl.data()), nullptr);
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

// Where the child's standard output goes.
enum class Out {
    File,        // the file stdout<tag> in the directory, read back by finish
    DevFull,     // /dev/full: every write fails
    Closed,      // descriptor 1 closed
    ClosedPipe,  // a pipe whose reading end is closed
};

struct Options {
    Options(Out o = Out::File, std::string t = "") : out(o), tag(std::move(t)) {}
    Out out;
    std::string tag;               // names the child's stdout and stderr files
    bool no_dac_override = false;  // as root: without the right to ignore file modes (else 126)
    int gate = -1;                 // the child waits for EOF on this descriptor before exec
    int gate_writer = -1;          // the gate's other end, which the child closes
    std::string fd9;               // a file the child opens as descriptor 9
    std::vector<std::string> env;  // added to the child's environment
    std::function<bool()> setup;   // run in the child before exec; false: exit 125
};

struct Child {
    pid_t pid = -1;
    fs::path out, err;  // out is empty unless stdout goes to a file
};

struct Result {
    int status = -1;  // exit status, or 128 + the signal that ended the child
    std::string out, err;
};

// Starts the program args[0] with arguments args; its stderr goes to the file
// stderr<tag> in dir.
inline Child spawn(const TempDir& dir, const std::vector<std::string>& args,
                   const Options& opt = {}) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e)
        envp.push_back(*e);
    for (const auto& e : opt.env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    Child c{-1, opt.out == Out::File ? dir / ("stdout" + opt.tag) : fs::path(),
            dir / ("stderr" + opt.tag)};
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
    int out = -1, err = open(c.err.c_str(), flags, 0644);
    if (opt.out == Out::File) out = open(c.out.c_str(), flags, 0644);
    if (opt.out == Out::DevFull) out = open("/dev/full", O_WRONLY | O_CLOEXEC);
    if (opt.out == Out::ClosedPipe) {
        int p[2];
        EXPECT_EQ(pipe2(p, O_CLOEXEC), 0);
        close(p[0]);
        out = p[1];
    }
    // posix_spawn where it will do: under ASan it is much cheaper than fork.
    if (opt.gate < 0 && !opt.no_dac_override && !opt.setup) {
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        if (!opt.fd9.empty())
            posix_spawn_file_actions_addopen(&fa, 9, opt.fd9.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                             0644);
        if (out >= 0) {
            posix_spawn_file_actions_adddup2(&fa, out, 1);
        } else {
            posix_spawn_file_actions_addclose(&fa, 1);
        }
        posix_spawn_file_actions_adddup2(&fa, err, 2);
        const int rc = posix_spawn(&c.pid, argv[0], &fa, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&fa);
        EXPECT_EQ(rc, 0) << "cannot start " << argv[0];
        if (rc != 0) c.pid = -1;
    } else if ((c.pid = fork()) == 0) {
        char byte;
        if (opt.gate_writer >= 0) close(opt.gate_writer);
        while (opt.gate >= 0 && read(opt.gate, &byte, 1) < 0 && errno == EINTR) {
        }
        if (!opt.fd9.empty()) {
            int fd = open(opt.fd9.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || dup2(fd, 9) < 0) _exit(125);
            close(fd);
        }
        if (out >= 0) {
            dup2(out, 1);
        } else {
            close(1);
        }
        dup2(err, 2);
        if (opt.no_dac_override && geteuid() == 0 &&
            prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) != 0)
            _exit(126);
        if (opt.setup && !opt.setup()) _exit(125);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    } else {
        EXPECT_GT(c.pid, 0) << "fork failed";
    }
    if (out >= 0) close(out);
    close(err);
    return c;
}

inline Result finish(const Child& c) {
    Result r;
    if (c.pid < 0) return r;
    int wstatus = 0;
    EXPECT_EQ(waitpid(c.pid, &wstatus, 0), c.pid);
    // As a shell gives it: 128 + the signal that ended the child.
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    EXPECT_NE(r.status, 127) << "cannot run the tool";
    if (!c.out.empty()) r.out = slurp(c.out);
    r.err = slurp(c.err);
    return r;
}

inline Result run(const TempDir& dir, const char* tool, std::vector<std::string> args,
                  const Options& opt = {}) {
    args.insert(args.begin(), tool);
    return finish(spawn(dir, args, opt));
}

}  // namespace klarvex::test

#endif  // KLARVEX_TEST_PROCESS_H
