#include "shell/MmTextFile.h"

#include "platform/Error.h"
#include "platform/Paths.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace qrv::shell {

namespace {

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string Reason(int err) {
    return std::strerror(err);
}

} // namespace

TMmTextFile::~TMmTextFile() {
    if (file_) {
        std::fclose(file_);
    }
}

void TMmTextFile::Open(TOpenMode mode) {
    // Binding to FileName again: a stream still held (an earlier Close failed, or the caller
    // opened twice) is let go first, so no descriptor leaks and none is closed twice.
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    switch (mode) {
    case TOpenMode::Read:
        if (!FileExists(FileName)) {
            throw Error("File '" + FileName + "' does not exist!");
        }
        mode_ = TOpenMode::Read;
        file_ = std::fopen(FileName.c_str(), "rb");
        if (!file_) {
            const int err = errno;
            mode_ = TOpenMode::Closed;
            throw Error("Unable to open file '" + FileName + "' for reading: " + Reason(err));
        }
        return;
    case TOpenMode::Rewrite:
        OpenRewrite();
        return;
    case TOpenMode::Append:
        if (FileExists(FileName)) {
            mode_ = TOpenMode::Append;
            file_ = std::fopen(FileName.c_str(), "ab");
            if (!file_) {
                const int err = errno;
                mode_ = TOpenMode::Closed;
                throw Error("Unable to call append for file '" + FileName + "': " + Reason(err));
            }
            return;
        }
        if (CreateIfMissing) {
            OpenRewrite();
            return;
        }
        throw Error("Cannot call append for file '" + FileName + "' which doesn not exist");
    case TOpenMode::Closed:
        mode_ = TOpenMode::Closed;
        return;
    }
}

void TMmTextFile::OpenRewrite() {
    mode_ = TOpenMode::Rewrite;
    const auto fail = [this](const std::string& reason) {
        mode_ = TOpenMode::Closed;
        return Error("Unable to create file '" + FileName + "': " + reason);
    };
    const std::string dir = platform::DirectoryOf(FileName);
    if (dir.empty()) {
        throw fail("Unable to create directory");
    }
    if (!platform::CreateDirectories(dir)) {
        throw fail(Reason(errno));
    }
    file_ = std::fopen(FileName.c_str(), "wb");
    if (!file_) {
        throw fail(Reason(errno));
    }
}

void TMmTextFile::WriteLine(std::string_view text) {
    if (!file_ || mode_ == TOpenMode::Read) {
        throw Error(Reason(EBADF));
    }
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size() ||
        std::fwrite("\r\n", 1, 2, file_) != 2) {
        throw Error(Reason(errno != 0 ? errno : EIO));
    }
}

void TMmTextFile::Close() {
    if (mode_ == TOpenMode::Closed) {
        return;
    }
    if (file_) {
        std::FILE* file = file_;
        file_ = nullptr; // gone whatever fclose reports
        if (std::fclose(file) != 0) {
            throw Error("Unable to close file '" + FileName + "'!");
        }
    }
    mode_ = TOpenMode::Closed;
}

} // namespace qrv::shell
