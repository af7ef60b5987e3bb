#pragma once
// Runs the built program as a child process with its standard output and
// error captured in files, as a shell would run it.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class CChildProcess {
public:
    // Starts `args` (args[0] is the program's path); output goes to files
    // next to each other under `dir`, named for this test process so that
    // tests running side by side keep theirs apart.
    CChildProcess(const std::vector<std::string>& args, const std::string& dir)
        : m_out(dir + "/stdout." + std::to_string(getpid())), m_err(dir + "/stderr." + std::to_string(getpid()))
    {
        // Emptied before the child starts, so no earlier run's output is read.
        const int out = open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int err = open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            std::vector<char*> argv;
            for (const auto& arg : args)
                argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out);
        close(err);
    }
    // A child still running when its test gives up is not left behind.
    ~CChildProcess()
    {
        if (m_pid > 0 && waitpid(m_pid, nullptr, WNOHANG) == 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        std::remove(m_out.c_str());
        std::remove(m_err.c_str());
    }
    CChildProcess(const CChildProcess&) = delete;
    CChildProcess& operator=(const CChildProcess&) = delete;

    pid_t Pid() const { return m_pid; }
    void Signal(int signal) { kill(m_pid, signal); }
    // The exit status, or 128 + the signal that ended it.
    int Wait()
    {
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string Out() const { return Read(m_out); }
    std::string Err() const { return Read(m_err); }

private:
    static std::string Read(const std::string& path)
    {
        std::ifstream file(path, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    pid_t m_pid = -1;
    std::string m_out, m_err;
};

struct ProgramRun {
    int status;
    std::string out, err;
};

// Runs the program to its end.
inline ProgramRun RunProgram(const std::vector<std::string>& args, const std::string& dir)
{
    CChildProcess child(args, dir);
    const int status = child.Wait();
    return {status, child.Out(), child.Err()};
}
