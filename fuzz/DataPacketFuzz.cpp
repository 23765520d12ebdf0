// Feeds arbitrary bytes to the server list's file reader. Whatever is accepted must survive
// a save and a second open unchanged: the second save gives the same bytes and records.
#include "engine/ServerList.h"
#include "platform/Error.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using qrv::engine::TField;
    using qrv::engine::TServerList;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TServerList list;
    try {
        list.OpenFromBytes(bytes);
    } catch (const qrv::Error&) {
        return 0;
    }
    const std::string saved = list.SaveToBytes();
    TServerList again;
    try {
        again.OpenFromBytes(saved);
    } catch (const qrv::Error&) {
        std::abort(); // our own output refused
    }
    if (again.SaveToBytes() != saved || again.RecordCount() != list.RecordCount()) {
        std::abort();
    }
    // Walk, edit and delete a little, as start-up and the grid would.
    for (again.First(); !again.Eof(); again.Next()) {
        if (again.AsString(TField::Name) != list.AsStringAt(again.RecNo(), TField::Name)) {
            std::abort();
        }
        again.Edit();
        again.SetString(TField::Status, "");
        again.SetInteger(TField::LoadTime, -1);
        again.Post();
    }
    if (again.RecordCount() > 0) {
        again.First();
        again.Delete();
        TServerList third;
        third.OpenFromBytes(again.SaveToBytes());
        if (third.RecordCount() != list.RecordCount() - 1) {
            std::abort();
        }
    }
    return 0;
}
