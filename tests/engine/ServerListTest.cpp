#include "engine/ServerList.h"
#include "engine/DataPacket.h"
#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace qrv::engine {
namespace {

namespace fs = std::filesystem;
using F = TField;

const std::string kHead =
    "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\"><METADATA><FIELDS>"
    "<FIELD attrname=\"Name\" fieldtype=\"string\" WIDTH=\"200\"/>"
    "<FIELD attrname=\"Status\" fieldtype=\"string\" WIDTH=\"10\"/>"
    "<FIELD attrname=\"Result\" fieldtype=\"string\" WIDTH=\"50000\"/>"
    "<FIELD attrname=\"Url\" fieldtype=\"string\" WIDTH=\"500\"/>"
    "<FIELD attrname=\"Active\" fieldtype=\"boolean\"/>"
    "<FIELD attrname=\"LoadTime\" fieldtype=\"i4\"/>"
    "<FIELD attrname=\"Timeout\" fieldtype=\"i4\"/>"
    "<FIELD attrname=\"TimeoutEnabled\" fieldtype=\"boolean\"/>"
    "<FIELD attrname=\"Response\" fieldtype=\"string\" WIDTH=\"50000\"/>"
    "<FIELD attrname=\"ResponseEnabled\" fieldtype=\"boolean\"/></FIELDS>";

std::string File(const std::string& rows, const std::string& params = "<PARAMS/>") {
    return kHead + params + "</METADATA><ROWDATA>" + rows + "</ROWDATA></DATAPACKET>";
}

std::string ReadFile(const fs::path& path) {
    std::string bytes;
    EXPECT_TRUE(platform::ReadWholeFile(path.string(), bytes)) << path;
    return bytes;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class ServerListTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "qrv-serverlist-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        path_ = dir_ / "QRV.xml";
        platform::SetAnsiCodePage(1252);
    }
    void TearDown() override {
        platform::SetAnsiCodePage(0);
        fs::remove_all(dir_);
    }

    // Adds a record with a name and optional URL, posted.
    static void Add(TServerList& list, const std::string& name, const std::string& url = "") {
        list.Append();
        list.SetString(F::Name, name);
        if (!url.empty()) {
            list.SetString(F::Url, url);
        }
        list.Post();
    }

    static std::vector<std::string> Walk(TServerList& list, F field = F::Name) {
        std::vector<std::string> out;
        for (list.First(); !list.Eof(); list.Next()) {
            out.push_back(list.AsString(field));
        }
        return out;
    }

    fs::path dir_;
    fs::path path_;
};

// What start-up does when there is no file: re-create, seed, journal off, reset, close.
TEST_F(ServerListTest, FirstStartWritesTheExactFile) {
    TServerList list;
    list.SetFileName(path_.string());
    EXPECT_THROW(list.Open(), Error);
    list.CreateEmpty();
    list.SaveToFile(path_.string());
    EXPECT_EQ(ReadFile(path_), File(""));
    list.Open();
    list.Append();
    list.SetString(F::Name, "Ostrelle");
    list.SetString(F::Url, std::string(QRV_VENDOR_URL) + "/");
    list.SetInteger(F::Timeout, 300);
    list.SetBoolean(F::Active, true);
    list.Post();
    list.SwitchOffJournal();
    for (list.First(); !list.Eof(); list.Next()) {
        list.Edit();
        list.SetString(F::Status, "");
        list.SetString(F::Result, "Waiting...");
        list.SetInteger(F::LoadTime, -1);
        list.Post();
    }
    list.Close();
    EXPECT_FALSE(list.Active());
    EXPECT_EQ(ReadFile(path_),
              "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\"><METADATA>"
              "<FIELDS><FIELD attrname=\"Name\" fieldtype=\"string\" WIDTH=\"200\"/>"
              "<FIELD attrname=\"Status\" fieldtype=\"string\" WIDTH=\"10\"/>"
              "<FIELD attrname=\"Result\" fieldtype=\"string\" WIDTH=\"50000\"/>"
              "<FIELD attrname=\"Url\" fieldtype=\"string\" WIDTH=\"500\"/>"
              "<FIELD attrname=\"Active\" fieldtype=\"boolean\"/>"
              "<FIELD attrname=\"LoadTime\" fieldtype=\"i4\"/>"
              "<FIELD attrname=\"Timeout\" fieldtype=\"i4\"/>"
              "<FIELD attrname=\"TimeoutEnabled\" fieldtype=\"boolean\"/>"
              "<FIELD attrname=\"Response\" fieldtype=\"string\" WIDTH=\"50000\"/>"
              "<FIELD attrname=\"ResponseEnabled\" fieldtype=\"boolean\"/></FIELDS>"
              "<PARAMS CHANGE_LOG=\"1 0 4\"/></METADATA><ROWDATA>"
              "<ROW RowState=\"4\" Name=\"Ostrelle\" Status=\"\" Result=\"Waiting...\" Url=\"" +
                  std::string(QRV_VENDOR_URL) +
                  "/\" Active=\"TRUE\" LoadTime=\"-1\" Timeout=\"300\"/>"
                  "</ROWDATA></DATAPACKET>");
}

TEST_F(ServerListTest, JournalKeepsItsEntriesAndRecordsOnlyInsertionsWhileOn) {
    const std::string seed = "<ROW RowState=\"4\" Name=\"Ostrelle\"/>";
    struct TCase {
        const char* Label;
        bool SwitchOff;
        std::function<void(TServerList&)> Change;
        std::string Expected;
    } cases[] = {
        {"kept as read", true, [](TServerList& l) { Add(l, "b"); },
         File(seed + "<ROW Name=\"b\"/>", "<PARAMS CHANGE_LOG=\"1 0 4\"/>")},
        {"insertion journaled while on", false, [](TServerList& l) { Add(l, "b"); },
         File(seed + "<ROW RowState=\"4\" Name=\"b\"/>", "<PARAMS CHANGE_LOG=\"1 0 4 2 0 4\"/>")},
        {"edits are never journaled", false,
         [](TServerList& l) {
             l.First();
             l.Edit();
             l.SetBoolean(F::Active, true);
             l.Post();
         },
         File("<ROW RowState=\"4\" Name=\"Ostrelle\" Active=\"TRUE\"/>",
              "<PARAMS CHANGE_LOG=\"1 0 4\"/>")},
        // The entry named a record that no longer exists; keeping it would name another row.
        {"deleting the journaled record drops its entry", true,
         [](TServerList& l) {
             Add(l, "b");
             l.First();
             l.Delete();
         },
         File("<ROW Name=\"b\"/>")},
    };
    for (const auto& c : cases) {
        WriteFile(path_, File(seed, "<PARAMS CHANGE_LOG=\"1 0 4\"/>"));
        TServerList list;
        list.SetFileName(path_.string());
        list.Open();
        EXPECT_TRUE(list.LogChanges()) << c.Label;
        if (c.SwitchOff) {
            list.SwitchOffJournal();
            EXPECT_FALSE(list.LogChanges()) << c.Label;
        }
        c.Change(list);
        list.Close();
        EXPECT_EQ(ReadFile(path_), c.Expected) << c.Label;
    }
}

// Rows that hold only journal history are kept for writing back but are no records, and the
// journal's row numbers follow the rows when an earlier row goes.
TEST_F(ServerListTest, JournalOnlyRowsStayOutOfWalksAndAreWrittenBack) {
    WriteFile(path_, File("<ROW Name=\"a\"/><ROW RowState=\"1\" Name=\"old\"/>"
                          "<ROW RowState=\"8\" Name=\"new\"/><ROW RowState=\"2\" Name=\"gone\"/>"
                          "<ROW RowState=\"3\" Name=\"both\"/>",
                          "<PARAMS CHANGE_LOG=\"3 2 8 4 0 2 9 0 4\"/>"));
    TServerList list;
    list.SetFileName(path_.string());
    list.Open();
    EXPECT_EQ(list.RecordCount(), 2);
    EXPECT_EQ(Walk(list), (std::vector<std::string>{"a", "new"}));
    list.First();
    list.Delete();
    list.Close();
    EXPECT_EQ(ReadFile(path_), File("<ROW RowState=\"1\" Name=\"old\"/>"
                                    "<ROW RowState=\"8\" Name=\"new\"/>"
                                    "<ROW RowState=\"2\" Name=\"gone\"/>"
                                    "<ROW RowState=\"3\" Name=\"both\"/>",
                                    "<PARAMS CHANGE_LOG=\"2 2 8 3 0 2\"/>"));
}

TEST_F(ServerListTest, TextsSurviveTheFileWhole) {
    struct TCase {
        const char* Label;
        F Field;
        std::string Utf8;    // assigned
        std::string Written; // attribute value in the file
        std::string ReadBack;
    } cases[] = {
        {"CR LF", F::Response, "line 1\r\nline 2", "line 1&#013;&#010;line 2", "line 1\r\nline 2"},
        {"ampersand", F::Url, "http://h/?a=1&b=2", "http://h/?a=1&amp;b=2", "http://h/?a=1&b=2"},
        {"backslash", F::Name, "C:\\srv", "C:&#092;srv", "C:\\srv"},
        {"quotes", F::Result, "say \"hi\" 'now'", "say &quot;hi&quot; &apos;now&apos;",
         "say \"hi\" 'now'"},
        {"tab", F::Response, "a\tb", "a&#009;b", "a\tb"},
        {"angle brackets", F::Response, "<html>", "&lt;html&gt;", "<html>"},
        {"western letters", F::Name, "caf\u00e9 \u20ac", "caf&#233; &#8364;", "caf\u00e9 \u20ac"},
        {"Czech letters", F::Response, "P\u0159ihl\u00e1\u0161en\u00ed",
         "P&#345;ihl&#225;&#353;en&#237;", "P\u0159ihl\u00e1\u0161en\u00ed"},
        {"letters of no single code page", F::Name, "\u65e5\u672c \u0434\u0430",
         "&#26085;&#26412; &#1076;&#1072;", "\u65e5\u672c \u0434\u0430"},
        {"emoji", F::Result, "\U0001F600 ok", "&#128512; ok", "\U0001F600 ok"},
        // XML cannot hold these at all, so the list does not either.
        {"control characters", F::Result, std::string("a\x01\x1f\0", 4) + "b",
         "a&#65533;&#65533;&#65533;b", "a\uFFFD\uFFFD\uFFFDb"},
        {"bytes that are not UTF-8", F::Name, "a\xff", "a&#65533;", "a\uFFFD"},
    };
    for (const auto& c : cases) {
        // The station's code page plays no part any more: the file is the same under each.
        std::string written;
        for (const int codePage : {1250, 1252}) {
            platform::SetAnsiCodePage(codePage);
            TServerList list;
            list.SetFileName(path_.string());
            list.CreateEmpty();
            list.Append();
            list.SetString(c.Field, c.Utf8);
            EXPECT_EQ(list.AsString(c.Field), c.ReadBack) << c.Label;
            list.Post();
            list.Close();
            if (written.empty()) {
                written = ReadFile(path_);
            }
            EXPECT_EQ(ReadFile(path_), written) << c.Label << ", code page " << codePage;
        }
        const std::string name(FieldName(c.Field));
        EXPECT_EQ(written, File("<ROW RowState=\"4\" " + name + "=\"" + c.Written + "\"/>",
                                "<PARAMS CHANGE_LOG=\"1 0 4\"/>"))
            << c.Label;
        TServerList list;
        list.SetFileName(path_.string());
        list.Open();
        list.First();
        EXPECT_EQ(list.AsString(c.Field), c.ReadBack) << c.Label;
    }
}

// Lists of earlier versions hold raw bytes of the station's code page: they read as before,
// and are written back with every character whole.
TEST_F(ServerListTest, ListsWithRawBytesReadInTheStationCodePage) {
    const std::string legacy = File("<ROW Name=\"\xC8"
                                    "ek\xE1m\" Response=\"\x8A\x80\"/>");
    struct TCase {
        int CodePage;
        std::string Name;
        std::string Response;
        std::string Written;
    } cases[] = {
        {1250, "\u010Cek\u00E1m", "\u0160\u20AC",
         "Name=\"&#268;ek&#225;m\" Status=\"OK\" Response=\"&#352;&#8364;\""},
        {1252, "\u00C8ek\u00E1m", "\u0160\u20AC",
         "Name=\"&#200;ek&#225;m\" Status=\"OK\" Response=\"&#352;&#8364;\""},
    };
    for (const auto& c : cases) {
        platform::SetAnsiCodePage(c.CodePage);
        WriteFile(path_, legacy);
        TServerList list;
        list.SetFileName(path_.string());
        list.Open();
        list.First();
        EXPECT_EQ(list.AsString(F::Name), c.Name) << c.CodePage;
        EXPECT_EQ(list.AsString(F::Response), c.Response) << c.CodePage;
        list.Edit();
        list.SetString(F::Status, "OK");
        list.Post();
        list.Close();
        EXPECT_EQ(ReadFile(path_), File("<ROW " + c.Written + "/>")) << c.CodePage;
    }
}

// A list that starts with a UTF-8 byte-order mark (an editor saved it) holds UTF-8.
TEST_F(ServerListTest, AByteOrderMarkMeansUtf8) {
    platform::SetAnsiCodePage(1250);
    WriteFile(path_, "\xEF\xBB\xBF" + File("<ROW Name=\"\u010Cek\u00E1m\"/>"));
    TServerList list;
    list.SetFileName(path_.string());
    list.Open();
    ASSERT_EQ(list.RecordCount(), 1);
    EXPECT_EQ(list.AsStringAt(0, F::Name), "\u010Cek\u00E1m");
    EXPECT_EQ(list.SaveToBytes(), File("<ROW Name=\"&#268;ek&#225;m\"/>"));
}

// A file beyond the reader's bound is refused from its size, before it is read, so memory does
// not grow with it; a sparse file makes the size without the disk.
TEST_F(ServerListTest, AFileBeyondTheBoundIsRefusedUnread) {
    WriteFile(path_, File("<ROW Name=\"a\"/>"));
    ASSERT_EQ(::truncate(path_.c_str(), static_cast<off_t>(kMaxPacketBytes) + 1), 0);
    struct rusage before {};
    ::getrusage(RUSAGE_SELF, &before);
    TServerList list;
    list.SetFileName(path_.string());
    try {
        list.Open();
        ADD_FAILURE() << "opened";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "setServer: The file is larger than 268435456 bytes");
    }
    struct rusage after {};
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64L * 1024) << "kB more at the peak";
    EXPECT_FALSE(list.Active());
}

TEST_F(ServerListTest, WalksFollowNamesWhileTheFileKeepsInsertionOrder) {
    TServerList list;
    list.SetFileName(path_.string());
    list.CreateEmpty();
    list.SwitchOffJournal();
    Add(list, "b", "http://1/");
    Add(list, "a", "http://2/");
    Add(list, "c", "http://3/");
    Add(list, "b", "http://4/"); // equal names keep the order they were added in
    EXPECT_EQ(Walk(list), (std::vector<std::string>{"a", "b", "b", "c"}));
    EXPECT_EQ(Walk(list, F::Url),
              (std::vector<std::string>{"http://2/", "http://1/", "http://4/", "http://3/"}));
    EXPECT_EQ(list.AsStringAt(3, F::Name), "c");
    EXPECT_TRUE(list.Eof());
    EXPECT_EQ(list.RecNo(), 3); // a walk rests on the last record
    list.Close();
    EXPECT_EQ(ReadFile(path_), File("<ROW Name=\"b\" Url=\"http://1/\"/>"
                                    "<ROW Name=\"a\" Url=\"http://2/\"/>"
                                    "<ROW Name=\"c\" Url=\"http://3/\"/>"
                                    "<ROW Name=\"b\" Url=\"http://4/\"/>"));

    list.Open();
    EXPECT_EQ(Walk(list, F::Url),
              (std::vector<std::string>{"http://2/", "http://1/", "http://4/", "http://3/"}));
    // A renamed record takes its new place and stays current.
    list.MoveTo(0);
    list.Edit();
    list.SetString(F::Name, "d");
    list.Post();
    EXPECT_EQ(list.RecNo(), 3);
    EXPECT_EQ(list.AsString(F::Url), "http://2/");
    EXPECT_EQ(Walk(list), (std::vector<std::string>{"b", "b", "c", "d"}));
}

// The index against a plain model under many random appends, renames and deletes.
TEST_F(ServerListTest, OrderStaysRightUnderRandomChanges) {
    struct TModel {
        std::string Name;
        int Id;
    };
    std::vector<TModel> model; // insertion order
    std::mt19937 rng(12345);
    auto randomName = [&] {
        std::string s(1 + rng() % 3, 'a');
        for (char& ch : s) {
            ch = static_cast<char>('a' + rng() % 4);
        }
        return s;
    };
    TServerList list;
    list.CreateEmpty();
    int nextId = 0;
    for (int step = 0; step < 3000; ++step) {
        const unsigned op = rng() % 4;
        if (op < 2 || model.empty()) {
            const std::string name = randomName();
            Add(list, name, std::to_string(nextId));
            model.push_back({name, nextId++});
        } else {
            list.MoveTo(static_cast<int>(rng() % model.size()));
            const int id = list.AsInteger(F::Url);
            const auto it = std::find_if(model.begin(), model.end(),
                                         [id](const TModel& m) { return m.Id == id; });
            ASSERT_NE(it, model.end());
            if (op == 2) {
                it->Name = randomName();
                list.Edit();
                list.SetString(F::Name, it->Name);
                list.Post();
                EXPECT_EQ(list.AsInteger(F::Url), id);
            } else {
                list.Delete();
                model.erase(it);
            }
        }
    }
    std::vector<TModel> expected = model;
    std::stable_sort(expected.begin(), expected.end(),
                     [](const TModel& a, const TModel& b) { return a.Name < b.Name; });
    ASSERT_EQ(list.RecordCount(), static_cast<int>(expected.size()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(list.AsStringAt(static_cast<int>(i), F::Url), std::to_string(expected[i].Id))
            << "position " << i;
    }
    // The file keeps insertion order, and reading it gives the same walk.
    const std::string bytes = list.SaveToBytes();
    TServerList again;
    again.OpenFromBytes(bytes);
    for (std::size_t i = 0; i < model.size(); ++i) {
        EXPECT_EQ(again.AsStringAt(static_cast<int>(i), F::Url), std::to_string(expected[i].Id));
    }
    std::size_t at = 0;
    for (const TModel& m : model) {
        at = bytes.find("Url=\"" + std::to_string(m.Id) + "\"", at);
        ASSERT_NE(at, std::string::npos) << "record " << m.Id << " out of insertion order";
    }
}

TEST_F(ServerListTest, TextsAreCutToTheirWidthAndLoseTrailingSpaces) {
    const std::string e = "\xC3\xA9"; // one character, two bytes in memory
    auto times = [](const std::string& s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i) {
            out += s;
        }
        return out;
    };
    struct TCase {
        const char* Label;
        F Field;
        std::string In;
        std::string Stored;
        bool Null;
    } cases[] = {
        {"250-character name", F::Name, times("n", 250), times("n", 200), false},
        {"250 accented characters", F::Name, times(e, 250), times(e, 200), false},
        {"status of 11 characters", F::Status, "ERR_LOADING", "ERR_LOADIN", false},
        {"trailing spaces", F::Response, "expected   ", "expected", false},
        {"cut first, then trimmed", F::Status, "OK        X", "OK", false},
        {"inner and leading spaces kept", F::Name, "  a  b", "  a  b", false},
        {"trailing tab kept", F::Name, "a\t", "a\t", false},
        {"only spaces", F::Name, "   ", "", false},
        {"empty is empty, not null", F::Status, "", "", false},
        {"60000-character result", F::Result, times("r", 60000), times("r", 50000), false},
    };
    for (const auto& c : cases) {
        TServerList list;
        list.SetFileName(path_.string());
        list.CreateEmpty();
        list.Append();
        list.SetString(c.Field, c.In);
        EXPECT_EQ(list.AsString(c.Field), c.Stored) << c.Label;
        list.Post();
        list.Close();
        list.Open();
        list.First();
        EXPECT_EQ(list.AsString(c.Field), c.Stored) << c.Label;
        EXPECT_EQ(list.IsNull(c.Field), c.Null) << c.Label;
    }
}

TEST_F(ServerListTest, NullFieldsHaveNoAttributeAndReadAsDefaults) {
    WriteFile(path_, File("<ROW RowState=\"4\" Name=\"Ostrelle\" Active=\"TRUE\" Timeout=\"300\"/>",
                          "<PARAMS CHANGE_LOG=\"1 0 4\"/>"));
    TServerList list;
    list.SetFileName(path_.string());
    list.Open();
    list.First();
    for (const F f : {F::Status, F::Result, F::Url, F::LoadTime, F::TimeoutEnabled, F::Response,
                      F::ResponseEnabled}) {
        EXPECT_TRUE(list.IsNull(f)) << FieldName(f);
    }
    EXPECT_FALSE(list.AsBoolean(F::TimeoutEnabled));
    EXPECT_FALSE(list.AsBoolean(F::ResponseEnabled));
    EXPECT_EQ(list.AsString(F::Response), "");
    EXPECT_EQ(list.AsInteger(F::LoadTime), 0);
    EXPECT_EQ(list.AsInteger(F::Timeout), 300);
    // Setting a field null again removes its attribute.
    list.Edit();
    list.SetNull(F::Timeout);
    list.Post();
    list.Close();
    EXPECT_EQ(ReadFile(path_), File("<ROW RowState=\"4\" Name=\"Ostrelle\" Active=\"TRUE\"/>",
                                    "<PARAMS CHANGE_LOG=\"1 0 4\"/>"));
}

TEST_F(ServerListTest, UnreadableFilesAreRefusedWithTheirReason) {
    const fs::path data = fs::path(QRV_TEST_DATA_DIR) / "serverlist";
    struct TCase {
        const char* Label;
        std::string Fixture; // "" = no file at all
        std::string Error;
    } cases[] = {
        {"no file", "", "setServer: Missing data provider or data packet"},
        {"empty file", "empty.xml", "setServer: Missing data provider or data packet"},
        {"not a data packet", "not-a-packet.xml",
         "setServer: Missing data provider or data packet"},
        {"no ResponseEnabled", "no-response-enabled.xml",
         "setServer: Field 'ResponseEnabled' not found"},
        {"wrong width", "wrong-width.xml", "setServer: Field 'Url' has width 255 instead of 500"},
        {"wrong type", "wrong-type.xml",
         "setServer: Field 'LoadTime' has type 'string' instead of 'i4'"},
        {"truncated", "truncated.xml",
         "setServer: Damaged data packet at byte 765: unexpected end of data"},
        {"entity declaration", "entity.xml",
         "setServer: Damaged data packet at byte 40: a document type declaration is not allowed"},
    };
    for (const auto& c : cases) {
        fs::remove(path_);
        if (!c.Fixture.empty()) {
            fs::copy_file(data / c.Fixture, path_);
        }
        TServerList list;
        list.SetFileName(path_.string());
        try {
            list.Open();
            ADD_FAILURE() << c.Label << ": opened";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), c.Error) << c.Label;
        }
        EXPECT_FALSE(list.Active()) << c.Label;
        EXPECT_EQ(list.RecordCount(), 0) << c.Label;
    }
    // A directory in the file's place cannot be read either.
    fs::remove(path_);
    fs::create_directory(path_);
    TServerList list;
    list.SetFileName(path_.string());
    EXPECT_THROW(list.Open(), Error);
}

TEST_F(ServerListTest, CloseWritesOnlyWhenSomethingChangedOrTheFileIsGone) {
    const std::string original =
        ReadFile(fs::path(QRV_TEST_DATA_DIR) / "serverlist" / "metadata-only.xml");
    struct TCase {
        const char* Label;
        std::function<void(TServerList&)> Work;
        bool Rewritten;
    } cases[] = {
        {"nothing done", [](TServerList&) {}, false},
        {"walked and read only",
         [](TServerList& l) {
             l.First();
             l.Next();
         },
         false},
        {"append cancelled",
         [](TServerList& l) {
             l.Append();
             l.SetString(F::Name, "x");
             l.Cancel();
         },
         false},
        {"append left pending", [](TServerList& l) { l.Append(); }, false},
        {"file removed meanwhile", [this](TServerList&) { fs::remove(path_); }, true},
        {"record added", [](TServerList& l) { Add(l, "x"); }, true},
        {"record added and deleted",
         [](TServerList& l) {
             Add(l, "x");
             l.Delete();
         },
         true},
    };
    for (const auto& c : cases) {
        WriteFile(path_, original);
        TServerList list;
        list.SetFileName(path_.string());
        list.Open();
        EXPECT_EQ(list.RecordCount(), 0) << c.Label;
        c.Work(list);
        list.Close();
        ASSERT_TRUE(fs::exists(path_)) << c.Label;
        EXPECT_EQ(ReadFile(path_) != original, c.Rewritten) << c.Label;
    }
}

// A save that cannot be written leaves the list open with its records, so nothing is lost yet.
TEST_F(ServerListTest, FailedSaveAtCloseKeepsTheListOpen) {
    TServerList list;
    list.SetFileName((dir_ / "missing" / "QRV.xml").string());
    list.CreateEmpty();
    Add(list, "kept");
    try {
        list.Close();
        ADD_FAILURE() << "closed without writing";
    } catch (const Error& e) {
        EXPECT_TRUE(std::string(e.what()).starts_with("setServer: Unable to write file '"))
            << e.what();
    }
    EXPECT_TRUE(list.Active());
    EXPECT_EQ(list.AsStringAt(0, F::Name), "kept");
    EXPECT_TRUE(fs::is_empty(dir_)); // no temporary file left behind either
    list.SetFileName(path_.string());
    list.Close();
    EXPECT_FALSE(list.Active());
    EXPECT_NE(ReadFile(path_).find("Name=\"kept\""), std::string::npos);
}

TEST_F(ServerListTest, EditingRulesAndTheirRefusals) {
    auto errorOf = [](const std::function<void()>& work) -> std::string {
        try {
            work();
        } catch (const Error& e) {
            return e.what();
        }
        return "(done)";
    };
    TServerList list;
    EXPECT_EQ(errorOf([&] { list.First(); }),
              "setServer: Cannot perform this operation on a closed list");
    EXPECT_EQ(errorOf([&] { list.Append(); }),
              "setServer: Cannot perform this operation on a closed list");
    EXPECT_TRUE(list.Eof());
    EXPECT_EQ(list.RecNo(), -1);
    list.CreateEmpty();
    EXPECT_TRUE(list.Eof() && list.Bof());
    EXPECT_EQ(errorOf([&] { list.Edit(); }),
              "setServer: Cannot perform this operation on an empty list");
    EXPECT_EQ(errorOf([&] { list.Delete(); }),
              "setServer: Cannot perform this operation on an empty list");
    EXPECT_EQ(errorOf([&] { list.Post(); }), "setServer: Not in edit or insert mode");
    EXPECT_EQ(errorOf([&] { list.SetString(F::Name, "x"); }),
              "setServer: Not in edit or insert mode");
    EXPECT_EQ(list.AsString(F::Name), ""); // no record: null
    EXPECT_EQ(errorOf([&] { list.MoveTo(0); }), "setServer: Record position 0 out of range");

    Add(list, "a");
    list.Append();
    list.SetString(F::Name, "b");
    EXPECT_EQ(list.RecordCount(), 1); // pending append not counted
    EXPECT_EQ(list.RecNo(), -1);
    list.First(); // navigation posts first
    EXPECT_EQ(list.State(), TServerList::TState::Browse);
    EXPECT_EQ(list.RecordCount(), 2);

    list.Edit();
    list.SetString(F::Name, "z");
    list.SetInteger(F::Timeout, 5);
    EXPECT_EQ(list.AsString(F::Name), "z");      // reads see the pending values
    EXPECT_EQ(list.AsStringAt(0, F::Name), "a"); // the grid sees posted ones
    list.Cancel();
    EXPECT_EQ(list.AsString(F::Name), "a");
    EXPECT_TRUE(list.IsNull(F::Timeout));

    // Conversions between the field kinds.
    list.Edit();
    list.SetString(F::Timeout, " 0x10");
    list.SetString(F::Active, "true");
    list.SetInteger(F::Status, 42);
    EXPECT_EQ(list.AsInteger(F::Timeout), 16);
    EXPECT_EQ(list.AsString(F::Timeout), "16");
    EXPECT_EQ(list.AsString(F::Active), "True");
    EXPECT_EQ(list.AsInteger(F::Status), 42);
    EXPECT_NE(errorOf([&] { list.SetString(F::LoadTime, "12a"); }).find("not a valid integer"),
              std::string::npos);
    EXPECT_NE(errorOf([&] { list.SetString(F::Active, "maybe"); }).find("not a valid boolean"),
              std::string::npos);
    list.Post();

    // Deleting the last record leaves the new last one current.
    Add(list, "c");
    list.Last();
    list.Delete();
    EXPECT_EQ(list.AsString(F::Name), "b");
    EXPECT_EQ(list.RecNo(), 1);
    list.First();
    list.Delete(); // the next one takes the place
    EXPECT_EQ(list.AsString(F::Name), "b");
    list.Delete();
    EXPECT_EQ(list.RecordCount(), 0);
    EXPECT_TRUE(list.Eof());
    EXPECT_EQ(list.RecNo(), -1);
    // Deleting while appending only drops the pending record.
    list.Append();
    list.Delete();
    EXPECT_EQ(list.RecordCount(), 0);
    EXPECT_EQ(list.State(), TServerList::TState::Browse);
}

TEST_F(ServerListTest, NotificationsFollowEachChange) {
    TServerList list;
    std::vector<std::string> events;
    list.OnAfterInsert = [&] { events.push_back("insert:" + std::to_string(list.RecordCount())); };
    list.OnAfterDelete = [&] { events.push_back("delete:" + std::to_string(list.RecordCount())); };
    list.OnAfterPost = [&] { events.push_back("post"); };
    list.OnAfterScroll = [&] { events.push_back("scroll:" + std::to_string(list.RecNo())); };
    list.CreateEmpty();
    struct TCase {
        const char* Label;
        std::function<void()> Work;
        std::vector<std::string> Events;
    } cases[] = {
        {"append to the empty list", [&] { list.Append(); }, {"insert:0", "scroll:-1"}},
        {"post the append",
         [&] {
             list.SetString(F::Name, "m");
             list.Post();
         },
         {"post", "scroll:0"}},
        {"append while one is posted",
         [&] {
             list.Append();
             list.SetString(F::Name, "z");
         },
         {"insert:1", "scroll:-1"}},
        {"navigation posts first", [&] { list.First(); }, {"post", "scroll:1", "scroll:0"}},
        {"next", [&] { list.Next(); }, {"scroll:1"}},
        {"next past the end does not move", [&] { list.Next(); }, {}},
        {"edit and post in place",
         [&] {
             list.Edit();
             list.SetString(F::Status, "OK");
             list.Post();
         },
         {"post"}},
        {"rename moves the record",
         [&] {
             list.Edit();
             list.SetString(F::Name, "a");
             list.Post();
         },
         {"post", "scroll:0"}},
        {"cancelled append returns",
         [&] {
             list.Append();
             list.Cancel();
         },
         {"insert:2", "scroll:-1", "scroll:0"}},
        {"delete", [&] { list.Delete(); }, {"delete:1", "scroll:0"}},
        {"delete the last", [&] { list.Delete(); }, {"delete:0", "scroll:-1"}},
    };
    for (const auto& c : cases) {
        events.clear();
        c.Work();
        EXPECT_EQ(events, c.Events) << c.Label;
    }
}

// The list never makes a file that its own reader refuses at the next start.
TEST_F(ServerListTest, NeverGrowsPastWhatItsReaderTakes) {
    TServerList list;
    list.SetFileName(path_.string());
    list.CreateEmpty();
    list.SwitchOffJournal();
    char name[16];
    for (std::size_t i = 0; i < kMaxRows; ++i) {
        std::snprintf(name, sizeof name, "s%06zu", i);
        list.Append();
        list.SetString(F::Name, name);
        list.Post();
    }
    try {
        list.Append();
        ADD_FAILURE() << "one server more than the reader takes";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "setServer: The list cannot hold more than 100000 servers.");
    }
    list.SaveToFile(path_.string());

    // A file of the most rows the reader takes, one of them the journal's own (a deleted
    // record): one server more would carry it past the bound, so it is written without the
    // journal, and every record reads back.
    std::string rows;
    for (std::size_t i = 1; i < kMaxRows; ++i) {
        std::snprintf(name, sizeof name, "s%06zu", i);
        rows += std::string("<ROW Name=\"") + name + "\"/>";
    }
    rows += "<ROW RowState=\"2\" Name=\"gone\"/>";
    WriteFile(path_, File(rows, "<PARAMS CHANGE_LOG=\"100000 0 2\"/>"));
    TServerList again;
    again.SetFileName(path_.string());
    again.Open();
    ASSERT_EQ(again.RecordCount(), static_cast<int>(kMaxRows) - 1);
    again.Append();
    again.SetString(F::Name, "s999999");
    again.SetString(F::Status, "OK");
    again.Post();
    again.SaveToFile(path_.string());
    TServerList third;
    third.SetFileName(path_.string());
    ASSERT_NO_THROW(third.Open());
    EXPECT_EQ(third.RecordCount(), static_cast<int>(kMaxRows));
    third.Last();
    EXPECT_EQ(third.AsString(F::Status), "OK");
}

} // namespace
} // namespace qrv::engine
