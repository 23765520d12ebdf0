#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// The test binary doubles as the helper process of the lock and opener tests: started with
// QRV_PROBE set, it does one small job before main() and exits (see ProbeProcess.cpp).
namespace qrv::probe {

// This test binary started again with extra "NAME=value" environment entries, its standard
// input and output on pipes. The destructor kills what is still running.
class TProbe {
public:
    explicit TProbe(const std::vector<std::string>& env);
    ~TProbe();
    TProbe(const TProbe&) = delete;
    TProbe& operator=(const TProbe&) = delete;

    std::string ReadLine(); // one line of output without its newline, "" at the end
    int Finish();           // closes its input, waits; the exit status or 128 + signal
    pid_t Pid() const { return ChildPid; }

private:
    pid_t ChildPid = -1;
    int In = -1, Out = -1;
    int Status = -1;
};

std::string MakeTempDir(const std::string& stem);

} // namespace qrv::probe
