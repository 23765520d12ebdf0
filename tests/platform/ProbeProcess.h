#pragma once

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// The test binary doubles as the helper process of the lock and opener tests: started with
// QRV_PROBE set, it does one small job before main() and exits (see ProbeProcess.cpp).
namespace qrv::probe {

using TEnv = std::vector<std::pair<std::string, std::string>>;

// A child process started from this test binary with extra environment variables, its standard
// input and output connected to pipes.
class TProbe {
public:
    explicit TProbe(const TEnv& env);
    ~TProbe();
    TProbe(const TProbe&) = delete;
    TProbe& operator=(const TProbe&) = delete;

    // One line of the child's output, without the newline ("" at end of output).
    std::string ReadLine();
    // Closes the child's standard input (the holder exits then).
    void CloseInput();
    // Waits for the end; the exit status, or 128 + signal.
    int Wait();
    pid_t Pid() const { return ChildPid; }

private:
    pid_t ChildPid = -1;
    int In = -1;
    int Out = -1;
    bool Reaped = false;
    int Status = -1;
};

// Runs a probe to its end and returns its exit status.
int RunProbe(const TEnv& env);

// A fresh empty folder under the test temporary directory.
std::string MakeTempDir(const std::string& stem);

} // namespace qrv::probe
