#include "platform/Registry.h"
#include "platform/Paths.h"
#include "tests/support/OrdinaryUser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace qrv::platform;

namespace {

constexpr char kKey[] = "Software\\Ostrelle\\Quorvane";

TRegValue Sz(std::string_view text) {
    return {REG_SZ, EncodeRegString(text)};
}
TRegValue Raw(std::uint32_t type, std::vector<std::uint8_t> data) {
    return {type, std::move(data)};
}

std::string Slurp(const std::string& path) {
    std::string text;
    EXPECT_TRUE(ReadWholeFile(path, text)) << path;
    return text;
}

// Every test gets its own machine configuration directory.
class RegistryStore : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = ::testing::TempDir() + "qrv-registry-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        ::setenv("XDG_CONFIG_DIRS", (dir_ + ":/etc/xdg").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (dir_ + "/home").c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("XDG_CONFIG_DIRS");
        ::unsetenv("XDG_CONFIG_HOME");
        std::filesystem::remove_all(dir_);
    }
    std::string KeyFile() const { return dir_ + "/Ostrelle/Quorvane.reg"; }
    std::string UserKeyFile() const { return dir_ + "/home/Ostrelle/Quorvane.reg"; }
    void WriteKeyFile(const std::string& text) const {
        ASSERT_TRUE(CreateDirectories(dir_ + "/Ostrelle"));
        WriteFileAtomically(KeyFile(), text);
    }

    std::string dir_;
};

struct TRoundTripCase {
    const char* label;
    std::string name;
    TRegValue value;
    std::string line; // the line the value is written as; "" when not checked
};

std::vector<TRoundTripCase> RoundTripCases() {
    std::vector<std::uint8_t> big(100);
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<std::uint8_t>(i * 7);
    }
    std::vector<std::uint8_t> unpaired = {0x00, 0xD8, 0x41, 0x00, 0x00, 0x00};
    return {
        {"plain text", "Version", Sz("0.9.18"), "\"Version\"=\"0.9.18\""},
        {"quotes and backslashes", "LogFile", Sz("C:\\a \"b\"\\"),
         "\"LogFile\"=\"C:\\\\a \\\"b\\\"\\\\\""},
        {"empty text", "Language", Sz(""), "\"Language\"=\"\""},
        {"non-ASCII text", "VerifyURL", Sz("http://příliš.cz/€/😀"), ""},
        {"tab inside text", "Tabbed", Sz("a\tb"), "\"Tabbed\"=\"a\tb\""},
        {"line breaks go hex", "Lines", Sz("a\r\nb"),
         "\"Lines\"=hex(1):61,00,0d,00,0a,00,62,00,00,00"},
        {"text with inner NUL", "Nul", Raw(REG_SZ, {0x41, 0, 0, 0, 0x42, 0, 0, 0}),
         "\"Nul\"=hex(1):41,00,00,00,42,00,00,00"},
        {"text without NUL", "NoNul", Raw(REG_SZ, {0x41, 0}), "\"NoNul\"=hex(1):41,00"},
        {"text of size 0", "Zero", Raw(REG_SZ, {}), "\"Zero\"=hex(1):"},
        {"text of odd size", "Odd", Raw(REG_SZ, {0x41, 0, 0}), ""},
        {"unpaired surrogate", "Surrogate", Raw(REG_SZ, unpaired), ""},
        {"dword", "CheckUpdate", Raw(REG_DWORD, {0x2c, 0x01, 0, 0}),
         "\"CheckUpdate\"=dword:0000012c"},
        {"dword of 8 bytes", "Wide", Raw(REG_DWORD, {1, 0, 0, 0, 0, 0, 0, 0}),
         "\"Wide\"=hex(4):01,00,00,00,00,00,00,00"},
        {"dword of 2 bytes", "Short", Raw(REG_DWORD, {1, 0}), "\"Short\"=hex(4):01,00"},
        {"expandable text", "Path", Raw(REG_EXPAND_SZ, EncodeRegString("%HOME%")),
         "\"Path\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00"},
        {"binary", "Blob", Raw(REG_BINARY, {0xde, 0xad}), "\"Blob\"=hex:de,ad"},
        {"qword", "Big", Raw(REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}),
         "\"Big\"=hex(b):01,02,03,04,05,06,07,08"},
        {"unknown type number", "Odd type", Raw(0x12345678, {9}), "\"Odd type\"=hex(12345678):09"},
        {"long data wraps", "Long", Raw(REG_BINARY, big), ""},
        {"default value", "", Sz("x"), "@=\"x\""},
        {"awkward name", "a\"b\\c ž", Sz("v"), "\"a\\\"b\\\\c ž\"=\"v\""},
    };
}

TEST(RegistryFormat, EveryValueReadsBackWithTypeAndData) {
    TRegFile file{kKey, {}};
    for (const auto& c : RoundTripCases()) {
        file.Values.push_back({c.name, c.value});
    }
    const std::string text = FormatRegFile(file);
    std::string error;
    const auto back = ParseRegFile(text, &error);
    ASSERT_TRUE(back) << error << "\n" << text;
    EXPECT_EQ(back->KeyPath, kKey);
    ASSERT_EQ(back->Values.size(), file.Values.size());
    for (std::size_t i = 0; i < file.Values.size(); ++i) {
        SCOPED_TRACE(RoundTripCases()[i].label);
        EXPECT_EQ(back->Values[i], file.Values[i]);
    }
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n\n"
                         "[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Quorvane]\n",
                         0),
              0U);
    for (const auto& c : RoundTripCases()) {
        if (!c.line.empty()) {
            EXPECT_NE(text.find("\n" + c.line + "\n"), std::string::npos) << c.label;
        }
    }
    // Long data is wrapped the way the export does, within 80 columns.
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        EXPECT_LE(end - start, 80U) << text.substr(start, end - start);
        start = end + 1;
    }
}

TEST(RegistryFormat, TextDataIsUtf16WithOneNul) {
    const struct {
        std::string text;
        std::vector<std::uint8_t> data;
    } cases[] = {
        {"", {0, 0}},
        {"1", {'1', 0, 0, 0}},
        {"é", {0xe9, 0, 0, 0}},
        {"😀", {0x3d, 0xd8, 0x00, 0xde, 0, 0}},
        {"\xff", {0xfd, 0xff, 0, 0}}, // invalid UTF-8 is stored as U+FFFD
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeRegString(c.text), c.data) << c.text;
    }
    EXPECT_EQ(DecodeRegString({'a', 0, 'b', 0, 0, 0, 'c', 0}), "ab");
    EXPECT_EQ(DecodeRegString({'a', 0, 'b'}), "a");
    EXPECT_EQ(DecodeRegString({0x00, 0xd8, 'x', 0}), "\xEF\xBF\xBDx");
}

TEST(RegistryFormat, ReaderAcceptsWhatAnExportMayHold) {
    const std::string head = "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Quorvane]\r\n";
    const struct {
        const char* label;
        std::string text;
        std::vector<TRegEntry> values;
    } cases[] = {
        {"CR LF lines", head + "\"A\"=\"x\"\r\n\r\n", {{"A", Sz("x")}}},
        {"byte order mark",
         "\xEF\xBB\xBF" + head + "\"A\"=dword:1",
         {{"A", Raw(REG_DWORD, {1, 0, 0, 0})}}},
        {"no final line end", head + "\"A\"=hex:01", {{"A", Raw(REG_BINARY, {1})}}},
        {"comments and blank lines", head + "; note\n  \n\"A\"=\"\"\n;x\n", {{"A", Sz("")}}},
        {"wrapped hex",
         head + "\"A\"=hex(2):41,00,\\\r\n  42,00,\\\n\t00,00\n",
         {{"A", Raw(REG_EXPAND_SZ, EncodeRegString("AB"))}}},
        {"upper-case hex and hive in other case",
         "Windows Registry Editor Version 5.00\n[hkey_local_machine\\S]\n\"A\"=dword:ABCDEF01\n",
         {{"A", Raw(REG_DWORD, {0x01, 0xef, 0xcd, 0xab})}}},
        {"empty quoted name", head + "\"\"=\"d\"", {{"", Sz("d")}}},
        {"empty hex data", head + "\"A\"=hex(0):", {{"A", Raw(REG_NONE, {})}}},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto file = ParseRegFile(c.text, &error);
        ASSERT_TRUE(file) << c.label << ": " << error;
        EXPECT_EQ(file->Values, c.values) << c.label;
    }
}

TEST(RegistryFormat, ReaderRefusesDamagedFiles) {
    const std::string head = "Windows Registry Editor Version 5.00\n\n"
                             "[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Quorvane]\n";
    const struct {
        const char* label;
        std::string text;
    } cases[] = {
        {"empty input", ""},
        {"other header", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\S]\n"},
        {"value before the key",
         "Windows Registry Editor Version 5.00\n\"A\"=\"x\"\n[HKEY_LOCAL_MACHINE\\S]\n"},
        {"two keys", head + "[HKEY_LOCAL_MACHINE\\Software\\Other]\n"},
        {"other hive", "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\S]\n"},
        {"key deletion", "Windows Registry Editor Version 5.00\n[-HKEY_LOCAL_MACHINE\\S]\n"},
        {"empty key component",
         "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\S\\\\T]\n"},
        {"unknown line", head + "Name=x\n"},
        {"blanks around =", head + "\"A\" = \"x\"\n"},
        {"unknown escape", head + "\"A\"=\"a\\nb\"\n"},
        {"unterminated text", head + "\"A\"=\"abc\n"},
        {"unterminated name", head + "\"A=\"abc\"\n"},
        {"text then more", head + "\"A\"=\"x\"y\n"},
        {"control character", head + "\"A\"=\"a\x01z\"\n"},
        {"bare CR inside text", head + "\"A\"=\"a\rz\"\n"},
        {"invalid UTF-8", head + "\"A\"=\"\xC3\x28\"\n"},
        {"overlong UTF-8", head + "\"A\"=\"\xC0\xAF\"\n"},
        {"dword too long", head + "\"A\"=dword:000000001\n"},
        {"dword not hex", head + "\"A\"=dword:0000012g\n"},
        {"one hex digit", head + "\"A\"=hex:1\n"},
        {"bad hex digit", head + "\"A\"=hex:0g\n"},
        {"trailing comma", head + "\"A\"=hex:01,\n"},
        {"blank in hex", head + "\"A\"=hex:01, 02\n"},
        {"continued past the end", head + "\"A\"=hex:01,\\"},
        {"bad type number", head + "\"A\"=hex(z):01\n"},
        {"type number too long", head + "\"A\"=hex(123456789):01\n"},
        {"duplicate name in other case", head + "\"Name\"=\"x\"\n\"NAME\"=\"y\"\n"},
        {"NUL byte", head + std::string("\"A\"=\"x\0\"\n", 9)},
        {"too large", head + "\"A\"=\"" + std::string(kMaxRegFileSize, 'x') + "\"\n"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseRegFile(c.text, &error)) << c.label;
        EXPECT_FALSE(error.empty()) << c.label;
    }
}

TEST_F(RegistryStore, KeyPathsMapToFilesBelowTheFirstConfigDir) {
    const struct {
        const char* env; // nullptr: unset
        const char* key;
        std::string file;
    } cases[] = {
        {"/x/y:/etc/xdg", "Software\\Ostrelle\\Quorvane", "/x/y/Ostrelle/Quorvane.reg"},
        {"/x/y/", "SOFTWARE\\A", "/x/y/A.reg"},
        {"rel:/abs", "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
         "/abs/Microsoft/Windows/CurrentVersion/Run.reg"},
        {"", "Software\\A", "/etc/xdg/A.reg"},
        {nullptr, "Software\\A", "/etc/xdg/A.reg"},
        {"/x", "Software", ""},
        {"/x", "Software\\", ""},
        {"/x", "Software\\a\\..\\b", ""},
        {"/x", "Software\\a/b", ""},
        {"/x", "System\\A", ""},
        {"/x", "", ""},
    };
    for (const auto& c : cases) {
        if (c.env != nullptr) {
            ::setenv("XDG_CONFIG_DIRS", c.env, 1);
        } else {
            ::unsetenv("XDG_CONFIG_DIRS");
        }
        EXPECT_EQ(RegistryFilePath(c.key), c.file) << c.key;
        if (c.file.empty()) {
            EXPECT_EQ(TRegistryKey::Create(c.key, false), nullptr) << c.key;
        }
    }
}

TEST_F(RegistryStore, ReadingAMissingKeyCreatesNothing) {
    const auto key = TRegistryKey::Create(kKey, false);
    ASSERT_NE(key, nullptr);
    EXPECT_TRUE(key->ValueNames().empty());
    EXPECT_EQ(key->QueryString("Version"), "");
    EXPECT_FALSE(key->SetString("Version", "1"));
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/Ostrelle"));
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/home"));
}

TEST_F(RegistryStore, WritesReplaceTheFileAndKeepTypesAndNameCase) {
    {
        const auto key = TRegistryKey::Create(kKey, true);
        ASSERT_NE(key, nullptr);
        EXPECT_TRUE(std::filesystem::exists(UserKeyFile()));
        EXPECT_FALSE(std::filesystem::exists(KeyFile()));
        for (const auto& c : RoundTripCases()) {
            EXPECT_TRUE(key->SetValue(c.name, c.value)) << c.label << key->LastError();
        }
        EXPECT_TRUE(key->SetString("version", "1.0")); // replaces "Version", keeps its case
        EXPECT_TRUE(key->DeleteValue("BLOB"));
        EXPECT_TRUE(key->DeleteValue("NoSuchValue"));
        EXPECT_FALSE(key->SetString("bad\nname", "x"));
        key->Close();
        EXPECT_FALSE(key->QueryValue("Version"));
        EXPECT_FALSE(key->SetString("Version", "2"));
    }
    const auto key = TRegistryKey::Create(kKey, false);
    ASSERT_NE(key, nullptr);
    for (const auto& c : RoundTripCases()) {
        const auto value = key->QueryValue(c.name);
        if (c.name == "Blob") {
            EXPECT_FALSE(value);
        } else if (c.name == "Version") {
            EXPECT_EQ(value, Sz("1.0"));
        } else {
            EXPECT_EQ(value, c.value) << c.label;
        }
    }
    EXPECT_EQ(key->ValueNames().front(), "Version");
    EXPECT_EQ(key->ValueNames().size(), RoundTripCases().size() - 1);
    EXPECT_EQ(key->QueryString("VERSION"), "1.0");
    EXPECT_EQ(key->QueryString("Path"), "%HOME%");
    EXPECT_EQ(key->QueryString("CheckUpdate"), std::nullopt);
    EXPECT_EQ(key->QueryDword("checkupdate"), 300U);
    EXPECT_EQ(key->QueryDword("Wide"), std::nullopt);
    EXPECT_EQ(key->QueryDword("Version"), std::nullopt);
    // Nothing but the key file is left in its folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_ + "/home/Ostrelle"),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(RegistryStore, ChangesMadeSinceOpeningAreKept) {
    const auto first = TRegistryKey::Create(kKey, true);
    const auto second = TRegistryKey::Create(kKey, true);
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(first->SetString("A", "1"));
    EXPECT_TRUE(second->SetString("B", "2"));
    const auto key = TRegistryKey::Create(kKey, false);
    EXPECT_EQ(key->ValueNames(), (std::vector<std::string>{"A", "B"}));
}

TEST_F(RegistryStore, AChangeThatWouldMakeTheKeyUnreadableIsRefused) {
    const auto key = TRegistryKey::Create(kKey, true);
    ASSERT_NE(key, nullptr);
    ASSERT_TRUE(key->SetString("A", "x"));
    EXPECT_FALSE(
        key->SetValue("Big", Raw(REG_BINARY, std::vector<std::uint8_t>(kMaxRegFileSize / 3))));
    EXPECT_FALSE(key->LastError().empty());
    EXPECT_EQ(TRegistryKey::Create(kKey, false)->ValueNames(), std::vector<std::string>{"A"});
}

TEST_F(RegistryStore, DamagedFilesReadAsAnEmptyKeyAndAreReplacedOnWrite) {
    const std::string valid = "Windows Registry Editor Version 5.00\n\n"
                              "[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Quorvane]\n\"A\"=\"x\"\n";
    const struct {
        const char* label;
        std::string text;
    } cases[] = {
        {"garbage", "\x01\x02 not a key file"},
        {"bad line", valid + "junk\n"},
        {"another key's file", "Windows Registry Editor Version 5.00\n\n"
                               "[HKEY_LOCAL_MACHINE\\Software\\Other]\n\"A\"=\"x\"\n"},
        {"huge", valid + std::string(kMaxRegFileSize + 10, ';')},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(dir_ + "/home");
        WriteKeyFile(c.text);
        const auto reader = TRegistryKey::Create(kKey, false);
        ASSERT_NE(reader, nullptr) << c.label;
        EXPECT_TRUE(reader->ValueNames().empty()) << c.label;
        const auto writer = TRegistryKey::Create(kKey, true);
        ASSERT_NE(writer, nullptr) << c.label;
        EXPECT_TRUE(writer->SetString("B", "y")) << c.label;
        EXPECT_EQ(TRegistryKey::Create(kKey, false)->ValueNames(), std::vector<std::string>{"B"})
            << c.label;
        EXPECT_EQ(Slurp(KeyFile()), c.text) << c.label;
        // A damaged copy of the user's own is replaced in the same way.
        WriteFileAtomically(UserKeyFile(), c.text);
        EXPECT_TRUE(TRegistryKey::Create(kKey, false)->ValueNames().empty()) << c.label;
        EXPECT_TRUE(TRegistryKey::Create(kKey, true)->SetString("C", "z")) << c.label;
        EXPECT_EQ(TRegistryKey::Create(kKey, false)->ValueNames(), std::vector<std::string>{"C"})
            << c.label;
    }
    std::filesystem::remove_all(dir_ + "/home");
    // The key in other letter case is the same key.
    WriteKeyFile("Windows Registry Editor Version 5.00\n\n"
                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ostrelle\\QUORVANE]\n\"A\"=\"x\"\n");
    EXPECT_EQ(TRegistryKey::Create(kKey, false)->QueryString("a"), "x");
}

// The machine-wide key is the administrator's: it is read until a user's first write, which
// goes to a copy of that user's own, for root as for everyone else.
TEST_F(RegistryStore, EveryUserRootIncludedWritesOnlyACopyOfTheirOwn) {
    WriteKeyFile(FormatRegFile({kKey, {{"Language", Sz("cs")}, {"CheckInterval", Sz("60")}}}));
    const std::string machine = Slurp(KeyFile());
    EXPECT_EQ(UserRegistryFilePath(kKey), UserKeyFile());
    const auto check = [](std::string& faults, bool ok, const char* what) {
        faults += ok ? "" : std::string(what) + "; ";
    };
    // What the test process is (root under CI) writes its own copy too.
    {
        std::string faults;
        const auto before = TRegistryKey::Create(kKey, false);
        check(faults, before && before->QueryString("Language") == "cs", "machine value read");
        check(faults, !std::filesystem::exists(UserKeyFile()), "reading made a copy");
        const auto key = TRegistryKey::Create(kKey, true);
        ASSERT_TRUE(key);
        check(faults, key->FilePath() == UserKeyFile(), "writes go to the copy");
        check(faults, key->QueryString("CheckInterval") == "60", "values copied");
        check(faults, key->SetString("Language", "en"), "write");
        struct stat file {
        }, folder{};
        check(faults, ::stat(UserKeyFile().c_str(), &file) == 0 && (file.st_mode & 0777) == 0600,
              "copy mode 0600");
        check(faults,
              ::stat((dir_ + "/home/Ostrelle").c_str(), &folder) == 0 &&
                  (folder.st_mode & 0777) == 0700,
              "folder mode 0700");
        const auto after = TRegistryKey::Create(kKey, false);
        check(faults,
              after && after->QueryString("Language") == "en" &&
                  after->QueryString("CheckInterval") == "60",
              "the copy is read back");
        EXPECT_EQ(faults, "");
        EXPECT_EQ(Slurp(KeyFile()), machine);
    }

    // Another user still sees the administrator's values, not the first user's, and writes a
    // copy of their own.
    const std::string other = dir_ + "/other";
    ASSERT_TRUE(CreateDirectories(other));
    ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
    EXPECT_EQ(qrv::test::AsOrdinaryUser(
                  {other},
                  [&]() -> std::string {
                      ::setenv("XDG_CONFIG_HOME", other.c_str(), 1);
                      std::string faults;
                      const auto before = TRegistryKey::Create(kKey, false);
                      check(faults, before && before->QueryString("Language") == "cs",
                            "machine value read");
                      const auto key = TRegistryKey::Create(kKey, true);
                      if (!key) {
                          return "did not open for writing";
                      }
                      check(faults, key->FilePath() == other + "/Ostrelle/Quorvane.reg",
                            "writes go to this user's copy");
                      check(faults, key->SetString("CheckInterval", "5"), "write");
                      return faults;
                  }),
              "");
    EXPECT_EQ(Slurp(KeyFile()), machine);
    EXPECT_EQ(TRegistryKey::Create(kKey, false)->QueryString("CheckInterval"), "60");

    // No copy can be made: the "may not write" case, although the machine-wide folder could be
    // written; reading still works.
    std::filesystem::remove_all(dir_ + "/home");
    WriteFileAtomically(dir_ + "/home", "not a folder");
    EXPECT_EQ(TRegistryKey::Create(kKey, true), nullptr);
    ASSERT_TRUE(TRegistryKey::Create(kKey, false));
    EXPECT_EQ(TRegistryKey::Create(kKey, false)->QueryString("Language"), "cs");
    EXPECT_EQ(Slurp(KeyFile()), machine);
}

TEST_F(RegistryStore, AKeyThatCannotBeWrittenDoesNotOpenForWriting) {
    // Tests run as root, so a regular file standing where the folder must be plays the part
    // of missing rights.
    WriteFileAtomically(dir_ + "/home", "not a folder");
    EXPECT_EQ(TRegistryKey::Create(kKey, true), nullptr);
    const auto reader = TRegistryKey::Create(kKey, false);
    ASSERT_NE(reader, nullptr);
    EXPECT_TRUE(reader->ValueNames().empty());
    EXPECT_FALSE(std::filesystem::exists(dir_ + "/Ostrelle"));

    // A folder standing where the key file must be: neither reading nor writing.
    std::filesystem::remove(dir_ + "/home");
    ASSERT_TRUE(CreateDirectories(UserKeyFile()));
    EXPECT_EQ(TRegistryKey::Create(kKey, true), nullptr);
    EXPECT_EQ(TRegistryKey::Create(kKey, false), nullptr);

    // A key that opened, then lost its folder: the write fails and says why.
    std::filesystem::remove_all(dir_ + "/home");
    const auto key = TRegistryKey::Create(kKey, true);
    ASSERT_NE(key, nullptr);
    std::filesystem::remove_all(dir_ + "/home/Ostrelle");
    WriteFileAtomically(dir_ + "/home/Ostrelle", "not a folder");
    EXPECT_FALSE(key->SetString("A", "x"));
    EXPECT_FALSE(key->LastError().empty());
    EXPECT_EQ(Slurp(dir_ + "/home/Ostrelle"), "not a folder");
}

} // namespace
