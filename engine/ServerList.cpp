#include "engine/ServerList.h"

#include "engine/DataPacket.h"
#include "platform/CodePage.h"
#include "platform/Error.h"
#include "platform/IntConv.h"
#include "platform/Paths.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <locale>
#include <sys/stat.h>
#include <vector>

namespace qrv::engine {

namespace {

constexpr std::array<TFieldDef, kFieldCount> kFields = {{
    {"Name", TFieldType::String, 200},
    {"Status", TFieldType::String, 10},
    {"Result", TFieldType::String, 50000},
    {"Url", TFieldType::String, 500},
    {"Active", TFieldType::Boolean, 0},
    {"LoadTime", TFieldType::Integer, 0},
    {"Timeout", TFieldType::Integer, 0},
    {"TimeoutEnabled", TFieldType::Boolean, 0},
    {"Response", TFieldType::String, 50000},
    {"ResponseEnabled", TFieldType::Boolean, 0},
}};

// Where each field's value lives in a record: texts, integers and flags in separate arrays.
constexpr std::array<int, kFieldCount> kSlot = {0, 1, 2, 3, 0, 0, 1, 1, 4, 2};
constexpr int kTextCount = 5;
constexpr int kNumberCount = 2;
constexpr int kFlagCount = 3;

constexpr std::uint16_t kAllNull = (1u << kFieldCount) - 1;

// Row states of the journal: former values of a modified row, deleted, inserted, modified.
constexpr std::uint32_t kRowOriginal = 1;
constexpr std::uint32_t kRowDeleted = 2;
constexpr std::uint32_t kRowInserted = 4;

int Index(TField field) {
    return static_cast<int>(field);
}
// Where a field's value is kept among the values of its type.
std::size_t SlotOf(TField field) {
    return static_cast<std::size_t>(kSlot[static_cast<std::size_t>(Index(field))]);
}
TFieldType TypeOf(TField field) {
    return kFields[static_cast<std::size_t>(Index(field))].Type;
}

const std::locale& CollationLocale() {
    static const std::locale locale = [] {
        try {
            return std::locale("");
        } catch (const std::exception&) {
            return std::locale::classic();
        }
    }();
    return locale;
}

// Sort key of a stored name under the locale's collation, so that ordering compares plain
// bytes.
std::string CollationKey(std::string_view utf8) {
    const auto& collate = std::use_facet<std::collate<char>>(CollationLocale());
    return collate.transform(utf8.data(), utf8.data() + utf8.size());
}

struct TRecord {
    std::array<std::string, kTextCount> Text; // UTF-8, cut and trimmed
    std::array<std::int32_t, kNumberCount> Number{};
    std::array<bool, kFlagCount> Flag{};
    std::uint16_t NullMask = kAllNull; // bit set: field is null
    std::uint32_t RowState = 0;        // journal state written with the row; 0 none
    std::uint64_t Seq = 0;             // insertion order, unique
    bool Hidden = false;               // journal-only row (former values, deleted)
    bool Journaled = false;            // named by a journal entry
    std::string Key;                   // collation key of Name

    bool IsNull(TField f) const { return (NullMask >> Index(f)) & 1u; }
    const std::string& TextOf(TField f) const { return Text[SlotOf(f)]; }
    std::string& TextOf(TField f) { return Text[SlotOf(f)]; }
    std::int32_t& NumberOf(TField f) { return Number[SlotOf(f)]; }
    std::int32_t NumberOf(TField f) const { return Number[SlotOf(f)]; }
    bool& FlagOf(TField f) { return Flag[SlotOf(f)]; }
    bool FlagOf(TField f) const { return Flag[SlotOf(f)]; }
};

struct TJournalEntry {
    TRecord* Record; // the row it names; its number is the row's place at writing time
    std::uint32_t Second;
    std::uint32_t State;
};

bool KeyLess(const TRecord* a, const TRecord* b) {
    const int c = a->Key.compare(b->Key);
    return c < 0 || (c == 0 && a->Seq < b->Seq);
}

// Cuts to the width in characters, then drops trailing spaces. What the file cannot hold (bytes
// that are not UTF-8, control characters) becomes U+FFFD first, so that the list holds exactly
// what it writes and reads back.
void StoreText(std::string& target, std::string_view utf8, std::size_t width) {
    std::string text = ToPacketText(utf8);
    text.resize(platform::Utf8Prefix(text, width).size());
    const std::size_t end = text.find_last_not_of(' ');
    text.resize(end == std::string::npos ? 0 : end + 1);
    target = std::move(text);
}

bool ParseBooleanText(std::string_view text, bool& out) {
    std::string upper(text);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    if (upper == "TRUE") {
        out = true;
        return true;
    }
    if (upper == "FALSE" || upper.empty()) {
        out = false;
        return true;
    }
    return false;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

[[noreturn]] void Fail(const std::string& reason) {
    throw Error("setServer: " + reason);
}

std::string TooLarge() {
    return "The file is larger than " + std::to_string(kMaxPacketBytes) + " bytes";
}

} // namespace

std::string_view FieldName(TField field) {
    const auto i = static_cast<std::size_t>(Index(field));
    return i < kFields.size() ? kFields[i].Name : std::string_view{};
}

std::span<const TFieldDef> ServerFieldDefs() {
    return kFields;
}

struct TServerList::TImpl {
    TState State = TState::Closed;
    std::string FileName;

    std::vector<std::unique_ptr<TRecord>> Rows; // insertion order, journal-only rows included
    std::vector<TRecord*> Order;                // posted records in Name order
    std::vector<TJournalEntry> Journal;
    bool LogChanges = false;
    bool Modified = false;
    std::uint64_t NextSeq = 1;

    int Cur = -1; // position in Order of the current record, -1 when empty
    bool Eof = true;
    bool Bof = true;

    std::unique_ptr<TRecord> Buffer; // the record being edited or appended
    int CurBeforeInsert = -1;

    void Reset() {
        Rows.clear();
        Order.clear();
        Journal.clear();
        Buffer.reset();
        LogChanges = false;
        Modified = false;
        NextSeq = 1;
        Cur = -1;
        Eof = Bof = true;
        State = TState::Closed;
    }

    void OpenedEmpty() {
        State = TState::Browse;
        LogChanges = true;
        Modified = false;
        Cur = Order.empty() ? -1 : 0;
        Eof = Bof = Order.empty();
    }

    void RequireOpen() const {
        if (State == TState::Closed) {
            Fail("Cannot perform this operation on a closed list");
        }
    }

    void RequireEditing() const {
        RequireOpen();
        if (State != TState::Edit && State != TState::Insert) {
            Fail("Not in edit or insert mode");
        }
    }

    // The record that field reads see: the pending one while editing, else the current one.
    const TRecord* Current() const {
        if (Buffer) {
            return Buffer.get();
        }
        return Cur >= 0 ? Order[static_cast<std::size_t>(Cur)] : nullptr;
    }

    const TRecord& At(int position) const {
        RequireOpen();
        if (position < 0 || static_cast<std::size_t>(position) >= Order.size()) {
            Fail("Record position " + std::to_string(position) + " out of range");
        }
        return *Order[static_cast<std::size_t>(position)];
    }

    // Identity and place of the current record, to tell whether it moved.
    std::pair<std::uint64_t, int> Where() const {
        if (State == TState::Insert) {
            return {~std::uint64_t{0}, -1};
        }
        return {Cur >= 0 ? Order[static_cast<std::size_t>(Cur)]->Seq : 0, Cur};
    }

    std::size_t RowIndex(const TRecord* rec) const {
        const auto it = std::lower_bound(
            Rows.begin(), Rows.end(), rec->Seq,
            [](const std::unique_ptr<TRecord>& r, std::uint64_t seq) { return r->Seq < seq; });
        return static_cast<std::size_t>(it - Rows.begin());
    }

    int InsertInOrder(TRecord* rec) {
        const auto it = std::lower_bound(Order.begin(), Order.end(), rec, KeyLess);
        const auto pos = it - Order.begin();
        Order.insert(it, rec);
        return static_cast<int>(pos);
    }

    std::string Serialise() const {
        // The reader takes at most kMaxRows rows. Should the journal's own rows carry the file
        // past that, the records are written without the journal, so that the next start can
        // still read every one of them.
        const bool merged = Rows.size() > kMaxRows;
        std::vector<std::uint32_t> log;
        log.reserve(merged ? 0 : Journal.size() * 3);
        for (const TJournalEntry& e : merged ? std::vector<TJournalEntry>{} : Journal) {
            log.push_back(static_cast<std::uint32_t>(RowIndex(e.Record) + 1));
            log.push_back(e.Second);
            log.push_back(e.State);
        }
        std::string out;
        std::size_t estimate = 1024;
        for (const auto& r : Rows) {
            estimate += 160;
            for (const std::string& t : r->Text) {
                estimate += t.size() + t.size() / 8;
            }
        }
        out.reserve(estimate);
        AppendPacketHead(out, kFields, log);
        for (const auto& r : Rows) {
            if (merged && r->Hidden) {
                continue;
            }
            AppendRowStart(out, merged ? 0 : r->RowState);
            for (int i = 0; i < kFieldCount; ++i) {
                const auto f = static_cast<TField>(i);
                if (r->IsNull(f)) {
                    continue;
                }
                const std::string_view name = kFields[static_cast<std::size_t>(i)].Name;
                switch (TypeOf(f)) {
                case TFieldType::String:
                    AppendTextAttribute(out, name, r->TextOf(f));
                    break;
                case TFieldType::Boolean:
                    AppendBooleanAttribute(out, name, r->FlagOf(f));
                    break;
                case TFieldType::Integer:
                    AppendIntegerAttribute(out, name, r->NumberOf(f));
                    break;
                }
            }
            AppendRowEnd(out);
        }
        AppendPacketTail(out);
        return out;
    }

    void Load(std::string_view bytes) {
        std::vector<std::unique_ptr<TRecord>> rows;
        std::vector<std::uint32_t> log;
        std::uint64_t seq = 1;
        try {
            ReadDataPacket(bytes, kFields, log, [&](const TPacketRow& row) {
                auto rec = std::make_unique<TRecord>();
                rec->Seq = seq++;
                rec->RowState = row.RowState;
                rec->Hidden = (row.RowState & (kRowOriginal | kRowDeleted)) != 0;
                for (int i = 0; i < kFieldCount; ++i) {
                    const TPacketValue& v = row.Values[static_cast<std::size_t>(i)];
                    if (!v.Present) {
                        continue;
                    }
                    const auto f = static_cast<TField>(i);
                    rec->NullMask = static_cast<std::uint16_t>(rec->NullMask & ~(1u << i));
                    switch (TypeOf(f)) {
                    case TFieldType::String:
                        // A longer value than the field holds is cut, as an assignment would.
                        rec->TextOf(f) = platform::Utf8Prefix(
                            v.Text, kFields[static_cast<std::size_t>(i)].Width);
                        break;
                    case TFieldType::Boolean:
                        rec->FlagOf(f) = v.Boolean;
                        break;
                    case TFieldType::Integer:
                        rec->NumberOf(f) = v.Integer;
                        break;
                    }
                }
                rows.push_back(std::move(rec));
            });
        } catch (const Error& e) {
            Reset();
            Fail(e.what());
        }

        Reset();
        Rows = std::move(rows);
        NextSeq = seq;
        // Entries naming no row describe nothing that could be written back; they are dropped.
        for (std::size_t i = 0; i + 2 < log.size(); i += 3) {
            if (log[i] >= 1 && log[i] <= Rows.size()) {
                TRecord* rec = Rows[log[i] - 1].get();
                rec->Journaled = true;
                Journal.push_back({rec, log[i + 1], log[i + 2]});
            }
        }
        Order.reserve(Rows.size());
        for (const auto& r : Rows) {
            if (!r->Hidden) {
                r->Key = CollationKey(r->TextOf(TField::Name));
                Order.push_back(r.get());
            }
        }
        std::sort(Order.begin(), Order.end(), KeyLess);
        OpenedEmpty();
    }

    void RemoveRow(const TRecord* rec) {
        if (rec->Journaled) {
            std::erase_if(Journal, [rec](const TJournalEntry& e) { return e.Record == rec; });
        }
        Rows.erase(Rows.begin() + static_cast<std::ptrdiff_t>(RowIndex(rec)));
    }
};

TServerList::TServerList() : impl_(std::make_unique<TImpl>()) {}
TServerList::~TServerList() = default;

void TServerList::SetFileName(std::string path) {
    impl_->FileName = std::move(path);
}
const std::string& TServerList::FileName() const {
    return impl_->FileName;
}

void TServerList::Open() {
    std::string bytes;
    if (impl_->FileName.empty() ||
        !platform::ReadWholeFile(impl_->FileName, bytes, kMaxPacketBytes)) {
        const bool tooLarge = errno == EFBIG;
        impl_->Reset();
        Fail(tooLarge ? TooLarge() : "Missing data provider or data packet");
    }
    OpenFromBytes(bytes);
}

void TServerList::OpenFromBytes(std::string_view bytes) {
    if (bytes.size() > kMaxPacketBytes) {
        impl_->Reset();
        Fail(TooLarge());
    }
    const auto before = impl_->Where();
    impl_->Load(bytes);
    if (impl_->Where() != before && OnAfterScroll) {
        OnAfterScroll();
    }
}

void TServerList::CreateEmpty() {
    impl_->Reset();
    impl_->OpenedEmpty();
}

std::string TServerList::SaveToBytes() const {
    impl_->RequireOpen();
    std::string bytes = impl_->Serialise();
    if (bytes.size() > kMaxPacketBytes) {
        // Written, the next start would refuse it and replace it by an empty list.
        Fail("The list is too large to be saved (" + std::to_string(bytes.size()) +
             " bytes, at most " + std::to_string(kMaxPacketBytes) + ")");
    }
    return bytes;
}

void TServerList::SaveToFile(const std::string& path) const {
    const std::string bytes = SaveToBytes();
    try {
        platform::WriteFileAtomically(path, bytes);
    } catch (const Error& e) {
        Fail(e.what());
    }
}

void TServerList::SwitchOffJournal() {
    impl_->LogChanges = false;
}
bool TServerList::LogChanges() const {
    return impl_->LogChanges;
}
bool TServerList::Modified() const {
    return impl_->Modified;
}

void TServerList::Close() {
    TImpl& d = *impl_;
    if (d.State == TState::Closed) {
        return;
    }
    // A half-done edit is dropped: only posted records reach the file.
    if (d.State != TState::Browse) {
        Cancel();
    }
    if (!d.FileName.empty() && (d.Modified || !FileExists(d.FileName))) {
        SaveToFile(d.FileName); // on failure the list stays open, nothing lost yet
    }
    d.Reset();
}

void TServerList::First() {
    impl_->RequireOpen();
    if (impl_->State != TState::Browse) {
        Post();
    }
    TImpl& d = *impl_;
    const auto before = d.Where();
    d.Cur = d.Order.empty() ? -1 : 0;
    d.Eof = d.Bof = d.Order.empty();
    if (d.Where() != before && OnAfterScroll) {
        OnAfterScroll();
    }
}

void TServerList::Last() {
    impl_->RequireOpen();
    if (impl_->State != TState::Browse) {
        Post();
    }
    TImpl& d = *impl_;
    const auto before = d.Where();
    d.Cur = static_cast<int>(d.Order.size()) - 1;
    d.Eof = d.Bof = d.Order.empty();
    if (d.Where() != before && OnAfterScroll) {
        OnAfterScroll();
    }
}

void TServerList::Next() {
    impl_->RequireOpen();
    if (impl_->State != TState::Browse) {
        Post();
    }
    TImpl& d = *impl_;
    const auto before = d.Where();
    if (d.Cur + 1 < static_cast<int>(d.Order.size())) {
        ++d.Cur;
        d.Eof = d.Bof = false;
    } else {
        d.Eof = true;
    }
    if (d.Where() != before && OnAfterScroll) {
        OnAfterScroll();
    }
}

void TServerList::Prior() {
    impl_->RequireOpen();
    if (impl_->State != TState::Browse) {
        Post();
    }
    TImpl& d = *impl_;
    const auto before = d.Where();
    if (d.Cur > 0) {
        --d.Cur;
        d.Eof = d.Bof = false;
    } else {
        d.Bof = true;
    }
    if (d.Where() != before && OnAfterScroll) {
        OnAfterScroll();
    }
}

bool TServerList::Eof() const {
    return impl_->State == TState::Closed || impl_->Eof;
}
bool TServerList::Bof() const {
    return impl_->State == TState::Closed || impl_->Bof;
}

int TServerList::RecNo() const {
    if (impl_->State == TState::Closed || impl_->State == TState::Insert) {
        return -1;
    }
    return impl_->Cur;
}

void TServerList::MoveTo(int position) {
    impl_->RequireOpen();
    if (impl_->State != TState::Browse) {
        Post();
    }
    TImpl& d = *impl_;
    d.At(position);
    const auto before = d.Where();
    d.Cur = position;
    d.Eof = d.Bof = false;
    if (d.Where() != before && OnAfterScroll) {
        OnAfterScroll();
    }
}

void TServerList::Edit() {
    TImpl& d = *impl_;
    d.RequireOpen();
    if (d.State != TState::Browse) {
        return;
    }
    if (d.Cur < 0) {
        Fail("Cannot perform this operation on an empty list");
    }
    d.Buffer = std::make_unique<TRecord>(*d.Order[static_cast<std::size_t>(d.Cur)]);
    d.State = TState::Edit;
}

void TServerList::Append() {
    impl_->RequireOpen();
    if (impl_->State != TState::Browse) {
        Post();
    }
    TImpl& d = *impl_;
    if (d.Order.size() >= kMaxRows) {
        // More would make a file that the next start refuses as damaged.
        throw Error("setServer: The list cannot hold more than " + std::to_string(kMaxRows) +
                    " servers.");
    }
    const auto before = d.Where();
    d.Buffer = std::make_unique<TRecord>();
    d.CurBeforeInsert = d.Cur;
    d.State = TState::Insert;
    d.Eof = d.Bof = false;
    if (OnAfterInsert) {
        OnAfterInsert();
    }
    if (d.Where() != before && OnAfterScroll) {
        OnAfterScroll();
    }
}

void TServerList::Post() {
    TImpl& d = *impl_;
    d.RequireEditing();
    const auto before = d.Where();
    std::unique_ptr<TRecord> rec = std::move(d.Buffer);
    const std::string_view newName = rec->TextOf(TField::Name);
    if (d.State == TState::Edit) {
        TRecord* target = d.Order[static_cast<std::size_t>(d.Cur)];
        if (newName != target->TextOf(TField::Name)) {
            // Only a renamed record changes place; posting the same name never re-sorts.
            rec->Key = CollationKey(newName);
            *target = std::move(*rec);
            d.Order.erase(d.Order.begin() + d.Cur);
            d.Cur = d.InsertInOrder(target);
        } else {
            *target = std::move(*rec);
        }
    } else {
        rec->Seq = d.NextSeq++;
        rec->Key = CollationKey(newName);
        TRecord* raw = rec.get();
        if (d.LogChanges) {
            raw->RowState = kRowInserted;
            raw->Journaled = true;
            d.Journal.push_back({raw, 0, kRowInserted});
        }
        d.Rows.push_back(std::move(rec));
        d.Cur = d.InsertInOrder(raw);
    }
    d.State = TState::Browse;
    d.Modified = true;
    d.Eof = d.Bof = false;
    if (OnAfterPost) {
        OnAfterPost();
    }
    if (d.Where() != before && OnAfterScroll) {
        OnAfterScroll();
    }
}

void TServerList::Cancel() {
    TImpl& d = *impl_;
    if (d.State != TState::Edit && d.State != TState::Insert) {
        return;
    }
    const auto before = d.Where();
    const bool wasInsert = d.State == TState::Insert;
    d.Buffer.reset();
    d.State = TState::Browse;
    if (wasInsert) {
        d.Cur = d.CurBeforeInsert;
        d.Eof = d.Bof = d.Order.empty();
    }
    if (d.Where() != before && OnAfterScroll) {
        OnAfterScroll();
    }
}

void TServerList::Delete() {
    TImpl& d = *impl_;
    d.RequireOpen();
    if (d.State == TState::Insert) {
        // The appended record was never posted: deleting it only drops it.
        Cancel();
        return;
    }
    if (d.State == TState::Edit) {
        d.Buffer.reset();
        d.State = TState::Browse;
    }
    if (d.Cur < 0) {
        Fail("Cannot perform this operation on an empty list");
    }
    const auto before = d.Where();
    TRecord* rec = d.Order[static_cast<std::size_t>(d.Cur)];
    d.Order.erase(d.Order.begin() + d.Cur);
    d.RemoveRow(rec);
    d.Modified = true;
    if (d.Cur >= static_cast<int>(d.Order.size())) {
        d.Cur = static_cast<int>(d.Order.size()) - 1;
    }
    d.Eof = d.Bof = d.Order.empty();
    if (OnAfterDelete) {
        OnAfterDelete();
    }
    if (d.Where() != before && OnAfterScroll) {
        OnAfterScroll();
    }
}

TServerList::TState TServerList::State() const {
    return impl_->State;
}

namespace {

std::string ReadAsString(const TRecord* rec, TField f) {
    if (rec == nullptr || rec->IsNull(f)) {
        return {};
    }
    switch (TypeOf(f)) {
    case TFieldType::String:
        return rec->TextOf(f);
    case TFieldType::Boolean:
        return rec->FlagOf(f) ? "True" : "False";
    case TFieldType::Integer:
        return std::to_string(rec->NumberOf(f));
    }
    return {};
}

std::int32_t ReadAsInteger(const TRecord* rec, TField f) {
    if (rec == nullptr || rec->IsNull(f)) {
        return 0;
    }
    switch (TypeOf(f)) {
    case TFieldType::String: {
        const auto value = platform::StrToInt(rec->TextOf(f));
        if (!value) {
            Fail("'" + rec->TextOf(f) + "' is not a valid integer value");
        }
        return *value;
    }
    case TFieldType::Boolean:
        return rec->FlagOf(f) ? 1 : 0;
    case TFieldType::Integer:
        return rec->NumberOf(f);
    }
    return 0;
}

bool ReadAsBoolean(const TRecord* rec, TField f) {
    if (rec == nullptr || rec->IsNull(f)) {
        return false;
    }
    switch (TypeOf(f)) {
    case TFieldType::String: {
        bool value = false;
        if (!ParseBooleanText(rec->TextOf(f), value)) {
            Fail("'" + rec->TextOf(f) + "' is not a valid boolean value");
        }
        return value;
    }
    case TFieldType::Boolean:
        return rec->FlagOf(f);
    case TFieldType::Integer:
        return rec->NumberOf(f) != 0;
    }
    return false;
}

void CheckField(TField f) {
    if (Index(f) < 0 || Index(f) >= kFieldCount) {
        Fail("Unknown field " + std::to_string(Index(f)));
    }
}

} // namespace

bool TServerList::IsNull(TField field) const {
    CheckField(field);
    impl_->RequireOpen();
    const TRecord* rec = impl_->Current();
    return rec == nullptr || rec->IsNull(field);
}

std::string TServerList::AsString(TField field) const {
    CheckField(field);
    impl_->RequireOpen();
    return ReadAsString(impl_->Current(), field);
}

std::int32_t TServerList::AsInteger(TField field) const {
    CheckField(field);
    impl_->RequireOpen();
    return ReadAsInteger(impl_->Current(), field);
}

bool TServerList::AsBoolean(TField field) const {
    CheckField(field);
    impl_->RequireOpen();
    return ReadAsBoolean(impl_->Current(), field);
}

std::string TServerList::AsStringAt(int position, TField field) const {
    CheckField(field);
    return ReadAsString(&impl_->At(position), field);
}

bool TServerList::AsBooleanAt(int position, TField field) const {
    CheckField(field);
    return ReadAsBoolean(&impl_->At(position), field);
}

std::int32_t TServerList::AsIntegerAt(int position, TField field) const {
    CheckField(field);
    return ReadAsInteger(&impl_->At(position), field);
}

void TServerList::SetString(TField field, std::string_view utf8) {
    CheckField(field);
    impl_->RequireEditing();
    TRecord& rec = *impl_->Buffer;
    switch (TypeOf(field)) {
    case TFieldType::String:
        StoreText(rec.TextOf(field), utf8, kFields[static_cast<std::size_t>(Index(field))].Width);
        break;
    case TFieldType::Boolean: {
        bool value = false;
        if (!ParseBooleanText(utf8, value)) {
            Fail("'" + std::string(utf8) + "' is not a valid boolean value for field '" +
                 std::string(FieldName(field)) + "'");
        }
        rec.FlagOf(field) = value;
        break;
    }
    case TFieldType::Integer: {
        const auto value = platform::StrToInt(utf8);
        if (!value) {
            Fail("'" + std::string(utf8) + "' is not a valid integer value for field '" +
                 std::string(FieldName(field)) + "'");
        }
        rec.NumberOf(field) = *value;
        break;
    }
    }
    rec.NullMask = static_cast<std::uint16_t>(rec.NullMask & ~(1u << Index(field)));
}

void TServerList::SetInteger(TField field, std::int32_t value) {
    CheckField(field);
    impl_->RequireEditing();
    TRecord& rec = *impl_->Buffer;
    switch (TypeOf(field)) {
    case TFieldType::String:
        StoreText(rec.TextOf(field), std::to_string(value),
                  kFields[static_cast<std::size_t>(Index(field))].Width);
        break;
    case TFieldType::Boolean:
        rec.FlagOf(field) = value != 0;
        break;
    case TFieldType::Integer:
        rec.NumberOf(field) = value;
        break;
    }
    rec.NullMask = static_cast<std::uint16_t>(rec.NullMask & ~(1u << Index(field)));
}

void TServerList::SetBoolean(TField field, bool value) {
    CheckField(field);
    impl_->RequireEditing();
    TRecord& rec = *impl_->Buffer;
    switch (TypeOf(field)) {
    case TFieldType::String:
        StoreText(rec.TextOf(field), value ? "True" : "False",
                  kFields[static_cast<std::size_t>(Index(field))].Width);
        break;
    case TFieldType::Boolean:
        rec.FlagOf(field) = value;
        break;
    case TFieldType::Integer:
        rec.NumberOf(field) = value ? 1 : 0;
        break;
    }
    rec.NullMask = static_cast<std::uint16_t>(rec.NullMask & ~(1u << Index(field)));
}

void TServerList::SetNull(TField field) {
    CheckField(field);
    impl_->RequireEditing();
    TRecord& rec = *impl_->Buffer;
    rec.NullMask = static_cast<std::uint16_t>(rec.NullMask | (1u << Index(field)));
    switch (TypeOf(field)) {
    case TFieldType::String:
        rec.TextOf(field).clear();
        break;
    case TFieldType::Boolean:
        rec.FlagOf(field) = false;
        break;
    case TFieldType::Integer:
        rec.NumberOf(field) = 0;
        break;
    }
}

int TServerList::RecordCount() const {
    return impl_->State == TState::Closed ? 0 : static_cast<int>(impl_->Order.size());
}

bool TServerList::Active() const {
    return impl_->State != TState::Closed;
}

} // namespace qrv::engine
