// The list file under real locales: a list saved in one session's locale reads the same in
// another's, and other XML tools read what it holds.
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Runs a program with exactly `env`; its standard output, the exit status in *status.
std::string RunWithEnv(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                       int* status) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return "pipe failed";
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        std::vector<char*> vars;
        for (const auto& e : env) {
            vars.push_back(const_cast<char*>(e.c_str()));
        }
        vars.push_back(nullptr);
        ::execve(args[0], args.data(), vars.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) {
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

// This process's environment (sanitizer options included) with every locale variable replaced.
std::vector<std::string> Locale(const std::string& name) {
    std::vector<std::string> env = {"LANG=" + name, "LC_ALL=" + name};
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view var = *e;
        if (!var.starts_with("LANG=") && !var.starts_with("LANGUAGE=") && !var.starts_with("LC_")) {
            env.emplace_back(var);
        }
    }
    return env;
}

bool HasLocale(const std::string& name) {
    int status = -1;
    const std::string all = RunWithEnv({"/usr/bin/locale", "-a"}, Locale("C"), &status);
    std::string wanted = name;
    wanted.replace(wanted.find(".UTF-8"), 6, ".utf8");
    std::istringstream in(all);
    for (std::string line; std::getline(in, line);) {
        if (line == wanted) {
            return true;
        }
    }
    return false;
}

class ListUnderLocales : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"cs_CZ.UTF-8", "en_US.UTF-8"}) {
            if (!HasLocale(name)) {
                GTEST_SKIP() << "locale " << name << " missing (localedef -i "
                             << std::string(name).substr(0, 5) << " -f UTF-8 " << name << ")";
            }
        }
        std::string tmpl = (fs::temp_directory_path() / "qrv-locale-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        if (!dir_.empty()) {
            fs::remove_all(dir_);
        }
    }
    std::string Probe(const std::string& locale, const std::vector<std::string>& args) {
        std::vector<std::string> argv = {QRV_LIST_PROBE};
        argv.insert(argv.end(), args.begin(), args.end());
        int status = -1;
        std::string out = RunWithEnv(argv, Locale(locale), &status);
        EXPECT_EQ(status, 0) << locale << ": " << out;
        return out;
    }
    static std::string Slurp(const fs::path& path) {
        std::string bytes;
        EXPECT_TRUE(qrv::platform::ReadWholeFile(path.string(), bytes)) << path;
        return bytes;
    }

    fs::path dir_;
};

const std::string kLogin = "P\u0159ihl\u00e1\u0161en\u00ed";
const std::string kWaiting = "\u010Cek\u00e1m...";
const std::string kSmile = "\U0001F600 \u65e5\u672c";

TEST_F(ListUnderLocales, SavedUnderCzechReadsTheSameUnderEnglish) {
    const std::vector<std::string> rows = {"save",   "",     "Hora",   kWaiting, kLogin, "Chata",
                                           kWaiting, kSmile, "Cibule", "",       ""};
    std::vector<std::string> czech = rows;
    czech[1] = (dir_ / "cs.xml").string();
    std::vector<std::string> english = rows;
    english[1] = (dir_ / "en.xml").string();
    Probe("cs_CZ.UTF-8", czech);
    Probe("en_US.UTF-8", english);
    // One file whatever the locale, and nothing but ASCII in it.
    const std::string file = Slurp(dir_ / "cs.xml");
    EXPECT_EQ(Slurp(dir_ / "en.xml"), file);
    for (const char c : file) {
        ASSERT_LT(static_cast<unsigned char>(c), 0x80) << file;
    }

    // Every text whole under both; the walk follows each locale's collation ("ch" comes after
    // "h" in Czech).
    const std::string hora = "row Hora|" + kWaiting + "|" + kLogin + "\n";
    const std::string chata = "row Chata|" + kWaiting + "|" + kSmile + "\n";
    const std::string cibule = "row Cibule||\n";
    EXPECT_EQ(Probe("en_US.UTF-8", {"show", (dir_ / "cs.xml").string()}), chata + cibule + hora);
    EXPECT_EQ(Probe("cs_CZ.UTF-8", {"show", (dir_ / "cs.xml").string()}), cibule + hora + chata);
}

TEST_F(ListUnderLocales, OtherXmlToolsReadTheFile) {
    const fs::path list = dir_ / "QRV.xml";
    Probe("cs_CZ.UTF-8", {"save", list.string(), "\u0158e\u017eab \U0001F600", kWaiting, kLogin});
    int status = -1;
    const std::string lint =
        RunWithEnv({"/usr/bin/xmllint", "--noout", list.string()}, Locale("C.UTF-8"), &status);
    EXPECT_EQ(status, 0) << lint;
    EXPECT_EQ(RunWithEnv({"/usr/bin/xmllint", "--xpath", "string(//ROW/@Name)", list.string()},
                         Locale("C.UTF-8"), &status),
              "\u0158e\u017eab \U0001F600\n");
    EXPECT_EQ(status, 0);
}

// Lists that earlier versions wrote hold raw bytes of the session's code page; they still read
// as they did in that session.
TEST_F(ListUnderLocales, ListsOfEarlierVersionsReadAsBefore) {
    const fs::path list = dir_ / "QRV.xml";
    std::string packet = Slurp(fs::path(QRV_TEST_DATA_DIR) / "serverlist" / "metadata-only.xml");
    const std::string empty = "<ROWDATA/>";
    ASSERT_NE(packet.find(empty), std::string::npos);
    packet.replace(packet.find(empty), empty.size(),
                   "<ROWDATA><ROW Name=\"\xC8"
                   "ek\xE1m\"/></ROWDATA>");
    std::ofstream(list, std::ios::binary) << packet;
    EXPECT_EQ(Probe("cs_CZ.UTF-8", {"show", list.string()}), "row \u010Cek\u00e1m||\n");
    EXPECT_EQ(Probe("en_US.UTF-8", {"show", list.string()}), "row \u00C8ek\u00e1m||\n");
}

} // namespace
