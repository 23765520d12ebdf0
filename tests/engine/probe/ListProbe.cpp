// A small program that writes and reads a server list, so that tests can run it under other
// locales than their own.
//
//   qrv_list_probe save <file> [<name> <result> <response>]...
//   qrv_list_probe show <file>
//
// save writes a list with one record per triple; show prints "row <name>|<result>|<response>"
// per record in the list's walking order, or "error <text>".
#include "engine/ServerList.h"
#include "platform/Error.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    using qrv::engine::TField;
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s save|show <file> ...\n", argv[0]);
        return 2;
    }
    const std::string command = argv[1];
    qrv::engine::TServerList list;
    list.SetFileName(argv[2]);
    try {
        if (command == "save") {
            list.CreateEmpty();
            list.SwitchOffJournal();
            for (int i = 3; i + 2 < argc; i += 3) {
                list.Append();
                list.SetString(TField::Name, argv[i]);
                list.SetString(TField::Result, argv[i + 1]);
                list.SetString(TField::Response, argv[i + 2]);
                list.SetBoolean(TField::ResponseEnabled, true);
                list.Post();
            }
            list.Close();
            return 0;
        }
        list.Open();
        for (list.First(); !list.Eof(); list.Next()) {
            std::printf("row %s|%s|%s\n", list.AsString(TField::Name).c_str(),
                        list.AsString(TField::Result).c_str(),
                        list.AsString(TField::Response).c_str());
        }
    } catch (const qrv::Error& e) {
        std::printf("error %s\n", e.what());
        return 1;
    }
    return 0;
}
