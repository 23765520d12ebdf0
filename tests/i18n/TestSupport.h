#pragma once

// Helpers for the catalogue tests: temporary folders, msgfmt-built catalogues, child programs.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace qrv::test {

class TTempDir {
public:
    TTempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "qrv-i18n-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = tmpl;
    }
    ~TTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

private:
    std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs a program with arguments; returns its standard output, the exit status in *status.
inline std::string RunProgram(const std::string& exe, const std::vector<std::string>& args,
                              int* status = nullptr) {
    int pipefd[2];
    if (::pipe(pipefd) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipefd[1], 1);
        ::close(pipefd[0]);
        ::close(pipefd[1]);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(exe.c_str()));
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(exe.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipefd[1]);
    std::string out;
    char buf[4096];
    ssize_t n = 0;
    while ((n = ::read(pipefd[0], buf, sizeof buf)) > 0) {
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(pipefd[0]);
    int st = 0;
    ::waitpid(pid, &st, 0);
    if (status) {
        *status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    return out;
}

// A .po text with the given header lines ("Name: value") and entries (id, translation).
inline std::string PoText(const std::vector<std::string>& header,
                          const std::vector<std::pair<std::string, std::string>>& entries) {
    const auto quote = [](const std::string& s) {
        std::string q = "\"";
        for (const char c : s) {
            if (c == '"' || c == '\\') {
                q += '\\';
                q += c;
            } else if (c == '\n') {
                q += "\\n";
            } else if (c == '\r') {
                q += "\\r";
            } else {
                q += c;
            }
        }
        return q + "\"";
    };
    std::string po = "msgid \"\"\nmsgstr \"\"\n";
    for (const auto& h : header) {
        po += quote(h + "\n") + "\n";
    }
    for (const auto& [id, tr] : entries) {
        po += "\nmsgid " + quote(id) + "\nmsgstr " + quote(tr) + "\n";
    }
    return po;
}

inline const std::vector<std::string> kUtf8Header = {"MIME-Version: 1.0",
                                                     "Content-Type: text/plain; charset=UTF-8",
                                                     "Content-Transfer-Encoding: 8bit"};

// Compiles a .po text with GNU msgfmt into `moPath`.
inline void CompileCatalogue(const std::string& poText, const std::string& moPath,
                             bool bigEndian = false) {
    const std::string po = moPath + ".po";
    WriteFile(po, poText);
    std::filesystem::create_directories(std::filesystem::path(moPath).parent_path());
    std::vector<std::string> args = {"-o", moPath};
    if (bigEndian) {
        args.push_back("--endianness=big");
    }
    args.push_back(po);
    int status = 0;
    RunProgram(QRV_MSGFMT, args, &status);
    if (status != 0) {
        throw std::runtime_error("msgfmt failed for " + po);
    }
}

// A .mo image laid out by hand, entries in the order given (msgfmt always sorts them).
inline std::string MakeMo(const std::vector<std::pair<std::string, std::string>>& entries,
                          bool bigEndian = false) {
    std::string out;
    const auto put = [&out, bigEndian](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            const int shift = bigEndian ? 24 - 8 * i : 8 * i;
            out.push_back(static_cast<char>((v >> shift) & 0xff));
        }
    };
    const auto n = static_cast<std::uint32_t>(entries.size());
    const std::uint32_t originals = 28;
    const std::uint32_t translations = originals + 8 * n;
    std::uint32_t pool = translations + 8 * n;
    put(0x950412de);
    put(0);
    put(n);
    put(originals);
    put(translations);
    put(0);
    put(0);
    std::string strings;
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& e : entries) {
            const std::string& s = pass == 0 ? e.first : e.second;
            put(static_cast<std::uint32_t>(s.size()));
            put(pool + static_cast<std::uint32_t>(strings.size()));
            strings += s;
            strings.push_back('\0');
        }
    }
    return out + strings;
}

// The 8 bytes after the signature in a file, as the program reads them from its image.
inline std::int64_t ArchiveOffsetIn(const std::string& path) {
    const std::string bytes = ReadFile(path);
    const auto at = bytes.find("6637DB2E-62E1-4A60-AC19-C23867046A89");
    if (at == std::string::npos || at + 44 > bytes.size()) {
        return 0;
    }
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) {
        v = (v << 8) | static_cast<unsigned char>(bytes[at + 36 + static_cast<std::size_t>(i)]);
    }
    return static_cast<std::int64_t>(v);
}

// A stand-in executable: some bytes, the signature with empty offset bytes, some more bytes.
inline std::string FakeExecutable() {
    return std::string("\x01prologue") + "6637DB2E-62E1-4A60-AC19-C23867046A89" +
           std::string(8, '\0') + "epilogue";
}

// Runs qrv-embed on `exe` with (name, file) pairs; returns its exit status.
inline int Embed(const std::string& exe,
                 const std::vector<std::pair<std::string, std::string>>& files) {
    std::vector<std::string> args = {exe};
    for (const auto& [name, file] : files) {
        args.push_back(name);
        args.push_back(file);
    }
    int status = -1;
    RunProgram(QRV_EMBED_TOOL, args, &status);
    return status;
}

} // namespace qrv::test
