#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace qrv::shell {

enum class TOpenMode { Read, Rewrite, Append, Closed };

// A small buffered text file bound to FileName at every Open. Failures throw qrv::Error with
// the texts the log shows; none of them is translated. The owner closes the file before
// discarding the object.
class TMmTextFile {
public:
    TMmTextFile() = default;
    ~TMmTextFile();
    TMmTextFile(const TMmTextFile&) = delete;
    TMmTextFile& operator=(const TMmTextFile&) = delete;

    bool CreateIfMissing = false;
    std::string FileName;

    TOpenMode OpenMode() const { return mode_; }

    void Open(TOpenMode mode);
    // Writes the text and CR LF.
    void WriteLine(std::string_view text);
    // Writes out the buffer and closes; on failure the mode stays as it was.
    void Close();

private:
    void OpenRewrite();

    std::FILE* file_ = nullptr;
    TOpenMode mode_ = TOpenMode::Closed;
};

} // namespace qrv::shell
