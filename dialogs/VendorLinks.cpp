#include "dialogs/VendorLinks.h"

#include "platform/ShellOpen.h"
#include "shell/AppConfig.h"

namespace qrv::gui {

std::string VendorPageUrl(std::string_view action, std::string_view language) {
    std::string url = QRV_VENDOR_URL;
    url += "/app_redirect/qrv?action=";
    url += action;
    url += "&lang=";
    url += language;
    return url;
}

void OpenVendorPage(const std::string& action) {
    // The language in force now, so that a change in the settings needs no restart.
    platform::ShellOpen(VendorPageUrl(action, shell::AppConfig().Language));
}

} // namespace qrv::gui
