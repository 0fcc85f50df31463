// Running a built tool from a test: a temporary directory, and a child
// process whose standard output and error are captured in files there.

#ifndef KLARVEX_TEST_PROCESS_H
#define KLARVEX_TEST_PROCESS_H

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
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

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs tool with args; stdout goes to out_path if given (e.g. /dev/full),
// else it is captured.
inline Result run(const TempDir& dir, const char* tool, const std::vector<std::string>& args,
                  const char* out_path = nullptr) {
    std::vector<char*> argv{const_cast<char*>(tool)};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    fs::path out = dir / ".stdout", err = dir / ".stderr";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out_path ? out_path : out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, tool, &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    Result r;
    EXPECT_EQ(rc, 0) << "cannot start " << tool;
    if (rc != 0) return r;
    int wstatus = 0;
    EXPECT_EQ(waitpid(pid, &wstatus, 0), pid);
    EXPECT_TRUE(WIFEXITED(wstatus)) << tool << ": wait status " << wstatus;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    if (!out_path) r.out = slurp(out);
    r.err = slurp(err);
    fs::remove(out);
    fs::remove(err);
    return r;
}

}  // namespace klarvex::test

#endif  // KLARVEX_TEST_PROCESS_H
