#pragma once

#include <string>
#include <string_view>

namespace qrv::gui {

// "<vendor site>/app_redirect/qrv?action=<action>&lang=<language>", unencoded.
std::string VendorPageUrl(std::string_view action, std::string_view language);

// Opens the vendor page of kind "help", "about" or "update" in the user's browser, for the
// Language in force at the moment of the call; the result of the opening is not reported.
void OpenVendorPage(const std::string& action);

} // namespace qrv::gui
