#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace quorral::test {

// A child process with extra environment variables, its standard output on a pipe the
// test reads line by line and its standard error collected on exit.
class Subprocess {
public:
    // With `pipeInput`, standard input is a pipe the test writes with writeInput();
    // otherwise it is inherited.
    Subprocess(const std::vector<std::string> &args, const std::map<std::string, std::string> &environment,
               bool pipeInput = false);
    ~Subprocess();
    Subprocess(const Subprocess &) = delete;
    Subprocess &operator=(const Subprocess &) = delete;

    // The next line of standard output, or absent after `timeout` or at its end.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Writes all of `bytes` to standard input; false once the child stopped reading.
    bool writeInput(std::string_view bytes);
    void closeInput();
    void signal(int signal);
    // Waits for the exit and returns the exit status (128 + signal when killed).
    int wait();
    const std::string &output() const { return m_output; }
    std::string errorOutput() const;

private:
    pid_t m_pid = -1;
    int m_stdout = -1;
    int m_stdin = -1;
    std::string m_buffer;
    std::string m_output;
    std::string m_errorFile;
    int m_status = -1;
};

} // namespace quorral::test
