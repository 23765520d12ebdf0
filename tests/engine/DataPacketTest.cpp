#include "engine/DataPacket.h"
#include "engine/ServerList.h"
#include "platform/Error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace qrv::engine {
namespace {

const std::string kFields = "<FIELDS><FIELD attrname=\"Name\" fieldtype=\"string\" WIDTH=\"200\"/>"
                            "<FIELD attrname=\"Status\" fieldtype=\"string\" WIDTH=\"10\"/>"
                            "<FIELD attrname=\"Result\" fieldtype=\"string\" WIDTH=\"50000\"/>"
                            "<FIELD attrname=\"Url\" fieldtype=\"string\" WIDTH=\"500\"/>"
                            "<FIELD attrname=\"Active\" fieldtype=\"boolean\"/>"
                            "<FIELD attrname=\"LoadTime\" fieldtype=\"i4\"/>"
                            "<FIELD attrname=\"Timeout\" fieldtype=\"i4\"/>"
                            "<FIELD attrname=\"TimeoutEnabled\" fieldtype=\"boolean\"/>"
                            "<FIELD attrname=\"Response\" fieldtype=\"string\" WIDTH=\"50000\"/>"
                            "<FIELD attrname=\"ResponseEnabled\" fieldtype=\"boolean\"/></FIELDS>";

std::string Packet(const std::string& rows, const std::string& params = "<PARAMS/>",
                   const std::string& fields = kFields) {
    return "<?xml version=\"1.0\" standalone=\"yes\"?>  <DATAPACKET Version=\"2.0\"><METADATA>" +
           fields + params + "</METADATA><ROWDATA>" + rows + "</ROWDATA></DATAPACKET>";
}

struct TParsed {
    std::vector<std::uint32_t> ChangeLog;
    std::vector<std::uint32_t> RowStates;
    // Per row, per field: the value as text ("TRUE"/"FALSE" and decimals for the others).
    std::vector<std::vector<std::optional<std::string>>> Rows;
};

// Raw bytes beyond ASCII read as Windows-1252 unless the file says otherwise.
TParsed Parse(std::string_view bytes, int legacyCodePage = 1252) {
    TParsed out;
    ReadDataPacket(
        bytes, ServerFieldDefs(), out.ChangeLog,
        [&](const TPacketRow& row) {
            out.RowStates.push_back(row.RowState);
            auto& values = out.Rows.emplace_back();
            for (std::size_t i = 0; i < row.Values.size(); ++i) {
                const TPacketValue& v = row.Values[i];
                if (!v.Present) {
                    values.emplace_back();
                } else if (ServerFieldDefs()[i].Type == TFieldType::String) {
                    values.emplace_back(std::string(v.Text));
                } else if (ServerFieldDefs()[i].Type == TFieldType::Boolean) {
                    values.emplace_back(v.Boolean ? "TRUE" : "FALSE");
                } else {
                    values.emplace_back(std::to_string(v.Integer));
                }
            }
        },
        legacyCodePage);
    return out;
}

std::string ParseError(std::string_view bytes) {
    try {
        Parse(bytes);
    } catch (const Error& e) {
        return e.what();
    }
    return "(accepted)";
}

// The failure text without collecting the rows (for inputs with very many of them).
std::string ReadError(std::string_view bytes) {
    std::vector<std::uint32_t> log;
    try {
        ReadDataPacket(bytes, ServerFieldDefs(), log, [](const TPacketRow&) {});
    } catch (const Error& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(DataPacketTest, WritesAsciiWithEveryOtherCharacterAsAReference) {
    struct TCase {
        const char* Label;
        std::string In;
        std::string Out;
    } cases[] = {
        {"plain", "http://a.example/x?y=1", "http://a.example/x?y=1"},
        {"less and greater", "<b>", "&lt;b&gt;"},
        {"ampersand", "a&b", "a&amp;b"},
        {"quotes", "'\"", "&apos;&quot;"},
        {"CR LF", "a\r\nb", "a&#013;&#010;b"},
        {"tab", "\t", "&#009;"},
        {"backslash", "C:\\x", "C:&#092;x"},
        {"Czech", "P\u0159ihl\u00e1\u0161en\u00ed", "P&#345;ihl&#225;&#353;en&#237;"},
        {"euro and emoji", "\u20ac \U0001F600", "&#8364; &#128512;"},
        {"delete is a character XML holds", "a\x7f", "a\x7f"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        std::string out;
        AppendEscaped(out, c.In);
        EXPECT_EQ(out, c.Out) << c.Label;
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](char ch) {
            return static_cast<unsigned char>(ch) < 0x80;
        })) << c.Label;
        // What is written reads back as it was.
        const TParsed parsed = Parse(Packet("<ROW Name=\"" + out + "\"/>"));
        ASSERT_EQ(parsed.Rows.size(), 1u) << c.Label;
        EXPECT_EQ(parsed.Rows[0][0], c.In) << c.Label;
    }
    // What XML cannot hold, even as a reference, is U+FFFD both ways: bytes that are not UTF-8,
    // control characters but tab and line breaks, U+FFFE and U+FFFF.
    std::string out;
    AppendEscaped(out, std::string("a\xff\xc3\x01\x1f\0\uFFFE", 9));
    EXPECT_EQ(out, "a&#65533;&#65533;&#65533;&#65533;&#65533;&#65533;");
    EXPECT_EQ(ToPacketText(std::string("a\x01\xff\uFFFF\t", 7)), "a\uFFFD\uFFFD\uFFFD\t");
    const TParsed parsed = Parse(Packet("<ROW Name=\"a&#1;\x02&#xFFFF;&#0;\"/>"));
    ASSERT_EQ(parsed.Rows.size(), 1u);
    EXPECT_EQ(parsed.Rows[0][0], "a\uFFFD\uFFFD\uFFFD\uFFFD");
}

// Raw bytes beyond ASCII: lists of earlier versions hold them in the station's code page; a
// file that says it is UTF-8 (byte-order mark or declaration) or names its code page is read
// as it says. References always name Unicode characters.
TEST(DataPacketTest, RawBytesFollowWhatTheFileSaysElseTheLegacyCodePage) {
    const std::string row = "<ROW Name=\"\xC8"
                            "ek\xE1m &#345;\"/>";
    const std::string decl = "<?xml version=\"1.0\" standalone=\"yes\"?>  ";
    auto withDecl = [&](const std::string& head, const std::string& rows) {
        std::string p = Packet(rows);
        return head + p.substr(decl.size());
    };
    const std::string utf8Row = "<ROW Name=\"\u010Cek\u00E1m &#345; \xff\"/>";
    struct TCase {
        const char* Label;
        std::string Bytes;
        int LegacyCodePage;
        std::string Name;
    } cases[] = {
        {"legacy list under a Czech locale", Packet(row), 1250, "\u010Cek\u00E1m \u0159"},
        {"legacy list under a western locale", Packet(row), 1252, "\u00C8ek\u00E1m \u0159"},
        {"byte-order mark", "\xEF\xBB\xBF" + Packet(utf8Row), 1252,
         "\u010Cek\u00E1m \u0159 \uFFFD"},
        {"declared UTF-8", withDecl("<?xml version='1.0' encoding = 'utf-8'?>", utf8Row), 1250,
         "\u010Cek\u00E1m \u0159 \uFFFD"},
        {"declared code page", withDecl("<?xml version=\"1.0\" encoding=\"windows-1250\"?>", row),
         1252, "\u010Cek\u00E1m \u0159"},
        {"unknown encoding name", withDecl("<?xml version=\"1.0\" encoding=\"koi8-r\"?>", row),
         1250, "\u010Cek\u00E1m \u0159"},
    };
    for (const auto& c : cases) {
        TParsed parsed;
        ASSERT_NO_THROW(parsed = Parse(c.Bytes, c.LegacyCodePage)) << c.Label;
        ASSERT_EQ(parsed.Rows.size(), 1u) << c.Label;
        EXPECT_EQ(parsed.Rows[0][0], c.Name) << c.Label;
    }
}

TEST(DataPacketTest, AcceptsTheFormatFamilyVariants) {
    struct TCase {
        const char* Label;
        std::string Bytes;
        std::optional<std::string> Name; // Name of the single row
        std::optional<std::string> Active;
    } cases[] = {
        {"as written", Packet("<ROW Name=\"a\" Active=\"TRUE\"/>"), "a", "TRUE"},
        {"single quotes", Packet("<ROW Name='a\"b' Active='FALSE'/>"), "a\"b", "FALSE"},
        {"spaces around =", Packet("<ROW Name = \"a\"  Active =\t\"TRUE\" />"), "a", "TRUE"},
        {"booleans in any case", Packet("<ROW Active=\"true\"/>"), std::nullopt, "TRUE"},
        {"end tag for ROW", Packet("<ROW Name=\"a\"></ROW>"), "a", std::nullopt},
        {"numeric references", Packet("<ROW Name=\"&#65;&#x42;&#0067;&#255;&#x10FFFF;\"/>"),
         "ABC\u00ff\U0010FFFF", std::nullopt},
        {"literal tab and line ends read as spaces", Packet("<ROW Name=\"a\tb\r\nc\nd\"/>"),
         "a b c d", std::nullopt},
        {"literal greater-than", Packet("<ROW Name=\"a>b\"/>"), "a>b", std::nullopt},
        {"unknown row attribute skipped", Packet("<ROW Extra=\"x\" Name=\"a\"/>"), "a",
         std::nullopt},
        {"white space and comments between elements",
         "<?xml version=\"1.0\"?>\r\n<!-- list -->\n<DATAPACKET Version=\"2.0\">\n <METADATA>\n" +
             kFields +
             "\n <PARAMS/>\n </METADATA>\n <ROWDATA>\n  <ROW Name=\"a\"/>\n "
             "</ROWDATA>\n</DATAPACKET>\n",
         "a", std::nullopt},
        {"no declaration",
         "<DATAPACKET Version=\"2.0\"><METADATA>" + kFields +
             "</METADATA><ROWDATA><ROW Name=\"a\"/></ROWDATA></DATAPACKET>",
         "a", std::nullopt},
        {"fields in another order with extras and attribute order free",
         Packet("<ROW Name=\"a\" Other=\"1\"/>", "<PARAMS LCID=\"1033\"/>",
                "<FIELDS><FIELD fieldtype=\"boolean\" attrname=\"ResponseEnabled\"/>"
                "<FIELD WIDTH=\"200\" attrname=\"Name\" fieldtype=\"string\"/>"
                "<FIELD attrname=\"Other\" fieldtype=\"i4\"/>"
                "<FIELD attrname=\"Status\" fieldtype=\"string\" WIDTH=\"10\"/>"
                "<FIELD attrname=\"Result\" fieldtype=\"string\" WIDTH=\"50000\"/>"
                "<FIELD attrname=\"Url\" fieldtype=\"string\" WIDTH=\"500\"/>"
                "<FIELD attrname=\"Active\" fieldtype=\"boolean\" required=\"true\"/>"
                "<FIELD attrname=\"LoadTime\" fieldtype=\"i4\"/>"
                "<FIELD attrname=\"Timeout\" fieldtype=\"i4\"/>"
                "<FIELD attrname=\"TimeoutEnabled\" fieldtype=\"boolean\"/>"
                "<FIELD attrname=\"Response\" fieldtype=\"string\" WIDTH=\"50000\"/></FIELDS>"),
         "a", std::nullopt},
    };
    for (const auto& c : cases) {
        TParsed parsed;
        try {
            parsed = Parse(c.Bytes);
        } catch (const Error& e) {
            ADD_FAILURE() << c.Label << ": " << e.what();
            continue;
        }
        ASSERT_EQ(parsed.Rows.size(), 1u) << c.Label;
        EXPECT_EQ(parsed.Rows[0][0], c.Name) << c.Label;
        EXPECT_EQ(parsed.Rows[0][4], c.Active) << c.Label;
    }
}

TEST(DataPacketTest, ReadsIntegersRowStatesAndTheChangeLog) {
    const TParsed parsed =
        Parse(Packet("<ROW RowState=\"4\" LoadTime=\"-1\" Timeout=\"2147483647\"/>"
                     "<ROW LoadTime=\"-2147483648\" Timeout=\"+007\"/><ROW/>",
                     "<PARAMS CHANGE_LOG=\"1 0 4  3\t0 4\"/>"));
    ASSERT_EQ(parsed.Rows.size(), 3u);
    EXPECT_EQ(parsed.RowStates, (std::vector<std::uint32_t>{4, 0, 0}));
    EXPECT_EQ(parsed.ChangeLog, (std::vector<std::uint32_t>{1, 0, 4, 3, 0, 4}));
    EXPECT_EQ(parsed.Rows[0][5], "-1");
    EXPECT_EQ(parsed.Rows[0][6], "2147483647");
    EXPECT_EQ(parsed.Rows[1][5], "-2147483648");
    EXPECT_EQ(parsed.Rows[1][6], "7");
    for (const auto& value : parsed.Rows[2]) {
        EXPECT_FALSE(value.has_value());
    }
}

TEST(DataPacketTest, RefusesWhatIsNotExactlyThisFormat) {
    const std::string fieldsWithout = [] {
        std::string f = kFields;
        f.erase(f.find("<FIELD attrname=\"ResponseEnabled\""),
                std::string("<FIELD attrname=\"ResponseEnabled\" fieldtype=\"boolean\"/>").size());
        return f;
    }();
    auto withField = [](const std::string& from, const std::string& to) {
        std::string f = kFields;
        f.replace(f.find(from), from.size(), to);
        return f;
    };
    struct TCase {
        const char* Label;
        std::string Bytes;
        std::string Error; // the whole text, or a part of it after "~"
    } cases[] = {
        {"empty", "", "Missing data provider or data packet"},
        {"blank", " \r\n", "Missing data provider or data packet"},
        {"other document", "<?xml version=\"1.0\"?><html/>",
         "Missing data provider or data packet"},
        {"prefix of the root name", "<DATAPACKETS/>", "Missing data provider or data packet"},
        {"UTF-16 byte-order mark", "\xFF\xFE" + Packet(""), "Missing data provider or data packet"},
        {"truncated declaration", "<?xml version", "Missing data provider or data packet"},
        {"plain text", "Name,Url\n", "Missing data provider or data packet"},
        {"no ResponseEnabled", Packet("", "<PARAMS/>", fieldsWithout),
         "Field 'ResponseEnabled' not found"},
        {"no metadata", "<DATAPACKET Version=\"2.0\"><ROWDATA/></DATAPACKET>",
         "Field 'Name' not found"},
        {"wrong width", Packet("", "<PARAMS/>", withField("WIDTH=\"200\"", "WIDTH=\"100\"")),
         "Field 'Name' has width 100 instead of 200"},
        {"no width", Packet("", "<PARAMS/>", withField(" WIDTH=\"10\"", "")),
         "Field 'Status' has no width"},
        {"wrong type",
         Packet("", "<PARAMS/>",
                withField("\"Active\" fieldtype=\"boolean\"", "\"Active\" fieldtype=\"string\" "
                                                              "WIDTH=\"5\"")),
         "Field 'Active' has type 'string' instead of 'boolean'"},
        {"boolean with a width",
         Packet("", "<PARAMS/>",
                withField("\"Active\" fieldtype=\"boolean\"",
                          "\"Active\" fieldtype=\"boolean\" WIDTH=\"1\"")),
         "Field 'Active' of type 'boolean' has a width"},
        {"garbage width", Packet("", "<PARAMS/>", withField("WIDTH=\"200\"", "WIDTH=\"2e2\"")),
         "~invalid WIDTH '2e2'"},
        {"field declared twice",
         Packet("", "<PARAMS/>",
                withField("<FIELD attrname=\"Status\"",
                          "<FIELD attrname=\"Name\" fieldtype=\"string\" WIDTH=\"200\"/>"
                          "<FIELD attrname=\"Status\"")),
         "~field 'Name' declared twice"},
        {"document type", "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY e \"boom\">]>" + Packet(""),
         "~a document type declaration is not allowed"},
        {"entity", Packet("<ROW Name=\"&e;\"/>"), "~unknown reference '&e;'"},
        {"html entity", Packet("<ROW Name=\"&nbsp;\"/>"), "~unknown reference '&nbsp;'"},
        {"bare ampersand", Packet("<ROW Name=\"a & b\"/>"), "~'&' not followed by a reference"},
        {"reference beyond Unicode", Packet("<ROW Name=\"&#x110000;\"/>"), "~names no character"},
        {"surrogate reference", Packet("<ROW Name=\"&#55357;\"/>"), "~names no character"},
        {"huge reference", Packet("<ROW Name=\"&#99999999999;\"/>"), "~names no character"},
        {"empty reference", Packet("<ROW Name=\"&#;\"/>"), "~malformed character reference"},
        {"upper-case hex marker", Packet("<ROW Name=\"&#X41;\"/>"), "~malformed character"},
        {"less-than in a value", Packet("<ROW Name=\"a<b\"/>"), "~'<' inside an attribute value"},
        {"garbage boolean", Packet("<ROW Active=\"yes\"/>"), "~invalid boolean 'yes'"},
        {"hex integer", Packet("<ROW Timeout=\"0x10\"/>"), "~invalid integer '0x10'"},
        {"integer with a blank", Packet("<ROW Timeout=\" 10\"/>"), "~invalid integer ' 10'"},
        {"integer overflow", Packet("<ROW Timeout=\"2147483648\"/>"), "~invalid integer"},
        {"garbage RowState", Packet("<ROW RowState=\"-4\"/>"), "~invalid RowState '-4'"},
        {"attribute twice", Packet("<ROW Name=\"a\" Name=\"b\"/>"), "~'Name' given twice"},
        {"no space between attributes", Packet("<ROW Name=\"a\"Url=\"b\"/>"),
         "~white space expected after a value"},
        {"unquoted value", Packet("<ROW Name=a/>"), "~quoted value expected"},
        {"element inside ROW", Packet("<ROW><ROW/></ROW>"),
         "~unexpected element <ROW> inside <ROW>"},
        {"foreign element", Packet("<ROWS/>"), "~unexpected element <ROWS> inside <ROWDATA>"},
        {"text inside ROWDATA", Packet("hello"), "~unexpected text inside <ROWDATA>"},
        {"CDATA", Packet("<![CDATA[x]]>"), "~unexpected markup declaration"},
        {"mismatched end tag",
         "<DATAPACKET><METADATA>" + kFields + "</METADATA><ROWDATA></ROWDAT></DATAPACKET>",
         "~</ROWDAT> does not close <ROWDATA>"},
        {"no ROWDATA", "<DATAPACKET><METADATA>" + kFields + "</METADATA></DATAPACKET>",
         "~holds no ROWDATA"},
        {"data after the document", Packet("") + "<x/>", "~unexpected data after the data packet"},
        {"second document", Packet("") + Packet(""), "~unexpected data after the data packet"},
        {"unterminated comment", Packet("<!-- x"), "~unterminated comment"},
        {"change log not in threes", Packet("", "<PARAMS CHANGE_LOG=\"1 0\"/>"),
         "~three numbers per entry"},
        {"change log garbage", Packet("", "<PARAMS CHANGE_LOG=\"1 0 x\"/>"),
         "~invalid CHANGE_LOG entry 'x'"},
        {"PARAMS before FIELDS",
         "<DATAPACKET><METADATA><PARAMS/>" + kFields + "</METADATA><ROWDATA/></DATAPACKET>",
         "~unexpected element <FIELDS> inside <METADATA>"},
    };
    for (const auto& c : cases) {
        const std::string error = ParseError(c.Bytes);
        if (c.Error.starts_with("~")) {
            EXPECT_NE(error.find(c.Error.substr(1)), std::string::npos) << c.Label << ": " << error;
            EXPECT_TRUE(error.starts_with("Damaged data packet at byte "))
                << c.Label << ": " << error;
        } else {
            EXPECT_EQ(error, c.Error) << c.Label;
        }
    }
}

TEST(DataPacketTest, EveryTruncationOfAValidFileFailsCleanly) {
    const std::string whole =
        Packet("<ROW RowState=\"4\" Name=\"Ost&amp;relle\" Status=\"\" Result=\"a&#013;&#010;b\" "
               "Url=\"http://x/\" Active=\"TRUE\" LoadTime=\"-1\" Timeout=\"300\"/>"
               "<ROW Name='b'></ROW><!-- c -->",
               "<PARAMS CHANGE_LOG=\"1 0 4\"/>");
    ASSERT_EQ(ParseError(whole), "(accepted)");
    for (std::size_t len = 0; len < whole.size(); ++len) {
        const std::string error = ParseError(std::string_view(whole).substr(0, len));
        EXPECT_NE(error, "(accepted)") << "prefix of " << len << " bytes";
    }
}

TEST(DataPacketTest, HostileSizesAndDepthsFailWithoutExhaustingAnything) {
    struct TCase {
        const char* Label;
        std::string Bytes;
        std::string Error;
    } cases[] = {
        {"50 MB attribute value", Packet("<ROW Result=\"" + std::string(50u << 20, 'x') + "\"/>"),
         "is too long"},
        {"50 MB unterminated value", Packet("<ROW Result=\"" + std::string(50u << 20, 'x')),
         "is too long"},
        {"value just over the limit",
         Packet("<ROW Result=\"" + std::string(kMaxAttributeBytes + 1, 'x') + "\"/>"),
         "is too long"},
        {"100000 nested elements",
         [] {
             std::string s = "<DATAPACKET><METADATA>" + kFields + "</METADATA><ROWDATA>";
             for (int i = 0; i < 100000; ++i) {
                 s += "<ROW>";
             }
             return s;
         }(),
         "unexpected element <ROW> inside <ROW>"},
        {"a million attributes then the end",
         [] {
             std::string s = "<DATAPACKET";
             for (int i = 0; i < 1000000; ++i) {
                 s += " a=\"\"";
             }
             return s;
         }(),
         "unexpected end of data"},
        {"one row more than allowed", Packet([] {
             std::string s;
             for (std::size_t i = 0; i <= kMaxRows; ++i) {
                 s += "<ROW/>";
             }
             return s;
         }()),
         "more than 100000 rows"},
        // Extra fields are allowed; telling duplicates apart must not take quadratic time.
        {"50000 declared fields",
         [] {
             std::string fields = kFields.substr(0, kFields.size() - 9);
             for (int i = 0; i < 50000; ++i) {
                 fields += "<FIELD attrname=\"x" + std::to_string(i) + "\" fieldtype=\"i4\"/>";
             }
             return Packet("<ROW/>", "<PARAMS/>", fields + "</FIELDS>") + "x";
         }(),
         "unexpected data after the data packet"},
    };
    for (const auto& c : cases) {
        const std::string error = ReadError(c.Bytes);
        EXPECT_NE(error.find(c.Error), std::string::npos) << c.Label << ": " << error;
    }
    // The longest value a field may legitimately hold, fully escaped ("&#1114111;" each), is
    // still read.
    std::string widest;
    for (int i = 0; i < 50000; ++i) {
        widest += "\U0010FFFF";
    }
    std::string escaped;
    AppendEscaped(escaped, widest);
    const TParsed parsed = Parse(Packet("<ROW Result=\"" + escaped + "\"/>"));
    ASSERT_EQ(parsed.Rows.size(), 1u);
    EXPECT_EQ(parsed.Rows[0][2], widest);
}

TEST(DataPacketTest, WritesTheHeadAndRowsByteExactly) {
    std::string out;
    const std::uint32_t log[] = {1, 0, 4, 2, 0, 4};
    AppendPacketHead(out, ServerFieldDefs(), log);
    AppendRowStart(out, 4);
    AppendTextAttribute(out, "Name", "a");
    AppendBooleanAttribute(out, "Active", false);
    AppendIntegerAttribute(out, "LoadTime", -2147483647 - 1);
    AppendRowEnd(out);
    AppendRowStart(out, 0);
    AppendRowEnd(out);
    AppendPacketTail(out);
    EXPECT_EQ(out, Packet("<ROW RowState=\"4\" Name=\"a\" Active=\"FALSE\" "
                          "LoadTime=\"-2147483648\"/><ROW/>",
                          "<PARAMS CHANGE_LOG=\"1 0 4 2 0 4\"/>"));
}

} // namespace
} // namespace qrv::engine
