#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace qrv::engine {

// The ten fields of a server record, in file and metadata order.
enum class TField : int {
    Name = 0,
    Status,
    Result,
    Url,
    Active,
    LoadTime,
    Timeout,
    TimeoutEnabled,
    Response,
    ResponseEnabled,
};
inline constexpr int kFieldCount = 10;

// Name of a field as stored in the file ("Name", "Status", ...).
std::string_view FieldName(TField field);

struct TFieldDef;
// The ten field definitions of the file, in field order (name, type, width).
std::span<const TFieldDef> ServerFieldDefs();

// The server list `setServer`: records in memory, ordered for every walk by `Name` under the
// locale's collation, persisted as one XML data packet. Not thread-safe: the check run reaches
// it through the window's synchronous hand-over to the user-interface thread.
//
// Texts are UTF-8 at this interface and stored in the station's ANSI code page (cut to the
// field's width, trailing spaces removed). Every operation that fails throws qrv::Error with
// a text of the form "setServer: <reason>".
//
// Rules callers rely on:
// - Navigation, Append and MoveTo post a pending edit or append first; Close drops it.
// - Field reads see the pending values while editing; the *At() readers see posted records.
// - During an append RecNo() is -1 and RecordCount() does not count the new record.
// - Delete during an append only drops the appended record (no OnAfterDelete). Deleting the
//   last record in Name order leaves the new last record current.
// - Edit or Delete on an empty list, Post outside Edit/Insert, field writes outside
//   Edit/Insert, MoveTo/*At() out of range and anything but queries on a closed list throw.
//   On a closed list RecordCount() is 0, RecNo() -1, Eof() and Bof() true.
// - OnAfterScroll fires after any operation that changed the current record or its position
//   (also after a Post that moved a renamed record), after the operation's own notification.
// - Conversions: AsString of a boolean gives "True"/"False", of an integer its decimal text;
//   SetString on an integer field uses the common integer conversion.
// - Costs: a walk step, field access and a Post that keeps the Name are O(1) (plus copying
//   the record for Edit); Append/Post with a new Name and Delete are O(log n) searches plus an
//   O(n) move of pointers; Open sorts once (O(n log n)).
class TServerList {
public:
    enum class TState { Closed, Browse, Edit, Insert };

    TServerList();
    ~TServerList();
    TServerList(const TServerList&) = delete;
    TServerList& operator=(const TServerList&) = delete;

    void SetFileName(std::string path);
    const std::string& FileName() const;

    void Open();        // from FileName(); journal on
    void CreateEmpty(); // ten fields, no records, journal on
    void SaveToFile(const std::string& path) const;
    void SwitchOffJournal(); // LogChanges := false
    void Close();            // saves when changed or when no file exists

    // Open and save without the file (tests, fuzzing, benchmarks). OpenFromBytes acts as Open
    // on a file holding `bytes`; SaveToBytes gives exactly what SaveToFile writes. Both see
    // posted records only: a pending edit or append is not part of the file.
    void OpenFromBytes(std::string_view bytes);
    std::string SaveToBytes() const;
    bool LogChanges() const; // the journal is on
    bool Modified() const;   // a record was posted or deleted since open

    // Walks in Name order over posted records; the grid follows the current record.
    void First();
    void Next();
    void Prior();
    void Last();
    bool Eof() const;          // walked past the last record (or list empty)
    bool Bof() const;          // walked before the first record (or list empty)
    int RecNo() const;         // 0-based position of the current record, -1 none
    void MoveTo(int position); // 0-based position in Name order

    void Edit();
    void Append(); // new record, every field null; AfterInsert follows
    void Post();
    void Cancel(); // drops a pending edit or append
    void Delete(); // current record; AfterDelete follows
    TState State() const;

    bool IsNull(TField field) const;
    std::string AsString(TField field) const;            // null -> ""
    std::int32_t AsInteger(TField field) const;          // null -> 0
    bool AsBoolean(TField field) const;                  // null -> false
    void SetString(TField field, std::string_view utf8); // only in Edit/Insert
    void SetInteger(TField field, std::int32_t value);
    void SetBoolean(TField field, bool value);
    void SetNull(TField field);

    // Reads a field of the record at a position in Name order without moving (the grid).
    std::string AsStringAt(int position, TField field) const;
    bool AsBooleanAt(int position, TField field) const;
    std::int32_t AsIntegerAt(int position, TField field) const;

    int RecordCount() const; // posted records only
    bool Active() const;     // open

    // Notifications, run synchronously on the thread that made the change.
    std::function<void()> OnAfterInsert; // after Append
    std::function<void()> OnAfterDelete; // after Delete
    std::function<void()> OnAfterPost;   // after Post (the grid repaints the row)
    std::function<void()> OnAfterScroll; // the current record moved

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

} // namespace qrv::engine
